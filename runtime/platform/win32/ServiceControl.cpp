#include "WindowsApi.h"

#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "../ServiceControl.h"
#include "../common/Common.h"
#include "../../testing/TestSeams.h"

// The system's service control manager, account database and local security
// authority. The test seams keep what applies to a real system: scripted
// failures, a narrower set of rights on the manager, the record of reported
// statuses, and forgetting (deleting) the services this process created.
namespace platform {
namespace {

static_assert(sizeof(LsaUnicodeString) == sizeof(LSA_UNICODE_STRING));
static_assert(sizeof(LsaObjectAttributes) == sizeof(LSA_OBJECT_ATTRIBUTES));
static_assert(sizeof(ServiceStatus) == sizeof(SERVICE_STATUS));

struct ControlHandler {
    std::string serviceName;
    HandlerFunction handler;
};

struct ServiceControlState {
    std::mutex lock;
    std::map<ServiceCall, uint32_t> scriptedFailures;
    uint32_t managerRights = SC_MANAGER_ALL_ACCESS;
    std::set<std::string> created;  // folded names of the services this process created
    std::map<uintptr_t, std::string> serviceNames;  // service handle -> name, for those
    std::vector<ServiceStatusReport> reports;
    std::map<ServiceStatusHandle, std::string> statusNames;
    // The dispatcher's table: the service main functions by name.
    std::vector<std::pair<std::string, ServiceMainFunction>> mains;
};

ServiceControlState &state()
{
    static ServiceControlState instance;
    return instance;
}

std::string fold(const char *text)
{
    std::string folded(text != nullptr ? text : "");
    for (char &c : folded)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

// Takes a scripted failure for the call, if one is waiting, and sets it as
// the last error.
bool scriptedFailure(ServiceCall call, uint32_t *code = nullptr)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto found = s.scriptedFailures.find(call);
    if (found == s.scriptedFailures.end())
        return false;
    if (code != nullptr)
        *code = found->second;
    else
        SetLastError(found->second);
    s.scriptedFailures.erase(found);
    return true;
}

bool failedCall()
{
    win32::SetLastFromSystem();
    return false;
}

SC_HANDLE scOf(ServiceHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }

uint32_t mapManagerAccess(uint32_t access)
{
    uint32_t mapped = access & 0x0FFFFFFF;
    if ((access & GENERIC_WRITE) != 0)
        mapped |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if ((access & GENERIC_ALL) != 0)
        mapped |= SC_MANAGER_ALL_ACCESS;
    return mapped;
}

void WINAPI serviceMainTrampoline(DWORD argc, LPSTR *argv)
{
    ServiceMainFunction main = nullptr;
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        std::string name = fold(argc > 0 ? argv[0] : "");
        for (auto const &entry : s.mains)
            if (entry.first == name || (main == nullptr && s.mains.size() == 1))
                main = entry.second;
    }
    if (main != nullptr)
        main(argc, argv);
}

DWORD WINAPI handlerTrampoline(DWORD control, DWORD, LPVOID, LPVOID context)
{
    static_cast<ControlHandler *>(context)->handler(control);
    return NO_ERROR;
}

// Reads a variable-length service query into a buffer of the size the
// system asks for.
template <typename Query>
bool queryInto(std::vector<unsigned char> &buffer, Query query)
{
    DWORD needed = 0;
    buffer.assign(512, 0);
    if (query(buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
        return true;
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    buffer.assign(needed, 0);
    return query(buffer.data(), static_cast<DWORD>(buffer.size()), &needed) != 0;
}

}  // namespace

// --- The service database ---------------------------------------------------

ServiceHandle OpenSCManagerA(const char *machineName, const char *databaseName, uint32_t access)
{
    if (scriptedFailure(ServiceCall::OpenSCManager))
        return 0;
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        if ((mapManagerAccess(access) & ~s.managerRights) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    SC_HANDLE manager = ::OpenSCManagerA(machineName != nullptr && machineName[0] != '\0' ? machineName : nullptr,
                                         databaseName != nullptr && databaseName[0] != '\0' ? databaseName : nullptr,
                                         access);
    if (manager == nullptr)
        failedCall();
    return reinterpret_cast<ServiceHandle>(manager);
}

ServiceHandle OpenServiceA(ServiceHandle manager, const char *serviceName, uint32_t access)
{
    if (scriptedFailure(ServiceCall::OpenService))
        return 0;
    SC_HANDLE service = ::OpenServiceA(scOf(manager), serviceName, access);
    if (service == nullptr)
        failedCall();
    return reinterpret_cast<ServiceHandle>(service);
}

ServiceHandle CreateServiceA(ServiceHandle manager, const char *serviceName, const char *displayName,
                             uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                             const char *binaryPathName, const char *loadOrderGroup, uint32_t *tagId,
                             const char *dependencies, const char *serviceStartName, const char *password)
{
    if (scriptedFailure(ServiceCall::CreateService))
        return 0;
    DWORD tag = 0;
    SC_HANDLE service = ::CreateServiceA(scOf(manager), serviceName, displayName, access, serviceType, startType,
                                         errorControl, binaryPathName, loadOrderGroup, tagId != nullptr ? &tag : nullptr,
                                         dependencies, serviceStartName, password);
    if (service == nullptr) {
        failedCall();
        return 0;
    }
    if (tagId != nullptr)
        *tagId = tag;
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.created.insert(fold(serviceName));
    return reinterpret_cast<ServiceHandle>(service);
}

bool ChangeServiceConfigA(ServiceHandle service, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                          const char *binaryPathName, const char *loadOrderGroup, uint32_t *tagId,
                          const char *dependencies, const char *serviceStartName, const char *password,
                          const char *displayName)
{
    if (scriptedFailure(ServiceCall::ChangeServiceConfig))
        return false;
    DWORD tag = 0;
    if (!::ChangeServiceConfigA(scOf(service), serviceType, startType, errorControl, binaryPathName, loadOrderGroup,
                                tagId != nullptr ? &tag : nullptr, dependencies, serviceStartName, password,
                                displayName))
        return failedCall();
    if (tagId != nullptr)
        *tagId = tag;
    return true;
}

bool ChangeServiceConfig2A(ServiceHandle service, uint32_t infoLevel, const void *info)
{
    if (scriptedFailure(ServiceCall::ChangeServiceConfig2))
        return false;
    if (infoLevel != SERVICE_CONFIG_FAILURE_ACTIONS || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    auto const *actions = static_cast<ServiceFailureActions const *>(info);
    std::vector<SC_ACTION> steps;
    for (uint32_t i = 0; i < actions->cActions; ++i)
        steps.push_back(SC_ACTION{static_cast<SC_ACTION_TYPE>(actions->lpsaActions[i].type),
                                  actions->lpsaActions[i].delay});
    std::string rebootMessage = actions->lpRebootMsg != nullptr ? actions->lpRebootMsg : "";
    std::string command = actions->lpCommand != nullptr ? actions->lpCommand : "";
    SERVICE_FAILURE_ACTIONSA system{};
    system.dwResetPeriod = actions->dwResetPeriod;
    system.lpRebootMsg = actions->lpRebootMsg != nullptr ? rebootMessage.data() : nullptr;
    system.lpCommand = actions->lpCommand != nullptr ? command.data() : nullptr;
    system.cActions = static_cast<DWORD>(steps.size());
    system.lpsaActions = steps.empty() ? nullptr : steps.data();
    if (!::ChangeServiceConfig2A(scOf(service), SERVICE_CONFIG_FAILURE_ACTIONS, &system))
        return failedCall();
    return true;
}

bool DeleteService(ServiceHandle service)
{
    if (scriptedFailure(ServiceCall::DeleteService))
        return false;
    if (!::DeleteService(scOf(service)))
        return failedCall();
    return true;
}

bool CloseServiceHandle(ServiceHandle handle)
{
    if (!::CloseServiceHandle(scOf(handle)))
        return failedCall();
    return true;
}

bool seam::QueryServiceEntry(const char *serviceName, ServiceEntry *entry)
{
    if (serviceName == nullptr || entry == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return failedCall();
    SC_HANDLE service = ::OpenServiceA(manager, serviceName, SERVICE_QUERY_CONFIG);
    bool ok = service != nullptr;
    std::vector<unsigned char> buffer;
    if (ok)
        ok = queryInto(buffer, [&](unsigned char *data, DWORD size, DWORD *needed) {
            return ::QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA *>(data), size, needed);
        });
    if (ok) {
        auto const *config = reinterpret_cast<QUERY_SERVICE_CONFIGA const *>(buffer.data());
        *entry = ServiceEntry{};
        entry->serviceName = serviceName;
        entry->displayName = config->lpDisplayName != nullptr ? config->lpDisplayName : "";
        entry->binaryPathName = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
        entry->serviceStartName = config->lpServiceStartName != nullptr ? config->lpServiceStartName : "";
        if (fold(entry->serviceStartName.c_str()) == "localsystem")
            entry->serviceStartName.clear();  // the local system account
        entry->serviceType = config->dwServiceType;
        entry->startType = config->dwStartType;
        entry->errorControl = config->dwErrorControl;
        if (queryInto(buffer, [&](unsigned char *data, DWORD size, DWORD *needed) {
                return ::QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, data, size, needed);
            })) {
            auto const *actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSA const *>(buffer.data());
            entry->resetPeriod = actions->dwResetPeriod;
            entry->hasRebootMessage = actions->lpRebootMsg != nullptr && actions->lpRebootMsg[0] != '\0';
            entry->rebootMessage = entry->hasRebootMessage ? actions->lpRebootMsg : "";
            entry->command = actions->lpCommand != nullptr ? actions->lpCommand : "";
            for (DWORD i = 0; i < actions->cActions; ++i)
                entry->failureActions.push_back(ScAction{static_cast<uint32_t>(actions->lpsaActions[i].Type),
                                                         actions->lpsaActions[i].Delay});
            entry->hasFailureActions = !entry->failureActions.empty();
        }
    }
    if (!ok)
        win32::SetLastFromSystem();
    if (service != nullptr)
        ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return ok;
}

std::vector<std::string> seam::ListServiceEntries()
{
    std::vector<std::string> names;
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr) {
        win32::SetLastFromSystem();
        return names;
    }
    std::vector<unsigned char> buffer(65536);
    DWORD needed = 0, count = 0, resume = 0;
    for (;;) {
        BOOL done = ::EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                                          reinterpret_cast<ENUM_SERVICE_STATUSA *>(buffer.data()),
                                          static_cast<DWORD>(buffer.size()), &needed, &count, &resume);
        if (!done && ::GetLastError() != ERROR_MORE_DATA)
            break;
        auto const *services = reinterpret_cast<ENUM_SERVICE_STATUSA const *>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            names.emplace_back(services[i].lpServiceName);
        if (done)
            break;
    }
    ::CloseServiceHandle(manager);
    return names;
}

// --- Accounts, rights and logon ---------------------------------------------

bool LookupAccountNameA(const char *systemName, const char *accountName, void *sid, uint32_t *sidSize,
                        char *referencedDomainName, uint32_t *domainSize, uint32_t *sidNameUse)
{
    if (scriptedFailure(ServiceCall::LookupAccountName))
        return false;
    if (sidSize == nullptr || domainSize == nullptr || sidNameUse == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD sidBytes = *sidSize, domainBytes = *domainSize;
    SID_NAME_USE use = SidTypeUnknown;
    BOOL ok = ::LookupAccountNameA(systemName, accountName, sid, &sidBytes, referencedDomainName, &domainBytes, &use);
    *sidSize = sidBytes;
    *domainSize = domainBytes;
    *sidNameUse = static_cast<uint32_t>(use);
    return ok ? true : failedCall();
}

NtStatus LsaOpenPolicy(LsaUnicodeString *systemName, LsaObjectAttributes *objectAttributes, uint32_t desiredAccess,
                       LsaHandle *policy)
{
    uint32_t code = 0;
    if (scriptedFailure(ServiceCall::LsaOpenPolicy, &code))
        return code;
    LSA_HANDLE handle = nullptr;
    NTSTATUS status = ::LsaOpenPolicy(reinterpret_cast<PLSA_UNICODE_STRING>(systemName),
                                      reinterpret_cast<PLSA_OBJECT_ATTRIBUTES>(objectAttributes), desiredAccess,
                                      &handle);
    if (policy != nullptr)
        *policy = reinterpret_cast<LsaHandle>(handle);
    return static_cast<NtStatus>(status);
}

NtStatus LsaAddAccountRights(LsaHandle policy, const void *accountSid, const LsaUnicodeString *rights,
                             uint32_t countOfRights)
{
    uint32_t code = 0;
    if (scriptedFailure(ServiceCall::LsaAddAccountRights, &code))
        return code;
    return static_cast<NtStatus>(::LsaAddAccountRights(
        reinterpret_cast<LSA_HANDLE>(policy), const_cast<PSID>(accountSid),
        reinterpret_cast<PLSA_UNICODE_STRING>(const_cast<LsaUnicodeString *>(rights)), countOfRights));
}

NtStatus LsaClose(LsaHandle policy) { return static_cast<NtStatus>(::LsaClose(reinterpret_cast<LSA_HANDLE>(policy))); }

uint32_t LsaNtStatusToWinError(NtStatus status) { return ::LsaNtStatusToWinError(static_cast<NTSTATUS>(status)); }

bool LogonUserA(const char *userName, const char *domain, const char *password, uint32_t logonType,
                uint32_t logonProvider, TokenHandle *token)
{
    if (scriptedFailure(ServiceCall::LogonUser))
        return false;
    HANDLE handle = nullptr;
    if (!::LogonUserA(userName, domain, password, logonType, logonProvider, &handle))
        return failedCall();
    if (token != nullptr)
        *token = reinterpret_cast<TokenHandle>(handle);
    else
        ::CloseHandle(handle);
    return true;
}

bool CloseTokenHandle(TokenHandle token)
{
    if (token != 0 && ::CloseHandle(reinterpret_cast<HANDLE>(token)))
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// --- The dispatcher -----------------------------------------------------------

bool StartServiceCtrlDispatcherA(const ServiceTableEntry *serviceTable)
{
    if (scriptedFailure(ServiceCall::StartServiceCtrlDispatcher))
        return false;
    if (serviceTable == nullptr || serviceTable[0].lpServiceName == nullptr || serviceTable[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::vector<std::string> names;
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        s.mains.clear();
        for (ServiceTableEntry const *entry = serviceTable; entry->lpServiceName != nullptr; ++entry) {
            s.mains.emplace_back(fold(entry->lpServiceName), entry->lpServiceProc);
            names.emplace_back(entry->lpServiceName);
        }
    }
    std::vector<SERVICE_TABLE_ENTRYA> table;
    for (std::string &name : names)
        table.push_back(SERVICE_TABLE_ENTRYA{name.data(), serviceMainTrampoline});
    table.push_back(SERVICE_TABLE_ENTRYA{nullptr, nullptr});
    if (!::StartServiceCtrlDispatcherA(table.data()))
        return failedCall();
    return true;
}

ServiceStatusHandle RegisterServiceCtrlHandlerA(const char *serviceName, HandlerFunction handler)
{
    if (scriptedFailure(ServiceCall::RegisterServiceCtrlHandler))
        return 0;
    if (serviceName == nullptr || handler == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Lives as long as the process: the system may call the handler until then.
    auto *context = new ControlHandler{serviceName, handler};
    SERVICE_STATUS_HANDLE status = ::RegisterServiceCtrlHandlerExA(serviceName, handlerTrampoline, context);
    if (status == nullptr) {
        delete context;
        failedCall();
        return 0;
    }
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.statusNames[reinterpret_cast<ServiceStatusHandle>(status)] = serviceName;
    return reinterpret_cast<ServiceStatusHandle>(status);
}

bool SetServiceStatus(ServiceStatusHandle statusHandle, const ServiceStatus *status)
{
    if (scriptedFailure(ServiceCall::SetServiceStatus))
        return false;
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        auto name = s.statusNames.find(statusHandle);
        s.reports.push_back(ServiceStatusReport{name != s.statusNames.end() ? name->second : std::string(), *status});
    }
    SERVICE_STATUS system{status->dwServiceType,   status->dwCurrentState,           status->dwControlsAccepted,
                          status->dwWin32ExitCode, status->dwServiceSpecificExitCode, status->dwCheckPoint,
                          status->dwWaitHint};
    if (!::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(statusHandle), &system))
        return failedCall();
    return true;
}

// --- Test seams ---------------------------------------------------------------

void seam::ResetServiceControl()
{
    std::set<std::string> created;
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        s.scriptedFailures.clear();
        s.managerRights = SC_MANAGER_ALL_ACCESS;
        s.reports.clear();
        created.swap(s.created);
    }
    if (created.empty())
        return;
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return;
    for (std::string const &name : created) {
        SC_HANDLE service = ::OpenServiceA(manager, name.c_str(), DELETE | SERVICE_STOP);
        if (service == nullptr)
            continue;
        SERVICE_STATUS ignored;
        ::ControlService(service, SERVICE_CONTROL_STOP, &ignored);
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

// The system's manager decides whether this process was started by it.
void seam::SetStartedByServiceControlManager(bool) {}

void seam::SetServiceControlManagerRights(uint32_t rights)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.managerRights = rights;
}

// Accounts are the system's; a test cannot add one.
void seam::AddServiceAccount(const char *, const char *, const char *) {}

bool seam::AccountHasRight(const char *userName, const char *right)
{
    if (userName == nullptr || right == nullptr)
        return false;
    unsigned char sid[SECURITY_MAX_SID_SIZE];
    char domain[256];
    DWORD sidSize = sizeof sid, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!::LookupAccountNameA(nullptr, userName, sid, &sidSize, domain, &domainSize, &use))
        return false;
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    if (::LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES, &policy) != 0)
        return false;
    PLSA_UNICODE_STRING rights = nullptr;
    ULONG count = 0;
    bool found = false;
    if (::LsaEnumerateAccountRights(policy, sid, &rights, &count) == 0) {
        std::string wanted = right;
        for (ULONG i = 0; i < count && !found; ++i) {
            std::string name;
            for (USHORT c = 0; c < rights[i].Length / 2; ++c)
                name += static_cast<char>(rights[i].Buffer[c]);
            found = name == wanted;
        }
        ::LsaFreeMemory(rights);
    }
    ::LsaClose(policy);
    return found;
}

void seam::SendServiceControl(const char *serviceName, uint32_t control)
{
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return;
    SC_HANDLE service = ::OpenServiceA(manager, serviceName, SERVICE_STOP | SERVICE_INTERROGATE |
                                                                 SERVICE_USER_DEFINED_CONTROL);
    if (service != nullptr) {
        SERVICE_STATUS ignored;
        ::ControlService(service, control, &ignored);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

std::vector<ServiceStatusReport> seam::TakeServiceStatusReports()
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<ServiceStatusReport> taken;
    taken.swap(s.reports);
    return taken;
}

void seam::FailNextServiceCall(ServiceCall call, uint32_t code)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.scriptedFailures[call] = code;
}

}  // namespace platform
