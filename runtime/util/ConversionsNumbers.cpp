// Reading numbers out of text and printing them.
//
// The readers with a count do not copy the text: they read it in place, never
// past count characters and never past a terminating zero that comes earlier.
// That is what reading a zero-terminated copy of the first count characters
// gives, without the copy, and it takes no heap memory and no buffer whose size
// could limit the count.
#include "Conversions.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace {

constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

// The split point of the unsigned reader: the last ten characters are read
// apart from the rest, and texts of up to fifteen characters are read whole.
constexpr size_t kTrailingDigits = 10;
constexpr size_t kLongestDirectText = 15;
constexpr uint64_t kTrailingScale = 10000000000ULL;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// White space as the C locale has it.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// A text seen through a limit: at most m_left characters, ending at a zero.
// m_checked counts the characters ahead already known to be inside the text,
// so looking ahead costs nothing twice and a scan stays linear.
class BoundedText {
public:
    BoundedText(char const *text, size_t limit) : m_p(text), m_left(text != nullptr ? limit : 0) {}

    // The character at offset ahead, or '\0' when the text ends before it.
    char peek(size_t ahead = 0)
    {
        while (m_checked <= ahead && m_checked < m_left && m_p[m_checked] != '\0')
            ++m_checked;
        return ahead < m_checked ? m_p[ahead] : '\0';
    }
    // Steps over n characters already seen by peek.
    void advance(size_t n = 1)
    {
        m_p += n;
        m_left -= n;
        m_checked -= n;
    }
    char const *position() const { return m_p; }

    void skipSpace()
    {
        while (isSpace(peek()))
            advance();
    }
    // Takes an optional sign; true when it was '-'.
    bool takeSign()
    {
        char const c = peek();
        if (c != '+' && c != '-')
            return false;
        advance();
        return c == '-';
    }
    // True, with the word taken, when the text continues with word (lower
    // case) in any case.
    bool takeWord(char const *word)
    {
        size_t n = 0;
        for (; word[n] != '\0'; ++n) {
            if (asciiLower(peek(n)) != word[n])
                return false;
        }
        advance(n);
        return true;
    }

private:
    char const *m_p;
    size_t m_left;
    size_t m_checked = 0;
};

// Decimal integer with wrap-around modulo 2^64 beyond the 64-bit range: the
// magnitude is accumulated unsigned, so no input overflows a signed value.
int64_t readInt64(char const *text, size_t limit)
{
    BoundedText in(text, limit);
    in.skipSpace();
    bool const negative = in.takeSign();
    uint64_t magnitude = 0;
    for (char c = in.peek(); isDigit(c); c = in.peek()) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
        in.advance();
    }
    if (negative)
        magnitude = 0 - magnitude;
    return static_cast<int64_t>(magnitude);
}

size_t boundedLength(char const *text, size_t limit)
{
    size_t n = 0;
    while (n < limit && text[n] != '\0')
        ++n;
    return n;
}

uint64_t readUint64(char const *text, size_t length)
{
    if (length <= kLongestDirectText)
        return static_cast<uint64_t>(readInt64(text, length));
    size_t const leadingLength = length - kTrailingDigits;
    uint64_t const leading = static_cast<uint64_t>(readInt64(text, leadingLength));
    uint64_t const trailing = static_cast<uint64_t>(readInt64(text + leadingLength, kTrailingDigits));
    return leading * kTrailingScale + trailing;
}

// Exponent and digit counts saturate far above anything a double can hold,
// so absurdly long texts cannot overflow them.
constexpr int64_t kCountCeiling = int64_t{1} << 40;

int64_t countUp(int64_t value) { return value < kCountCeiling ? value + 1 : value; }

int64_t addDigit(int64_t value, char digit)
{
    return value < kCountCeiling ? value * 10 + (digit - '0') : value;
}

