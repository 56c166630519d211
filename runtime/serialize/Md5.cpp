#include "Md5.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace {

inline uint32_t loadLittle32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
    return v;
}

inline void storeLittle32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The four round functions. F and G are written so that the compiler can
// overlap their parts: in G the two terms never share a set bit, so adding
// them is the same as or-ing them and the additions can be reordered freely.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_WORD(k) loadLittle32(block + 4 * (k))

#define MD5_STEP_F(a, b, c, d, k, s, t)                                      \
    a += MD5_F(b, c, d) + MD5_WORD(k) + (t);                                \
    a = std::rotl(a, s) + (b);

#define MD5_STEP_G(a, b, c, d, k, s, t)                                      \
    a += MD5_WORD(k) + (t) + ((d) & (b)) + (~(d) & (c));                    \
    a = std::rotl(a, s) + (b);

#define MD5_STEP_H(a, b, c, d, k, s, t)                                      \
    a += MD5_H(b, c, d) + MD5_WORD(k) + (t);                                \
    a = std::rotl(a, s) + (b);

#define MD5_STEP_I(a, b, c, d, k, s, t)                                      \
    a += MD5_I(b, c, d) + MD5_WORD(k) + (t);                                \
    a = std::rotl(a, s) + (b);

// Runs the compression function over `blocks` consecutive 64-byte blocks,
// reading the message words straight from `data`.
void compressBlocks(uint32_t chain[4], const uint8_t *data, size_t blocks)
{
    uint32_t a = chain[0];
    uint32_t b = chain[1];
    uint32_t c = chain[2];
    uint32_t d = chain[3];

    for (; blocks != 0; --blocks, data += 64) {
        const uint8_t *block = data;
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        // Round 1
        MD5_STEP_F(a, b, c, d, 0, 7, 0xd76aa478u)
        MD5_STEP_F(d, a, b, c, 1, 12, 0xe8c7b756u)
        MD5_STEP_F(c, d, a, b, 2, 17, 0x242070dbu)
        MD5_STEP_F(b, c, d, a, 3, 22, 0xc1bdceeeu)
        MD5_STEP_F(a, b, c, d, 4, 7, 0xf57c0fafu)
        MD5_STEP_F(d, a, b, c, 5, 12, 0x4787c62au)
        MD5_STEP_F(c, d, a, b, 6, 17, 0xa8304613u)
        MD5_STEP_F(b, c, d, a, 7, 22, 0xfd469501u)
        MD5_STEP_F(a, b, c, d, 8, 7, 0x698098d8u)
        MD5_STEP_F(d, a, b, c, 9, 12, 0x8b44f7afu)
        MD5_STEP_F(c, d, a, b, 10, 17, 0xffff5bb1u)
        MD5_STEP_F(b, c, d, a, 11, 22, 0x895cd7beu)
        MD5_STEP_F(a, b, c, d, 12, 7, 0x6b901122u)
        MD5_STEP_F(d, a, b, c, 13, 12, 0xfd987193u)
        MD5_STEP_F(c, d, a, b, 14, 17, 0xa679438eu)
        MD5_STEP_F(b, c, d, a, 15, 22, 0x49b40821u)

        // Round 2
        MD5_STEP_G(a, b, c, d, 1, 5, 0xf61e2562u)
        MD5_STEP_G(d, a, b, c, 6, 9, 0xc040b340u)
        MD5_STEP_G(c, d, a, b, 11, 14, 0x265e5a51u)
        MD5_STEP_G(b, c, d, a, 0, 20, 0xe9b6c7aau)
        MD5_STEP_G(a, b, c, d, 5, 5, 0xd62f105du)
        MD5_STEP_G(d, a, b, c, 10, 9, 0x02441453u)
        MD5_STEP_G(c, d, a, b, 15, 14, 0xd8a1e681u)
        MD5_STEP_G(b, c, d, a, 4, 20, 0xe7d3fbc8u)
        MD5_STEP_G(a, b, c, d, 9, 5, 0x21e1cde6u)
        MD5_STEP_G(d, a, b, c, 14, 9, 0xc33707d6u)
        MD5_STEP_G(c, d, a, b, 3, 14, 0xf4d50d87u)
        MD5_STEP_G(b, c, d, a, 8, 20, 0x455a14edu)
        MD5_STEP_G(a, b, c, d, 13, 5, 0xa9e3e905u)
        MD5_STEP_G(d, a, b, c, 2, 9, 0xfcefa3f8u)
        MD5_STEP_G(c, d, a, b, 7, 14, 0x676f02d9u)
        MD5_STEP_G(b, c, d, a, 12, 20, 0x8d2a4c8au)

        // Round 3
        MD5_STEP_H(a, b, c, d, 5, 4, 0xfffa3942u)
        MD5_STEP_H(d, a, b, c, 8, 11, 0x8771f681u)
        MD5_STEP_H(c, d, a, b, 11, 16, 0x6d9d6122u)
        MD5_STEP_H(b, c, d, a, 14, 23, 0xfde5380cu)
        MD5_STEP_H(a, b, c, d, 1, 4, 0xa4beea44u)
        MD5_STEP_H(d, a, b, c, 4, 11, 0x4bdecfa9u)
        MD5_STEP_H(c, d, a, b, 7, 16, 0xf6bb4b60u)
        MD5_STEP_H(b, c, d, a, 10, 23, 0xbebfbc70u)
        MD5_STEP_H(a, b, c, d, 13, 4, 0x289b7ec6u)
        MD5_STEP_H(d, a, b, c, 0, 11, 0xeaa127fau)
        MD5_STEP_H(c, d, a, b, 3, 16, 0xd4ef3085u)
        MD5_STEP_H(b, c, d, a, 6, 23, 0x04881d05u)
        MD5_STEP_H(a, b, c, d, 9, 4, 0xd9d4d039u)
        MD5_STEP_H(d, a, b, c, 12, 11, 0xe6db99e5u)
        MD5_STEP_H(c, d, a, b, 15, 16, 0x1fa27cf8u)
        MD5_STEP_H(b, c, d, a, 2, 23, 0xc4ac5665u)

        // Round 4
        MD5_STEP_I(a, b, c, d, 0, 6, 0xf4292244u)
        MD5_STEP_I(d, a, b, c, 7, 10, 0x432aff97u)
        MD5_STEP_I(c, d, a, b, 14, 15, 0xab9423a7u)
        MD5_STEP_I(b, c, d, a, 5, 21, 0xfc93a039u)
        MD5_STEP_I(a, b, c, d, 12, 6, 0x655b59c3u)
        MD5_STEP_I(d, a, b, c, 3, 10, 0x8f0ccc92u)
        MD5_STEP_I(c, d, a, b, 10, 15, 0xffeff47du)
        MD5_STEP_I(b, c, d, a, 1, 21, 0x85845dd1u)
        MD5_STEP_I(a, b, c, d, 8, 6, 0x6fa87e4fu)
        MD5_STEP_I(d, a, b, c, 15, 10, 0xfe2ce6e0u)
        MD5_STEP_I(c, d, a, b, 6, 15, 0xa3014314u)
        MD5_STEP_I(b, c, d, a, 13, 21, 0x4e0811a1u)
        MD5_STEP_I(a, b, c, d, 4, 6, 0xf7537e82u)
        MD5_STEP_I(d, a, b, c, 11, 10, 0xbd3af235u)
        MD5_STEP_I(c, d, a, b, 2, 15, 0x2ad7d2bbu)
        MD5_STEP_I(b, c, d, a, 9, 21, 0xeb86d391u)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }

    chain[0] = a;
    chain[1] = b;
    chain[2] = c;
    chain[3] = d;
}

