#pragma once

#include <cstdint>
#include <string>

#include "../Export.h"

// Small stateless helpers that read numbers out of text, print numbers, trim,
// split and change the case of strings, and turn the last error into a log
// line. Any thread may call them.

// ---------------------------------------------------------------------------
// Reading numbers
//
// Every reader takes a zero-terminated text, or a text and a count of
// characters. With a count only the first count characters are looked at, so
// a field of fixed width inside a larger, unterminated buffer can be read in
// place; a terminating zero inside the count still ends the text. The readers
// take no heap memory and never fail: text without a number gives 0, text
// that ends early gives the number read so far. A null text gives 0.
//
// Integers are read in decimal: leading white space (space, \t, \n, \v, \f,
// \r) is skipped, one optional '+' or '-' is taken, then digits up to the
// first character that is not one. Values beyond the 64-bit range wrap
// modulo 2^64 (the digits are accumulated in unsigned 64-bit arithmetic), so
// the text never causes undefined behaviour. The result does not depend on
// the locale.
//
// The signed and floating-point readers with a count need a count of 0 or
// more; a negative count reads nothing and gives 0.
// ---------------------------------------------------------------------------

SHAREDLIB_API int64_t stringToInt64(char const *str);
SHAREDLIB_API int64_t stringToInt64(char const *str, int32_t count);

/// stringToInt64 of the same arguments, narrowed to the width by keeping the
/// low-order bits: "300" read as 8 bits gives 44, "-1" gives -1 in every width.
SHAREDLIB_API int32_t stringToInt32(char const *str);
SHAREDLIB_API int32_t stringToInt32(char const *str, int32_t count);
SHAREDLIB_API int16_t stringToInt16(char const *str);
SHAREDLIB_API int16_t stringToInt16(char const *str, int32_t count);
SHAREDLIB_API int8_t stringToInt8(char const *str);
SHAREDLIB_API int8_t stringToInt8(char const *str, int32_t count);

/// Reads values up to 18446744073709551615 (twenty digits). A count of -1, or
/// no count, means the whole text. Texts of 15 characters or fewer are read as
/// stringToInt64; longer ones are split ten characters before their end and
/// the two parts read separately: leading * 10^10 + trailing, wrapping modulo
/// 2^64. The last ten characters are taken to be digits; a number followed by
/// other characters is not read correctly this way. A terminating zero inside
/// the count shortens the text before it is split. Any other negative count
/// reads nothing and gives 0.
SHAREDLIB_API uint64_t stringToUint64(char const *str);
SHAREDLIB_API uint64_t stringToUint64(char const *str, int32_t count);

/// stringToUint64 of the same arguments, narrowed by keeping the low-order bits.
SHAREDLIB_API uint32_t stringToUint32(char const *str);
SHAREDLIB_API uint32_t stringToUint32(char const *str, int32_t count);
SHAREDLIB_API uint16_t stringToUint16(char const *str);
SHAREDLIB_API uint16_t stringToUint16(char const *str, int32_t count);
SHAREDLIB_API uint8_t stringToUint8(char const *str);
SHAREDLIB_API uint8_t stringToUint8(char const *str, int32_t count);

/// Reads a decimal floating-point value: white space, optional sign, digits
/// with an optional '.' and fraction, an optional exponent ('e' or 'E', an
/// optional sign, digits). "inf", "infinity" and "nan" are accepted in any
/// case. Hexadecimal forms are not: "0x1p3" reads as 0. A value too large for
/// a double gives an infinity of its sign, one too small a zero of its sign.
SHAREDLIB_API double stringToFloat(char const *str);
SHAREDLIB_API double stringToFloat(char const *str, int32_t count);

// ---------------------------------------------------------------------------
// Writing values
// ---------------------------------------------------------------------------

/// Decimal text: '-' for negative signed values, no leading zeros, "0" for 0.
SHAREDLIB_API std::string int64ToString(int64_t value);
SHAREDLIB_API std::string uint64ToString(uint64_t value);

/// The shortest text that stringToFloat reads back to exactly the same value:
/// plain notation ("2.5", "100") or exponent notation ("1e+22", "5e-324"),
/// whichever is shorter; "-0" for negative zero, "inf", "-inf" and "nan" for
/// the special values.
SHAREDLIB_API std::string floatToString(double value);

/// "true" or "false" (static text).
SHAREDLIB_API char const *boolToString(bool value);

// ---------------------------------------------------------------------------
// Trimming, splitting and case
// ---------------------------------------------------------------------------

/// The blanks are the space and the tab only; line ends are kept.
/// strLTrim: from the first non-blank; a text of blanks only comes back as it is.
SHAREDLIB_API std::string strLTrim(std::string const &str);
/// strRTrim: up to and including the last non-blank; blanks only give "".
SHAREDLIB_API std::string strRTrim(std::string const &str);
/// strLTrim(strRTrim(str)): blanks only give "".
SHAREDLIB_API std::string strTrim(std::string const &str);

/// The part after the last '\' or '/'; the text itself when it has neither.
SHAREDLIB_API std::string removePath(std::string const &str);
/// The text before its last '.', wherever that dot stands ("dir.old\file"
/// gives "dir"); the text itself when it has no dot.
SHAREDLIB_API std::string removeExtension(std::string const &str);
/// Erases from the last '.' to the end, if there is one, then appends '.' and
/// the extension (given without its dot).
SHAREDLIB_API void replaceExtension(std::string &str, std::string const &extension);

/// Changes ASCII letters in place up to the terminator; every other byte,
/// those above 127 included, stays as it is. A null string is left alone.
SHAREDLIB_API void makeUpper(char *str);
SHAREDLIB_API void makeLower(char *str);

/// Each byte becomes the 16-bit unit of the same (unsigned) value: 0xE9 gives
/// U+00E9.
SHAREDLIB_API void string2wstring(std::u16string &out, std::string const &in);
/// Each unit below 256 becomes the byte of that value, every other unit a space.
SHAREDLIB_API void wstring2string(std::string &out, std::u16string const &in);

namespace Kest::Orv {

/// True when str is neither null nor empty.
SHAREDLIB_API bool isSet(char const *str);

}  // namespace Kest::Orv

// ---------------------------------------------------------------------------
// Reporting the last error
// ---------------------------------------------------------------------------

/// Logs the calling thread's last error at error severity on channel Generic
/// as "<what>: <system message>" (the message ends with its own CR LF; it is
/// empty for a code without text). Nothing is logged without a logger or when
/// the channel drops error lines. The last error is left as it was.
SHAREDLIB_API void describeLastError(char const *what);
