// A server entry point as a service program writes it, for the stop-signal
// test: it runs its service main under the dispatcher, says on standard
// output what it does, and shuts down in order once the service is stopped.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <SharedLib/service/ServiceManager.h>

namespace {

using Kest::Orv::ServiceManager;

void serviceMain(uint32_t, char **argv)
{
    // The manager's variables are taken away, so that no program this one starts inherits them.
    bool const left = std::getenv("NOTIFY_SOCKET") != nullptr || std::getenv("SHAREDLIB_SERVICE_NAME") != nullptr;
    std::printf(ServiceManager::initService() ? "running %s%s\n" : "%s: initService failed%s\n", argv[0],
                left ? " with the manager's variables" : "");
    std::fflush(stdout);
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ServiceManager::isServiceRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::puts(ServiceManager::isServiceRunning() ? "never stopped" : "stopping in order");
    std::fflush(stdout);
    ServiceManager::endService(0);
}

}  // namespace

int main(int argc, char **argv)
{
    if (int32_t const maintenance = ServiceManager::serviceMaintenance(argc, argv, "StopHelper", "Stop helper"))
        return maintenance;
    int32_t const result = ServiceManager::configureService(serviceMain, "StopHelper");
    std::printf("dispatcher returned %d\n", result);
    return result;
}
