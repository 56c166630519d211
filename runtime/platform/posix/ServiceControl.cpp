#include "../ServiceControl.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "../LastError.h"

namespace platform {
namespace {

constexpr size_t kMaxServiceName = 256;
constexpr const char *kMachineName = "LOCALHOST";  // the domain of local accounts
constexpr uint32_t kSidSize = 28;  // revision, count, authority and five sub-authorities
constexpr char16_t kServiceLogonRight[] = u"SeServiceLogonRight";

enum class HandleKind { Manager, Service, Policy, Token, Status };

struct HandleRecord {
    HandleKind kind;
    uint32_t access;
    std::string key;     // the service's folded name, for service and status handles
    uint64_t serviceId;  // the entry the service handle was opened on
};

struct StoredService {
    uint64_t id;
    ServiceEntry entry;
};

struct Account {
    std::string domain;
    std::string userName;
    std::string password;
    uint32_t rid;
    std::vector<std::u16string> rights;
};

struct PendingControl {
    std::string key;
    uint32_t control;
};

struct ServiceControlState {
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, StoredService> services;  // by folded name
    uint64_t nextServiceId = 1;
    std::map<uintptr_t, HandleRecord> handles;
    uintptr_t nextHandle = 0x1000;
    std::vector<Account> accounts;
    uint32_t managerRights = SC_MANAGER_ALL_ACCESS;
    bool startedByManager = false;
    std::map<ServiceCall, uint32_t> scriptedFailures;
    std::deque<PendingControl> controls;
    std::vector<ServiceStatusReport> reports;

