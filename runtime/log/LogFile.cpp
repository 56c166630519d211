#include "LogFile.h"

LogFile::LogFile(Logger *owner, char const *effectivePrefix, char const *name)
    : m_owner(owner), m_name(name != nullptr ? name : ""), m_file(nullptr), m_opened(false)
{
    setPrefix(effectivePrefix);
}

LogFile::~LogFile()
{
    if (m_file != nullptr)
        std::fclose(m_file);
}

void LogFile::setPrefix(char const *effectivePrefix)
{
    std::string prefix = effectivePrefix != nullptr ? effectivePrefix : "";
    if (!m_name.empty())
        prefix = m_name + "_" + prefix;
    if (prefix == m_prefix)
        return;
    m_prefix = std::move(prefix);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_opened = false;
}

void LogFile::ensureOpen()
{
    // Log files are not written on this platform yet: the stream stays closed
    // and the file target drops its lines.
    (void)m_owner;
}

void LogFile::write(char const *text, bool dateFlag, bool errorFlag)
{
    ensureOpen();
    if (m_file == nullptr)
        return;
    (void)text;
    (void)dateFlag;
    (void)errorFlag;
}

void LogFile::flush()
{
    if (m_file != nullptr)
        std::fflush(m_file);
}
