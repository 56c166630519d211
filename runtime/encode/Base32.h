#pragma once

#include <cstdint>

#include "../Export.h"

/// \file
/// Base32 of RFC 4648 with the standard alphabet and '=' padding. Five bytes
/// make one block of eight characters. The encoder writes upper case; the
/// decoder takes either case. The functions work on caller-supplied buffers,
/// allocate nothing and write no terminating zero.
///
/// Misuse throws std::runtime_error: a null dest or src ("Invalid parameter",
/// checked first, also for a size of 0), or a decode size that is not a whole
/// number of blocks ("Invalid source, size is not a multiple of 8"). Nothing is
/// written before a throw.

namespace CyoEncode {

/// Characters that encoding size bytes produces: 8 per started block of 5.
/// Never throws. Sizes above 2684354555 bytes do not fit the 32-bit result.
SHAREDLIB_API uint32_t Base32EncodeGetLength(uint32_t size);

/// Writes exactly Base32EncodeGetLength(size) characters to dest and returns
/// that count.
SHAREDLIB_API uint32_t Base32Encode(void *dest, const void *src, uint32_t size);

}  // namespace CyoEncode

namespace CyoDecode {

/// Room that decoding size characters needs: 5 bytes per block of 8.
/// Throws when size is not a multiple of 8.
SHAREDLIB_API uint32_t Base32DecodeGetLength(uint32_t size);

/// Decodes block by block. Every block writes all 5 of its bytes, so dest must
/// hold Base32DecodeGetLength(size) bytes; the result counts only the bytes
/// that are not padding (a block ending in 1, 3, 4 or 6 '=' carries 4, 3, 2 or
/// 1 bytes). Characters outside the alphabet are not rejected: they decode as
/// zero bits, as '=' does where it stands for data.
SHAREDLIB_API uint32_t Base32Decode(void *dest, const void *src, uint32_t size);

}  // namespace CyoDecode
