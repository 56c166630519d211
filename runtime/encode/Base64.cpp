#include "Base64.h"

#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

// The AVX2 paths are chosen at run time; building with SHAREDLIB_NO_SIMD
// leaves only the portable code.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(SHAREDLIB_NO_SIMD)
#include <immintrin.h>
#define SHAREDLIB_BASE64_AVX2 1
#endif

namespace {

// Index 64, the '=', is the pad.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr uint32_t kPad = 64;

constexpr uint32_t kBytesPerBlock = 3;
constexpr uint32_t kCharsPerBlock = 4;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Value of each character code, kPad for '=', kNone outside the alphabet.
// It covers all 256 codes so that no byte of the input can index past it.
constexpr uint8_t kNone = 0xFF;
constexpr std::array<uint8_t, 256> makeValues()
{
    std::array<uint8_t, 256> values{};
    for (auto &value : values)
        value = kNone;
    for (uint32_t i = 0; i <= kPad; ++i)
        values[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return values;
}
constexpr auto kValues = makeValues();

// Encoding: two characters for every 12 bits, so a block of 3 bytes is two
// look-ups. Each entry holds the pair as it lies in memory, so four entries
// combine into one 8-byte store.
constexpr std::array<uint16_t, 4096> makePairs()
{
    std::array<uint16_t, 4096> pairs{};
    for (uint32_t i = 0; i < 4096; ++i) {
        uint32_t first = static_cast<uint8_t>(kAlphabet[i >> 6]);
        uint32_t second = static_cast<uint8_t>(kAlphabet[i & 63]);
        pairs[i] = static_cast<uint16_t>(kLittleEndian ? first | second << 8 : first << 8 | second);
    }
    return pairs;
}
constexpr auto kPairs = makePairs();

// Decoding: one table per character position, each holding the value already
// shifted into its place of the 24-bit block. Characters outside the alphabet
// add no bits. A '=' adds no bits either, but in the third and fourth
// position it sets a marker bit above the block (bit 25 and bit 24), so a
// block that may be padded costs one test of the high byte. The four tables
// lie in one array, so one base address reaches them all.
constexpr uint32_t kPadMark3 = 1u << 25;
constexpr uint32_t kPadMark4 = 1u << 24;
constexpr std::array<std::array<uint32_t, 256>, 4> makeDecodeTables()
{
    std::array<std::array<uint32_t, 256>, 4> tables{};
    for (uint32_t position = 0; position < 4; ++position) {
        for (uint32_t c = 0; c < 256; ++c) {
            uint32_t value = kValues[c];
            if (value < kPad)
                tables[position][c] = value << (6 * (3 - position));
            else if (value == kPad && position == 2)
                tables[position][c] = kPadMark3;
            else if (value == kPad && position == 3)
                tables[position][c] = kPadMark4;
        }
    }
    return tables;
}
constexpr auto kDecode = makeDecodeTables();

// Eight bytes, the first one highest.
inline uint64_t loadBigEndian64(const uint8_t *p)
{
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return kLittleEndian ? __builtin_bswap64(value) : value;
}

inline void storeBigEndian64(uint8_t *p, uint64_t value)
{
    if constexpr (kLittleEndian)
        value = __builtin_bswap64(value);
    std::memcpy(p, &value, sizeof value);
}

inline void putPair(char *out, uint32_t twelveBits)
{
    std::memcpy(out, &kPairs[twelveBits], 2);
}

// Eight characters for the top 48 bits of `bits`.
inline void putTwoBlocks(char *out, uint64_t bits)
{
    uint64_t p0 = kPairs[bits >> 52];
    uint64_t p1 = kPairs[(bits >> 40) & 0xFFF];
    uint64_t p2 = kPairs[(bits >> 28) & 0xFFF];
    uint64_t p3 = kPairs[(bits >> 16) & 0xFFF];
    uint64_t chars = kLittleEndian ? p0 | p1 << 16 | p2 << 32 | p3 << 48 : p0 << 48 | p1 << 32 | p2 << 16 | p3;
    std::memcpy(out, &chars, sizeof chars);
}

// The 24 bits of one block of four characters, with the pad markers above.
inline uint32_t decodeBlock(const uint8_t *in)
{
    return kDecode[0][in[0]] | kDecode[1][in[1]] | kDecode[2][in[2]] | kDecode[3][in[3]];
}

// Padding of one block from its markers: 1 for a '=' at the end, 2 for "==".
inline uint32_t paddingOf(uint32_t block)
{
    uint32_t marks = block >> 24;
    return (marks & 1) + (marks == 3);
}

// Two decoded blocks as the 48 top bits of an 8-byte store.
inline uint64_t joinBlocks(uint32_t first, uint32_t second)
{
    return uint64_t{first} << 40 | uint64_t{second & 0xFFFFFF} << 16;
}

// Decodes `blocks` blocks, writing exactly 3 bytes for each; returns their
// padding.
uint32_t decodeBlocks(uint8_t *out, const uint8_t *in, uint32_t blocks)
{
    uint32_t padding = 0;
    // Four blocks per step into two 8-byte stores, the last two bytes of each
    // overwritten next: at least one more block must follow, so the stores
    // stay inside the room of these blocks. A '=' in any of the four shows in
    // the markers, tested once.
    while (blocks > 4) {
        uint32_t b0 = decodeBlock(in);
        uint32_t b1 = decodeBlock(in + 4);
        uint32_t b2 = decodeBlock(in + 8);
        uint32_t b3 = decodeBlock(in + 12);
        storeBigEndian64(out, joinBlocks(b0, b1));
        storeBigEndian64(out + 6, joinBlocks(b2, b3));
        if (((b0 | b1 | b2 | b3) >> 24) != 0)
            padding += paddingOf(b0) + paddingOf(b1) + paddingOf(b2) + paddingOf(b3);
        in += 16;
        out += 12;
        blocks -= 4;
    }
    while (blocks > 0) {
        uint32_t block = decodeBlock(in);
        out[0] = static_cast<uint8_t>(block >> 16);
        out[1] = static_cast<uint8_t>(block >> 8);
        out[2] = static_cast<uint8_t>(block);
        padding += paddingOf(block);
        in += 4;
        out += 3;
        --blocks;
    }
    return padding;
}

#if defined(SHAREDLIB_BASE64_AVX2)
// Where the processor has AVX2, runs of eight blocks go through 256-bit
// registers. Encoding takes every run; decoding takes runs of 32 characters
// that all belong to the alphabet proper (no '=', nothing foreign) and hands
// any other run to decodeBlocks, so both paths give the same bytes and the
// same count for every input.
const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

// Encodes while at least 28 bytes remain (each step reads 28 and takes 24);
// returns the bytes it took, a multiple of 24.
__attribute__((target("avx2"))) uint32_t encodeBlocksAvx2(char *out, const uint8_t *in, uint32_t size)
{
    // Each 32-bit word gets the bytes b, a, c, b of one block a b c, so its
    // low 16 bits hold the first two 6-bit groups and its high 16 bits the
    // last two; multiplies move each group to the bottom of its own byte.
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5,
                                            4, 7, 6, 8, 7, 10, 9, 11, 10);
    const __m256i firstAndThird = _mm256_set1_epi32(0x0FC0FC00);
    const __m256i firstAndThirdDown = _mm256_set1_epi32(0x04000040);
    const __m256i secondAndFourth = _mm256_set1_epi32(0x003F03F0);
    const __m256i secondAndFourthUp = _mm256_set1_epi32(0x01000010);
    // Values 0-25 become 13, 26-51 become 0, 52-63 become 1-12: the row of
    // what to add for the character.
    const __m256i shifts = _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0, 71, -4,
                                            -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    const __m256i last = _mm256_set1_epi8(51);
    const __m256i letters = _mm256_set1_epi8(26);
    const __m256i upperRow = _mm256_set1_epi8(13);

    uint32_t done = 0;
    while (size - done >= 28) {
        __m256i bytes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 12)), 1);
        __m256i words = _mm256_shuffle_epi8(bytes, spread);
        __m256i values = _mm256_or_si256(
            _mm256_mulhi_epu16(_mm256_and_si256(words, firstAndThird), firstAndThirdDown),
            _mm256_mullo_epi16(_mm256_and_si256(words, secondAndFourth), secondAndFourthUp));
        __m256i row = _mm256_or_si256(_mm256_subs_epu8(values, last),
                                      _mm256_and_si256(_mm256_cmpgt_epi8(letters, values), upperRow));
        __m256i chars = _mm256_add_epi8(values, _mm256_shuffle_epi8(shifts, row));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), chars);
        in += 24;
        out += 32;
        done += 24;
    }
    return done;
}

