#include <SharedLib/encode/Base16.h>
#include <SharedLib/encode/Base32.h>
#include <SharedLib/encode/Base64.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Coder = uint32_t (*)(void *, const void *, uint32_t);
using Length = uint32_t (*)(uint32_t);

struct Vector { const char *bytes, *text; };

struct Codec {
    const char *name;
    Coder encode, decode;
    Length encodeLength, decodeLength;
    uint32_t bytesPerBlock, charsPerBlock;
    const char *sizeMessage;
    std::vector<Vector> vectors;  // RFC 4648, section 10
    const char *alphabet;  // upper case
};

void PrintTo(const Codec &codec, std::ostream *os) { *os << codec.name; }

const Codec kCodecs[] = {
    {"Base16", CyoEncode::Base16Encode, CyoDecode::Base16Decode, CyoEncode::Base16EncodeGetLength,
     CyoDecode::Base16DecodeGetLength, 1, 2, "Invalid source, size is not a multiple of 2",
     {{"", ""}, {"f", "66"}, {"fo", "666F"}, {"foo", "666F6F"}, {"foob", "666F6F62"}, {"fooba", "666F6F6261"},
      {"foobar", "666F6F626172"}},
     "0123456789ABCDEF"},
    {"Base32", CyoEncode::Base32Encode, CyoDecode::Base32Decode, CyoEncode::Base32EncodeGetLength,
     CyoDecode::Base32DecodeGetLength, 5, 8, "Invalid source, size is not a multiple of 8",
     {{"", ""}, {"f", "MY======"}, {"fo", "MZXQ===="}, {"foo", "MZXW6==="}, {"foob", "MZXW6YQ="},
      {"fooba", "MZXW6YTB"}, {"foobar", "MZXW6YTBOI======"}},
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"},
    {"Base64", CyoEncode::Base64Encode, CyoDecode::Base64Decode, CyoEncode::Base64EncodeGetLength,
     CyoDecode::Base64DecodeGetLength, 3, 4, "Invalid source, size is not a multiple of 4",
     {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}},
     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"},
};

constexpr uint8_t kGuardByte = 0xA5;

// A destination of exactly `room` bytes followed by guard bytes that must stay untouched.
struct Guarded {
    explicit Guarded(size_t room) : room(room), bytes(room + 16, kGuardByte) {}
    uint8_t *data() { return bytes.data(); }
    bool guardIntact() const { return std::count(bytes.begin() + static_cast<long>(room), bytes.end(), kGuardByte) == 16; }
    std::string text(size_t n) const { return std::string(bytes.begin(), bytes.begin() + static_cast<long>(n)); }
    size_t room;
    std::vector<uint8_t> bytes;
};

std::string encode(const Codec &codec, const std::string &bytes)
{
    Guarded out(codec.encodeLength(static_cast<uint32_t>(bytes.size())));
    uint32_t n = codec.encode(out.data(), bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_TRUE(n == out.room && out.guardIntact());
    return out.text(n);
}

// Decodes into a destination of exactly the decode length: all the bytes
// written (every block writes all of its bytes) and the count, which drops by
// the padding of each block.
std::pair<std::string, uint32_t> decodeWhole(const Codec &codec, const std::string &text)
{
    Guarded out(codec.decodeLength(static_cast<uint32_t>(text.size())));
    uint32_t n = codec.decode(out.data(), text.data(), static_cast<uint32_t>(text.size()));
    EXPECT_TRUE(n <= out.room && out.guardIntact());
    return {out.text(out.room), n};
}

// The meaningful bytes only.
std::string decode(const Codec &codec, const std::string &text)
{
    auto [bytes, count] = decodeWhole(codec, text);
    return bytes.substr(0, count);
}

void expectRuntimeError(const std::function<void()> &call, const char *message)
{
    std::string what = "no exception";
    try {
        call();
    } catch (const std::runtime_error &e) {
        what = e.what();
    }
    EXPECT_EQ(what, message);
}

class CodecTest : public ::testing::TestWithParam<Codec> {};

TEST_P(CodecTest, RfcVectorsBothWaysAndLengths)
{
    const Codec &codec = GetParam();
    for (const Vector &v : codec.vectors) {
        EXPECT_EQ(encode(codec, v.bytes), v.text) << v.bytes;
        EXPECT_EQ(decode(codec, v.text), v.bytes) << v.text;
    }
    // The lengths count whole blocks.
    const uint32_t b = codec.bytesPerBlock, c = codec.charsPerBlock;
    const uint32_t encoded[][2] = {{0, 0}, {1, c}, {b, c}, {b + 1, 2 * c}, {999 * b + 1, 1000 * c}, {1000 * b, 1000 * c}};
    for (auto [bytes, chars] : encoded)
        EXPECT_EQ(codec.encodeLength(bytes), chars) << bytes;
    for (uint32_t blocks : {0u, 1u, 1000u})
        EXPECT_EQ(codec.decodeLength(blocks * c), blocks * b);
}

TEST_P(CodecTest, NullPointersAndPartialBlocksThrowBeforeAnythingIsWritten)
{
    const Codec &codec = GetParam();
    std::vector<uint8_t> buffer(64, 'A');
    const uint32_t odd = codec.charsPerBlock + 1;  // the null test comes before the size test
    for (uint32_t size : {0u, 1u, codec.charsPerBlock, odd})
        for (Coder coder : {codec.encode, codec.decode})
            for (auto [to, from] : {std::pair<uint8_t *, uint8_t *>{nullptr, &buffer[0]}, {&buffer[0], nullptr}, {nullptr, nullptr}})
                expectRuntimeError([&] { coder(to, from, size); }, "Invalid parameter");
    EXPECT_EQ(buffer, std::vector<uint8_t>(64, 'A'));  // nothing written
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
        ASSERT_EQ(decode(codec, encode(codec, bytes)), bytes) << "size " << size;
    }
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b)
        all[b] = static_cast<char>(b);
    EXPECT_EQ(decode(codec, encode(codec, all)), all);
}

