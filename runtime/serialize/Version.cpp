#include "Version.h"

#include <cstdint>
#include <span>

#include "../platform/LastError.h"
#include "../platform/MemoryMapping.h"
#include "../util/Conversions.h"
#include "PackedData.h"
#include "PeVersionResource.h"

// The build names its user and machine with these two definitions (string
// literals); a name the build does not give, or gives empty, is "unknown".
#ifndef SHAREDLIB_BUILD_USER
#define SHAREDLIB_BUILD_USER "unknown"
#endif
#ifndef SHAREDLIB_BUILD_MACHINE
#define SHAREDLIB_BUILD_MACHINE "unknown"
#endif

namespace {

// Windows codes for the ways an image can lack its version information.
constexpr uint32_t kErrorInvalidData = 13;             // ERROR_INVALID_DATA
constexpr uint32_t kErrorBadExeFormat = 193;           // ERROR_BAD_EXE_FORMAT
constexpr uint32_t kErrorResourceDataNotFound = 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND
constexpr uint32_t kErrorResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND

char s_debug[1] = "";

// The file's bytes, mapped read-only for the life of the object.
class MappedFile {
public:
    explicit MappedFile(const char *path)
    {
        m_file = platform::OpenFileForMapping(path);
        if (m_file == platform::INVALID_FILE_HANDLE)
            return;
        int64_t size = 0;
        if (!platform::GetFileSize(m_file, &size))
            return;
        m_opened = true;
        if (size <= 0)
            return;  // nothing to map: read as no image at all
        m_mapping = platform::CreateFileMapping(m_file);
        if (m_mapping == nullptr) {
            m_opened = false;
            return;
        }
        m_view = platform::MapViewOfFile(m_mapping);
        if (m_view == nullptr) {
            m_opened = false;
            return;
        }
        m_size = static_cast<size_t>(size);
    }
    ~MappedFile()
    {
        // Closing must not disturb the error the caller is about to report.
        uint32_t const error = platform::GetLastError();
        if (m_view != nullptr)
            platform::UnmapViewOfFile(m_view);
        if (m_mapping != nullptr)
            platform::CloseFileMapping(m_mapping);
        if (m_file != platform::INVALID_FILE_HANDLE)
            platform::CloseMappedFile(m_file);
        platform::SetLastError(error);
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    // False when the file could not be opened, sized or mapped (last error set).
    bool opened() const { return m_opened; }
    std::span<const uint8_t> bytes() const
    {
        return m_view != nullptr ? std::span<const uint8_t>(static_cast<const uint8_t *>(m_view), m_size)
                                 : std::span<const uint8_t>();
    }

private:
    platform::FileHandle m_file = platform::INVALID_FILE_HANDLE;
    platform::FileMapping *m_mapping = nullptr;
    const void *m_view = nullptr;
    size_t m_size = 0;
    bool m_opened = false;
};

}  // namespace

constinit const Version Version::s_current{2, 12, 39, 0};

int Version::toInt() const
{
    // Each low byte as a signed 8-bit number; unsigned arithmetic gives the
    // 32-bit wrap-around of the signed sum without overflowing.
    auto part = [](unsigned short field) {
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(static_cast<uint8_t>(field))));
    };
    uint32_t const value = ((part(m_major) * 256u + part(m_minor)) * 256u + part(m_minor2)) * 256u + part(m_build);
    return static_cast<int32_t>(value);
}

const Version &Version::current() { return s_current; }
namespace {
// An empty name from the build counts as none.
constexpr const char *buildName(const char *name) { return name[0] != '\0' ? name : "unknown"; }
}  // namespace

const char *Version::currentUser() { return buildName(SHAREDLIB_BUILD_USER); }
const char *Version::currentMachine() { return buildName(SHAREDLIB_BUILD_MACHINE); }
char *Version::getDebug() { return s_debug; }

Version Version::find(const char *path)
{
    Version result;
    if (path == nullptr) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        describeLastError("");
        return result;
    }
    MappedFile file(path);
    if (!file.opened()) {
        describeLastError(path);
        return result;
    }
    pe_version::FileVersion version;
    pe_version::Outcome outcome = pe_version::Outcome::NotAnImage;
    if (pe_version::ReadFileVersion(file.bytes(), version, &outcome)) {
        result.set(version.major, version.minor, version.minor2, version.build);
        return result;
    }
    switch (outcome) {
    case pe_version::Outcome::NoFixedInfo:
        // The image has version information, but not the fixed part.
        platform::SetLastError(kErrorInvalidData);
        describeLastError("Failed to get version info");
        return result;
    case pe_version::Outcome::NoResources:
        platform::SetLastError(kErrorResourceDataNotFound);
        break;
    case pe_version::Outcome::NoVersionResource:
        platform::SetLastError(kErrorResourceTypeNotFound);
        break;
    case pe_version::Outcome::NotAnImage:
    case pe_version::Outcome::Found:
        platform::SetLastError(kErrorBadExeFormat);
        break;
    }
    describeLastError(path);
    return result;
}

void Version::pack(CPackedData &message) const
{
    message.PutUint16(m_major);
    message.PutUint16(m_minor);
    message.PutUint16(m_minor2);
    message.PutUint16(m_build);
}

void Version::unpack(CPackedData &message)
{
    m_major = message.GetUint16();
    m_minor = message.GetUint16();
    m_minor2 = message.GetUint16();
    m_build = message.GetUint16();
}
