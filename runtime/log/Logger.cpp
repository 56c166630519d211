#include "Logger.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "../enums/Log.h"
#include "LineFormat.h"
#include "../platform/Debugger.h"
#include "../platform/MessageBox.h"
#include "../platform/NamedPipe.h"
#include "../platform/Process.h"

Logger *theLogger = nullptr;

namespace {

constexpr size_t kFormatBufferSize = 1024;  // header and format, at most 1023 characters
constexpr size_t kTextBufferSize = 4096;    // the formatted line, at most 4095 characters
constexpr int kDefaultFileCapacity = 4;
constexpr unsigned long kScreenMask = LogLocation_Debugger | LogLocation_Console;
constexpr unsigned long kDebugMask = LogLocation_Debugger | LogLocation_File | LogLocation_DB;
// Error icon, shown as a service notification.
constexpr uint32_t kDialogFlags = platform::MB_ICONERROR | platform::MB_SERVICE_NOTIFICATION;

// The loggers whose pipeline the calling thread is inside, innermost first.
// Frames live on the stack of logIt, so the re-entry guard allocates nothing
// and takes no lock.
struct PipelineFrame {
    Logger const *logger;
    PipelineFrame *outer;
};
// Initial-exec: the pipeline reads it on every line, and the library is
// loaded with the program, not opened later.
thread_local PipelineFrame *t_activePipelines __attribute__((tls_model("initial-exec"))) = nullptr;

class PipelineEntry {
public:
    explicit PipelineEntry(Logger const *logger) : m_frame{logger, t_activePipelines}
    {
        for (PipelineFrame *frame = t_activePipelines; frame != nullptr; frame = frame->outer)
            if (frame->logger == logger)
                m_reentered = true;
        if (!m_reentered)
            t_activePipelines = &m_frame;
    }
    ~PipelineEntry()
    {
        if (!m_reentered)
            t_activePipelines = m_frame.outer;
    }
    bool reentered() const { return m_reentered; }

private:
    PipelineFrame m_frame;
    bool m_reentered = false;
};

// Appends at most what fits, always leaving a terminating zero.
size_t appendBounded(char *buffer, size_t used, size_t capacity, char const *text, size_t length)
{
    size_t room = capacity - 1 - used;
    if (length > room)
        length = room;
    std::memcpy(buffer + used, text, length);
    used += length;
    buffer[used] = '\0';
    return used;
}

}  // namespace

Logger::Logger(char const *filePrefix, char const *logDirName)
    : m_conditionalCount(kChannelCount),
      m_files(nullptr),
      m_fileCount(0),
      m_fileCapacity(0),
      m_lock(new platform::CriticalSection),
      m_logDirName(logDirName != nullptr ? logDirName : ""),
      m_filePrefix(filePrefix != nullptr ? filePrefix : ""),
      m_locationMask(-1),
      m_useDialogs(true),
      m_squelch(false),
      m_flushOnWrite(true),
      m_outputToDebugger(true),
      m_includePIDInName(false),
      m_secondsBetweenFlushes(0),
      m_lastFlush(0),
      m_consoleLogFunction(nullptr),
      m_dbLogFunction(nullptr),
      m_pipeLogFunction(nullptr),
      m_pipe(nullptr)
{
    for (int channel = 0; channel < kChannelCount; ++channel)
        m_conditionals[channel] =
            new ConditionalLog(Log_ValueToName(static_cast<Log>(channel)), LogSev_Warning, 0);
    m_conditionals[Log_Generic]->m_level.store(LogSev_Detail, std::memory_order_relaxed);
    m_conditionals[Log_Generic]->m_nameFlag = false;

    m_fileCapacity = kDefaultFileCapacity;
    m_files = new LogFile *[m_fileCapacity];
    m_files[0] = new LogFile(this, m_filePrefix.c_str(), "");
    m_fileCount = 1;
}

Logger::~Logger()
{
    for (ConditionalLog *conditional : m_conditionals)
        delete conditional;
    for (int i = 0; i < m_fileCount; ++i)
        delete m_files[i];
    delete[] m_files;
    platform::ClosePipe(m_pipe);
    delete m_lock;
}

void Logger::syslog(LogItemSeverityLevel severity, int channel, char const *format, ...)
{
    va_list args;
    va_start(args, format);
    enter(static_cast<unsigned long>(m_locationMask.load(std::memory_order_relaxed)) & 0xFFFF, severity, channel, format, args);
    va_end(args);
}

