#pragma once

/// \file
/// Column types of the database layer; each description is the matching SQL type.
/// Declares enum DBType (DBType_<Name> for each row of DBTypeTable.inc, DBType_Max last), the
/// arrays gDBType_Names and gDBType_Description and DBType_ValueToName,
/// DBType_ValueToDescription and DBType_NameToValue; see EnumPattern.h.

#define SHAREDLIB_ENUM DBType
#define SHAREDLIB_ENUM_TABLE "DBTypeTable.inc"
#include "EnumPattern.h"
