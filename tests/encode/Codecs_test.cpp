#include <SharedLib/encode/Base16.h>
#include <SharedLib/encode/Base32.h>
#include <SharedLib/encode/Base64.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <ostream>
#include <utility>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Coder = uint32_t (*)(void *, const void *, uint32_t);
using Length = uint32_t (*)(uint32_t);

struct Vector {
    const char *bytes;
    const char *text;
};

struct Codec {
    const char *name;
    Coder encode;
    Length encodeLength;
    Coder decode;
    Length decodeLength;
    uint32_t bytesPerBlock;
    uint32_t charsPerBlock;
    const char *sizeMessage;
    std::vector<Vector> vectors;  // RFC 4648, section 10
    const char *alphabet;         // upper case
    uint32_t bitsPerChar;
    std::vector<size_t> padChain;  // positions whose '=' each drop one byte, in order
};

void PrintTo(const Codec &codec, std::ostream *os) { *os << codec.name; }

const Codec kCodecs[] = {
    {"Base16", CyoEncode::Base16Encode, CyoEncode::Base16EncodeGetLength, CyoDecode::Base16Decode,
     CyoDecode::Base16DecodeGetLength, 1, 2, "Invalid source, size is not a multiple of 2",
     {{"", ""}, {"f", "66"}, {"fo", "666F"}, {"foo", "666F6F"}, {"foob", "666F6F62"}, {"fooba", "666F6F6261"},
      {"foobar", "666F6F626172"}},
     "0123456789ABCDEF", 4, {}},
    {"Base32", CyoEncode::Base32Encode, CyoEncode::Base32EncodeGetLength, CyoDecode::Base32Decode,
     CyoDecode::Base32DecodeGetLength, 5, 8, "Invalid source, size is not a multiple of 8",
     {{"", ""}, {"f", "MY======"}, {"fo", "MZXQ===="}, {"foo", "MZXW6==="}, {"foob", "MZXW6YQ="},
      {"fooba", "MZXW6YTB"}, {"foobar", "MZXW6YTBOI======"}},
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", 5, {7, 5, 4, 2}},
    {"Base64", CyoEncode::Base64Encode, CyoEncode::Base64EncodeGetLength, CyoDecode::Base64Decode,
     CyoDecode::Base64DecodeGetLength, 3, 4, "Invalid source, size is not a multiple of 4",
     {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}},
     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", 6, {3, 2}},
};

constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xA5;

// A destination of exactly `room` bytes followed by guard bytes that must
// stay untouched.
struct Guarded {
    explicit Guarded(size_t room) : room(room), bytes(room + kGuard, kGuardByte) {}
    uint8_t *data() { return bytes.data(); }
    bool guardIntact() const
    {
        return std::all_of(bytes.begin() + static_cast<long>(room), bytes.end(),
                           [](uint8_t b) { return b == kGuardByte; });
    }
    std::string text(size_t n) const { return std::string(bytes.begin(), bytes.begin() + static_cast<long>(n)); }
    size_t room;
    std::vector<uint8_t> bytes;
};

std::string encode(const Codec &codec, const std::string &bytes)
{
    Guarded out(codec.encodeLength(static_cast<uint32_t>(bytes.size())));
    uint32_t n = codec.encode(out.data(), bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(n, out.room);
    EXPECT_TRUE(out.guardIntact());
    return out.text(n);
}

// A plain model of the decoders: letters of either case for Base16 and Base32,
// zero bits for '=' and anything foreign; every block writes all its bytes and
// the count drops by the padding of each.
struct Decoded {
    std::string bytes;  // all the bytes written
    uint32_t count = 0;
    bool operator==(const Decoded &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Decoded &d)
{
    return os << d.count << " of " << ::testing::PrintToString(d.bytes);
}

// Decodes into a destination of exactly the decode length.
Decoded decodeWhole(const Codec &codec, const std::string &text)
{
    Guarded out(codec.decodeLength(static_cast<uint32_t>(text.size())));
    uint32_t n = codec.decode(out.data(), text.data(), static_cast<uint32_t>(text.size()));
    EXPECT_LE(n, out.room);
    EXPECT_TRUE(out.guardIntact());
    return {out.text(out.room), n};
}

// The meaningful bytes only.
std::string decode(const Codec &codec, const std::string &text)
{
    Decoded decoded = decodeWhole(codec, text);
    return decoded.bytes.substr(0, decoded.count);
}

Decoded referenceDecode(const Codec &codec, const std::string &text)
{
    const bool caseBlind = codec.bitsPerChar < 6;
    Decoded decoded;
    for (size_t block = 0; block < text.size(); block += codec.charsPerBlock) {
        uint64_t bits = 0;
        for (size_t i = 0; i < codec.charsPerBlock; ++i) {
            char c = text[block + i];
            if (caseBlind && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            const char *hit = c == '\0' ? nullptr : std::strchr(codec.alphabet, c);
            bits = bits << codec.bitsPerChar | (hit ? static_cast<uint64_t>(hit - codec.alphabet) : 0);
        }
        decoded.count += codec.bytesPerBlock;
        for (size_t position : codec.padChain) {
            if (text[block + position] != '=')
                break;
            --decoded.count;
        }
        for (uint32_t i = 0; i < codec.bytesPerBlock; ++i)
            decoded.bytes += static_cast<char>(bits >> (8 * (codec.bytesPerBlock - 1 - i)));
    }
    return decoded;
}

// The matching model of the encoders: a short last block is filled with zero
// bits, and characters that carry none of the input are '='.
std::string referenceEncode(const Codec &codec, const std::string &bytes)
{
    std::string text;
    for (size_t block = 0; block < bytes.size(); block += codec.bytesPerBlock) {
        const size_t n = std::min<size_t>(codec.bytesPerBlock, bytes.size() - block);
        uint64_t bits = 0;
        for (size_t i = 0; i < codec.bytesPerBlock; ++i)
            bits = bits << 8 | (i < n ? static_cast<uint8_t>(bytes[block + i]) : 0);
        const size_t dataChars = (n * 8 + codec.bitsPerChar - 1) / codec.bitsPerChar;
        for (size_t i = 0; i < codec.charsPerBlock; ++i) {
            size_t value = (bits >> (codec.bitsPerChar * (codec.charsPerBlock - 1 - i))) & ((1u << codec.bitsPerChar) - 1);
            text += i < dataChars ? codec.alphabet[value] : '=';
        }
    }
    return text;
}

void expectRuntimeError(const std::function<void()> &call, const char *message)
{
    try {
        call();
        ADD_FAILURE() << "no exception, expected \"" << message << "\"";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), message);
    } catch (...) {
        ADD_FAILURE() << "not a std::runtime_error, expected \"" << message << "\"";
    }
}

class CodecTest : public ::testing::TestWithParam<Codec> {};

TEST_P(CodecTest, RfcVectorsBothWays)
{
    const Codec &codec = GetParam();
    for (const Vector &v : codec.vectors) {
        EXPECT_EQ(encode(codec, v.bytes), v.text) << v.bytes;
        EXPECT_EQ(decode(codec, v.text), v.bytes) << v.text;
    }
}

TEST_P(CodecTest, LengthsCountWholeBlocks)
{
    const Codec &codec = GetParam();
    const uint32_t b = codec.bytesPerBlock, c = codec.charsPerBlock;
    const uint32_t encoded[][2] = {{0, 0}, {1, c}, {b, c}, {b + 1, 2 * c}, {999 * b + 1, 1000 * c}, {1000 * b, 1000 * c}};
    for (auto [bytes, chars] : encoded)
        EXPECT_EQ(codec.encodeLength(bytes), chars) << bytes;
    for (uint32_t blocks : {0u, 1u, 1000u})
        EXPECT_EQ(codec.decodeLength(blocks * c), blocks * b);
}

TEST_P(CodecTest, NullPointersThrowBeforeAnythingElse)
{
    const Codec &codec = GetParam();
    uint8_t buffer[64];
    std::memset(buffer, 'A', sizeof buffer);
    const uint32_t odd = codec.charsPerBlock + 1;  // the null test comes before the size test
    for (uint32_t size : {0u, 1u, codec.charsPerBlock, odd}) {
        for (Coder coder : {codec.encode, codec.decode}) {
            for (auto [to, from] : {std::pair<uint8_t *, uint8_t *>{nullptr, buffer}, {buffer, nullptr}, {nullptr, nullptr}})
                expectRuntimeError([&] { coder(to, from, size); }, "Invalid parameter");
        }
    }
    for (uint8_t b : buffer)
        ASSERT_EQ(b, 'A');  // nothing written
}

TEST_P(CodecTest, DecodeSizeNotWholeBlocksThrows)
{
    const Codec &codec = GetParam();
    std::string text = codec.vectors.back().text;  // two blocks or more
    for (uint32_t size = 1; size < 2 * codec.charsPerBlock; ++size) {
        if (size % codec.charsPerBlock == 0)
            continue;
        expectRuntimeError([&] { codec.decodeLength(size); }, codec.sizeMessage);
        Guarded out(0);
        expectRuntimeError([&] { codec.decode(out.data(), text.data(), size); }, codec.sizeMessage);
        EXPECT_TRUE(out.guardIntact());  // nothing written
    }
    // A text cut short by one character is refused; cut by a whole block it
    // decodes the blocks that remain.
    expectRuntimeError([&] { decode(codec, text.substr(0, text.size() - 1)); }, codec.sizeMessage);
    EXPECT_EQ(decode(codec, text.substr(0, codec.charsPerBlock)),
              std::string(codec.vectors.back().bytes).substr(0, codec.bytesPerBlock));
}

// Lengths long enough for the wide Base64 paths and their tails.
TEST_P(CodecTest, RoundTripsEveryLengthAndByte)
{
    const Codec &codec = GetParam();
    std::mt19937 rng(7);
    for (size_t size = 0; size <= 120; ++size) {
        std::string bytes(size, '\0');
        for (char &b : bytes)
            b = static_cast<char>(rng());
        std::string text = encode(codec, bytes);
        ASSERT_EQ(text, referenceEncode(codec, bytes)) << "size " << size;
        ASSERT_EQ(decode(codec, text), bytes) << "size " << size;
    }
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b)
        all[b] = static_cast<char>(b);
    EXPECT_EQ(decode(codec, encode(codec, all)), all);
}

// Any character, including codes 128 to 255, in any position of a text long
// enough for the wide Base64 path: no read past the tables, no write past the
// decode length, and the same bytes and count as the plain model.
TEST_P(CodecTest, AnyCharacterAnywhereMatchesModel)
{
    const Codec &codec = GetParam();
    std::string sample(100, '\0');
    for (int i = 0; i < 100; ++i)
        sample[i] = static_cast<char>(i * 37);
    const std::string valid = encode(codec, sample);
    for (int c = 0; c < 256; ++c) {
        for (size_t pos = c % 7; pos < valid.size(); pos += 7) {
            std::string text = valid;
            text[pos] = static_cast<char>(c);
            ASSERT_EQ(decodeWhole(codec, text), referenceDecode(codec, text)) << "code " << c << " at " << pos;
        }
        std::string same(valid.size(), static_cast<char>(c));
        ASSERT_EQ(decodeWhole(codec, same), referenceDecode(codec, same)) << "code " << c;
    }
    // Mixtures of alphabet, pad and foreign characters.
    std::mt19937 rng(11);
    const std::string pool = std::string(codec.alphabet) + "==\x80\xFF@[`{ \n";
    for (int round = 0; round < 300; ++round) {
        std::string text(codec.charsPerBlock * (1 + rng() % 40), 'A');
        for (char &ch : text)
            ch = rng() % 8 ? codec.alphabet[rng() % std::strlen(codec.alphabet)] : pool[rng() % pool.size()];
        ASSERT_EQ(decodeWhole(codec, text), referenceDecode(codec, text)) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, CodecTest, ::testing::ValuesIn(kCodecs),
                         [](const auto &info) { return std::string(info.param.name); });

const Codec &codecNamed(const std::string &name)
{
    return *std::find_if(std::begin(kCodecs), std::end(kCodecs), [&](const Codec &c) { return c.name == name; });
}

TEST(Codecs, Base16AndBase32DecodeLowerCaseLikeUpperCase)
{
    const std::string bytes = "The quick brown fox jumps over the lazy dog \xAB\xCD\xEF";
    for (const char *name : {"Base16", "Base32"}) {
        const Codec &codec = codecNamed(name);
        std::string upper = encode(codec, bytes);
        std::string lower = upper;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return std::tolower(c); });
        ASSERT_NE(lower, upper);
        EXPECT_EQ(decode(codec, lower), bytes) << name;
    }
}

