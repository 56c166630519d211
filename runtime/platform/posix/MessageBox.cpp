#include "../common/Common.h"

namespace platform::common {

// No desktop here: every box is echoed and answered at once.
bool WindowedProgram() { return false; }

int ShowSystemMessageBox(void *, const char *, const char *, uint32_t) { return 0; }

}  // namespace platform::common