    // The dispatcher's one running service.
    bool dispatching = false;
    std::string dispatchKey;
    std::string dispatchName;
    HandlerFunction handler = nullptr;
    ServiceStatusHandle statusHandle = 0;
    bool hasReport = false;
    ServiceStatus lastReport{};
    bool mainReturned = false;
};

ServiceControlState &state()
{
    static ServiceControlState instance;
    return instance;
}

std::string fold(const char *text)
{
    std::string folded(text);
    for (char &c : folded)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

bool sameText(std::string const &a, std::string const &b) { return fold(a.c_str()) == fold(b.c_str()); }

// Takes a scripted failure for the call, if one is waiting. Lock held.
bool scriptedFailure(ServiceControlState &s, ServiceCall call, uint32_t *code)
{
    auto found = s.scriptedFailures.find(call);
    if (found == s.scriptedFailures.end())
        return false;
    *code = found->second;
    s.scriptedFailures.erase(found);
    return true;
}

bool fail(uint32_t code)
{
    SetLastError(code);
    return false;
}

uintptr_t newHandle(ServiceControlState &s, HandleRecord record)
{
    uintptr_t handle = s.nextHandle;
    s.nextHandle += 4;
    s.handles.emplace(handle, std::move(record));
    return handle;
}

HandleRecord *findHandle(ServiceControlState &s, uintptr_t handle, HandleKind kind)
{
    auto found = s.handles.find(handle);
    if (found == s.handles.end() || found->second.kind != kind)
        return nullptr;
    return &found->second;
}

uint32_t mapManagerAccess(uint32_t access)
{
    uint32_t mapped = access & 0x0FFFFFFF;
    if ((access & GENERIC_WRITE) != 0)
        mapped |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if ((access & GENERIC_ALL) != 0)
        mapped |= SC_MANAGER_ALL_ACCESS;
    return mapped;
}

uint32_t mapServiceAccess(uint32_t access)
{
    uint32_t mapped = access & 0x0FFFFFFF;
    if ((access & GENERIC_WRITE) != 0)
        mapped |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    if ((access & GENERIC_ALL) != 0)
        mapped |= SERVICE_ALL_ACCESS;
    return mapped;
}

bool validName(const char *name) { return name != nullptr && name[0] != '\0' && std::strlen(name) <= kMaxServiceName; }

// The service a service handle refers to; sets the last error when there is none.
StoredService *serviceOf(ServiceControlState &s, ServiceHandle handle, uint32_t neededAccess)
{
    HandleRecord *record = findHandle(s, handle, HandleKind::Service);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto found = s.services.find(record->key);
    if (found == s.services.end() || found->second.id != record->serviceId) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return nullptr;
    }
    if ((record->access & neededAccess) != neededAccess) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return &found->second;
}

// Splits "DOMAIN\user" into its parts; a bare name has an empty domain.
void splitAccountName(const char *name, std::string *domain, std::string *user)
{
    const char *slash = std::strchr(name, '\\');
    if (slash == nullptr) {
        domain->clear();
        *user = name;
    } else {
        domain->assign(name, slash);
        *user = slash + 1;
    }
}

Account *findAccount(ServiceControlState &s, const char *domain, const char *name)
{
    std::string namedDomain, user;
    splitAccountName(name, &namedDomain, &user);
    if (namedDomain.empty() && domain != nullptr)
        namedDomain = domain;
    for (Account &account : s.accounts)
        if (sameText(account.userName, user) && (namedDomain.empty() || sameText(account.domain, namedDomain)))
            return &account;
    return nullptr;
}

Account *findAccountBySid(ServiceControlState &s, const void *sid)
{
    const auto *bytes = static_cast<const uint8_t *>(sid);
    if (bytes[0] != 1 || bytes[1] != 5)
        return nullptr;
    uint32_t rid;
    std::memcpy(&rid, bytes + kSidSize - 4, sizeof(rid));
    for (Account &account : s.accounts)
        if (account.rid == rid)
            return &account;
    return nullptr;
}

void writeSid(Account const &account, void *sid)
{
    uint8_t bytes[kSidSize] = {1, 5, 0, 0, 0, 0, 0, 5};  // S-1-5-
    const uint32_t subAuthorities[5] = {21, 0x5A17AEC4, 0x0C0FFEE5, 0x2BADF00D, account.rid};
    std::memcpy(bytes + 8, subAuthorities, sizeof(subAuthorities));
    std::memcpy(sid, bytes, kSidSize);
}

bool acceptsControl(ServiceStatus const &status, uint32_t control)
{
    if (status.dwCurrentState == SERVICE_STOPPED)
        return false;
    switch (control) {
    case SERVICE_CONTROL_STOP: return (status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0;
    case SERVICE_CONTROL_SHUTDOWN: return (status.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) != 0;
    default: return true;
    }
}

// The next control the dispatcher may deliver now. Lock held.
bool takeDeliverableControl(ServiceControlState &s, uint32_t *control)
{
    if (s.handler == nullptr || !s.hasReport)
        return false;
    for (auto it = s.controls.begin(); it != s.controls.end(); ++it) {
        if (it->key == s.dispatchKey && acceptsControl(s.lastReport, it->control)) {
            *control = it->control;
            s.controls.erase(it);
            return true;
        }
    }
    return false;
}

struct MessageText {
    uint32_t code;
    const char *text;
};

constexpr MessageText kServiceMessages[] = {
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_INVALID_SERVICE_CONTROL, "The requested control is not valid for this service."},
    {ERROR_SERVICE_ALREADY_RUNNING, "An instance of the service is already running."},
    {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service."},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "The service cannot accept control messages at this time."},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "The service process could not connect to the service controller."},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "The specified service has been marked for deletion."},
    {ERROR_SERVICE_EXISTS, "The specified service already exists."},
    {ERROR_NO_SUCH_PRIVILEGE, "A specified privilege does not exist."},
    {ERROR_LOGON_FAILURE, "The user name or password is incorrect."},
    {ERROR_NONE_MAPPED, "No mapping between account names and security IDs was done."},
    {ERROR_LOGON_TYPE_NOT_GRANTED,
     "Logon failure: the user has not been granted the requested logon type at this computer."},
};

}  // namespace

// --- The service database ---------------------------------------------------

ServiceHandle OpenSCManagerA(const char *machineName, const char *, uint32_t access)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::OpenSCManager, &code))
        return fail(code), 0;
    if (machineName != nullptr && machineName[0] != '\0')
        return fail(1722), 0;  // RPC_S_SERVER_UNAVAILABLE: only the local machine is here
    uint32_t mapped = mapManagerAccess(access) | SC_MANAGER_CONNECT;
    if ((mapped & ~s.managerRights) != 0)
        return fail(ERROR_ACCESS_DENIED), 0;
    return newHandle(s, HandleRecord{HandleKind::Manager, mapped, std::string(), 0});
}