// Returns the blocks it decoded (a multiple of 8) and adds their padding.
__attribute__((target("avx2"))) uint32_t decodeBlocksAvx2(uint8_t *out, const uint8_t *in, uint32_t blocks,
                                                          uint32_t &padding)
{
    // A character is in the alphabet when its low nibble's row and its high
    // nibble's column share no bit. Columns: 2x '+' '/', 3x digits, 4x and 6x
    // letters from A/a, 5x and 7x letters to Z/z; bit 4 rules out every other
    // high nibble, 128 and above included.
    const __m256i lowRows = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                             0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                             0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highColumns = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10,
                                                 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08,
                                                 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    // What to add to a character for its value, by high nibble; '/' moves
    // one column down to tell it from '+'.
    const __m256i shifts = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                                            -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i slash = _mm256_set1_epi8('/');
    // Bytes 2, 1, 0 of each 24-bit value in a 128-bit lane, then the six
    // filled 32-bit words side by side.
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                                           10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i words = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);

    uint32_t done = 0;
    while (blocks - done >= 8) {
        __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in));
        __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
        __m256i low = _mm256_and_si256(chars, nibble);
        __m256i foreign = _mm256_and_si256(_mm256_shuffle_epi8(lowRows, low), _mm256_shuffle_epi8(highColumns, high));
        if (!_mm256_testz_si256(foreign, foreign)) {
            padding += decodeBlocks(out, in, 8);
        } else {
            __m256i column = _mm256_add_epi8(high, _mm256_cmpeq_epi8(chars, slash));
            __m256i values = _mm256_add_epi8(chars, _mm256_shuffle_epi8(shifts, column));
            // Two 6-bit values per 16 bits, then two 12-bit halves per 32.
            __m256i halves = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
            __m256i blocksOf24 = _mm256_madd_epi16(halves, _mm256_set1_epi32(0x00011000));
            __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(blocksOf24, order), words);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(bytes));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), _mm256_extracti128_si256(bytes, 1));
        }
        in += 32;
        out += 24;
        done += 8;
    }
    return done;
}
#endif

