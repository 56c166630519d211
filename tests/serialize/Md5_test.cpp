#include <SharedLib/serialize/Md5.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

static_assert(sizeof(md5_state_s) == 88 && offsetof(md5_state_s, chain) == 8 &&
              offsetof(md5_state_s, buffer) == 24);

// Digest of `bytes` appended in pieces of at most `chunk` bytes.
std::string md5Hex(const void *bytes, size_t size, size_t chunk = SIZE_MAX)
{
    md5_state_s state;
    md5_init(&state);
    for (size_t at = 0; at < size; at += chunk)
        md5_append(&state, static_cast<const uint8_t *>(bytes) + at, static_cast<int32_t>(std::min(chunk, size - at)));
    uint8_t digest[16];
    md5_finish(&state, digest);
    char text[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

std::vector<uint8_t> alphabetRun(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>('a' + i % 26);
    return bytes;
}

// The RFC 1321 test suite, then runs of the alphabet around 56 bytes (where
// the length stops fitting into the last block) and a million 'a'.
TEST(Md5, GoldenDigests)
{
    const std::pair<std::string, const char *> rfc[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"}, {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto &[text, digest] : rfc)
        EXPECT_EQ(md5Hex(text.data(), text.size()), digest) << text.substr(0, 80);
    const std::pair<size_t, const char *> runs[] = {  // the alphabet repeated
        {55, "0d7ae056b2f015cd7dc67494efd658f1"},  {56, "31fcfb5165169eb55898e7e4cf34d19a"},
        {63, "1b30c0670c15e7da3c2ba7bce77ebe99"},  {64, "a2eaf6295c32adc403865fd96a2f182b"},
        {119, "b05187e08da41fa3ef16bd56afaafd99"}, {120, "62af9b597a9f55e16ab2b897387fc052"},
    };
    for (const auto &[size, digest] : runs)
        EXPECT_EQ(md5Hex(alphabetRun(size).data(), size), digest) << "length " << size;
}

TEST(Md5, PiecewiseAppendsMatchOneAppendAndEmptyOnesAddNothing)
{
    const std::vector<uint8_t> bytes = alphabetRun(200);
    for (size_t size : {0, 1, 63, 64, 65, 130, 200}) {
        const std::string whole = md5Hex(bytes.data(), size);
        for (size_t split = 1; split <= size; ++split)
            ASSERT_EQ(md5Hex(bytes.data(), size, split), whole) << size << "/" << split;
    }
    // Counts below one add nothing.
    md5_state_s state;
    md5_init(&state);
    md5_append(&state, reinterpret_cast<const uint8_t *>("ab"), 2);
    const md5_state_s before = state;
    for (int32_t count : {0, -1, INT32_MIN})
        md5_append(&state, reinterpret_cast<const uint8_t *>("zz"), count);
    EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
}

}  // namespace
