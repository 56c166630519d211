#include "ServiceManager.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "../platform/FileSystem.h"
#include "../platform/LastError.h"
#include "../platform/MessageBox.h"

namespace Kest {
namespace Orv {
namespace {

constexpr size_t kServiceNameSize = 256;
constexpr size_t kMaxPath = 260;
constexpr size_t kMessageSize = 1024;  // what wsprintfA writes at most
constexpr uint32_t kNeverReset = 0xFFFFFFFF;
constexpr uint32_t kRestartDelayMs = 10000;
constexpr uint32_t kErrorInvalidFunction = 1;  // ERROR_INVALID_FUNCTION

// The process-wide state. The dispatcher's thread runs the control handler
// while the service main thread reports and polls, so the record and the
// handle are kept under one lock; each report is a whole record.
std::mutex s_lock;
std::atomic<bool> s_usingService{false};
char s_serviceName[kServiceNameSize] = {};
platform::ServiceStatusHandle s_statusHandle = 0;
platform::ServiceStatus s_status = {};

bool sameOption(const char *argument, const char *option)
{
    for (;; ++argument, ++option) {
        char a = *argument >= 'A' && *argument <= 'Z' ? static_cast<char>(*argument - 'A' + 'a') : *argument;
        if (a != *option)
            return false;
        if (a == '\0')
            return true;
    }
}

void showBox(const char *text, const char *caption, uint32_t icon)
{
    platform::MessageBoxA(nullptr, text, caption, platform::MB_OK | icon);
}

// A failure shown with the code and the system's text for it.
void reportError(const char *format, uint32_t code, const char *caption = "Error",
                 uint32_t icon = platform::MB_ICONERROR)
{
    std::string systemText = platform::FormatServiceMessage(code);
    char message[kMessageSize];
    std::snprintf(message, sizeof(message), format, static_cast<int>(code), systemText.c_str());
    showBox(message, caption, icon);
}

// The last error of a failed call, never 0: a failure must not read as success.
uint32_t lastErrorOf()
{
    uint32_t code = platform::GetLastError();
    return code != platform::ERROR_SUCCESS ? code : kErrorInvalidFunction;
}

struct ServiceHandleCloser {
    platform::ServiceHandle handle;
    ~ServiceHandleCloser()
    {
        if (handle != 0)
            platform::CloseServiceHandle(handle);
    }
};

// Grants the account the right to run services and checks its password.
// Fills the account name the service will run as.
uint32_t prepareAccount(const char *userName, const char *password, std::string &serviceAccount)
{
    uint32_t sidSize = 0;
    uint32_t domainSize = 0;
    uint32_t sidNameUse = 0;
    if (!platform::LookupAccountNameA(nullptr, userName, nullptr, &sidSize, nullptr, &domainSize, &sidNameUse)) {
        uint32_t code = lastErrorOf();
        if (code != platform::ERROR_INSUFFICIENT_BUFFER) {
            reportError("LookupAccountName failed with %d: %s", code);
            return code;
        }
    }
    std::vector<uint8_t> sid(sidSize);
    std::vector<char> domain(domainSize + 1, '\0');
    if (!platform::LookupAccountNameA(nullptr, userName, sid.data(), &sidSize, domain.data(), &domainSize,
                                      &sidNameUse)) {
        uint32_t code = lastErrorOf();
        reportError("LookupAccountName failed with %d: %s", code);
        return code;
    }
    serviceAccount = std::string(domain.data()) + "\\" + userName;

    platform::LsaObjectAttributes attributes = {};
    platform::LsaHandle policy = 0;
    platform::NtStatus status = platform::LsaOpenPolicy(
        nullptr, &attributes, platform::POLICY_LOOKUP_NAMES | platform::POLICY_CREATE_ACCOUNT, &policy);
    if (status != platform::STATUS_SUCCESS) {
        uint32_t code = platform::LsaNtStatusToWinError(status);
        reportError("LsaOpenPolicy failed with %d: %s", code);
        return code;
    }

    char16_t rightName[20] = u"SeServiceLogonRight";
    platform::LsaUnicodeString right = {38, 40, rightName};
    status = platform::LsaAddAccountRights(policy, sid.data(), &right, 1);
    platform::LsaClose(policy);
    if (status != platform::STATUS_SUCCESS) {
        uint32_t code = platform::LsaNtStatusToWinError(status);
        reportError("LsaAddAccountRights failed with %d: %s", code);
        return code;
    }

    platform::TokenHandle token = 0;
    if (!platform::LogonUserA(userName, domain.data(), password, platform::LOGON32_LOGON_SERVICE,
                              platform::LOGON32_PROVIDER_DEFAULT, &token)) {
        uint32_t code = lastErrorOf();
        reportError("LogonUser failed with %d: %s", code);
        return code;
    }
    platform::CloseTokenHandle(token);
    return platform::ERROR_SUCCESS;
}

// The control handler, run on the dispatcher's thread. The program learns of
// a stop by polling isServiceRunning.
void controlHandler(uint32_t control)
{
    std::lock_guard<std::mutex> guard(s_lock);
    if (control == platform::SERVICE_CONTROL_STOP || control == platform::SERVICE_CONTROL_SHUTDOWN) {
        s_status.dwCurrentState = platform::SERVICE_STOPPED;
        s_status.dwWin32ExitCode = 0;
    }
    platform::SetServiceStatus(s_statusHandle, &s_status);
}

}  // namespace

int32_t ServiceManager::serviceMaintenance(int argc, char **argv, const char *name, const char *displayName)
{
    if (argc < 2 || argv == nullptr)
        return 0;
    bool install = false;
    bool remove = false;
    const char *userName = nullptr;
    const char *password = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (argument == nullptr)
            continue;
        if (sameOption(argument, "-?")) {
            printUsage();
            return 2;
        } else if (sameOption(argument, "-install")) {
            install = true;
        } else if (sameOption(argument, "-remove")) {
            remove = true;
        } else if (sameOption(argument, "-username")) {
            if (i + 1 < argc)
                userName = argv[++i];
            else
                showBox("No username was specified", "Error", platform::MB_ICONINFORMATION);
        } else if (sameOption(argument, "-password")) {
            if (i + 1 < argc)
                password = argv[++i];
            else
                showBox("No password was specified", "Error", platform::MB_ICONINFORMATION);
        }
        // Anything else belongs to the program.
    }

