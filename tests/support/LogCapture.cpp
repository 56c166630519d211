#include "LogCapture.h"

#include <cstdarg>
#include <mutex>

#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

std::mutex g_linesLock;
std::vector<CapturedLine> g_lines, g_dbLines;

template <std::vector<CapturedLine> *List>
void recordLine(LogItemSeverityLevel severity, int channel, char const *text, int headerLength,
                char const *logFileName)
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    List->push_back(CapturedLine{severity, channel, text, headerLength, logFileName != nullptr ? logFileName : ""});
}

std::vector<std::string> textsOf(std::vector<CapturedLine> const &lines)
{
    std::vector<std::string> result;
    for (auto const &line : lines)
        result.push_back(line.text);
    return result;
}

}  // namespace

LogCapture::LogCapture(char const *filePrefix) : m_logger(std::make_unique<Logger>(filePrefix, nullptr))
{
    clear();
    platform::SetMessageBoxEcho(false);
    platform::TakeMessageBoxRecords();
    m_logger->setConsoleLogFunction(recordLine<&g_lines>);
    m_logger->setDBLogFunction(recordLine<&g_dbLines>);
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

std::vector<CapturedLine> LogCapture::dbLines() const
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    return g_dbLines;
}

std::vector<std::string> LogCapture::texts() const { return textsOf(lines()); }
std::vector<std::string> LogCapture::dbTexts() const { return textsOf(dbLines()); }

void LogCapture::clear()
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    g_lines.clear();
    g_dbLines.clear();
}

void VSyslog(Logger &logger, LogItemSeverityLevel severity, int channel, char const *format, ...)
{
    va_list args;
    va_start(args, format);
    logger.vsyslog(severity, channel, format, args);
    va_end(args);
}
