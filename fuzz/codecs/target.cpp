// Drives the three encoders and decoders over arbitrary bytes: the input is
// encoded and decoded back, and decoded as text as it stands. Every
// destination is sized by the matching GetLength and followed by guard bytes
// that must survive.
#include <SharedLib/encode/Base16.h>
#include <SharedLib/encode/Base32.h>
#include <SharedLib/encode/Base64.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

using Coder = uint32_t (*)(void *, const void *, uint32_t);
using Length = uint32_t (*)(uint32_t);

struct Codec {
    Coder encode;
    Length encodeLength;
    Coder decode;
    Length decodeLength;
    uint32_t bytesPerBlock;
    uint32_t charsPerBlock;
    const char *alphabet;  // the encoder's characters besides the '=' pad
    const char *sizeMessage;
    bool caseBlind;  // the decoder takes lower-case letters too
    uint32_t bitsPerChar;
    int padChain[4];  // positions whose '=' each drop one byte, in order; -1 ends
};

const Codec kCodecs[] = {
    {CyoEncode::Base16Encode, CyoEncode::Base16EncodeGetLength, CyoDecode::Base16Decode,
     CyoDecode::Base16DecodeGetLength, 1, 2, "0123456789ABCDEF", "Invalid source, size is not a multiple of 2", true, 4,
     {-1}},
    {CyoEncode::Base32Encode, CyoEncode::Base32EncodeGetLength, CyoDecode::Base32Decode,
     CyoDecode::Base32DecodeGetLength, 5, 8, "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567",
     "Invalid source, size is not a multiple of 8", true, 5, {7, 5, 4, 2}},
    {CyoEncode::Base64Encode, CyoEncode::Base64EncodeGetLength, CyoDecode::Base64Decode,
     CyoDecode::Base64DecodeGetLength, 3, 4, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
     "Invalid source, size is not a multiple of 4", false, 6, {3, 2, -1}},
};

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xC3;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "codecs fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

// Room bytes (pre-filled with `fill`) followed by guard bytes.
struct Guarded {
    Guarded(size_t room, uint8_t fill) : room(room), bytes(room + kGuard, kGuardByte)
    {
        std::fill(bytes.begin(), bytes.begin() + static_cast<long>(room), fill);
    }
    uint8_t *data() { return bytes.data(); }
    void checkGuard(const char *what) const
    {
        for (size_t i = room; i < bytes.size(); ++i)
            check(bytes[i] == kGuardByte, what);
    }
    size_t room;
    std::vector<uint8_t> bytes;
};

void roundTrip(const Codec &codec, const uint8_t *data, uint32_t size)
{
    Guarded text(codec.encodeLength(size), 0);
    uint32_t chars = codec.encode(text.data(), data, size);
    text.checkGuard("encode wrote past its length");
    check(chars == text.room, "encode count differs from its length");
    check(chars % codec.charsPerBlock == 0, "encode wrote a partial block");
    size_t dataChars = chars;
    while (dataChars > 0 && text.bytes[dataChars - 1] == '=')
        --dataChars;
    for (size_t i = 0; i < chars; ++i) {
        const void *hit = std::memchr(codec.alphabet, text.bytes[i], std::strlen(codec.alphabet));
        check(i < dataChars ? hit != nullptr : text.bytes[i] == '=', "encode wrote a foreign character");
    }

    Guarded back(codec.decodeLength(chars), 0x5A);
    uint32_t n = codec.decode(back.data(), text.data(), chars);
    back.checkGuard("decode of encoded text wrote past its length");
    check(n == size, "round trip lost or gained bytes");
    check(size == 0 || std::memcmp(back.data(), data, size) == 0, "round trip changed bytes");
}

// A plain character-by-character model of the decoder: zero bits for '=' and
// anything foreign, whole blocks written, the count less each block's padding.
uint32_t modelDecode(const Codec &codec, const uint8_t *text, uint32_t size, std::vector<uint8_t> &bytes)
{
    uint32_t count = 0;
    for (uint32_t block = 0; block < size; block += codec.charsPerBlock) {
        uint64_t bits = 0;
        for (uint32_t i = 0; i < codec.charsPerBlock; ++i) {
            uint8_t c = text[block + i];
            if (codec.caseBlind && c >= 'a' && c <= 'z')
                c = static_cast<uint8_t>(c - 'a' + 'A');
            const void *hit = c == 0 ? nullptr : std::strchr(codec.alphabet, c);
            uint64_t value = hit ? static_cast<uint64_t>(static_cast<const char *>(hit) - codec.alphabet) : 0;
            bits = bits << codec.bitsPerChar | value;
        }
        count += codec.bytesPerBlock;
        for (int i = 0; i < 4 && codec.padChain[i] >= 0 && text[block + codec.padChain[i]] == '='; ++i)
            --count;
        for (uint32_t i = 0; i < codec.bytesPerBlock; ++i)
            bytes.push_back(static_cast<uint8_t>(bits >> (8 * (codec.bytesPerBlock - 1 - i))));
    }
    return count;
}

// Decodes `text` as it stands; returns the meaningful bytes.
std::vector<uint8_t> decodeText(const Codec &codec, const uint8_t *text, uint32_t size)
{
    if (size % codec.charsPerBlock != 0) {
        Guarded out(0, 0);
        try {
            codec.decode(out.data(), text, size);
            fail("decode took a partial block");
        } catch (const std::runtime_error &e) {
            check(std::strcmp(e.what(), codec.sizeMessage) == 0, "wrong size message");
        }
        out.checkGuard("decode wrote before throwing");
        size -= size % codec.charsPerBlock;
    }
    Guarded out(codec.decodeLength(size), 0x5A);
    uint32_t n = codec.decode(out.data(), text, size);
    out.checkGuard("decode wrote past its length");
    const uint32_t blocks = size / codec.charsPerBlock;
    const uint32_t maxPadding = codec.bytesPerBlock == 1 ? 0 : codec.bytesPerBlock - 1;
    check(n <= out.room && n + blocks * maxPadding >= out.room, "decode count out of range");
    std::vector<uint8_t> model;
    check(modelDecode(codec, text, size, model) == n, "decode count differs from the model");
    check(std::equal(model.begin(), model.end(), out.bytes.begin()), "decode bytes differ from the model");
    return std::vector<uint8_t>(out.bytes.begin(), out.bytes.begin() + n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An empty input may come without a buffer; the codecs refuse a null
    // source whatever the size, so hand them a real one.
    static const uint8_t kNothing = 0;
    if (data == nullptr)
        data = &kNothing;
    const auto length = static_cast<uint32_t>(std::min<size_t>(size, 1u << 20));
    for (const Codec &codec : kCodecs) {
        roundTrip(codec, data, length);
        decodeText(codec, data, length);
        if (codec.caseBlind) {
            std::vector<uint8_t> lower(data, data + length);
            lower.push_back(0);  // a spare byte past the text: never an empty, null buffer
            std::vector<uint8_t> upper(lower);
            for (uint8_t &c : lower)
                c = static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            for (uint8_t &c : upper)
                c = static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            check(decodeText(codec, lower.data(), length) == decodeText(codec, upper.data(), length),
                  "lower and upper case decode differently");
        }
    }
    return 0;
}
