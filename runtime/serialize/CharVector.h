#pragma once

/// \file
/// Named byte containers used for datagram payloads: a vector of char and a
/// list of such vectors. They behave exactly as the standard containers do.

#include <list>
#include <vector>

#include "../Export.h"

class SHAREDLIB_API CCharVector : public std::vector<char> {
public:
    using std::vector<char>::vector;
};

class SHAREDLIB_API CCharVectorList : public std::list<CCharVector> {
public:
    using std::list<CCharVector>::list;
};
