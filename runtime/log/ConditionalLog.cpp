#include "ConditionalLog.h"

ConditionalLog::ConditionalLog(std::string const &prefix, LogItemSeverityLevel level, int fileIndex)
    : m_level(level),
      m_prefix(prefix),
      m_userData(0),
      m_fileIndex(fileIndex),
      m_dateFlag(true),
      m_nameFlag(true),
      m_levelFlag(true)
{
}

ConditionalLog::ConditionalLog(ConditionalLog const &other)
    : m_level(other.m_level.load(std::memory_order_relaxed)),
      m_prefix(other.m_prefix),
      m_userData(other.m_userData),
      m_fileIndex(other.m_fileIndex),
      m_dateFlag(other.m_dateFlag),
      m_nameFlag(other.m_nameFlag),
      m_levelFlag(other.m_levelFlag)
{
}

ConditionalLog &ConditionalLog::operator=(ConditionalLog const &other)
{
    m_level.store(other.m_level.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_prefix = other.m_prefix;
    m_userData = other.m_userData;
    m_fileIndex = other.m_fileIndex;
    m_dateFlag = other.m_dateFlag;
    m_nameFlag = other.m_nameFlag;
    m_levelFlag = other.m_levelFlag;
    return *this;
}

ConditionalLog::~ConditionalLog() = default;
