#pragma once

#include <cstdint>

#include "../Export.h"

/// \file
/// Base16 (hexadecimal) of RFC 4648: each byte becomes two characters, high
/// nibble first. The encoder writes upper case; the decoder takes either case.
/// The functions work on caller-supplied buffers, allocate nothing and write no
/// terminating zero.
///
/// Misuse throws std::runtime_error: a null dest or src ("Invalid parameter",
/// checked first, also for a size of 0), or an odd decode size ("Invalid
/// source, size is not a multiple of 2"). Nothing is written before a throw.

namespace CyoEncode {

/// Characters that encoding size bytes produces: 2 per byte. Never throws.
/// Sizes above 2147483647 bytes do not fit the 32-bit result.
SHAREDLIB_API uint32_t Base16EncodeGetLength(uint32_t size);

/// Writes exactly Base16EncodeGetLength(size) characters to dest and returns
/// that count.
SHAREDLIB_API uint32_t Base16Encode(void *dest, const void *src, uint32_t size);

}  // namespace CyoEncode

namespace CyoDecode {

/// Room that decoding size characters needs: 1 byte per 2 characters.
/// Throws when size is odd.
SHAREDLIB_API uint32_t Base16DecodeGetLength(uint32_t size);

/// Writes size / 2 bytes to dest and returns that count. Characters that are
/// not hexadecimal digits are not rejected: they decode as zero bits.
SHAREDLIB_API uint32_t Base16Decode(void *dest, const void *src, uint32_t size);

}  // namespace CyoDecode
