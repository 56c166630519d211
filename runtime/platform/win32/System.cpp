#include "WindowsApi.h"

#include <atomic>
#include <mutex>

#include "../System.h"
#include "../common/Common.h"
#include "../../testing/TestSeams.h"

namespace platform {
namespace {

// The display is the real one until a test puts a layout in its place.
std::mutex g_displayLock;
bool g_layoutSet = false;
std::vector<DisplayMonitor> g_layout;
std::atomic<bool> g_monitorFunctionsHidden{false};

// The monitor functions, looked up by name as a program that must also run
// without them does.
struct MonitorFunctions {
    using FromRect = HMONITOR(WINAPI *)(LPCRECT, DWORD);
    using Info = BOOL(WINAPI *)(HMONITOR, LPMONITORINFO);
    using Enumerate = BOOL(WINAPI *)(HDC, LPCRECT, MONITORENUMPROC, LPARAM);
    FromRect fromRect = nullptr;
    Info info = nullptr;
    Enumerate enumerate = nullptr;
    MonitorFunctions()
    {
        HMODULE user = ::GetModuleHandleA("user32.dll");
        if (user == nullptr)
            user = ::LoadLibraryA("user32.dll");
        if (user == nullptr)
            return;
        fromRect = reinterpret_cast<FromRect>(reinterpret_cast<void *>(::GetProcAddress(user, "MonitorFromRect")));
        info = reinterpret_cast<Info>(reinterpret_cast<void *>(::GetProcAddress(user, "GetMonitorInfoA")));
        enumerate =
            reinterpret_cast<Enumerate>(reinterpret_cast<void *>(::GetProcAddress(user, "EnumDisplayMonitors")));
    }
    bool present() const { return fromRect != nullptr && info != nullptr && enumerate != nullptr; }
};

MonitorFunctions const &monitorFunctions()
{
    static MonitorFunctions const functions;
    return functions;
}

bool monitorRect(HMONITOR monitor, DisplayMonitor *info)
{
    MONITORINFO details{};
    details.cbSize = sizeof details;
    if (!monitorFunctions().present() || !monitorFunctions().info(monitor, &details)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *info = DisplayMonitor{details.rcMonitor.left, details.rcMonitor.top, details.rcMonitor.right,
                           details.rcMonitor.bottom, (details.dwFlags & MONITORINFOF_PRIMARY) != 0};
    return true;
}

BOOL CALLBACK collectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM context)
{
    DisplayMonitor info{};
    if (monitorRect(monitor, &info))
        reinterpret_cast<std::vector<DisplayMonitor> *>(context)->push_back(info);
    return TRUE;
}

}  // namespace

bool GetProcessAffinityMask(uint32_t *processMask, uint32_t *systemMask)
{
    if (processMask == nullptr || systemMask == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (common::PinnedAffinity(processMask, systemMask))
        return true;
    DWORD_PTR process = 0, system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) {
        win32::SetLastFromSystem();
        return false;
    }
    *processMask = static_cast<uint32_t>(process);
    *systemMask = static_cast<uint32_t>(system);
    return true;
}

std::vector<DisplayMonitor> GetDisplayMonitors()
{
    {
        std::lock_guard<std::mutex> guard(g_displayLock);
        if (g_layoutSet)
            return g_layout;
    }
    std::vector<DisplayMonitor> monitors;
    if (monitorFunctions().present())
        monitorFunctions().enumerate(nullptr, nullptr, collectMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

void seam::SetDisplayMonitors(std::vector<DisplayMonitor> const &monitors)
{
    std::lock_guard<std::mutex> guard(g_displayLock);
    g_layoutSet = true;
    g_layout = monitors;
}

void seam::ResetDisplayMonitors()
{
    {
        std::lock_guard<std::mutex> guard(g_displayLock);
        g_layoutSet = false;
        g_layout.clear();
    }
    SetMonitorFunctionsAvailable(true);
}

bool MonitorFunctionsAvailable()
{
    return !g_monitorFunctionsHidden.load(std::memory_order_acquire) && monitorFunctions().present();
}

void seam::SetMonitorFunctionsAvailable(bool available)
{
    g_monitorFunctionsHidden.store(!available, std::memory_order_release);
}

int32_t GetSystemMetrics(int index)
{
    {
        std::lock_guard<std::mutex> guard(g_displayLock);
        if (g_layoutSet)
            return common::LayoutSystemMetrics(g_layout, index);
    }
    if (index != SM_CXSCREEN && index != SM_CYSCREEN && index != SM_CMONITORS)
        return 0;
    return ::GetSystemMetrics(index);
}

MonitorHandle MonitorFromRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t flags)
{
    {
        std::lock_guard<std::mutex> guard(g_displayLock);
        if (g_layoutSet)
            return common::LayoutMonitorFromRect(g_layout, DisplayMonitor{left, top, right, bottom, false}, flags);
    }
    if (!monitorFunctions().present())
        return NO_MONITOR;
    RECT rect{left, top, right, bottom};
    return reinterpret_cast<MonitorHandle>(monitorFunctions().fromRect(&rect, flags));
}

bool GetMonitorRect(MonitorHandle monitor, DisplayMonitor *info)
{
    {
        std::lock_guard<std::mutex> guard(g_displayLock);
        if (g_layoutSet)
            return common::LayoutMonitorRect(g_layout, monitor, info);
    }
    if (monitor == NO_MONITOR || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return monitorRect(reinterpret_cast<HMONITOR>(monitor), info);
}

}  // namespace platform
