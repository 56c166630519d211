// fileversion FILE: the file version that GetFileVersionInfoA and
// VerQueryValueA find in FILE's version resource, as MAJOR.MINOR.PATCH.BUILD;
// exit status 1 without one.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    if (size == 0)
        return 1;
    std::vector<char> data(size);
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(argv[1], 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &length) || fixed == nullptr)
        return 1;
    std::printf("%lu.%lu.%lu.%lu\n", static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
    return 0;
}
