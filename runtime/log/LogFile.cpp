#include "LogFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../platform/Clock.h"
#include "../platform/FileSystem.h"
#include "../platform/LastError.h"
#include "../util/Clock.h"
#include "../util/GamePath.h"
#include "Logger.h"

namespace {

constexpr int kMaxOpenAttempts = 1000;
constexpr size_t kLineBufferSize = 4096;  // the whole line, line end included, is at most 4095 characters
constexpr int kCreateFlags = platform::O_WRONLY_ | platform::O_APPEND_ | platform::O_CREAT_ | platform::O_EXCL_ |
                             platform::O_TEXT_;
constexpr int kAppendFlags = platform::O_WRONLY_ | platform::O_APPEND_ | platform::O_TEXT_;

// ctime's text for the current second, kept while the second lasts.
struct DateStamp {
    int64_t second = -1;
    char text[32] = {};
    size_t length = 0;
};

// A file that cannot be opened loses every line meant for it; say so once on
// standard error, so that the operator learns why the logs stay empty.
void reportOpenFailure(char const *path, uint32_t error)
{
    std::string reason = platform::FormatSystemMessage(error);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    if (reason.empty())
        reason = "error " + std::to_string(error);
    std::fprintf(stderr, "Log file %s cannot be opened, its lines are dropped: %s\n", path, reason.c_str());
    std::fflush(stderr);
}

}  // namespace

LogFile::LogFile(Logger *owner, char const *effectivePrefix, char const *name)
    : m_owner(owner), m_name(name != nullptr ? name : ""), m_file(nullptr), m_opened(false)
{
    setPrefix(effectivePrefix);
}

LogFile::~LogFile()
{
    closeStream();
}

void LogFile::closeStream()
{
    delete m_file;
    m_file = nullptr;
}

void LogFile::setPrefix(char const *effectivePrefix)
{
    std::string prefix = effectivePrefix != nullptr ? effectivePrefix : "";
    if (!m_name.empty())
        prefix = m_name + "_" + prefix;
    if (prefix == m_prefix)
        return;
    m_prefix = std::move(prefix);
    closeStream();
    m_opened = false;
}

int LogFile::openNumbered(std::string const &path, bool firstOpen, bool &created)
{
    created = false;
    if (firstOpen) {
        created = true;
        return platform::OpenFile(path.c_str(), kCreateFlags, platform::S_IWRITE_);
    }
    if (m_fileName == path)
        return platform::OpenFile(path.c_str(), kAppendFlags, 0);
    // The directory or prefix changed: the file moves, content and all, to
    // the next free number.
    closeStream();
    if (platform::RenamePath(m_fileName.c_str(), path.c_str()) == 0) {
        m_fileName = path;
        return platform::OpenFile(path.c_str(), kAppendFlags, 0);
    }
    created = true;
    return platform::OpenFile(path.c_str(), kCreateFlags, platform::S_IWRITE_);
}

void LogFile::ensureOpen()
{
    // The directory is derived from the logger's directory name and the
    // output path; while neither changed there is nothing to do, and the
    // per-line check builds no string.
    std::string const &dirName = m_owner->m_logDirName;
    char const *outputRoot = GetGameOutputPath();
    if (m_opened && dirName == m_resolvedDirName && m_resolvedOutputRoot == outputRoot)
        return;
    m_resolvedDirName = dirName;
    m_resolvedOutputRoot = outputRoot;
    std::string directory = GetOutputPath(dirName.c_str());
    if (m_opened && directory == m_dirPath)
        return;
    if (!m_owner->m_logDirName.empty())
        ensureDirectoryExists(directory.c_str());
    m_dirPath = directory;

    std::string stem = directory + "\\" + m_prefix + "_";
    std::string pattern = stem + "*." + "txt";
    bool firstOpen = m_fileName.empty();
    for (int attempt = 1;; ++attempt) {
        // The next number is one above the highest already present.
        int highest = 0;
        for (std::string const &name : platform::FindFiles(pattern.c_str())) {
            size_t numberAt = m_prefix.size() + 1;
            int number = name.size() > numberAt ? std::atoi(name.c_str() + numberAt) : 0;
            if (number > highest)
                highest = number;
        }
        char path[1024];
        std::snprintf(path, sizeof path, "%s%.*d.%s", stem.c_str(), 5, highest + 1, "txt");

        platform::SetLastError(0);
        bool created = false;
        int descriptor = openNumbered(path, firstOpen, created);
        m_opened = true;
        if (descriptor < 0) {
            // Another process may have taken the number: scan again.
            uint32_t const error = platform::GetLastError();
            if (error != 0 && attempt < kMaxOpenAttempts)
                continue;
            reportOpenFailure(path, error);
            return;
        }
        if (created)
            m_fileName = path;
        closeStream();
        m_file = platform::FileStream::Attach(descriptor, "a");
        if (m_file == nullptr)
            platform::CloseFile(descriptor);
        return;
    }
}

void LogFile::write(char const *text, bool dateFlag, bool errorFlag)
{
    ensureOpen();
    if (m_file == nullptr)
        return;

    char line[kLineBufferSize];
    size_t length = 0;
    if (dateFlag) {
        thread_local DateStamp stamp;
        int64_t now = platform::GetWallClockSeconds();
        if (now != stamp.second) {
            stamp.second = now;
            stamp.length = platform::LocalTimeText(now, stamp.text) ? std::strlen(stamp.text) : 0;
        }
        std::memcpy(line, stamp.text, stamp.length);
        length = stamp.length;
        line[length++] = ' ';  // ctime's line end becomes a blank
    }
    size_t textLength = std::strlen(text);
    size_t room = kLineBufferSize - 2 - length;  // leave the line end and the terminator
    if (textLength > room)
        textLength = room;
    std::memcpy(line + length, text, textLength);
    length += textLength;
    line[length++] = '\n';
    line[length] = '\0';
    m_file->Write(line);

    if (errorFlag || m_owner->getFlushOnWrite()) {
        m_file->Flush();
        return;
    }
    int interval = m_owner->getSecondsBetweenFlushes();
    if (interval > 0) {
        int64_t now = GetSecondsSinceEpoch();
        if (now > m_owner->getLastFlush() + interval) {
            m_owner->setLastFlush(now);
            m_file->Flush();
        }
    }
}

void LogFile::flush()
{
    if (m_file != nullptr)
        m_file->Flush();
}