inline void checkPointers(const void *dest, const void *src)
{
    if (dest == nullptr || src == nullptr)
        throw std::runtime_error("Invalid parameter");
}

inline void checkDecodeSize(uint32_t size)
{
    if (size % kCharsPerBlock != 0)
        throw std::runtime_error("Invalid source, size is not a multiple of 4");
}

}  // namespace

namespace CyoEncode {

uint32_t Base64EncodeGetLength(uint32_t size)
{
    return static_cast<uint32_t>((uint64_t{size} + kBytesPerBlock - 1) / kBytesPerBlock * kCharsPerBlock);
}

uint32_t Base64Encode(void *dest, const void *src, uint32_t size)
{
    checkPointers(dest, src);
    auto *out = static_cast<char *>(dest);
    const auto *in = static_cast<const uint8_t *>(src);
    uint32_t left = size;
#if defined(SHAREDLIB_BASE64_AVX2)
    if (kHaveAvx2) {
        uint32_t done = encodeBlocksAvx2(out, in, left);
        in += done;
        out += done / kBytesPerBlock * kCharsPerBlock;
        left -= done;
    }
#endif

    // Four blocks per step from two overlapping 8-byte loads; the last two
    // bytes of the second load belong to the next step, so at least 14 bytes
    // must remain.
    while (left >= 14) {
        putTwoBlocks(out, loadBigEndian64(in));
        putTwoBlocks(out + 8, loadBigEndian64(in + 6));
        in += 12;
        out += 16;
        left -= 12;
    }
    while (left >= kBytesPerBlock) {
        uint32_t bits = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
        putPair(out, bits >> 12);
        putPair(out + 2, bits & 0xFFF);
        in += 3;
        out += 4;
        left -= 3;
    }
    // A short final block is filled with zero bits; characters that carry
    // none of the input are '='.
    if (left == 1) {
        uint32_t bits = uint32_t{in[0]} << 4;
        putPair(out, bits);
        out[2] = kAlphabet[kPad];
        out[3] = kAlphabet[kPad];
        out += 4;
    } else if (left == 2) {
        uint32_t bits = (uint32_t{in[0]} << 8 | in[1]) << 2;
        putPair(out, bits >> 6);
        out[2] = kAlphabet[bits & 63];
        out[3] = kAlphabet[kPad];
        out += 4;
    }
    return static_cast<uint32_t>(out - static_cast<char *>(dest));
}

}  // namespace CyoEncode

namespace CyoDecode {

uint32_t Base64DecodeGetLength(uint32_t size)
{
    checkDecodeSize(size);
    return size / kCharsPerBlock * kBytesPerBlock;
}

uint32_t Base64Decode(void *dest, const void *src, uint32_t size)
{
    checkPointers(dest, src);
    checkDecodeSize(size);
    auto *out = static_cast<uint8_t *>(dest);
    const auto *in = static_cast<const uint8_t *>(src);
    uint32_t blocks = size / kCharsPerBlock;
    uint32_t padding = 0;
#if defined(SHAREDLIB_BASE64_AVX2)
    if (kHaveAvx2) {
        uint32_t done = decodeBlocksAvx2(out, in, blocks, padding);
        out += done * kBytesPerBlock;
        in += done * kCharsPerBlock;
        blocks -= done;
    }
#endif
    padding += decodeBlocks(out, in, blocks);
    return size / kCharsPerBlock * kBytesPerBlock - padding;
}

}  // namespace CyoDecode
