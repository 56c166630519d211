#include "PeVersionResource.h"

namespace pe_version {
namespace {

constexpr uint16_t kDosSignature = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kVersionType = 16;  // RT_VERSION
constexpr uint32_t kVersionInfoName = 1;  // VS_VERSION_INFO
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;

constexpr char16_t kVersionInfoKey[] = u"VS_VERSION_INFO";

// Little-endian reads that the caller has bounds-checked.
uint16_t u16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
uint32_t u32(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<uint32_t>(bytes[at + 2]) << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}
// Whether `length` bytes start at `at` inside a span of `size` bytes, without overflow.
bool fits(size_t size, uint64_t at, uint64_t length) { return at <= size && length <= size - at; }

struct Section {
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
};

class Image {
public:
    explicit Image(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

    // The headers up to the section table and the resource data directory.
    Outcome readHeaders()
    {
        size_t const size = m_bytes.size();
        if (size < 64 || u16(m_bytes, 0) != kDosSignature)
            return Outcome::NotAnImage;
        uint64_t const pe = u32(m_bytes, 0x3C);
        // Signature and the 20-byte file header.
        if (!fits(size, pe, 24) || u32(m_bytes, pe) != kPeSignature)
            return Outcome::NotAnImage;
        size_t const fileHeader = pe + 4;
        m_sectionCount = u16(m_bytes, fileHeader + 2);
        uint16_t const optionalSize = u16(m_bytes, fileHeader + 16);
        size_t const optional = fileHeader + 20;
        if (!fits(size, optional, optionalSize) || optionalSize < 2)
            return Outcome::NotAnImage;
        uint16_t const magic = u16(m_bytes, optional);
        size_t directories;
        if (magic == kPe32Magic)
            directories = 96;
        else if (magic == kPe32PlusMagic)
            directories = 112;
        else
            return Outcome::NotAnImage;
        m_sectionTable = optional + optionalSize;
        if (!fits(size, m_sectionTable, static_cast<uint64_t>(m_sectionCount) * kSectionHeaderSize))
            return Outcome::NotAnImage;

        // The directory count sits just before the directories; both must lie
        // inside the optional header.
        if (optionalSize < directories)
            return Outcome::NoResources;
        uint32_t const directoryCount = u32(m_bytes, optional + directories - 4);
        uint64_t const resourceEntry = directories + kResourceDirectoryIndex * 8;
        if (directoryCount <= kResourceDirectoryIndex || resourceEntry + 8 > optionalSize)
            return Outcome::NoResources;
        m_resourceRva = u32(m_bytes, optional + resourceEntry);
        m_resourceSize = u32(m_bytes, optional + resourceEntry + 4);
        if (m_resourceRva == 0 || m_resourceSize == 0)
            return Outcome::NoResources;
        return Outcome::Found;
    }

    // The file bytes from `rva` to the end of the raw data of the section
    // holding it. Empty when no section holds it; `cutShort` is set when the
    // section's raw data runs past the end of the file.
    std::span<const uint8_t> at(uint32_t rva, bool &cutShort) const
    {
        cutShort = false;
        for (uint32_t i = 0; i < m_sectionCount; ++i) {
            size_t const header = m_sectionTable + i * kSectionHeaderSize;
            Section const section{u32(m_bytes, header + 12), u32(m_bytes, header + 16), u32(m_bytes, header + 20)};
            if (rva < section.virtualAddress || rva - section.virtualAddress >= section.rawSize)
                continue;
            if (!fits(m_bytes.size(), section.rawOffset, section.rawSize)) {
                cutShort = true;
                return {};
            }
            uint32_t const into = rva - section.virtualAddress;
            return m_bytes.subspan(static_cast<size_t>(section.rawOffset) + into, section.rawSize - into);
        }
        return {};
    }

    uint32_t resourceRva() const { return m_resourceRva; }

private:
    std::span<const uint8_t> m_bytes;
    uint32_t m_sectionCount = 0;
    size_t m_sectionTable = 0;
    uint32_t m_resourceRva = 0;
    uint32_t m_resourceSize = 0;
};

// One level of the resource tree: the entry whose ID is `id`, or the first
// entry when `id` is 0 or absent and `orFirst` is set. Gives the entry's
// target (relative to the start of the resource directory) and whether it is
// a subdirectory; false when there is no such entry or the directory is cut
// short.
bool findEntry(std::span<const uint8_t> tree, uint32_t directory, uint32_t id, bool orFirst, uint32_t &target,
               bool &isDirectory)
{
    if (!fits(tree.size(), directory, kDirectoryHeaderSize))
        return false;
    uint32_t const count = static_cast<uint32_t>(u16(tree, directory + 12)) + u16(tree, directory + 14);
    size_t const entries = static_cast<size_t>(directory) + kDirectoryHeaderSize;
    // Only as many entries as the bytes hold are looked at.
    size_t const room = (tree.size() - entries) / kDirectoryEntrySize;
    size_t const n = count < room ? count : room;
    size_t chosen = n;
    for (size_t i = 0; i < n; ++i) {
        uint32_t const name = u32(tree, entries + i * kDirectoryEntrySize);
        if ((name & kSubdirectoryBit) == 0 && name == id) {
            chosen = i;
            break;
        }
    }
    if (chosen == n) {
        if (!orFirst || n == 0)
            return false;
        chosen = 0;
    }
    uint32_t const offset = u32(tree, entries + chosen * kDirectoryEntrySize + 4);
    isDirectory = (offset & kSubdirectoryBit) != 0;
    target = offset & ~kSubdirectoryBit;
    return true;
}

// The VS_FIXEDFILEINFO of a VS_VERSIONINFO block.
bool readFixedInfo(std::span<const uint8_t> block, FileVersion &version)
{
    if (block.size() < 6)
        return false;
    size_t const length = u16(block, 0);
    size_t const valueLength = u16(block, 2);
    size_t const limit = length < block.size() ? length : block.size();
    // The key: a zero-terminated UTF-16 text after the three words.
    size_t const keyChars = sizeof(kVersionInfoKey) / sizeof(kVersionInfoKey[0]);
    if (!fits(limit, 6, keyChars * 2))
        return false;
    for (size_t i = 0; i < keyChars; ++i)
        if (u16(block, 6 + i * 2) != static_cast<uint16_t>(kVersionInfoKey[i]))
            return false;
    // The value starts at the next 32-bit boundary.
    size_t const value = (6 + keyChars * 2 + 3) & ~static_cast<size_t>(3);
    if (valueLength < kFixedInfoSize || !fits(limit, value, kFixedInfoSize))
        return false;
    if (u32(block, value) != kFixedInfoSignature)
        return false;
    uint32_t const high = u32(block, value + 8);
    uint32_t const low = u32(block, value + 12);
    version.major = static_cast<uint16_t>(high >> 16);
    version.minor = static_cast<uint16_t>(high);
    version.minor2 = static_cast<uint16_t>(low >> 16);
    version.build = static_cast<uint16_t>(low);
    return true;
}

Outcome read(std::span<const uint8_t> bytes, FileVersion &version)
{
    Image image(bytes);
    Outcome const headers = image.readHeaders();
    if (headers != Outcome::Found)
        return headers;

    bool cutShort = false;
    std::span<const uint8_t> const tree = image.at(image.resourceRva(), cutShort);
    if (cutShort)
        return Outcome::NotAnImage;
    if (tree.empty())
        return Outcome::NoResources;

    // Type, then name, then language: exactly three levels, so the walk
    // cannot loop however the offsets point.
    uint32_t target = 0;
    bool isDirectory = false;
    if (!findEntry(tree, 0, kVersionType, false, target, isDirectory) || !isDirectory)
        return Outcome::NoVersionResource;
    if (!findEntry(tree, target, kVersionInfoName, true, target, isDirectory) || !isDirectory)
        return Outcome::NoVersionResource;
    if (!findEntry(tree, target, 0, true, target, isDirectory) || isDirectory)
        return Outcome::NoVersionResource;
    if (!fits(tree.size(), target, kDataEntrySize))
        return Outcome::NoVersionResource;

    uint32_t const dataRva = u32(tree, target);
    uint32_t const dataSize = u32(tree, target + 4);
    std::span<const uint8_t> data = image.at(dataRva, cutShort);
    if (cutShort)
        return Outcome::NotAnImage;
    if (data.empty() || dataSize == 0 || dataSize > data.size())
        return Outcome::NoVersionResource;
    if (!readFixedInfo(data.first(dataSize), version))
        return Outcome::NoFixedInfo;
    return Outcome::Found;
}

}  // namespace

bool ReadFileVersion(std::span<const uint8_t> image, FileVersion &version, Outcome *outcome)
{
    FileVersion found;
    Outcome const result = read(image, found);
    if (outcome != nullptr)
        *outcome = result;
    if (result != Outcome::Found)
        return false;
    version = found;
    return true;
}

}  // namespace pe_version
