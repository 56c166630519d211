#pragma once

#include <cstdint>

#include "../Export.h"
#include "../platform/ServiceControl.h"

namespace Kest {
namespace Orv {

// Installs, removes and runs a server program as a service. All state is
// process-wide; the class is never instantiated.
//
// A server's entry point calls serviceMaintenance with its command line and
// ends with its result when that is not 0; it then calls configureService
// with its service main function, and runs in its console when that fails.
// The service main function calls initService, polls isServiceRunning and
// ends with endService.
class SHAREDLIB_API ServiceManager {
public:
    using ServiceMainFunction = platform::ServiceMainFunction;

    ServiceManager() = delete;

    // 0: no maintenance asked for; 1: installed or removed; 2: usage printed
    // or contradicting options; otherwise the Windows error code of the step
    // that failed.
    static int32_t serviceMaintenance(int argc, char **argv, const char *name, const char *displayName);
    static void printUsage();

    // 0 or a Windows error code. Fails at once when the program was not
    // started by the service control manager.
    static int32_t configureService(ServiceMainFunction serviceMain, const char *name);
    static bool initService();
    static bool isServiceRunning();
    static bool isUsingService();
    static void endService(int32_t exitCode);

protected:
    // 0 or a Windows error code; user name and password may be null.
    static int32_t installService(const char *name, const char *displayName, const char *userName,
                                  const char *password);
    static int32_t uninstallService(const char *name);
};

}  // namespace Orv
}  // namespace Kest
