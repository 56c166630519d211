// The arrays and look-up functions of the five shared enumerations: each header
// below, with SHAREDLIB_ENUM_DEFINITIONS set, defines its arrays and its three
// functions from its table (EnumPattern.h). The two algorithms they share follow.

#define SHAREDLIB_ENUM_DEFINITIONS
#include "DBType.h"
#include "Error.h"
#include "Event.h"
#include "Log.h"
#include "Msg.h"

namespace sharedlib_enums {

namespace {

// ASCII letters fold to lower case; every other byte compares as it is, whatever
// the locale.
unsigned char Fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

bool EqualIgnoringCase(const char *a, const char *b) {
    for (; Fold(*a) == Fold(*b); ++a, ++b) {
        if (*a == '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

const char *Entry(const char *const *entries, int32_t max, int32_t value) {
    // Taken unsigned, every negative value is above max - 1 as well.
    if (static_cast<uint32_t>(value) <= static_cast<uint32_t>(max) - 1u) {
        return entries[value];
    }
    return "Error";
}

int32_t Find(const char *const *names, int32_t max, const char *name) {
    if (name == nullptr) {
        return -1;
    }
    // The entries are read at each call: a program may have replaced one.
    for (int32_t i = 0; i < max; ++i) {
        if (names[i] != nullptr && EqualIgnoringCase(names[i], name)) {
            return i;
        }
    }
    return -1;
}

}  // namespace sharedlib_enums
