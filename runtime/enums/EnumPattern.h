// The one pattern behind the shared enumerations (Error, Event, Log, Msg, DBType).
//
// Each enumeration is one table file of rows ENUM_ROW(Name, "Description"), in
// value order. Its public header defines
//   SHAREDLIB_ENUM        the enumeration's name, E (Error, Log, ...)
//   SHAREDLIB_ENUM_TABLE  the quoted file name of its table ("ErrorTable.inc")
// and includes this file, which declares
//   enum E : int32_t { E_<Name>..., E_Max };      values 0, 1, ... in table order
//   const char *gE_Names[E_Max + 2];                writable: "Max" at E_Max, "" last
//   const char *gE_Description[E_Max + 2];          "One higher than the last enum value", ""
//   const char *E_ValueToName(E);                   the name, or "Error" out of range
//   const char *E_ValueToDescription(E);            the description, or "Error" out of range
//   E E_NameToValue(const char *);                  case-insensitive match, or -1
// and then forgets both macros, so the next enumeration can follow.
//
// The library defines SHAREDLIB_ENUM_DEFINITIONS before including the headers to
// get the array definitions and the functions as well (see Enums.cpp).
//
// No include guard: it is included once per enumeration, by that enumeration's
// header, which carries the guard.

#if !defined(SHAREDLIB_ENUM) || !defined(SHAREDLIB_ENUM_TABLE)
#error "EnumPattern.h is included by Error.h, Event.h, Log.h, Msg.h and DBType.h only"
#endif

#include <cstdint>

#include "../Export.h"

#ifndef SHAREDLIB_ENUM_ID
#define SHAREDLIB_ENUM_CAT_(a, b) a##b
#define SHAREDLIB_ENUM_CAT(a, b) SHAREDLIB_ENUM_CAT_(a, b)
// SHAREDLIB_ENUM_ID(_Max) is E_Max, SHAREDLIB_ENUM_GLOBAL(_Names) is gE_Names.
#define SHAREDLIB_ENUM_ID(suffix) SHAREDLIB_ENUM_CAT(SHAREDLIB_ENUM, suffix)
#define SHAREDLIB_ENUM_GLOBAL(suffix) SHAREDLIB_ENUM_CAT(g, SHAREDLIB_ENUM_ID(suffix))
#endif

// A row name is pasted onto "_" before it goes any further, so a row called like
// somebody's macro (None, Bool) is never expanded.
#pragma push_macro("ENUM_ROW")
#undef ENUM_ROW

enum SHAREDLIB_ENUM : int32_t {
#define ENUM_ROW(name, description) SHAREDLIB_ENUM_ID(_##name),
#include SHAREDLIB_ENUM_TABLE
#undef ENUM_ROW
    SHAREDLIB_ENUM_ID(_Max)
};

SHAREDLIB_API extern const char *SHAREDLIB_ENUM_GLOBAL(_Names)[SHAREDLIB_ENUM_ID(_Max) + 2];
SHAREDLIB_API extern const char *SHAREDLIB_ENUM_GLOBAL(_Description)[SHAREDLIB_ENUM_ID(_Max) + 2];

SHAREDLIB_API const char *SHAREDLIB_ENUM_ID(_ValueToName)(SHAREDLIB_ENUM value);
SHAREDLIB_API const char *SHAREDLIB_ENUM_ID(_ValueToDescription)(SHAREDLIB_ENUM value);
SHAREDLIB_API SHAREDLIB_ENUM SHAREDLIB_ENUM_ID(_NameToValue)(const char *name);

#if defined(SHAREDLIB_ENUM_DEFINITIONS)

#ifndef SHAREDLIB_ENUM_LOOKUP_DECLARED
#define SHAREDLIB_ENUM_LOOKUP_DECLARED
namespace sharedlib_enums {
// Entry `value` of an array of max + 2 entries when 0 <= value < max, else "Error".
const char *Entry(const char *const *entries, int32_t max, int32_t value);
// Index of the first of entries 0 .. max - 1 equal to name ignoring ASCII case, or -1.
int32_t Find(const char *const *names, int32_t max, const char *name);
}  // namespace sharedlib_enums
#endif

const char *SHAREDLIB_ENUM_GLOBAL(_Names)[SHAREDLIB_ENUM_ID(_Max) + 2] = {
#define ENUM_ROW(name, description) #name,
#include SHAREDLIB_ENUM_TABLE
#undef ENUM_ROW
    "Max",
    "",
};

const char *SHAREDLIB_ENUM_GLOBAL(_Description)[SHAREDLIB_ENUM_ID(_Max) + 2] = {
#define ENUM_ROW(name, description) description,
#include SHAREDLIB_ENUM_TABLE
#undef ENUM_ROW
    "One higher than the last enum value",
    "",
};

const char *SHAREDLIB_ENUM_ID(_ValueToName)(SHAREDLIB_ENUM value) {
    return sharedlib_enums::Entry(SHAREDLIB_ENUM_GLOBAL(_Names), SHAREDLIB_ENUM_ID(_Max), value);
}

const char *SHAREDLIB_ENUM_ID(_ValueToDescription)(SHAREDLIB_ENUM value) {
    return sharedlib_enums::Entry(SHAREDLIB_ENUM_GLOBAL(_Description), SHAREDLIB_ENUM_ID(_Max),
                                  value);
}

SHAREDLIB_ENUM SHAREDLIB_ENUM_ID(_NameToValue)(const char *name) {
    return static_cast<SHAREDLIB_ENUM>(
        sharedlib_enums::Find(SHAREDLIB_ENUM_GLOBAL(_Names), SHAREDLIB_ENUM_ID(_Max), name));
}

#endif  // SHAREDLIB_ENUM_DEFINITIONS

#pragma pop_macro("ENUM_ROW")

#undef SHAREDLIB_ENUM
#undef SHAREDLIB_ENUM_TABLE
