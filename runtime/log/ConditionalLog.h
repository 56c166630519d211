#pragma once

/// \file
/// ConditionalLog: how one log channel logs.

#include <atomic>
#include <string>

#include "../Export.h"
#include "LogSeverity.h"

class Logger;

/// How one channel logs: its threshold, the name shown in its lines, a word
/// kept for the host, the log file it writes to and three display flags.
/// Only the Logger (and classes derived from this one) create records.
class SHAREDLIB_API ConditionalLog {
public:
    ///@{

    /// Copies the record: threshold, prefix, user word, file index and flags.
    ConditionalLog(ConditionalLog const &other);
    ConditionalLog &operator=(ConditionalLog const &other);
    ///@}

    /// The name shown in the channel's lines.
    std::string getPrefix() const { return m_prefix; }
    ///@{

    /// The word kept for the host: read, or set.
    unsigned int getUserData() const { return m_userData; }
    void setUserData(unsigned int userData) { m_userData = userData; }
    ///@}

protected:
    /// A record with the given name, threshold and log file index; the date, name
    /// and level flags start set.
    ConditionalLog(std::string const &prefix, LogItemSeverityLevel level, int fileIndex);
    virtual ~ConditionalLog();

private:
    friend class Logger;

    /// The level is read without a lock by the call-site check while a setter
    /// may change it under the Logger's lock: a relaxed atomic costs the same
    /// single load as the plain word did.
    std::atomic<LogItemSeverityLevel> m_level;
    std::string m_prefix;
    unsigned int m_userData;
    int m_fileIndex;
    bool m_dateFlag;
    bool m_nameFlag;
    bool m_levelFlag;
};
