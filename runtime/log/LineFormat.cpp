#include "LineFormat.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Appends while there is room; the rest of the line is cut, as vsnprintf cuts.
struct Output {
    char *at;
    char *end;  // the last byte, kept for the terminator
    void put(char c)
    {
        if (at < end)
            *at++ = c;
    }
    void put(char const *text, size_t length)
    {
        size_t room = static_cast<size_t>(end - at);
        if (length > room)
            length = room;
        std::memcpy(at, text, length);
        at += length;
    }
};

void putUnsigned(Output &out, uint64_t value, unsigned base, bool upper)
{
    char digits[24];
    char const *alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    size_t count = 0;
    do {
        digits[sizeof digits - 1 - count++] = alphabet[value % base];
        value /= base;
    } while (value != 0);
    out.put(digits + sizeof digits - count, count);
}

// Every conversion is one of the plain ones this formatter knows.
bool isPlain(char const *format)
{
    for (char const *p = format; (p = std::strchr(p, '%')) != nullptr; p += 2) {
        switch (p[1]) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 's': case 'c': case '%':
            break;
        default:
            return false;
        }
    }
    return true;
}

}  // namespace

void FormatLine(char *buffer, size_t size, char const *format, va_list args)
{
    if (size == 0)
        return;
    if (!isPlain(format)) {
        std::vsnprintf(buffer, size, format, args);
        return;
    }
    Output out{buffer, buffer + size - 1};
    for (char const *p = format; *p != '\0'; ++p) {
        char const *percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out.put(p, std::strlen(p));
            break;
        }
        out.put(p, static_cast<size_t>(percent - p));
        p = percent + 1;
        switch (*p) {
        case 'd':
        case 'i': {
            int value = va_arg(args, int);
            if (value < 0) {
                out.put('-');
                putUnsigned(out, static_cast<uint64_t>(-static_cast<int64_t>(value)), 10, false);
            } else {
                putUnsigned(out, static_cast<uint64_t>(value), 10, false);
            }
            break;
        }
        case 'u': putUnsigned(out, va_arg(args, unsigned int), 10, false); break;
        case 'x': putUnsigned(out, va_arg(args, unsigned int), 16, false); break;
        case 'X': putUnsigned(out, va_arg(args, unsigned int), 16, true); break;
        case 'c': out.put(static_cast<char>(va_arg(args, int))); break;
        case 's': {
            char const *text = va_arg(args, char const *);
            if (text == nullptr)
                text = "(null)";  // as the C library prints it
            out.put(text, std::strlen(text));
            break;
        }
        default: out.put('%'); break;
        }
    }
    *out.at = '\0';
}