void Logger::vsyslog(LogItemSeverityLevel severity, int channel, char const *format, va_list args)
{
    enter(static_cast<unsigned long>(m_locationMask.load(std::memory_order_relaxed)) & 0xFFFF, severity, channel, format, args);
}

void Logger::screenlog(LogItemSeverityLevel severity, int channel, char const *format, ...)
{
    va_list args;
    va_start(args, format);
    enter(static_cast<unsigned long>(m_locationMask.load(std::memory_order_relaxed)) & kScreenMask, severity, channel, format, args);
    va_end(args);
}

void Logger::debuglog(LogItemSeverityLevel severity, int channel, char const *format, ...)
{
    va_list args;
    va_start(args, format);
    enter(static_cast<unsigned long>(m_locationMask.load(std::memory_order_relaxed)) & kDebugMask, severity, channel, format, args);
    va_end(args);
}

void Logger::enter(unsigned long mask, LogItemSeverityLevel severity, int channel, char const *format, va_list args)
{
    // The level as GetConditional answers it; the word is atomic, so the lock
    // GetConditional takes buys nothing here.
    LogItemSeverityLevel level = static_cast<unsigned int>(channel) < static_cast<unsigned int>(kChannelCount)
                                     ? m_conditionals[channel]->m_level.load(std::memory_order_relaxed)
                                     : LogSev_Error;
    if (getBSquelchLogger() || severity > level)
        return;
    logIt(mask, severity, channel, format, args);
}

void Logger::logIt(unsigned long mask, LogItemSeverityLevel severity, int channel, char const *format, va_list args)
{
    if (severity == LogSev_None || getBSquelchLogger())
        return;
    PipelineEntry entry(this);
    if (entry.reentered())
        return;  // a callback that logs: the nested line is dropped

    int fileIndex = 0;
    bool dateFlag = true;
    bool nameFlag = false;
    bool levelFlag = false;
    char const *prefix = "";
    char const *logFileName = "";
    bool inTable = static_cast<unsigned int>(channel) < static_cast<unsigned int>(kChannelCount);
    // One hold of the main lock covers the settings, the formatting and the
    // targets, so the lines of two threads never interleave between targets.
    // The message box waits for the user, so it comes after the lock.
    std::unique_lock<platform::CriticalSection> guard(*m_lock);
    if (inTable) {
        ConditionalLog const *conditional = m_conditionals[channel];
        if (severity > conditional->m_level.load(std::memory_order_relaxed))
            return;
        nameFlag = conditional->m_nameFlag;
        dateFlag = conditional->m_dateFlag;
        levelFlag = conditional->m_levelFlag;
        fileIndex = conditional->m_fileIndex;
        if (fileIndex < 0 || fileIndex >= m_fileCount)
            fileIndex = 0;
        // Files are never removed and names never change, so these strings
        // stay valid for the Logger's lifetime without a copy.
        logFileName = m_files[fileIndex]->name().c_str();
        prefix = conditional->m_prefix.c_str();
    }

    // Header: the tag, the channel name, ": ".
    char header[kFormatBufferSize];
    size_t headerLength = 0;
    bool errorFlag = false;
    header[0] = '\0';
    if (levelFlag && severity >= LogSev_Fatal && severity <= LogSev_Error) {
        headerLength = appendBounded(header, headerLength, sizeof header, "ERROR ", 6);
        errorFlag = true;
    } else if (levelFlag && severity == LogSev_Warning) {
        headerLength = appendBounded(header, headerLength, sizeof header, "WARNING ", 8);
    }
    bool tagged = headerLength > 0;
    if (nameFlag)
        headerLength = appendBounded(header, headerLength, sizeof header, prefix, std::strlen(prefix));
    if (nameFlag || tagged)
        headerLength = appendBounded(header, headerLength, sizeof header, ": ", 2);

    // Header and format together are cut at 1023 characters; the formatted
    // text at 4095. The usual short format is formatted straight after the
    // header, which gives the same text without copying the format.
    char text[kTextBufferSize];
    std::memcpy(text, header, headerLength);
    size_t formatLength = std::strlen(format);
    if (headerLength + formatLength < kFormatBufferSize) {
        FormatLine(text + headerLength, sizeof text - headerLength, format, args);
    } else {
        char cutFormat[kFormatBufferSize];
        size_t kept = kFormatBufferSize - 1 - headerLength;
        std::memcpy(cutFormat, format, kept);
        // Never leave half a conversion at the cut.
        size_t percents = 0;
        while (percents < kept && cutFormat[kept - 1 - percents] == '%')
            ++percents;
        if (percents % 2 == 1)
            --kept;
        cutFormat[kept] = '\0';
        FormatLine(text + headerLength, sizeof text - headerLength, cutFormat, args);
    }
    text[sizeof text - 1] = '\0';

    bool showDialog = false;
    {
        int length = static_cast<int>(headerLength);
        if ((mask & LogLocation_Debugger) && getOutputToDebugger()) {
            platform::OutputDebugStringA(text);
            platform::OutputDebugStringA("\n");
        }
        if ((mask & LogLocation_Console) && m_consoleLogFunction != nullptr)
            m_consoleLogFunction(severity, channel, text, length, logFileName);
        if (mask & LogLocation_File)
            m_files[fileIndex]->write(text, dateFlag, errorFlag);
        if ((mask & LogLocation_DB) && m_dbLogFunction != nullptr)
            m_dbLogFunction(severity, channel, text, length, logFileName);
        if ((mask & LogLocation_Pipe) && m_pipeLogFunction != nullptr)
            m_pipeLogFunction(severity, channel, text, length, logFileName);
        showDialog = m_useDialogs && (severity == LogSev_Assert || severity == LogSev_Fatal);
    }
    guard.unlock();
    if (showDialog)
        platform::MessageBoxA(nullptr, text, "Error", kDialogFlags);
}