// A character outside the alphabet (codes 128 to 255 included), anywhere in a
// text long enough for the wide Base64 path, decodes as the alphabet's zero
// character; Base16 and Base32 take lower case as upper case.
TEST_P(CodecTest, ForeignCharactersDecodeAsZeroBits)
{
    const Codec &codec = GetParam();
    const bool caseBlind = std::strlen(codec.alphabet) < 64;
    std::string sample(100, '\0');
    for (int i = 0; i < 100; ++i)
        sample[i] = static_cast<char>(i * 37);
    const std::string valid = encode(codec, sample);
    for (int c = 0; c < 256; ++c) {
        if (c == '=')
            continue;
        const char *hit = c == 0 ? nullptr : std::strchr(codec.alphabet, caseBlind ? std::toupper(c) : c);
        const char same = hit != nullptr ? *hit : codec.alphabet[0];
        for (size_t pos = c % 7; pos < valid.size(); pos += 7) {
            std::string text = valid, expected = valid;
            text[pos] = static_cast<char>(c);
            expected[pos] = same;
            ASSERT_EQ(decodeWhole(codec, text), decodeWhole(codec, expected)) << "code " << c << " at " << pos;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, CodecTest, ::testing::ValuesIn(kCodecs),
                         [](const auto &info) { return std::string(info.param.name); });

// The count drops one per padding step of each block, wherever it stands;
// the bytes that padding makes meaningless are written too (as zeros here).
TEST(Codecs, PaddingCountsPerBlockButWholeBlocksAreWritten)
{
    const std::tuple<const char *, const char *, uint32_t> rows[] = {
        // Only the 8th, 6th, 5th and 3rd characters count, each after the one before it in that order.
        {"Base32", "AAAAAA==", 4}, {"Base32", "AAAAA=A=", 3}, {"Base32", "AAA=====", 2}, {"Base32", "AAAA=A==", 4},
        {"Base32", "=A======", 1}, {"Base32", "AAAAAAA=MY======", 5},
        {"Base64", "Zg==", 1}, {"Base64", "Zm8=", 2}, {"Base64", "AA=A", 3}, {"Base64", "==AA", 3},
        {"Base64", "Zg==Zg==Zg==", 3}, {"Base64", "Zm9vZm8=Zm9vZg==", 9}, {"Base64", "Zg==Zm9vZm9vZm9vZm9v", 13},
        // Long enough for the wide paths, padding in the middle of a run.
        {"Base64", "Zm9vZm9vZm9vZm9vZm9vZm9vZm9vZm9vZm8=Zm9vZm9vZm9vZm9vZm9vZm9vZm9v", 47},
        {"Base64", "Zm9vZm9vZm9vZm9vZm9vZm9vZm9vZg==Zm9vZm9vZm9vZm9vZm9vZm9vZm9vZm9v", 46},
    };
    for (const auto &[name, text, count] : rows) {
        const Codec &codec = kCodecs[std::string(name) == "Base32" ? 1 : 2];
        const auto size = static_cast<uint32_t>(std::strlen(text));
        Guarded out(codec.decodeLength(size));
        std::fill(out.bytes.begin(), out.bytes.begin() + static_cast<long>(out.room), uint8_t{0xEE});
        EXPECT_EQ(codec.decode(out.data(), text, size), count) << text;
        EXPECT_TRUE(out.guardIntact() && std::count(out.bytes.begin(), out.bytes.end(), 0xEE) == 0) << text;
    }
}

}  // namespace