#undef MD5_F
#undef MD5_H
#undef MD5_I
#undef MD5_WORD
#undef MD5_STEP_F
#undef MD5_STEP_G
#undef MD5_STEP_H
#undef MD5_STEP_I

}  // namespace

extern "C" {

void md5_init(md5_state_s *state)
{
    if (state == nullptr)
        return;
    state->bitCount[0] = 0;
    state->bitCount[1] = 0;
    state->chain[0] = 0x67452301u;
    state->chain[1] = 0xefcdab89u;
    state->chain[2] = 0x98badcfeu;
    state->chain[3] = 0x10325476u;
}

void md5_append(md5_state_s *state, const uint8_t *data, int32_t count)
{
    if (state == nullptr || data == nullptr || count < 1)
        return;

    size_t remaining = static_cast<size_t>(count);
    const size_t buffered = (state->bitCount[0] >> 3) & 63u;

    // The byte count fits in 31 bits, so the bit count fits in 34: the low
    // word takes the bottom 32 bits, the carry and the top bits go high.
    const uint32_t addedLow = static_cast<uint32_t>(remaining << 3);
    const uint32_t oldLow = state->bitCount[0];
    state->bitCount[0] = oldLow + addedLow;
    state->bitCount[1] += static_cast<uint32_t>(remaining >> 29) + (state->bitCount[0] < oldLow ? 1u : 0u);

    // Top up a partial block first.
    if (buffered != 0) {
        const size_t room = 64 - buffered;
        if (remaining < room) {
            std::memcpy(state->buffer + buffered, data, remaining);
            return;
        }
        std::memcpy(state->buffer + buffered, data, room);
        compressBlocks(state->chain, state->buffer, 1);
        data += room;
        remaining -= room;
    }

    // Whole blocks straight from the caller's bytes.
    const size_t blocks = remaining / 64;
    if (blocks != 0) {
        compressBlocks(state->chain, data, blocks);
        data += blocks * 64;
        remaining -= blocks * 64;
    }

    if (remaining != 0)
        std::memcpy(state->buffer, data, remaining);
}

void md5_finish(md5_state_s *state, uint8_t digest[16])
{
    if (state == nullptr)
        return;

    // The length goes in as it was before padding.
    uint8_t length[8];
    storeLittle32(length, state->bitCount[0]);
    storeLittle32(length + 4, state->bitCount[1]);

    // A single 1 bit, zeros up to 56 bytes mod 64, then the 64-bit length.
    const size_t buffered = (state->bitCount[0] >> 3) & 63u;
    const size_t padLength = (buffered < 56 ? 56 : 120) - buffered;
    uint8_t padding[64] = {0x80};
    md5_append(state, padding, static_cast<int32_t>(padLength));
    md5_append(state, length, 8);

    if (digest == nullptr)
        return;
    for (int i = 0; i < 4; ++i)
        storeLittle32(digest + 4 * i, state->chain[i]);
}

}  // extern "C"