LogItemSeverityLevel Logger::GetConditional(int channel)
{
    if (static_cast<unsigned int>(channel) >= static_cast<unsigned int>(kChannelCount))
        return LogSev_Error;
    platform::CriticalSectionLock guard(*m_lock);
    return m_conditionals[channel]->m_level.load(std::memory_order_relaxed);
}

void Logger::SetConditional(int channel, LogItemSeverityLevel level)
{
    if (static_cast<unsigned int>(channel) >= static_cast<unsigned int>(kChannelCount))
        return;
    platform::CriticalSectionLock guard(*m_lock);
    m_conditionals[channel]->m_level.store(level, std::memory_order_relaxed);
}

void Logger::SetConditionalDateFlag(int channel, bool value)
{
    if (static_cast<unsigned int>(channel) >= static_cast<unsigned int>(kChannelCount))
        return;
    platform::CriticalSectionLock guard(*m_lock);
    m_conditionals[channel]->m_dateFlag = value;
}

void Logger::SetConditionalNameFlag(int channel, bool value)
{
    if (static_cast<unsigned int>(channel) >= static_cast<unsigned int>(kChannelCount))
        return;
    platform::CriticalSectionLock guard(*m_lock);
    m_conditionals[channel]->m_nameFlag = value;
}

void Logger::SetConditionalLevelFlag(int channel, bool value)
{
    if (static_cast<unsigned int>(channel) >= static_cast<unsigned int>(kChannelCount))
        return;
    platform::CriticalSectionLock guard(*m_lock);
    m_conditionals[channel]->m_levelFlag = value;
}

void Logger::SetConditionalData(int channel, unsigned int userData)
{
    if (static_cast<unsigned int>(channel) >= static_cast<unsigned int>(kChannelCount))
        return;
    platform::CriticalSectionLock guard(*m_lock);
    m_conditionals[channel]->m_userData = userData;
}

void Logger::setLogLocationMask(int mask)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_locationMask.store(mask, std::memory_order_relaxed);
}

void Logger::setUseDialogs(bool useDialogs)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_useDialogs = useDialogs;
}

void Logger::setBSquelchLogger(bool squelch)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_squelch.store(squelch, std::memory_order_relaxed);
}

void Logger::setFlushOnWrite(bool flushOnWrite)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_flushOnWrite.store(flushOnWrite, std::memory_order_relaxed);
}

void Logger::setConsoleLogFunction(LogFunction function)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_consoleLogFunction = function;
}

void Logger::setDBLogFunction(LogFunction function)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_dbLogFunction = function;
}

void Logger::setPipeLogFunction(LogFunction function)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_pipeLogFunction = function;
}