ServiceHandle OpenServiceA(ServiceHandle manager, const char *serviceName, uint32_t access)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::OpenService, &code))
        return fail(code), 0;
    if (findHandle(s, manager, HandleKind::Manager) == nullptr)
        return fail(ERROR_INVALID_HANDLE), 0;
    if (!validName(serviceName))
        return fail(ERROR_INVALID_NAME), 0;
    auto found = s.services.find(fold(serviceName));
    if (found == s.services.end())
        return fail(ERROR_SERVICE_DOES_NOT_EXIST), 0;
    return newHandle(s, HandleRecord{HandleKind::Service, mapServiceAccess(access), found->first, found->second.id});
}

ServiceHandle CreateServiceA(ServiceHandle manager, const char *serviceName, const char *displayName,
                             uint32_t access, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                             const char *binaryPathName, const char *, uint32_t *tagId, const char *,
                             const char *serviceStartName, const char *password)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::CreateService, &code))
        return fail(code), 0;
    HandleRecord *managerRecord = findHandle(s, manager, HandleKind::Manager);
    if (managerRecord == nullptr)
        return fail(ERROR_INVALID_HANDLE), 0;
    if ((managerRecord->access & SC_MANAGER_CREATE_SERVICE) == 0)
        return fail(ERROR_ACCESS_DENIED), 0;
    if (!validName(serviceName) || std::strchr(serviceName, '/') != nullptr || std::strchr(serviceName, '\\'))
        return fail(ERROR_INVALID_NAME), 0;
    if (binaryPathName == nullptr || binaryPathName[0] == '\0')
        return fail(ERROR_INVALID_PARAMETER), 0;
    std::string key = fold(serviceName);
    if (s.services.count(key) != 0)
        return fail(ERROR_SERVICE_EXISTS), 0;

    StoredService stored;
    stored.id = s.nextServiceId++;
    stored.entry.serviceName = serviceName;
    stored.entry.displayName = displayName != nullptr ? displayName : serviceName;
    stored.entry.binaryPathName = binaryPathName;
    stored.entry.serviceStartName = serviceStartName != nullptr ? serviceStartName : "";
    stored.entry.password = password != nullptr ? password : "";
    stored.entry.serviceType = serviceType;
    stored.entry.startType = startType;
    stored.entry.errorControl = errorControl;
    if (tagId != nullptr)
        *tagId = 0;
    uint64_t id = stored.id;
    s.services.emplace(key, std::move(stored));
    return newHandle(s, HandleRecord{HandleKind::Service, mapServiceAccess(access), key, id});
}

bool ChangeServiceConfigA(ServiceHandle service, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                          const char *binaryPathName, const char *, uint32_t *tagId, const char *,
                          const char *serviceStartName, const char *password, const char *displayName)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::ChangeServiceConfig, &code))
        return fail(code);
    StoredService *stored = serviceOf(s, service, SERVICE_CHANGE_CONFIG);
    if (stored == nullptr)
        return false;
    ServiceEntry &entry = stored->entry;
    if (serviceType != SERVICE_NO_CHANGE)
        entry.serviceType = serviceType;
    if (startType != SERVICE_NO_CHANGE)
        entry.startType = startType;
    if (errorControl != SERVICE_NO_CHANGE)
        entry.errorControl = errorControl;
    if (binaryPathName != nullptr)
        entry.binaryPathName = binaryPathName;
    if (serviceStartName != nullptr)
        entry.serviceStartName = serviceStartName;
    if (password != nullptr)
        entry.password = password;
    if (displayName != nullptr)
        entry.displayName = displayName;
    if (tagId != nullptr)
        *tagId = 0;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool ChangeServiceConfig2A(ServiceHandle service, uint32_t infoLevel, const void *info)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::ChangeServiceConfig2, &code))
        return fail(code);
    StoredService *stored = serviceOf(s, service, SERVICE_CHANGE_CONFIG);
    if (stored == nullptr)
        return false;
    if (infoLevel != SERVICE_CONFIG_FAILURE_ACTIONS || info == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    const auto *actions = static_cast<const ServiceFailureActions *>(info);
    if (actions->cActions != 0 && actions->lpsaActions == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    for (uint32_t i = 0; i < actions->cActions; ++i) {
        if (actions->lpsaActions[i].type == SC_ACTION_RESTART &&
            (s.handles[service].access & SERVICE_START) == 0)
            return fail(ERROR_ACCESS_DENIED);
    }
    ServiceEntry &entry = stored->entry;
    entry.hasFailureActions = true;
    entry.resetPeriod = actions->dwResetPeriod;
    entry.hasRebootMessage = actions->lpRebootMsg != nullptr;
    entry.rebootMessage = actions->lpRebootMsg != nullptr ? actions->lpRebootMsg : "";
    if (actions->lpCommand != nullptr)
        entry.command = actions->lpCommand;
    if (actions->lpsaActions != nullptr)
        entry.failureActions.assign(actions->lpsaActions, actions->lpsaActions + actions->cActions);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool DeleteService(ServiceHandle service)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::DeleteService, &code))
        return fail(code);
    StoredService *stored = serviceOf(s, service, DELETE);
    if (stored == nullptr)
        return false;
    s.services.erase(s.handles[service].key);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool CloseServiceHandle(ServiceHandle handle)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto found = s.handles.find(handle);
    if (found == s.handles.end() ||
        (found->second.kind != HandleKind::Manager && found->second.kind != HandleKind::Service))
        return fail(ERROR_INVALID_HANDLE);
    s.handles.erase(found);
    return true;
}

