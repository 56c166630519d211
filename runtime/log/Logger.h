#pragma once

/// \file
/// Logger, the process-wide channelled logger, and theLogger.

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

/// The one process-wide logger. The host creates it and stores its address in
/// theLogger; every log statement of the library checks theLogger first.
/// Any thread may log: m_lock guards the channel settings, the files and the
/// targets, and is recursive so a callback may call the setters.
class SHAREDLIB_API Logger {
public:
    /// Channels with a record of their own: the Log values.
    static constexpr int kChannelCount = 195;

    /// A logger whose files are named after filePrefix, in the directory logDirName
    /// below the output path (null or empty: the output path itself). Every channel
    /// starts at LogSev_Warning, Generic at LogSev_Detail without its name shown.
    Logger(char const *filePrefix, char const *logDirName);
    virtual ~Logger();
    Logger(Logger const &) = delete;
    Logger &operator=(Logger const &) = delete;

    ///@{

    /// The entry points: syslog goes to every target of the mask, screenlog to
    /// the debugger and console only, debuglog to debugger, file and DB only.
    void syslog(LogItemSeverityLevel severity, int channel, char const *format, ...) SHAREDLIB_PRINTF(4, 5);
    /// Logs a line to the debugger and the console only.
    void screenlog(LogItemSeverityLevel severity, int channel, char const *format, ...) SHAREDLIB_PRINTF(4, 5);
    /// Logs a line to the debugger, the file and the database only.
    void debuglog(LogItemSeverityLevel severity, int channel, char const *format, ...) SHAREDLIB_PRINTF(4, 5);
    /// syslog with the arguments as a va_list.
    void vsyslog(LogItemSeverityLevel severity, int channel, char const *format, va_list args)
        SHAREDLIB_PRINTF(4, 0);
    ///@}

    ///@{

    /// The call-site check: no lock, one comparison. A channel outside the
    /// table has no record and never passes here.
    bool CheckConditional(int channel, LogItemSeverityLevel severity) const
    {
        return static_cast<unsigned int>(channel) < static_cast<unsigned int>(kChannelCount) &&
               m_conditionals[channel]->m_level.load(std::memory_order_relaxed) >= severity;
    }
    /// The channel's level; LogSev_None for a channel outside the table.
    LogItemSeverityLevel GetConditional(int channel);
    ///@}

    /// Sets the most verbose severity the channel lets through; LogSev_None silences it.
    void SetConditional(int channel, LogItemSeverityLevel level);
    ///@{

    /// Whether the channel's lines show the date, the channel name and the severity.
    void SetConditionalDateFlag(int channel, bool value);
    void SetConditionalNameFlag(int channel, bool value);
    void SetConditionalLevelFlag(int channel, bool value);
    ///@}
    /// Stores a word for the host in the channel's record.
    void SetConditionalData(int channel, unsigned int userData);
    /// Sends a channel's lines to the log file keyed fileName, adding the file
    /// when it is new (even for a channel outside the table).
    void SetConditionalChannel(int channel, char const *fileName);

    /// Which targets syslog writes to: a mask of LogLocation bits.
    void setLogLocationMask(int mask);
    /// Whether fatal and assert lines also show a message box.
    void setUseDialogs(bool useDialogs);
    /// While squelched, nothing is logged.
    void setBSquelchLogger(bool squelch);
    /// Flushes the file after every line instead of every few seconds.
    void setFlushOnWrite(bool flushOnWrite);
    ///@{

    /// The console, database and pipe targets: functions given every line for that target (null: none).
    void setConsoleLogFunction(LogFunction function);
    void setDBLogFunction(LogFunction function);
    void setPipeLogFunction(LogFunction function);
    ///@}

    ///@{

    /// Debugger output, the process id in file names, the seconds between flushes and the time of the last flush.
    void setOutputToDebugger(bool value) { m_outputToDebugger.store(value, std::memory_order_relaxed); }
    void setIncludePIDInName(bool value) { m_includePIDInName.store(value, std::memory_order_relaxed); }
    void setSecondsBetweenFlushes(int seconds) { m_secondsBetweenFlushes.store(seconds, std::memory_order_relaxed); }
    void setLastFlush(int64_t seconds) { m_lastFlush.store(seconds, std::memory_order_relaxed); }
    ///@}

    ///@{

    /// The values set by the setters above.
    bool getBSquelchLogger() const { return m_squelch.load(std::memory_order_relaxed); }
    bool getFlushOnWrite() const { return m_flushOnWrite.load(std::memory_order_relaxed); }
    bool getFlushOnWrite() { return m_flushOnWrite.load(std::memory_order_relaxed); }
    bool getOutputToDebugger() const { return m_outputToDebugger.load(std::memory_order_relaxed); }
    bool getIncludePIDInName() const { return m_includePIDInName.load(std::memory_order_relaxed); }
    int getSecondsBetweenFlushes() { return m_secondsBetweenFlushes.load(std::memory_order_relaxed); }
    int64_t getLastFlush() { return m_lastFlush.load(std::memory_order_relaxed); }
    ///@}

    /** \name Log files and the pipe */
    ///@{

    /// Sets the prefix of the log file names; open files are reopened under it.
    void setFilePrefix(char const *filePrefix);
    /// Recomputes the file names from the prefix (after a change of the process-id setting).
    void resetFilePrefix();
    /// The file prefix.
    std::string getFilePrefix();
    /// The name of file 0.
    std::string getFileName();
    /// The log directory.
    std::string getLogDirName();
    /// Flushes every open log file.
    void flush();
    /// Opens the named pipe that the pipe target writes to.
    void setPipeName(char const *pipeName);
    /// The pipe's handle, or null.
    void *getPipe() { return m_pipe; }
    ///@}

protected:
    ///@{

    /// The line pipeline: filter, header, format once, then the targets of the mask.
    void logIt(unsigned long mask, LogItemSeverityLevel severity, int channel, char const *format, va_list args)
        SHAREDLIB_PRINTF(5, 0);
    /// Adds a log file keyed name; returns its index.
    int addChannel(char const *prefix, char const *name);
    /// The index of the log file keyed name, or -1.
    int findChannel(char const *name);
    ///@}

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
    /// Single words read without the lock.
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

/// The process-wide logger; null until the host sets it, and while it is null
/// nothing is logged.
SHAREDLIB_API extern Logger *theLogger;
