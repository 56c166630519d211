#pragma once

/// \file
/// MD5 message digest (RFC 1321) behind three plain C entry points.
///
///   md5_state_s state;
///   md5_init(&state);
///   md5_append(&state, bytes, count);   // as often as needed
///   md5_finish(&state, digest);         // 16 bytes, in the order MD5 produces them
///
/// The state holds no pointers: copying it by assignment forks the computation.

#include <cstdint>

#include "../Export.h"

extern "C" {

/// The state of one MD5 computation (md5_init, md5_append, md5_finish).
struct md5_state_s {
    uint32_t bitCount[2];  ///< message length in bits, low word first
    uint32_t chain[4];     ///< the chaining words A, B, C, D
    uint8_t buffer[64];    ///< a partial block waiting for more bytes
};

/// Starts a computation: no bits counted, the initial chaining values.
SHAREDLIB_API void md5_init(md5_state_s *state);

/// Adds `count` bytes; a count below 1 adds nothing.
SHAREDLIB_API void md5_append(md5_state_s *state, const uint8_t *data, int32_t count);

/// Pads the message, finishes it and stores the 16-byte digest.
SHAREDLIB_API void md5_finish(md5_state_s *state, uint8_t digest[16]);

}  // extern "C"