bool QueryServiceEntry(const char *serviceName, ServiceEntry *entry)
{
    if (serviceName == nullptr || entry == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto found = s.services.find(fold(serviceName));
    if (found == s.services.end())
        return fail(ERROR_SERVICE_DOES_NOT_EXIST);
    *entry = found->second.entry;
    return true;
}

std::vector<std::string> ListServiceEntries()
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<std::string> names;
    for (auto const &service : s.services)
        names.push_back(service.second.entry.serviceName);
    return names;
}

// --- Accounts, rights and logon ---------------------------------------------

bool LookupAccountNameA(const char *systemName, const char *accountName, void *sid, uint32_t *sidSize,
                        char *referencedDomainName, uint32_t *domainSize, uint32_t *sidNameUse)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::LookupAccountName, &code))
        return fail(code);
    if (accountName == nullptr || sidSize == nullptr || domainSize == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (systemName != nullptr && systemName[0] != '\0')
        return fail(ERROR_NONE_MAPPED);
    Account *account = findAccount(s, nullptr, accountName);
    if (account == nullptr)
        return fail(ERROR_NONE_MAPPED);
    uint32_t domainNeeded = static_cast<uint32_t>(account->domain.size()) + 1;
    if (sid == nullptr || *sidSize < kSidSize || referencedDomainName == nullptr || *domainSize < domainNeeded) {
        *sidSize = kSidSize;
        *domainSize = domainNeeded;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    writeSid(*account, sid);
    *sidSize = kSidSize;
    std::memcpy(referencedDomainName, account->domain.c_str(), domainNeeded);
    *domainSize = domainNeeded - 1;
    if (sidNameUse != nullptr)
        *sidNameUse = 1;  // SidTypeUser
    SetLastError(ERROR_SUCCESS);
    return true;
}

NtStatus LsaOpenPolicy(LsaUnicodeString *systemName, LsaObjectAttributes *objectAttributes, uint32_t desiredAccess,
                       LsaHandle *policy)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::LsaOpenPolicy, &code))
        return code;
    if (objectAttributes == nullptr || policy == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (systemName != nullptr && systemName->Length != 0)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    *policy = newHandle(s, HandleRecord{HandleKind::Policy, desiredAccess, std::string(), 0});
    return STATUS_SUCCESS;
}

