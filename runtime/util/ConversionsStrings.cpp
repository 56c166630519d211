// Trimming, splitting, case and the narrow/16-bit string pair.
#include "Conversions.h"

#include <cstddef>
#include <string>

namespace {

// Only the space and the tab are blanks here: line ends and other control
// characters are kept.
constexpr char kBlanks[] = " \t";

constexpr char kPathSeparators[] = "\\/";

}  // namespace

std::string strLTrim(std::string const &str)
{
    size_t const first = str.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return str;
    return str.substr(first);
}

std::string strRTrim(std::string const &str)
{
    size_t const last = str.find_last_not_of(kBlanks);
    if (last == std::string::npos)
        return std::string();
    return str.substr(0, last + 1);
}

std::string strTrim(std::string const &str) { return strLTrim(strRTrim(str)); }

std::string removePath(std::string const &str)
{
    size_t const separator = str.find_last_of(kPathSeparators);
    if (separator == std::string::npos)
        return str;
    return str.substr(separator + 1);
}

std::string removeExtension(std::string const &str)
{
    size_t const dot = str.rfind('.');
    if (dot == std::string::npos)
        return str;
    return str.substr(0, dot);
}

void replaceExtension(std::string &str, std::string const &extension)
{
    size_t const dot = str.rfind('.');
    if (dot != std::string::npos)
        str.erase(dot);
    str += '.';
    str += extension;
}

void makeUpper(char *str)
{
    if (str == nullptr)
        return;
    for (; *str != '\0'; ++str) {
        if (*str >= 'a' && *str <= 'z')
            *str = static_cast<char>(*str - 32);
    }
}

void makeLower(char *str)
{
    if (str == nullptr)
        return;
    for (; *str != '\0'; ++str) {
        if (*str >= 'A' && *str <= 'Z')
            *str = static_cast<char>(*str + 32);
    }
}

void string2wstring(std::u16string &out, std::string const &in)
{
    out.resize(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(in[i]));
}

void wstring2string(std::string &out, std::u16string const &in)
{
    out.resize(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = in[i] < 256 ? static_cast<char>(in[i]) : ' ';
}

namespace Kest::Orv {

bool isSet(char const *str) { return str != nullptr && str[0] != '\0'; }

}  // namespace Kest::Orv
