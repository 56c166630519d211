#include <SharedLib/enums/Log.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/util/Conversions.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/LogCapture.h"

namespace {

// The text in a heap block of exactly its length, with no terminator, so that
// the address sanitizer sees any read past the field.
std::unique_ptr<char[]> unterminated(std::string const &text)
{
    auto block = std::make_unique<char[]>(text.size());
    std::memcpy(block.get(), text.data(), text.size());
    return block;
}

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();
constexpr int64_t kMinI64 = std::numeric_limits<int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
using Strings = std::vector<std::string>;

}  // namespace

TEST(SignedReaders, ReadLikeTheRuntimeDecimalReaderWithinTheCount)
{
    struct Case { char const *text; int32_t count; int64_t value; };  // count -1: none
    // Beyond the 64-bit range the value wraps modulo 2^64; the terminator
    // ends the text inside the count.
    Case const cases[] = {{" \t\n-42xyz", -1, -42}, {"+7", -1, 7}, {"- 5", -1, 0}, {"abc", -1, 0}, {"", -1, 0},
                          {nullptr, -1, 0}, {"-9223372036854775808", -1, kMinI64},
                          {"9223372036854775808", -1, kMinI64}, {"18446744073709551617", -1, 1},
                          {"12345", 0, 0}, {"12345", std::numeric_limits<int32_t>::min(), 0}, {"12\0" "99", 5, 12},
                          {"77", std::numeric_limits<int32_t>::max(), 77}};
    for (Case const &c : cases)
        EXPECT_EQ(c.count == -1 ? stringToInt64(c.text) : stringToInt64(c.text, c.count), c.value) << c.count;
    // Narrower readers keep the low bits; 4567 keeps its low byte, 0xD7.
    auto record = unterminated("  12-0034567");
    EXPECT_EQ((std::vector<int64_t>{stringToInt8("300"), stringToInt16("70000"), stringToInt32("4294967297"),
                                    stringToInt8("-1"), stringToInt32("-1"), stringToInt16("70000", 5),
                                    stringToInt32("12345", 3), stringToInt16(record.get(), 4),
                                    stringToInt32(record.get() + 4, 4), stringToInt8(record.get() + 8, 4),
                                    stringToInt64(record.get() + 11, 1)}),
              (std::vector<int64_t>{44, 4464, 1, -1, -1, 4464, 123, 12, -3, -41, 7}));
}

TEST(UnsignedReaders, WithAndWithoutCount)
{
    struct Case { char const *text; int32_t count; uint64_t value; };
    Case const cases[] = {
        {"18446744073709551615", -1, kMaxU64}, {"18446744073709551615", 20, kMaxU64},
        {"18446744073709551615", 16, 1844674407370955ULL}, {"18446744073709551615", 12, 184467440737ULL},
        {"4294967296", -1, 4294967296ULL}, {"4294967296", 10, 4294967296ULL},
        {"      000000000042", 18, 42u},  // leading blanks of a wide field fall in the leading part
        {"   12345678901234567", -1, 12345678901234567ULL},
        {"99999999999999999999", -1, 7766279631452241919ULL},  // all digits: modulo 2^64
        // Up to fifteen characters are read whole, longer ones in two parts.
        {"12345x789012345", -1, 12345u}, {"12345x7890123456", -1, 123457890123456ULL},
        {"123", -2, 0u}, {nullptr, -1, 0u},
    };
    for (Case const &c : cases)
        EXPECT_EQ(stringToUint64(c.text, c.count), c.value) << (c.text ? c.text : "null") << " " << c.count;
    // A short text in a wide field is not split past its terminator.
    auto field = unterminated("18446744073709551615");
    auto shortText = unterminated(std::string("12\0", 3));
    EXPECT_EQ((std::vector<uint64_t>{stringToUint64("18446744073709551615"), stringToUint64(field.get(), 20),
                                     stringToUint64(shortText.get(), 20), stringToUint8("256"), stringToUint16("65537"),
                                     stringToUint32("18446744073709551615", -1), stringToUint32("-1")}),
              (std::vector<uint64_t>{kMaxU64, kMaxU64, 12, 0, 1, 0xFFFFFFFFu, 0xFFFFFFFFu}));

    // Long texts are split ten characters before their end.
    std::string const digits = "12345678909876543210";
    for (size_t length = 15; length <= 20; ++length) {
        std::string const text = digits.substr(0, length);
        auto longField = unterminated(text + "999");
        EXPECT_EQ(stringToUint64(text.c_str()), std::stoull(text)) << text;
        EXPECT_EQ(stringToUint64(longField.get(), static_cast<int32_t>(length)), std::stoull(text)) << text;
    }
}

