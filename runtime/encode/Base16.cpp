#include "Base16.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

constexpr char kAlphabet[] = "0123456789ABCDEF";

// Encoding: the two characters of every byte, high nibble first.
constexpr std::array<std::array<char, 2>, 256> makePairs()
{
    std::array<std::array<char, 2>, 256> pairs{};
    for (uint32_t i = 0; i < 256; ++i)
        pairs[i] = {kAlphabet[i >> 4], kAlphabet[i & 15]};
    return pairs;
}
constexpr auto kPairs = makePairs();

// Decoding: the nibble of each character code in either case, once in the
// high and once in the low position. Every other code, including 128 to 255,
// decodes as zero bits; the tables cover all 256 so no byte indexes past them.
constexpr std::array<uint8_t, 256> makeNibbles(int shift)
{
    std::array<uint8_t, 256> nibbles{};
    for (uint32_t i = 0; i < 16; ++i) {
        auto c = static_cast<uint8_t>(kAlphabet[i]);
        nibbles[c] = static_cast<uint8_t>(i << shift);
        if (c >= 'A' && c <= 'F')
            nibbles[c - 'A' + 'a'] = static_cast<uint8_t>(i << shift);
    }
    return nibbles;
}
constexpr auto kHigh = makeNibbles(4);
constexpr auto kLow = makeNibbles(0);

inline void checkPointers(const void *dest, const void *src)
{
    if (dest == nullptr || src == nullptr)
        throw std::runtime_error("Invalid parameter");
}

inline void checkDecodeSize(uint32_t size)
{
    if (size % 2 != 0)
        throw std::runtime_error("Invalid source, size is not a multiple of 2");
}

}  // namespace

namespace CyoEncode {

uint32_t Base16EncodeGetLength(uint32_t size)
{
    return static_cast<uint32_t>(uint64_t{size} * 2);
}

uint32_t Base16Encode(void *dest, const void *src, uint32_t size)
{
    checkPointers(dest, src);
    auto *out = static_cast<char *>(dest);
    const auto *in = static_cast<const uint8_t *>(src);
    for (uint32_t i = 0; i < size; ++i)
        std::memcpy(out + 2 * size_t{i}, kPairs[in[i]].data(), 2);
    return Base16EncodeGetLength(size);
}

}  // namespace CyoEncode

namespace CyoDecode {

uint32_t Base16DecodeGetLength(uint32_t size)
{
    checkDecodeSize(size);
    return size / 2;
}

uint32_t Base16Decode(void *dest, const void *src, uint32_t size)
{
    checkPointers(dest, src);
    checkDecodeSize(size);
    auto *out = static_cast<uint8_t *>(dest);
    const auto *in = static_cast<const uint8_t *>(src);
    uint32_t bytes = size / 2;
    for (uint32_t i = 0; i < bytes; ++i)
        out[i] = kHigh[in[2 * size_t{i}]] | kLow[in[2 * size_t{i} + 1]];
    return bytes;
}

}  // namespace CyoDecode
