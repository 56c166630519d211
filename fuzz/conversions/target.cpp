// Drives every reader and string helper over arbitrary bytes.
//
// Input: four bytes of a 32-bit count (little-endian), then the text. The text
// is placed once in a heap block of exactly its size with no terminator (read
// with counts that stay inside it) and once with a terminator (read with the
// raw count, however large or negative). Besides staying in bounds, the
// results must agree between the forms, with the C library's decimal readers
// where those read the same language, and across writing and reading back.
#include <SharedLib/util/Conversions.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

[[noreturn]] void fail(char const *what)
{
    std::fprintf(stderr, "conversions fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, char const *what)
{
    if (!ok)
        fail(what);
}

bool sameDouble(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void checkReaders(char const *text, int32_t count)
{
    int64_t const i64 = stringToInt64(text, count);
    check(stringToInt32(text, count) == static_cast<int32_t>(i64), "int32 narrowing");
    check(stringToInt16(text, count) == static_cast<int16_t>(i64), "int16 narrowing");
    check(stringToInt8(text, count) == static_cast<int8_t>(i64), "int8 narrowing");
    uint64_t const u64 = stringToUint64(text, count);
    check(stringToUint32(text, count) == static_cast<uint32_t>(u64), "uint32 narrowing");
    check(stringToUint16(text, count) == static_cast<uint16_t>(u64), "uint16 narrowing");
    check(stringToUint8(text, count) == static_cast<uint8_t>(u64), "uint8 narrowing");
    if (count < 0) {
        check(i64 == 0, "negative count reads nothing");
        check(stringToFloat(text, count) == 0.0, "negative count reads nothing (float)");
    } else {
        (void)stringToFloat(text, count);
    }
}

// The C library's readers agree wherever they read the same language: the
// signed reader while strtoll does not saturate, the float reader except for
// hexadecimal text and "nan(...)" forms, which it does not take.
void compareWithLibrary(char const *text)
{
    errno = 0;
    long long const reference = std::strtoll(text, nullptr, 10);
    if (errno == 0)
        check(stringToInt64(text) == reference, "differs from strtoll");

    char const *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    bool const hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    bool const nan = (p[0] | 0x20) == 'n';
    if (!hex && !nan)
        check(sameDouble(stringToFloat(text), std::strtod(text, nullptr)), "differs from strtod");
}

void checkStrings(std::string const &s)
{
    std::string const trimmed = strTrim(s);
    if (!trimmed.empty())
        check(!isBlank(trimmed.front()) && !isBlank(trimmed.back()), "strTrim left a blank");
    check(strRTrim(s).empty() || !isBlank(strRTrim(s).back()), "strRTrim left a blank");
    std::string const left = strLTrim(s);
    check(left.size() <= s.size() && s.compare(s.size() - left.size(), left.size(), left) == 0, "strLTrim");

    std::string const file = removePath(s);
    check(file.find_first_of("\\/") == std::string::npos, "removePath kept a separator");
    std::string const stem = removeExtension(s);
    check(s.compare(0, stem.size(), stem) == 0, "removeExtension is not a prefix");
    std::string renamed = s;
    replaceExtension(renamed, "ext");
    check(renamed.size() >= 4 && renamed.compare(renamed.size() - 4, 4, ".ext") == 0, "replaceExtension");
    check(renamed.compare(0, renamed.size() - 4, stem) == 0, "replaceExtension stem");

    std::u16string wide;
    string2wstring(wide, s);
    std::string narrow;
    wstring2string(narrow, wide);
    check(narrow == s, "wide round trip");

    std::string upper = s;
    makeUpper(upper.data());
    std::string lower = s;
    makeLower(lower.data());
    bool beforeZero = true;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char const c = static_cast<unsigned char>(s[i]);
        bool const letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        beforeZero = beforeZero && c != 0;
        if (!letter || !beforeZero) {
            check(upper[i] == s[i] && lower[i] == s[i], "case changed a non-letter");
        } else {
            check(upper[i] == static_cast<char>(c & ~0x20) && lower[i] == static_cast<char>(c | 0x20), "case");
        }
    }
    check(Kest::Orv::isSet(s.c_str()) == (!s.empty() && s[0] != '\0'), "isSet");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int32_t count = 0;
    if (size >= 4) {
        uint32_t raw = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                       static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
        count = static_cast<int32_t>(raw);
        data += 4;
        size -= 4;
    }
    std::string const body(reinterpret_cast<char const *>(data), size);

    // Unterminated: counts inside the block only, plus the raw count when negative.
    auto exact = std::make_unique<char[]>(size == 0 ? 1 : size);
    if (size != 0)
        std::memcpy(exact.get(), data, size);
    int32_t const inside = static_cast<int32_t>(static_cast<uint32_t>(count) % (size + 1));
    checkReaders(exact.get(), inside);
    checkReaders(exact.get(), static_cast<int32_t>(size));
    if (count < 0 && count != -1)
        checkReaders(exact.get(), count);

    // Terminated: every count is safe, the reader stops at the zero.
    char const *text = body.c_str();
    checkReaders(text, count);
    checkReaders(text, -1);
    int64_t const whole = stringToInt64(text);
    double const wholeFloat = stringToFloat(text);
    check(stringToInt64(exact.get(), static_cast<int32_t>(size)) == whole, "count form differs");
    check(sameDouble(stringToFloat(exact.get(), static_cast<int32_t>(size)), wholeFloat), "float count form differs");
    check(stringToUint64(exact.get(), static_cast<int32_t>(size)) == stringToUint64(text), "uint count form differs");
    check(stringToUint64(text, -1) == stringToUint64(text), "-1 is the whole text");
    compareWithLibrary(text);

    // Digits only: the unsigned reader gives the number modulo 2^64.
    if (!body.empty() && body.find_first_not_of("0123456789") == std::string::npos) {
        uint64_t expected = 0;
        for (char c : body)
            expected = expected * 10 + static_cast<uint64_t>(c - '0');
        check(stringToUint64(text) == expected, "digits modulo 2^64");
    }

    // Written values read back.
    check(stringToInt64(int64ToString(whole).c_str()) == whole, "int64 round trip");
    uint64_t const u = stringToUint64(text);
    check(stringToUint64(uint64ToString(u).c_str()) == u, "uint64 round trip");
    check(sameDouble(stringToFloat(floatToString(wholeFloat).c_str()), wholeFloat), "float round trip");
    if (size >= 8) {
        double bits;
        std::memcpy(&bits, data, sizeof bits);
        check(sameDouble(stringToFloat(floatToString(bits).c_str()), bits), "float bits round trip");
    }

    checkStrings(body);
    describeLastError(text);  // no logger here: must do nothing
    return 0;
}