// The count drops one per padding step of each block, wherever it stands.
struct Padded {
    const char *codec;
    const char *text;
    uint32_t count;
};

class PaddingTest : public ::testing::TestWithParam<Padded> {};

TEST_P(PaddingTest, CountsPaddingPerBlockButWritesWholeBlocks)
{
    const Padded &p = GetParam();
    const Codec &codec = codecNamed(p.codec);
    const auto size = static_cast<uint32_t>(std::strlen(p.text));
    Guarded out(codec.decodeLength(size));
    std::fill(out.bytes.begin(), out.bytes.begin() + static_cast<long>(out.room), uint8_t{0xEE});
    EXPECT_EQ(codec.decode(out.data(), p.text, size), p.count) << p.text;
    EXPECT_TRUE(out.guardIntact());
    // The bytes that padding makes meaningless are written too (as zeros here).
    EXPECT_EQ(std::count(out.bytes.begin(), out.bytes.begin() + static_cast<long>(out.room), 0xEE), 0) << p.text;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, PaddingTest,
    ::testing::Values(Padded{"Base32", "MY======", 1}, Padded{"Base32", "MZXQ====", 2},
                      Padded{"Base32", "MZXW6===", 3}, Padded{"Base32", "MZXW6YQ=", 4},
                      // Only the 8th, 6th, 5th and 3rd characters count, each
                      // after the one before it in that order.
                      Padded{"Base32", "AAAAAA==", 4}, Padded{"Base32", "AAAAA=A=", 3},
                      Padded{"Base32", "AAA=====", 2}, Padded{"Base32", "AAAA=A==", 4},
                      Padded{"Base32", "=A======", 1}, Padded{"Base32", "AAAAAAA=MY======", 5},
                      Padded{"Base64", "Zg==", 1}, Padded{"Base64", "Zm8=", 2}, Padded{"Base64", "AA=A", 3},
                      Padded{"Base64", "==AA", 3}, Padded{"Base64", "Zg==Zg==Zg==", 3},
                      Padded{"Base64", "Zm9vZm8=Zm9vZg==", 9}, Padded{"Base64", "Zg==Zm9vZm9vZm9vZm9v", 13}));

}  // namespace