TEST(FloatReader, ReadsDecimalTextWithinTheCount)
{
    struct Case { char const *text; double value; };
    Case const cases[] = {{"2.5abc", 2.5}, {"abc", 0.0}, {"  -1.5e3", -1500.0}, {"+.5", 0.5}, {"7.", 7.0},
                          {"1e", 1.0}, {".", 0.0}, {"0x10", 0.0}, {nullptr, 0.0}, {"-Infinity", -kInf},
                          // Out of range gives infinity or zero.
                          {"1e400", kInf}, {"-1e400", -kInf}, {"0.0000000001e320", kInf}, {"100000e-330", 0.0},
                          {"0e99999999999999999999", 0.0}};
    for (Case const &c : cases)
        EXPECT_EQ(stringToFloat(c.text), c.value) << (c.text ? c.text : "null");
    EXPECT_TRUE(std::signbit(stringToFloat("-0")) && std::signbit(stringToFloat("-1e-400")));
    EXPECT_TRUE(std::isnan(stringToFloat("nan")));

    // "e" without digits is not an exponent.
    auto field = unterminated("3.14159e2");
    EXPECT_EQ((std::vector<double>{stringToFloat(field.get(), 4), stringToFloat(field.get(), 8),
                                   stringToFloat(field.get(), 9), stringToFloat(field.get(), -3),
                                   stringToFloat("2.5\0" "7", 5)}),
              (std::vector<double>{3.14, 3.14159, 314.159, 0.0, 2.5}));
}

TEST(Writers, TextOfNumbersReadsBackToTheSameValue)
{
    EXPECT_EQ(int64ToString(0) + " " + int64ToString(-1) + " " + int64ToString(kMinI64) + " " +
                  int64ToString(std::numeric_limits<int64_t>::max()),
              "0 -1 -9223372036854775808 9223372036854775807");
    EXPECT_EQ(uint64ToString(0) + " " + uint64ToString(kMaxU64), "0 18446744073709551615");
    EXPECT_EQ(std::string(boolToString(true)) + boolToString(false), "truefalse");
    EXPECT_EQ(floatToString(2.5) + " " + floatToString(100.0), "2.5 100");
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.1, 1.0 / 3, 3.141592653589793, 1e22, 1e-300,
                                  5e-324, std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                                  -123.456, 9007199254740993.0, kInf, -kInf};
    std::mt19937_64 random(12345);
    for (int i = 0; i < 2000; ++i) {
        uint64_t const bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isnan(value))
            values.push_back(value);
    }
    for (double value : values) {
        std::string const text = floatToString(value);
        double const back = stringToFloat(text.c_str());
        EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
    }
    EXPECT_TRUE(std::isnan(stringToFloat(floatToString(std::nan("")).c_str())));
}

TEST(Strings, TrimPathsExtensionsCaseAndWideUnits)
{
    // Only space and tab are blanks.
    EXPECT_EQ((Strings{strLTrim("   "), strRTrim("   "), strTrim("   "), strTrim("\tvalue\n"), strTrim(" \t a b \t "),
                       strRTrim(" x\r")}),
              (Strings{"   ", "", "", "value\n", "a b", " x\r"}));
    EXPECT_EQ((Strings{removePath("c:\\data\\map.pig"), removePath("c:\\data\\"), removePath("a/b\\c/d.txt"),
                       removeExtension("map.tar.gz"), removeExtension("dir.old\\file"), removeExtension("file")}),
              (Strings{"map.pig", "", "d.txt", "map.tar", "dir", "file"}));
    for (auto [before, after] : {std::pair{"map.pig", "map.bak"}, {"map", "map.bak"}, {"dir.old\\file", "dir.bak"}}) {
        std::string name = before;
        replaceExtension(name, "bak");
        EXPECT_EQ(name, after);
    }

    // ASCII letters only.
    char text[] = "aZ09{@[`\xe9\xc9\x80\xff-mixedCASE";
    makeUpper(text);
    EXPECT_STREQ(text, "AZ09{@[`\xe9\xc9\x80\xff-MIXEDCASE");
    makeLower(text);
    EXPECT_STREQ(text, "az09{@[`\xe9\xc9\x80\xff-mixedcase");
    makeUpper(nullptr), makeLower(nullptr);

    EXPECT_FALSE(Kest::Orv::isSet(nullptr) || Kest::Orv::isSet(""));
    EXPECT_TRUE(Kest::Orv::isSet(" "));
    std::u16string wide = u"stale contents";
    std::string narrow = "stale contents";
    string2wstring(wide, "caf\xe9");
    wstring2string(narrow, u"a\u4e2db\u00e9\u0100");
    EXPECT_EQ(std::pair(wide, narrow), std::pair(std::u16string(u"caf\u00e9"), std::string("a b\xe9 ")));
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all.push_back(static_cast<char>(byte));
    string2wstring(wide, all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0xE9], u'\u00e9');
    wstring2string(narrow, wide);
    EXPECT_EQ(narrow, all);
}

using DescribeLastError = LogCaptureTest;

TEST_F(DescribeLastError, LogsTheSystemMessageUnlessSilenced)
{
    platform::SetLastError(5);
    describeLastError("doing x");
    platform::SetLastError(0xDEADu);  // a code without text
    describeLastError("doing y");
    EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR : doing x: Access is denied.\r\n", "ERROR : doing y: "}));
    EXPECT_EQ(std::tuple(lines().at(0).severity, lines().at(0).channel, platform::GetLastError()),
              std::tuple(LogSev_Error, int(Log_Generic), 0xDEADu));

    clearLines();
    logger().SetConditional(Log_Generic, LogSev_Fatal);
    describeLastError("doing z");
    EXPECT_TRUE(texts().empty());
    // Without a logger nothing is done, not even to the last error.
    theLogger = nullptr, platform::SetLastError(5);
    describeLastError("doing x");
    theLogger = &logger();
    EXPECT_EQ(platform::GetLastError(), 5u);
}
