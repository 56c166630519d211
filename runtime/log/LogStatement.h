#pragma once

/// \file
/// Guarded log statements: SHAREDLIB_LOG and its relatives.

#include "Logger.h"

/// The logger a statement should write to, or null when the line would be
/// dropped anyway: no logger, the channel filters it out, or logging is
/// squelched. Checked before a statement's arguments are built.
inline Logger *LoggerFor(int channel, LogItemSeverityLevel severity)
{
    Logger *logger = theLogger;
    if (logger != nullptr && logger->CheckConditional(channel, severity) && !logger->getBSquelchLogger())
        return logger;
    return nullptr;
}

/// A guarded log statement: the arguments are evaluated only for a line that
/// will be written.
#define SHAREDLIB_LOG(severity, channel, ...)                                      \
    do {                                                                           \
        if (Logger *sharedlib_logger_ = LoggerFor((channel), (severity)))          \
            sharedlib_logger_->syslog((severity), (channel), __VA_ARGS__);         \
    } while (0)

/// As SHAREDLIB_LOG, through Logger::debuglog: the debugger, the file and the database only.
#define SHAREDLIB_DEBUGLOG(severity, channel, ...)                                 \
    do {                                                                           \
        if (Logger *sharedlib_logger_ = LoggerFor((channel), (severity)))          \
            sharedlib_logger_->debuglog((severity), (channel), __VA_ARGS__);       \
    } while (0)
