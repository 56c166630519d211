#include "WindowsApi.h"

#include "../common/Common.h"

namespace platform::common {

// Whether the program is a windowed one. A console program (a server, a
// tool, a test) may have nobody at the screen: its boxes go to standard
// error and are answered at once, so that they never hold it.
bool WindowedProgram()
{
    static bool const windowed = [] {
        auto const *base = reinterpret_cast<unsigned char const *>(::GetModuleHandleA(nullptr));
        if (base == nullptr)
            return false;
        auto const *dos = reinterpret_cast<IMAGE_DOS_HEADER const *>(base);
        auto const *nt = reinterpret_cast<IMAGE_NT_HEADERS const *>(base + dos->e_lfanew);
        return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
    }();
    return windowed;
}

int ShowSystemMessageBox(void *owner, const char *text, const char *caption, uint32_t type)
{
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

}  // namespace platform::common