NtStatus LsaAddAccountRights(LsaHandle policy, const void *accountSid, const LsaUnicodeString *rights,
                             uint32_t countOfRights)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::LsaAddAccountRights, &code))
        return code;
    HandleRecord *record = findHandle(s, policy, HandleKind::Policy);
    if (record == nullptr)
        return STATUS_INVALID_HANDLE;
    constexpr uint32_t needed = POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES;
    if ((record->access & needed) != needed)
        return STATUS_ACCESS_DENIED;
    if (accountSid == nullptr || (countOfRights != 0 && rights == nullptr))
        return STATUS_INVALID_PARAMETER;
    Account *account = findAccountBySid(s, accountSid);
    if (account == nullptr)
        return STATUS_INVALID_SID;
    std::vector<std::u16string> granted;
    for (uint32_t i = 0; i < countOfRights; ++i) {
        LsaUnicodeString const &right = rights[i];
        if (right.Buffer == nullptr || (right.Length % 2) != 0 || right.Length > right.MaximumLength)
            return STATUS_INVALID_PARAMETER;
        std::u16string name(right.Buffer, right.Length / 2);
        if (name != kServiceLogonRight)
            return STATUS_NO_SUCH_PRIVILEGE;
        granted.push_back(std::move(name));
    }
    for (auto &right : granted)
        if (std::find(account->rights.begin(), account->rights.end(), right) == account->rights.end())
            account->rights.push_back(std::move(right));
    return STATUS_SUCCESS;
}

NtStatus LsaClose(LsaHandle policy)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (findHandle(s, policy, HandleKind::Policy) == nullptr)
        return STATUS_INVALID_HANDLE;
    s.handles.erase(policy);
    return STATUS_SUCCESS;
}

uint32_t LsaNtStatusToWinError(NtStatus status)
{
    switch (status) {
    case STATUS_SUCCESS: return ERROR_SUCCESS;
    case STATUS_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER: return ERROR_INVALID_PARAMETER;
    case STATUS_ACCESS_DENIED: return ERROR_ACCESS_DENIED;
    case STATUS_OBJECT_NAME_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
    case STATUS_NO_SUCH_PRIVILEGE: return ERROR_NO_SUCH_PRIVILEGE;
    case STATUS_INVALID_SID: return 1337;  // ERROR_INVALID_SID
    default: return 317;                   // ERROR_MR_MID_NOT_FOUND
    }
}

bool LogonUserA(const char *userName, const char *domain, const char *password, uint32_t logonType, uint32_t,
                TokenHandle *token)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::LogonUser, &code))
        return fail(code);
    if (userName == nullptr || token == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    *token = 0;
    Account *account = findAccount(s, domain, userName);
    if (account == nullptr || account->password != (password != nullptr ? password : ""))
        return fail(ERROR_LOGON_FAILURE);
    if (logonType == LOGON32_LOGON_SERVICE &&
        std::find(account->rights.begin(), account->rights.end(), kServiceLogonRight) == account->rights.end())
        return fail(ERROR_LOGON_TYPE_NOT_GRANTED);
    *token = newHandle(s, HandleRecord{HandleKind::Token, 0, std::string(), 0});
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool CloseTokenHandle(TokenHandle token)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (findHandle(s, token, HandleKind::Token) == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    s.handles.erase(token);
    return true;
}

std::string FormatServiceMessage(uint32_t code)
{
    for (auto const &message : kServiceMessages)
        if (message.code == code)
            return std::string(message.text) + "\r\n";
    return FormatSystemMessage(code);
}

// --- The dispatcher -----------------------------------------------------------

bool StartServiceCtrlDispatcherA(const ServiceTableEntry *serviceTable)
{
    ServiceControlState &s = state();
    std::unique_lock<std::mutex> lock(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::StartServiceCtrlDispatcher, &code))
        return fail(code);
    if (serviceTable == nullptr || serviceTable[0].lpServiceProc == nullptr ||
        !validName(serviceTable[0].lpServiceName))
        return fail(ERROR_INVALID_PARAMETER);
    if (!s.startedByManager)
        return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    if (s.dispatching)
        return fail(ERROR_SERVICE_ALREADY_RUNNING);

    s.dispatching = true;
    s.dispatchName = serviceTable[0].lpServiceName;
    s.dispatchKey = fold(serviceTable[0].lpServiceName);
    s.handler = nullptr;
    s.statusHandle = 0;
    s.hasReport = false;
    s.mainReturned = false;

    std::vector<char> argument(s.dispatchName.begin(), s.dispatchName.end());
    argument.push_back('\0');
    char *argv[2] = {argument.data(), nullptr};
    ServiceMainFunction serviceMain = serviceTable[0].lpServiceProc;
    std::thread mainThread([&s, serviceMain, &argv] {
        serviceMain(1, argv);
        std::lock_guard<std::mutex> guard(s.lock);
        s.mainReturned = true;
        s.changed.notify_all();
    });

    for (;;) {
        uint32_t control = 0;
        s.changed.wait(lock, [&] { return s.mainReturned || takeDeliverableControl(s, &control); });
        if (s.mainReturned)
            break;
        // The handler runs on this thread without the lock, so it may report.
        HandlerFunction handler = s.handler;
        lock.unlock();
        handler(control);
        lock.lock();
    }

    if (s.statusHandle != 0)
        s.handles.erase(s.statusHandle);
    s.controls.erase(std::remove_if(s.controls.begin(), s.controls.end(),
                                    [&](PendingControl const &pending) { return pending.key == s.dispatchKey; }),
                     s.controls.end());
    s.handler = nullptr;
    s.statusHandle = 0;
    s.dispatching = false;
    lock.unlock();
    mainThread.join();
    SetLastError(ERROR_SUCCESS);
    return true;
}

