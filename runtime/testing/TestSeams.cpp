#include "TestSeams.h"

extern "C" platform::TestSeamTable const *SharedLibTestSeams() {
#define SHAREDLIB_SEAM_ENTRY(result, name, parameters, arguments) &platform::seam::name,
    static platform::TestSeamTable const table{SHAREDLIB_TEST_SEAMS(SHAREDLIB_SEAM_ENTRY)};
#undef SHAREDLIB_SEAM_ENTRY
    return &table;
}
