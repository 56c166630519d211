// The Logger's table of log files: lookup by key, growth, prefixes and the pipe.
#include <cstring>

#include "../platform/NamedPipe.h"
#include "../platform/Process.h"
#include "Logger.h"

std::string Logger::effectivePrefix() const
{
    if (!getIncludePIDInName())
        return m_filePrefix;
    return m_filePrefix + "_" + std::to_string(platform::GetCurrentProcessId());
}

int Logger::findChannel(char const *name)
{
    platform::CriticalSectionLock guard(*m_lock);
    for (int i = 0; i < m_fileCount; ++i)
        if (m_files[i]->name() == name)
            return i;
    return -1;
}

int Logger::addChannel(char const *prefix, char const *name)
{
    if (name == nullptr)
        return 0;
    platform::CriticalSectionLock guard(*m_lock);
    int existing = findChannel(name);
    if (existing >= 0)
        return existing;
    if (m_fileCount == m_fileCapacity) {
        int capacity = m_fileCapacity * 2;
        LogFile **files = new LogFile *[capacity];
        std::memcpy(files, m_files, sizeof(LogFile *) * static_cast<size_t>(m_fileCount));
        delete[] m_files;
        m_files = files;
        m_fileCapacity = capacity;
    }
    m_files[m_fileCount] = new LogFile(this, prefix, name);
    return m_fileCount++;
}

void Logger::SetConditionalChannel(int channel, char const *fileName)
{
    platform::CriticalSectionLock guard(*m_lock);
    int index = findChannel(fileName);
    if (index < 0)
        index = addChannel(getFilePrefix().c_str(), fileName);
    if (static_cast<unsigned int>(channel) < static_cast<unsigned int>(kChannelCount))
        m_conditionals[channel]->m_fileIndex = index;
}

void Logger::setFilePrefix(char const *filePrefix)
{
    platform::CriticalSectionLock guard(*m_lock);
    m_filePrefix = filePrefix != nullptr ? filePrefix : "";
    resetFilePrefix();
}

void Logger::resetFilePrefix()
{
    platform::CriticalSectionLock guard(*m_lock);
    std::string prefix = effectivePrefix();
    for (int i = 0; i < m_fileCount; ++i)
        m_files[i]->setPrefix(prefix.c_str());
}

std::string Logger::getFilePrefix()
{
    platform::CriticalSectionLock guard(*m_lock);
    return m_files[0]->prefix();
}

std::string Logger::getFileName()
{
    platform::CriticalSectionLock guard(*m_lock);
    return m_files[0]->fileName();
}

std::string Logger::getLogDirName()
{
    return m_logDirName;
}

void Logger::flush()
{
    for (int i = 0; i < m_fileCount; ++i)
        m_files[i]->flush();
}

void Logger::setPipeName(char const *pipeName)
{
    platform::CriticalSectionLock guard(*m_lock);
    // The previous pipe is not closed: the host may hold its handle (from
    // getPipe) and closes it itself. Only the current one is closed, by the
    // destructor.
    m_pipe = platform::OpenNamedPipeForWriting(pipeName);
    if (m_pipe != nullptr)
        platform::SetPipeMessageMode(m_pipe);
}
