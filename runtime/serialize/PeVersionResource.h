#pragma once

// Reads the fixed file information of the version resource of a Windows
// executable or library (PE32 or PE32+) from the file's bytes. Used by
// Version::find; not part of the library's interface.
//
// The reader follows the DOS header to the PE header, the resource data
// directory to the section holding it, the resource tree (type 16, then the
// first name and the first language) to the VS_VERSIONINFO block, and reads
// dwFileVersionMS/LS from its VS_FIXEDFILEINFO. Every offset and size is
// checked against the bytes it is given, and every loop is bounded by them, so
// any input (truncated, hostile) gives an answer without reading outside it.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pe_version {

// Where reading stopped.
enum class Outcome {
    Found,
    NotAnImage,         // not a PE file, or its headers are cut short
    NoResources,        // no resource directory, or it lies outside the file
    NoVersionResource,  // resources, but none of type 16 that can be read
    NoFixedInfo,        // a version resource without a valid VS_FIXEDFILEINFO
};

struct FileVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t minor2 = 0;
    uint16_t build = 0;
};

// True (and `version` filled in) when the bytes are an image with a readable
// version resource; otherwise `version` is left alone. `outcome`, when given,
// receives the reason.
bool ReadFileVersion(std::span<const uint8_t> image, FileVersion &version, Outcome *outcome = nullptr);

}  // namespace pe_version
