#include "WindowsApi.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "../Process.h"

namespace platform {
namespace {

std::atomic<StopHandler> g_stopHandler{nullptr};

// A stop request from another process sets this process's stop event, named
// after its identifier; the system's thread pool waits on it.
void stopEventName(uint32_t processId, char (&name)[64])
{
    std::snprintf(name, sizeof name, "Local\\SharedLibStop-%lu", static_cast<unsigned long>(processId));
}

BOOL WINAPI onConsoleControl(DWORD control)
{
    if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT && control != CTRL_CLOSE_EVENT)
        return FALSE;
    StopHandler handler = g_stopHandler.load();
    if (handler == nullptr)
        return FALSE;
    handler();
    return TRUE;
}

void CALLBACK onStopEvent(PVOID, BOOLEAN)
{
    StopHandler handler = g_stopHandler.load();
    if (handler != nullptr)
        handler();
    else
        ::ExitProcess(1);
}

}  // namespace

uint32_t GetCurrentThreadId() { return ::GetCurrentThreadId(); }
uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

void OnStopRequest(StopHandler handler)
{
    g_stopHandler.store(handler);
    static std::once_flag once;
    std::call_once(once, [] {
        ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
        char name[64];
        stopEventName(::GetCurrentProcessId(), name);
        HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, name);
        HANDLE wait = nullptr;
        if (event != nullptr)
            ::RegisterWaitForSingleObject(&wait, event, onStopEvent, nullptr, INFINITE, WT_EXECUTEDEFAULT);
    });
}

bool RequestProcessStop(uint32_t processId)
{
    char name[64];
    stopEventName(processId, name);
    HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (event == nullptr) {
        // No handler was ever installed there: the process just ends.
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, processId);
        bool ended = process != nullptr && ::TerminateProcess(process, 1);
        if (!ended)
            win32::SetLastFromSystem();
        if (process != nullptr)
            ::CloseHandle(process);
        return ended;
    }
    bool set = ::SetEvent(event) != 0;
    if (!set)
        win32::SetLastFromSystem();
    ::CloseHandle(event);
    return set;
}

bool SetEnvironmentVariableA(char const *name, char const *value)
{
    if (name == nullptr || name[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The runtime's copy (getenv) and the system's (children) both change;
    // an empty value removes the runtime's entry, as on Windows.
    std::string entry = std::string(name) + "=" + (value != nullptr ? value : "");
    if (::_putenv(entry.c_str()) != 0 || !::SetEnvironmentVariableA(name, value)) {
        win32::SetLastFromSystem();
        return false;
    }
    if (std::strcmp(name, "TZ") == 0)
        ::_tzset();
    return true;
}

}  // namespace platform
