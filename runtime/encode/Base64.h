#pragma once

#include <cstdint>

#include "../Export.h"

/// \file
/// Base64 of RFC 4648 with the standard alphabet and '=' padding. Three bytes
/// make one block of four characters. The functions work on caller-supplied
/// buffers, allocate nothing and write no terminating zero.
///
/// Misuse throws std::runtime_error: a null dest or src ("Invalid parameter",
/// checked first, also for a size of 0), or a decode size that is not a whole
/// number of blocks ("Invalid source, size is not a multiple of 4"). Nothing is
/// written before a throw.

namespace CyoEncode {

/// Characters that encoding size bytes produces: 4 per started block of 3.
/// Never throws. Sizes above 3221225469 bytes do not fit the 32-bit result.
SHAREDLIB_API uint32_t Base64EncodeGetLength(uint32_t size);

/// Writes exactly Base64EncodeGetLength(size) characters to dest and returns
/// that count.
SHAREDLIB_API uint32_t Base64Encode(void *dest, const void *src, uint32_t size);

}  // namespace CyoEncode

namespace CyoDecode {

/// Room that decoding size characters needs: 3 bytes per block of 4.
/// Throws when size is not a multiple of 4.
SHAREDLIB_API uint32_t Base64DecodeGetLength(uint32_t size);

/// Decodes block by block. Every block writes all 3 of its bytes, so dest must
/// hold Base64DecodeGetLength(size) bytes; the result counts only the bytes
/// that are not padding (one less per block ending in '=', two less for "==").
/// Characters outside the alphabet are not rejected: they decode as zero bits,
/// as '=' does where it stands for data.
SHAREDLIB_API uint32_t Base64Decode(void *dest, const void *src, uint32_t size);

}  // namespace CyoDecode
