#include "LogCapture.h"

#include <mutex>

#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

std::mutex g_linesLock;
std::vector<CapturedLine> g_lines;

void recordLine(LogItemSeverityLevel severity, int channel, char const *text, int headerLength,
                char const *logFileName)
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    g_lines.push_back(CapturedLine{severity, channel, text, headerLength, logFileName});
}

}  // namespace

LogCapture::LogCapture(char const *filePrefix) : m_logger(std::make_unique<Logger>(filePrefix, nullptr))
{
    clear();
    platform::SetMessageBoxEcho(false);
    platform::TakeMessageBoxRecords();
    m_logger->setConsoleLogFunction(recordLine);
    theLogger = m_logger.get();
}

LogCapture::~LogCapture()
{
    theLogger = nullptr;
    m_logger.reset();
    platform::SetMessageBoxEcho(true);
}

std::vector<CapturedLine> LogCapture::lines() const
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    return g_lines;
}

std::vector<std::string> LogCapture::texts() const
{
    std::vector<std::string> result;
    for (auto const &line : lines())
        result.push_back(line.text);
    return result;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    g_lines.clear();
}
