#pragma once

#include <cstdarg>
#include <cstddef>

// Formats a log line into a fixed buffer exactly as vsnprintf does, cutting
// it at size - 1 characters. Lines whose conversions are all plain %d, %i,
// %u, %x, %X, %s, %c or %% (no flags, width, precision or length) are
// formatted here; any other format goes to vsnprintf.
void FormatLine(char *buffer, size_t size, char const *format, va_list args);
