#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "../Export.h"
#include "../platform/Lock.h"
#include "ConditionalLog.h"
#include "LogFile.h"
#include "LogSeverity.h"

#if defined(__GNUC__)
#define SHAREDLIB_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define SHAREDLIB_PRINTF(formatIndex, firstArg)
#endif

// The one process-wide logger. The host creates it and stores its address in
// theLogger; every log statement of the library checks theLogger first.
// Any thread may log: m_lock guards the channel settings, the files and the
// targets, and is recursive so a callback may call the setters.
class SHAREDLIB_API Logger {
public:
    static constexpr int kChannelCount = 195;

    Logger(char const *filePrefix, char const *logDirName);
    virtual ~Logger();
    Logger(Logger const &) = delete;
    Logger &operator=(Logger const &) = delete;

    // The entry points: syslog goes to every target of the mask, screenlog to
    // the debugger and console only, debuglog to debugger, file and DB only.
    void syslog(LogItemSeverityLevel severity, int channel, char const *format, ...) SHAREDLIB_PRINTF(4, 5);
    void screenlog(LogItemSeverityLevel severity, int channel, char const *format, ...) SHAREDLIB_PRINTF(4, 5);
    void debuglog(LogItemSeverityLevel severity, int channel, char const *format, ...) SHAREDLIB_PRINTF(4, 5);
    void vsyslog(LogItemSeverityLevel severity, int channel, char const *format, va_list args)
        SHAREDLIB_PRINTF(4, 0);

    // The call-site check: no lock, one comparison. A channel outside the
    // table has no record and never passes here.
    bool CheckConditional(int channel, LogItemSeverityLevel severity) const
    {
        return static_cast<unsigned int>(channel) < static_cast<unsigned int>(kChannelCount) &&
               m_conditionals[channel]->m_level.load(std::memory_order_relaxed) >= severity;
    }
    LogItemSeverityLevel GetConditional(int channel);

    void SetConditional(int channel, LogItemSeverityLevel level);
    void SetConditionalDateFlag(int channel, bool value);
    void SetConditionalNameFlag(int channel, bool value);
    void SetConditionalLevelFlag(int channel, bool value);
    void SetConditionalData(int channel, unsigned int userData);
    // Sends a channel's lines to the log file keyed fileName, adding the file
    // when it is new (even for a channel outside the table).
    void SetConditionalChannel(int channel, char const *fileName);

    void setLogLocationMask(int mask);
    void setUseDialogs(bool useDialogs);
    void setBSquelchLogger(bool squelch);
    void setFlushOnWrite(bool flushOnWrite);
    void setConsoleLogFunction(LogFunction function);
    void setDBLogFunction(LogFunction function);
    void setPipeLogFunction(LogFunction function);

    void setOutputToDebugger(bool value) { m_outputToDebugger.store(value, std::memory_order_relaxed); }
    void setIncludePIDInName(bool value) { m_includePIDInName.store(value, std::memory_order_relaxed); }
    void setSecondsBetweenFlushes(int seconds) { m_secondsBetweenFlushes.store(seconds, std::memory_order_relaxed); }
    void setLastFlush(int64_t seconds) { m_lastFlush.store(seconds, std::memory_order_relaxed); }

    bool getBSquelchLogger() const { return m_squelch.load(std::memory_order_relaxed); }
    bool getFlushOnWrite() const { return m_flushOnWrite.load(std::memory_order_relaxed); }
    bool getFlushOnWrite() { return m_flushOnWrite.load(std::memory_order_relaxed); }
    bool getOutputToDebugger() const { return m_outputToDebugger.load(std::memory_order_relaxed); }
    bool getIncludePIDInName() const { return m_includePIDInName.load(std::memory_order_relaxed); }
    int getSecondsBetweenFlushes() { return m_secondsBetweenFlushes.load(std::memory_order_relaxed); }
    int64_t getLastFlush() { return m_lastFlush.load(std::memory_order_relaxed); }

    // Log files and the pipe.
    void setFilePrefix(char const *filePrefix);
    void resetFilePrefix();
    std::string getFilePrefix();
    std::string getFileName();
    std::string getLogDirName();
    void flush();
    void setPipeName(char const *pipeName);
    void *getPipe() { return m_pipe; }

protected:
    // The line pipeline: filter, header, format once, then the targets of the mask.
    void logIt(unsigned long mask, LogItemSeverityLevel severity, int channel, char const *format, va_list args)
        SHAREDLIB_PRINTF(5, 0);
    int addChannel(char const *prefix, char const *name);
    int findChannel(char const *name);

private:
    friend class LogFile;

    std::string effectivePrefix() const;
    void enter(unsigned long mask, LogItemSeverityLevel severity, int channel, char const *format, va_list args)
        SHAREDLIB_PRINTF(5, 0);

    ConditionalLog *m_conditionals[kChannelCount];
    int m_conditionalCount;
    LogFile **m_files;
    int m_fileCount;
    int m_fileCapacity;
    platform::CriticalSection *m_lock;
    std::string m_logDirName;
    std::string m_filePrefix;
    std::atomic<int> m_locationMask;
    bool m_useDialogs;
    // Single words read without the lock.
    std::atomic<bool> m_squelch;
    std::atomic<bool> m_flushOnWrite;
    std::atomic<bool> m_outputToDebugger;
    std::atomic<bool> m_includePIDInName;
    std::atomic<int> m_secondsBetweenFlushes;
    std::atomic<int64_t> m_lastFlush;
    LogFunction m_consoleLogFunction;
    LogFunction m_dbLogFunction;
    LogFunction m_pipeLogFunction;
    void *m_pipe;
};

// The process-wide logger; null until the host sets it, and while it is null
// nothing is logged.
SHAREDLIB_API extern Logger *theLogger;
