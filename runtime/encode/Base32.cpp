#include "Base32.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

// Index 32, the '=', is the pad.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567=";
constexpr uint32_t kPad = 32;

constexpr uint32_t kBytesPerBlock = 5;
constexpr uint32_t kCharsPerBlock = 8;

// Decoding: the 5-bit value of each character code, lower-case letters the
// same as capitals, '=' as kPad. Every other code, including 128 to 255,
// decodes as zero bits; the table covers all 256 so no byte indexes past it.
constexpr std::array<uint8_t, 256> makeValues()
{
    std::array<uint8_t, 256> values{};
    for (uint32_t i = 0; i <= kPad; ++i) {
        auto c = static_cast<uint8_t>(kAlphabet[i]);
        values[c] = static_cast<uint8_t>(i);
        if (c >= 'A' && c <= 'Z')
            values[c - 'A' + 'a'] = static_cast<uint8_t>(i);
    }
    return values;
}
constexpr auto kValues = makeValues();

// Encoding: two characters for every 10 bits, so a block of 5 bytes is four
// look-ups.
constexpr std::array<std::array<char, 2>, 1024> makePairs()
{
    std::array<std::array<char, 2>, 1024> pairs{};
    for (uint32_t i = 0; i < 1024; ++i)
        pairs[i] = {kAlphabet[i >> 5], kAlphabet[i & 31]};
    return pairs;
}
constexpr auto kPairs = makePairs();

// Characters that carry input bits for a final block of 0 to 4 bytes.
constexpr uint32_t kCharsForBytes[kBytesPerBlock] = {0, 2, 4, 5, 7};

// The 40 bits of one block, first byte highest.
inline uint64_t loadBlock(const uint8_t *in)
{
    return uint64_t{in[0]} << 32 | uint64_t{in[1]} << 24 | uint64_t{in[2]} << 16 | uint64_t{in[3]} << 8 | in[4];
}

inline void encodeBlock(char *out, uint64_t bits)
{
    for (int pair = 0; pair < 4; ++pair)
        std::memcpy(out + 2 * pair, kPairs[(bits >> (30 - 10 * pair)) & 0x3FF].data(), 2);
}

inline bool isPad(uint8_t c)
{
    return kValues[c] == kPad;
}

inline void checkPointers(const void *dest, const void *src)
{
    if (dest == nullptr || src == nullptr)
        throw std::runtime_error("Invalid parameter");
}

inline void checkDecodeSize(uint32_t size)
{
    if (size % kCharsPerBlock != 0)
        throw std::runtime_error("Invalid source, size is not a multiple of 8");
}

}  // namespace

namespace CyoEncode {

uint32_t Base32EncodeGetLength(uint32_t size)
{
    return static_cast<uint32_t>((uint64_t{size} + kBytesPerBlock - 1) / kBytesPerBlock * kCharsPerBlock);
}

uint32_t Base32Encode(void *dest, const void *src, uint32_t size)
{
    checkPointers(dest, src);
    auto *out = static_cast<char *>(dest);
    const auto *in = static_cast<const uint8_t *>(src);
    uint32_t left = size;

    while (left >= kBytesPerBlock) {
        encodeBlock(out, loadBlock(in));
        in += kBytesPerBlock;
        out += kCharsPerBlock;
        left -= kBytesPerBlock;
    }
    // A short final block is filled with zero bits; characters that carry
    // none of the input are '='.
    if (left > 0) {
        uint8_t block[kBytesPerBlock] = {};
        std::memcpy(block, in, left);
        encodeBlock(out, loadBlock(block));
        for (uint32_t i = kCharsForBytes[left]; i < kCharsPerBlock; ++i)
            out[i] = kAlphabet[kPad];
        out += kCharsPerBlock;
    }
    return static_cast<uint32_t>(out - static_cast<char *>(dest));
}

}  // namespace CyoEncode

namespace CyoDecode {

uint32_t Base32DecodeGetLength(uint32_t size)
{
    checkDecodeSize(size);
    return size / kCharsPerBlock * kBytesPerBlock;
}

uint32_t Base32Decode(void *dest, const void *src, uint32_t size)
{
    checkPointers(dest, src);
    checkDecodeSize(size);
    auto *out = static_cast<uint8_t *>(dest);
    const auto *in = static_cast<const uint8_t *>(src);
    uint32_t count = 0;

    for (uint32_t blocks = size / kCharsPerBlock; blocks > 0; --blocks) {
        uint64_t bits = 0;
        for (uint32_t i = 0; i < kCharsPerBlock; ++i)
            bits = bits << 5 | (kValues[in[i]] & 31u);
        for (uint32_t i = 0; i < kBytesPerBlock; ++i)
            out[i] = static_cast<uint8_t>(bits >> (32 - 8 * i));

        // Padding is read from the tail: the 8th, then the 6th, 5th and 3rd
        // character, each only if the one after it was '='.
        uint32_t bytes = kBytesPerBlock;
        if (isPad(in[7])) {
            --bytes;
            if (isPad(in[5])) {
                --bytes;
                if (isPad(in[4])) {
                    --bytes;
                    if (isPad(in[2]))
                        --bytes;
                }
            }
        }
        count += bytes;
        in += kCharsPerBlock;
        out += kBytesPerBlock;
    }
    return count;
}

}  // namespace CyoDecode
