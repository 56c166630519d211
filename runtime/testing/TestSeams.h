#pragma once

// Test support: what lets a test pin the clocks, fake the display layout and
// this machine's addresses, script message-box answers and service-manager
// failures, and read what the imitated service manager holds. None of it is
// part of the library's API: this header is not installed, and the library
// exports one entry point for all of it, SharedLibTestSeams(). Link the
// SharedLib::Testing target to reach it.

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"
#include "../platform/ServiceControl.h"
#include "../platform/System.h"

namespace platform {

// What the imitated service database holds for one service (standing in for
// QueryServiceConfigA and QueryServiceConfig2A).
struct ServiceEntry {
    std::string serviceName;
    std::string displayName;
    std::string binaryPathName;
    std::string serviceStartName;  // empty: the local system account
    std::string password;
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    bool hasFailureActions = false;
    uint32_t resetPeriod = 0;
    bool hasRebootMessage = false;
    std::string rebootMessage;
    std::string command;
    std::vector<ScAction> failureActions;
};

struct ServiceStatusReport {
    std::string serviceName;
    ServiceStatus status;
};

// The service-manager calls a test can make fail once (for the security
// authority calls the code is an NTSTATUS, for the others a Windows error code).
enum class ServiceCall {
    OpenSCManager,
    OpenService,
    CreateService,
    ChangeServiceConfig,
    ChangeServiceConfig2,
    DeleteService,
    LookupAccountName,
    LsaOpenPolicy,
    LsaAddAccountRights,
    LogonUser,
    StartServiceCtrlDispatcher,
    RegisterServiceCtrlHandler,
    SetServiceStatus,
};

// A message box as it was asked for; the record keeps the most recent only.
struct MessageBoxRecord {
    std::string text;
    std::string caption;
    uint32_t type = 0;
};

}  // namespace platform

// Every seam: X(result, name, parameters, arguments).
//  - Clocks: each can be pinned to a value only the test moves; pinning is
//    process-wide until the matching Release.
//  - Affinity and host addresses: the answers given until released.
//  - Display: replace the layout (an empty list means no display) until
//    ResetDisplayMonitors; take the monitor functions away to reach the
//    callers' fallback.
//  - Service manager: ResetServiceControl forgets every account, right,
//    handle, queued control, recorded report and scripted failure; a control
//    sent is delivered by the dispatcher running that service once its
//    reported status accepts it.
//  - Message boxes: the boxes shown, and the answer of the next one.
#define SHAREDLIB_TEST_SEAMS(X)                                                                              \
    X(void, PinTickCount, (uint32_t milliseconds), (milliseconds))                                           \
    X(void, PinPerformanceCounter, (int64_t ticks), (ticks))                                                 \
    X(void, PinWallClock, (int64_t seconds), (seconds))                                                      \
    X(void, ReleaseTickCount, (), ())                                                                        \
    X(void, ReleasePerformanceCounter, (), ())                                                               \
    X(void, ReleaseWallClock, (), ())                                                                        \
    X(void, PinProcessAffinity, (uint32_t processMask, uint32_t systemMask), (processMask, systemMask))      \
    X(void, ReleaseProcessAffinity, (), ())                                                                  \
    X(void, PinHostAddresses, (std::vector<uint32_t> const &addresses), (addresses))                         \
    X(void, ReleaseHostAddresses, (), ())                                                                    \
    X(void, SetDisplayMonitors, (std::vector<DisplayMonitor> const &monitors), (monitors))                   \
    X(void, ResetDisplayMonitors, (), ())                                                                    \
    X(void, SetMonitorFunctionsAvailable, (bool available), (available))                                     \
    X(bool, QueryServiceEntry, (const char *serviceName, ServiceEntry *entry), (serviceName, entry))         \
    X(std::vector<std::string>, ListServiceEntries, (), ())                                                  \
    X(void, ResetServiceControl, (), ())                                                                     \
    X(void, SetStartedByServiceControlManager, (bool started), (started))                                    \
    X(void, SetServiceControlManagerRights, (uint32_t rights), (rights))                                     \
    X(void, AddServiceAccount, (const char *domain, const char *userName, const char *password),             \
      (domain, userName, password))                                                                          \
    X(bool, AccountHasRight, (const char *userName, const char *right), (userName, right))                   \
    X(void, SendServiceControl, (const char *serviceName, uint32_t control), (serviceName, control))         \
    X(std::vector<ServiceStatusReport>, TakeServiceStatusReports, (), ())                                    \
    X(void, FailNextServiceCall, (ServiceCall call, uint32_t code), (call, code))                            \
    X(std::vector<MessageBoxRecord>, TakeMessageBoxRecords, (), ())                                          \
    X(void, ScriptMessageBoxAnswer, (int answer), (answer))

namespace platform {

struct TestSeamTable {
#define SHAREDLIB_SEAM_POINTER(result, name, parameters, arguments) result(*name) parameters;
    SHAREDLIB_TEST_SEAMS(SHAREDLIB_SEAM_POINTER)
#undef SHAREDLIB_SEAM_POINTER
};

// The backends' own definitions, hidden inside the library.
namespace seam {
#define SHAREDLIB_SEAM_DECLARATION(result, name, parameters, arguments) result name parameters;
SHAREDLIB_TEST_SEAMS(SHAREDLIB_SEAM_DECLARATION)
#undef SHAREDLIB_SEAM_DECLARATION
}  // namespace seam

}  // namespace platform

extern "C" SHAREDLIB_API platform::TestSeamTable const *SharedLibTestSeams();

#if !defined(SHAREDLIB_BUILDING)
namespace platform {
#define SHAREDLIB_SEAM_WRAPPER(result, name, parameters, arguments) \
    inline result name parameters { return SharedLibTestSeams()->name arguments; }
SHAREDLIB_TEST_SEAMS(SHAREDLIB_SEAM_WRAPPER)
#undef SHAREDLIB_SEAM_WRAPPER
}  // namespace platform
#endif
