#pragma once

/// \file
/// LogFile: one numbered file of the logger's file table.

#include <string>

#include "../Export.h"
#include "../platform/FileStream.h"

class Logger;

/// One numbered log file of the Logger's file table. File 0, the default, has
/// an empty name; others are keyed by the name given to SetConditionalChannel.
/// A file is opened at its first line and reopened after a change of
/// directory or prefix.
class SHAREDLIB_API LogFile {
public:
    /// The file keyed name of owner's table, its file name made from the effective prefix.
    LogFile(Logger *owner, char const *effectivePrefix, char const *name);
    ~LogFile();
    LogFile(LogFile const &) = delete;
    LogFile &operator=(LogFile const &) = delete;

    ///@{

    /// Recomputes the full prefix; a different one closes the stream so the
    /// next line reopens under it.
    void setPrefix(char const *effectivePrefix);
    /// Opens the file when it is not open.
    void ensureOpen();
    /// Writes one line, with the date when dateFlag is set.
    void write(char const *text, bool dateFlag, bool errorFlag);
    /// Flushes the stream.
    void flush();
    ///@}

    ///@{

    /// The key of the file, its prefix and its file name.
    std::string const &name() const { return m_name; }
    std::string const &prefix() const { return m_prefix; }
    std::string const &fileName() const { return m_fileName; }
    ///@}

private:
    /// Opens the descriptor a numbered name calls for; -1 when it fails.
    int openNumbered(std::string const &path, bool firstOpen, bool &created);
    void closeStream();

    Logger *m_owner;
    std::string m_prefix;
    std::string m_name;
    std::string m_fileName;
    platform::FileStream *m_file;
    bool m_opened;
    std::string m_dirPath;
    /// What m_dirPath was derived from.
    std::string m_resolvedDirName;
    std::string m_resolvedOutputRoot;
};