    if (install && remove) {
        showBox("-install and -remove were both specified.  Please specify only one.", "Error",
                platform::MB_ICONINFORMATION);
        return 2;
    }
    if (install) {
        int32_t result = installService(name, displayName, userName, password);
        return result != 0 ? result : 1;
    }
    if (remove) {
        int32_t result = uninstallService(name);
        return result != 0 ? result : 1;
    }
    return 0;
}

void ServiceManager::printUsage()
{
    std::fputs("\nService Manager Options:\n\n", stdout);
    std::fputs(" -remove    Remove this program's service entry\n\n", stdout);
    std::fputs(" -install   Install this program as a service\n", stdout);
    std::fputs("    -username <name>      The account that this service will run as\n", stdout);
    std::fputs("       If no username is specified, the service will run as LocalSystem\n", stdout);
    std::fputs("    -password <password>  The password for the given account\n\n", stdout);
    std::fputs("If no options are specified, the program will run normally\n", stdout);
    std::fflush(stdout);
}

int32_t ServiceManager::installService(const char *name, const char *displayName, const char *userName,
                                       const char *password)
{
    std::string programPath;
    if (!platform::GetExecutablePath(programPath) || programPath.size() >= kMaxPath) {
        if (platform::GetLastError() == platform::ERROR_SUCCESS || programPath.size() >= kMaxPath)
            platform::SetLastError(platform::ERROR_INSUFFICIENT_BUFFER);
        uint32_t code = platform::GetLastError();
        showBox("The working directory must contain the executable for -install to work", "Error",
                platform::MB_ICONINFORMATION);
        return static_cast<int32_t>(code);
    }

    // Without a user name the service runs as the local system account.
    std::string serviceAccount;
    if (userName != nullptr) {
        uint32_t code = prepareAccount(userName, password, serviceAccount);
        if (code != platform::ERROR_SUCCESS)
            return static_cast<int32_t>(code);
    }
    const char *account = userName != nullptr ? serviceAccount.c_str() : nullptr;

    ServiceHandleCloser manager{platform::OpenSCManagerA(nullptr, nullptr, platform::SC_MANAGER_CREATE_SERVICE)};
    if (manager.handle == 0) {
        uint32_t code = lastErrorOf();
        showBox("Failed to open the Service Control Manager with sufficient rights to create a service.", "Error",
                platform::MB_ICONERROR);
        return static_cast<int32_t>(code);
    }

    constexpr uint32_t serviceAccess = platform::GENERIC_WRITE | platform::SERVICE_START;
    ServiceHandleCloser service{platform::OpenServiceA(manager.handle, name, serviceAccess)};
    if (service.handle != 0) {
        if (!platform::ChangeServiceConfigA(service.handle, platform::SERVICE_WIN32_OWN_PROCESS,
                                            platform::SERVICE_AUTO_START, platform::SERVICE_ERROR_NORMAL,
                                            programPath.c_str(), nullptr, nullptr, nullptr, account, password,
                                            displayName)) {
            uint32_t code = lastErrorOf();
            reportError("ConfigureService failed with error %d: %s", code);
            return static_cast<int32_t>(code);
        }
    } else {
        service.handle = platform::CreateServiceA(manager.handle, name, displayName, serviceAccess,
                                                  platform::SERVICE_WIN32_OWN_PROCESS, platform::SERVICE_AUTO_START,
                                                  platform::SERVICE_ERROR_NORMAL, programPath.c_str(), nullptr,
                                                  nullptr, nullptr, account, password);
        if (service.handle == 0) {
            uint32_t code = lastErrorOf();
            reportError("CreateService failed with error %d: %s", code);
            return static_cast<int32_t>(code);
        }
    }

    // Restart after ten seconds on every failure; the count is never reset.
    platform::ScAction restart = {platform::SC_ACTION_RESTART, kRestartDelayMs};
    platform::ServiceFailureActions actions = {kNeverReset, nullptr, "", 1, &restart};
    if (!platform::ChangeServiceConfig2A(service.handle, platform::SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) {
        uint32_t code = lastErrorOf();
        reportError("CreateService succeeded, but ChangeServiceConfig2 failed with error %d: %s", code, "Warning",
                    platform::MB_ICONWARNING);
        return static_cast<int32_t>(code);
    }
    return 0;
}

int32_t ServiceManager::uninstallService(const char *name)
{
    ServiceHandleCloser manager{platform::OpenSCManagerA(nullptr, nullptr, platform::GENERIC_WRITE)};
    if (manager.handle == 0) {
        uint32_t code = lastErrorOf();
        showBox("Failed to open the Service Control Manager with sufficient rights to delete a service.", "Error",
                platform::MB_ICONERROR);
        return static_cast<int32_t>(code);
    }
    ServiceHandleCloser service{platform::OpenServiceA(manager.handle, name, platform::DELETE)};
    if (service.handle == 0) {
        uint32_t code = lastErrorOf();
        reportError("OpenService failed with error %d: %s", code);
        return static_cast<int32_t>(code);
    }
    if (platform::DeleteService(service.handle))
        return 0;
    uint32_t code = lastErrorOf();
    reportError("DeleteService failed with error %d: %s", code, "Warning", platform::MB_ICONWARNING);
    return static_cast<int32_t>(code);
}

int32_t ServiceManager::configureService(ServiceMainFunction serviceMain, const char *name)
{
    char serviceName[kServiceNameSize] = {};
    bool nameFits = name != nullptr && std::strlen(name) < kServiceNameSize;
    if (nameFits) {
        std::lock_guard<std::mutex> guard(s_lock);
        std::memcpy(s_serviceName, name, std::strlen(name) + 1);
        std::memcpy(serviceName, s_serviceName, sizeof(serviceName));
        s_usingService = true;
    }

    // The dispatcher returns once the service has stopped; meanwhile the
    // service main function runs on a thread of its own and the control
    // handler on this one.
    platform::ServiceTableEntry table[2] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    if (nameFits && platform::StartServiceCtrlDispatcherA(table))
        return 0;

    if (!nameFits)
        platform::SetLastError(platform::ERROR_INVALID_NAME);
    uint32_t code = lastErrorOf();
    std::string text = platform::FormatServiceMessage(code);
    if (!text.empty()) {
        std::fputs("*** --- *** Unable to start service \n", stdout);
        std::fputs(text.c_str(), stdout);
        std::fputs("\n\n", stdout);
        std::fflush(stdout);
    }
    s_usingService = false;
    platform::SetLastError(code);
    return static_cast<int32_t>(code);
}

bool ServiceManager::initService()
{
    if (!s_usingService)
        return true;
    std::lock_guard<std::mutex> guard(s_lock);
    s_status = platform::ServiceStatus{platform::SERVICE_WIN32,
                                       platform::SERVICE_START_PENDING,
                                       platform::SERVICE_ACCEPT_STOP | platform::SERVICE_ACCEPT_SHUTDOWN,
                                       0,
                                       0,
                                       0,
                                       0};
    s_statusHandle = platform::RegisterServiceCtrlHandlerA(s_serviceName, controlHandler);
    if (s_statusHandle == 0)
        return false;
    s_status.dwCurrentState = platform::SERVICE_RUNNING;
    platform::SetServiceStatus(s_statusHandle, &s_status);
    return true;
}

bool ServiceManager::isServiceRunning()
{
    std::lock_guard<std::mutex> guard(s_lock);
    return s_status.dwCurrentState == platform::SERVICE_RUNNING;
}

bool ServiceManager::isUsingService() { return s_usingService; }

void ServiceManager::endService(int32_t exitCode)
{
    if (!s_usingService)
        return;
    std::lock_guard<std::mutex> guard(s_lock);
    s_status.dwCurrentState = platform::SERVICE_STOPPED;
    s_status.dwWin32ExitCode = static_cast<uint32_t>(exitCode);
    platform::SetServiceStatus(s_statusHandle, &s_status);
}

}  // namespace Orv
}  // namespace Kest
