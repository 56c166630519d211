#pragma once

/// \file
/// ServiceManager: servers as services of the system.

#include <cstdint>

#include "../Export.h"
#include "../platform/ServiceControl.h"

namespace Kest {
namespace Orv {

/// Installs, removes and runs a server program as a service. All state is
/// process-wide; the class is never instantiated.
///
/// A server's entry point calls serviceMaintenance with its command line and
/// ends with its result when that is not 0; it then calls configureService
/// with its service main function, and runs in its console when that fails.
/// The service main function calls initService, polls isServiceRunning and
/// ends with endService.
class SHAREDLIB_API ServiceManager {
public:
    /// A service's main function.
    using ServiceMainFunction = platform::ServiceMainFunction;

    ServiceManager() = delete;

    ///@{

    /// 0: no maintenance asked for; 1: installed or removed; 2: usage printed
    /// or contradicting options; otherwise the Windows error code of the step
    /// that failed.
    static int32_t serviceMaintenance(int argc, char **argv, const char *name, const char *displayName);
    /// Prints the maintenance options (-install, -remove, -username, -password).
    static void printUsage();
    ///@}

    ///@{

    /// 0 or a Windows error code. Fails at once when the program was not
    /// started by the service control manager.
    static int32_t configureService(ServiceMainFunction serviceMain, const char *name);
    /// Registers the control handler and reports the service running; false when
    /// the handler cannot be registered. True at once when not running as a service.
    static bool initService();
    /// True while the service reports itself running: false before initService and
    /// once a stop or shutdown control arrived.
    static bool isServiceRunning();
    /// True when the program runs as a service.
    static bool isUsingService();
    /// Reports the service stopped with the exit code; nothing when not running as a service.
    static void endService(int32_t exitCode);
    ///@}

protected:
    ///@{

    /// 0 or a Windows error code; user name and password may be null.
    static int32_t installService(const char *name, const char *displayName, const char *userName,
                                  const char *password);
    /// Removes the service; 0 or a Windows error code.
    static int32_t uninstallService(const char *name);
    ///@}
};

}  // namespace Orv
}  // namespace Kest