ServiceStatusHandle RegisterServiceCtrlHandlerA(const char *serviceName, HandlerFunction handler)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::RegisterServiceCtrlHandler, &code))
        return fail(code), 0;
    if (handler == nullptr)
        return fail(ERROR_INVALID_PARAMETER), 0;
    if (!s.dispatching || serviceName == nullptr || fold(serviceName) != s.dispatchKey)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST), 0;
    if (s.statusHandle != 0)
        s.handles.erase(s.statusHandle);
    s.handler = handler;
    s.statusHandle = newHandle(s, HandleRecord{HandleKind::Status, 0, s.dispatchKey, 0});
    s.changed.notify_all();
    return s.statusHandle;
}

bool SetServiceStatus(ServiceStatusHandle statusHandle, const ServiceStatus *status)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::SetServiceStatus, &code))
        return fail(code);
    if (findHandle(s, statusHandle, HandleKind::Status) == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if (status == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    s.lastReport = *status;
    s.hasReport = true;
    s.reports.push_back(ServiceStatusReport{s.dispatchName, *status});
    s.changed.notify_all();
    return true;
}

// --- Test seams ---------------------------------------------------------------

void ResetServiceControl()
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.services.clear();
    s.accounts.clear();
    s.managerRights = SC_MANAGER_ALL_ACCESS;
    s.startedByManager = false;
    s.scriptedFailures.clear();
    s.controls.clear();
    s.reports.clear();
    // Handles of a dispatcher still running stay valid until it returns.
    for (auto it = s.handles.begin(); it != s.handles.end();) {
        if (it->first == s.statusHandle && s.dispatching)
            ++it;
        else
            it = s.handles.erase(it);
    }
}

void SetStartedByServiceControlManager(bool started)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.startedByManager = started;
}

void SetServiceControlManagerRights(uint32_t rights)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.managerRights = rights;
}

void AddServiceAccount(const char *domain, const char *userName, const char *password)
{
    if (userName == nullptr)
        return;
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Account account;
    account.domain = domain != nullptr && domain[0] != '\0' ? domain : kMachineName;
    account.userName = userName;
    account.password = password != nullptr ? password : "";
    account.rid = 1000 + static_cast<uint32_t>(s.accounts.size());
    s.accounts.push_back(std::move(account));
}

bool AccountHasRight(const char *userName, const char *right)
{
    if (userName == nullptr || right == nullptr)
        return false;
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Account *account = findAccount(s, nullptr, userName);
    if (account == nullptr)
        return false;
    std::u16string wide(right, right + std::strlen(right));
    return std::find(account->rights.begin(), account->rights.end(), wide) != account->rights.end();
}

void SendServiceControl(const char *serviceName, uint32_t control)
{
    if (serviceName == nullptr)
        return;
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.controls.push_back(PendingControl{fold(serviceName), control});
    s.changed.notify_all();
}

std::vector<ServiceStatusReport> TakeServiceStatusReports()
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<ServiceStatusReport> taken;
    taken.swap(s.reports);
    return taken;
}

void FailNextServiceCall(ServiceCall call, uint32_t code)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.scriptedFailures[call] = code;
}

}  // namespace platform