double readFloat(char const *text, size_t limit)
{
    BoundedText in(text, limit);
    in.skipSpace();
    bool const negative = in.takeSign();
    double const sign = negative ? -1.0 : 1.0;

    if (in.takeWord("inf")) {
        in.takeWord("inity");
        return sign * std::numeric_limits<double>::infinity();
    }
    if (in.takeWord("nan"))
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);

    // Measure the decimal number: digits, an optional '.' and digits, then an
    // exponent only when at least one digit follows its letter and sign. The
    // power of ten of the first significant digit is kept to tell overflow
    // from underflow when the value does not fit a double.
    char const *const start = in.position();
    size_t length = 0;
    size_t mantissaDigits = 0;
    bool significant = false;
    int64_t integerDigits = 0;  // significant digits before the point
    int64_t fractionZeros = 0;  // zeros between the point and the first significant digit
    while (isDigit(in.peek(length))) {
        significant = significant || in.peek(length) != '0';
        if (significant)
            integerDigits = countUp(integerDigits);
        ++length;
        ++mantissaDigits;
    }
    if (in.peek(length) == '.') {
        ++length;
        while (isDigit(in.peek(length))) {
            if (!significant && in.peek(length) == '0')
                fractionZeros = countUp(fractionZeros);
            else
                significant = true;
            ++length;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return 0.0;

    int64_t exponent = 0;
    char const letter = in.peek(length);
    if (letter == 'e' || letter == 'E') {
        size_t at = length + 1;
        bool const exponentNegative = in.peek(at) == '-';
        if (in.peek(at) == '+' || in.peek(at) == '-')
            ++at;
        if (isDigit(in.peek(at))) {
            for (; isDigit(in.peek(at)); ++at)
                exponent = addDigit(exponent, in.peek(at));
            if (exponentNegative)
                exponent = -exponent;
            length = at;
        }
    }

    double value = 0.0;
    std::from_chars_result const result = std::from_chars(start, start + length, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        int64_t const firstDigitPower = (integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1)) + exponent;
        value = significant && firstDigitPower > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return sign * value;
}

size_t signedLimit(int32_t count) { return count < 0 ? 0 : static_cast<size_t>(count); }

template <typename Integer>
std::string integerText(Integer value)
{
    char buffer[24];
    std::to_chars_result const result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

int64_t stringToInt64(char const *str) { return readInt64(str, kUnbounded); }
int64_t stringToInt64(char const *str, int32_t count) { return readInt64(str, signedLimit(count)); }

int32_t stringToInt32(char const *str) { return static_cast<int32_t>(stringToInt64(str)); }
int32_t stringToInt32(char const *str, int32_t count) { return static_cast<int32_t>(stringToInt64(str, count)); }
int16_t stringToInt16(char const *str) { return static_cast<int16_t>(stringToInt64(str)); }
int16_t stringToInt16(char const *str, int32_t count) { return static_cast<int16_t>(stringToInt64(str, count)); }
int8_t stringToInt8(char const *str) { return static_cast<int8_t>(stringToInt64(str)); }
int8_t stringToInt8(char const *str, int32_t count) { return static_cast<int8_t>(stringToInt64(str, count)); }

uint64_t stringToUint64(char const *str) { return stringToUint64(str, -1); }

uint64_t stringToUint64(char const *str, int32_t count)
{
    if (str == nullptr || (count < 0 && count != -1))
        return 0;
    size_t const length = boundedLength(str, count == -1 ? kUnbounded : static_cast<size_t>(count));
    return readUint64(str, length);
}

uint32_t stringToUint32(char const *str) { return static_cast<uint32_t>(stringToUint64(str)); }
uint32_t stringToUint32(char const *str, int32_t count) { return static_cast<uint32_t>(stringToUint64(str, count)); }
uint16_t stringToUint16(char const *str) { return static_cast<uint16_t>(stringToUint64(str)); }
uint16_t stringToUint16(char const *str, int32_t count) { return static_cast<uint16_t>(stringToUint64(str, count)); }
uint8_t stringToUint8(char const *str) { return static_cast<uint8_t>(stringToUint64(str)); }
uint8_t stringToUint8(char const *str, int32_t count) { return static_cast<uint8_t>(stringToUint64(str, count)); }

double stringToFloat(char const *str) { return readFloat(str, kUnbounded); }
double stringToFloat(char const *str, int32_t count) { return readFloat(str, signedLimit(count)); }

std::string int64ToString(int64_t value) { return integerText(value); }
std::string uint64ToString(uint64_t value) { return integerText(value); }

// The shortest text that reads back to the same double (std::to_chars without
// a format). It stands in for printing 118 significant digits, whose exact
// text depends on the platform's runtime; both read back to the value.
std::string floatToString(double value)
{
    char buffer[64];
    std::to_chars_result const result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

char const *boolToString(bool value) { return value ? "true" : "false"; }
