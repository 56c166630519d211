#include "../ServiceControl.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "../ChildProcess.h"
#include "../DriveMap.h"
#include "../LastError.h"
#include "ErrorTranslation.h"
#include "ProgramSearch.h"
#include "Systemd.h"
#include "../../testing/TestSeams.h"

// The service control manager is systemd. A service is a unit file in the
// manager's unit directory (Systemd.h): creating, reconfiguring and deleting a
// service write or remove that file and tell the manager through systemctl
// (daemon-reload, enable, disable, stop). A program the manager starts from
// such a unit runs under the dispatcher: SIGTERM and SIGINT are its stop
// control, and its reports of running and stopping reach the manager over
// the notification socket. Accounts come from the system's account database,
// besides those a test adds; the security authority's rights are recorded
// here, since any account can run a unit.
namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxServiceName = 256;
constexpr const char *kMachineName = "LOCALHOST";  // the domain of local accounts
constexpr uint32_t kSidSize = 28;  // revision, count, authority and five sub-authorities
constexpr uint32_t kTestAccounts = 0x2BADF00D;    // the sub-authority before a test account's rid
constexpr uint32_t kSystemAccounts = 0x554E4958;  // ... and before a system account's user id
constexpr char16_t kServiceLogonRight[] = u"SeServiceLogonRight";
constexpr uint32_t kServiceDisabled = 4;  // SERVICE_DISABLED

// Windows codes for what systemd answers.
constexpr uint32_t ERROR_INVALID_SERVICE_ACCOUNT = 1057;
constexpr uint32_t RPC_S_SERVER_UNAVAILABLE = 1722;  // systemctl failed: the manager did not do it

enum class HandleKind { Manager, Service, Policy, Token, Status };

struct HandleRecord {
    HandleKind kind;
    uint32_t access;
    systemd::Scope scope;  // manager and service handles
    std::string unit;      // service handles: the unit file's name
};

struct Account {
    std::string domain;
    std::string userName;
    std::string password;
    uint32_t rid;  // a test account's number, or a system account's user id
    bool system;   // from the system's database: its password is not asked for
    std::vector<std::u16string> rights;
};

struct PendingControl {
    std::string key;
    uint32_t control;
};

struct ServiceControlState {
    std::mutex lock;
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
    std::string notifySocket;  // the manager's, taken from NOTIFY_SOCKET
    bool readySent = false;
    bool stoppingSent = false;
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

// --- Unit files ------------------------------------------------------------------

// The unit file of a service in the directory: its own name, or one that
// differs only in case, as service names do not count case. "" when none.
std::string findUnit(std::string const &directory, std::string const &serviceName)
{
    std::string const unit = systemd::UnitName(serviceName);
    std::error_code error;
    if (unit.empty())
        return std::string();
    if (fs::is_regular_file(fs::path(directory) / unit, error))
        return unit;
    for (auto const &entry : fs::directory_iterator(directory, error)) {
        std::string const name = entry.path().filename().string();
        if (entry.is_regular_file(error) && sameText(systemd::ServiceName(name), serviceName))
            return name;
    }
    return std::string();
}

bool readUnit(systemd::Scope const &scope, std::string const &unit, std::string &text)
{
    std::ifstream in(fs::path(scope.unitDirectory) / unit, std::ios::binary);
    if (!in)
        return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Writes the unit whole: a reader never sees half of it.
bool writeUnit(systemd::Scope const &scope, std::string const &unit, std::string const &text)
{
    std::error_code error;
    fs::create_directories(scope.unitDirectory, error);
    fs::path const file = fs::path(scope.unitDirectory) / unit;
    fs::path const partial = fs::path(scope.unitDirectory) / ("." + unit + ".partial");
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!(out << text) || !out.flush()) {
            fs::remove(partial, error);
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                 fs::perms::others_read,
                    error);
    fs::rename(partial, file, error);
    if (error) {
        fs::remove(partial, error);
        return fail(posix::SystemErrorFromErrno(EACCES));
    }
    return true;
}

// Runs systemctl; a call it refuses, or that cannot run, fails with the last error set.
bool systemctl(systemd::Scope const &scope, std::vector<std::string> const &arguments)
{
    int const status = systemd::Systemctl(scope, arguments);
    if (status == 0)
        return true;
    return fail(status < 0 ? posix::SystemErrorFromErrno(errno) : RPC_S_SERVER_UNAVAILABLE);
}

// The manager's new view of the unit: reloaded, and enabled or disabled as
// the start type asks.
bool applyUnit(systemd::Scope const &scope, std::string const &unit, uint32_t startType)
{
    if (!systemctl(scope, {"daemon-reload"}))
        return false;
    if (startType == SERVICE_AUTO_START)
        return systemctl(scope, {"enable", unit});
    if (startType == SERVICE_DEMAND_START || startType == kServiceDisabled)
        return systemctl(scope, {"disable", unit});
    return true;
}

std::string currentUserName()
{
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::string();
}

// The User= of an account: "DOMAIN\name" and ".\name" run as name; none, and
// LocalSystem, as the manager's own account. A user's manager runs units as
// that user only. False for an account the unit cannot run as.
bool unitUser(const char *account, bool userScope, std::string &user)
{
    user.clear();
    if (account == nullptr || account[0] == '\0')
        return true;
    std::string name = account;
    size_t const slash = name.rfind('\\');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (sameText(name, "LocalSystem"))
        return true;
    if (!userScope) {
        user = name;
        return !name.empty();
    }
    return name == currentUserName();
}

// ExecStart= of a Windows command line: the program through the drive map,
// made absolute, and its arguments. An unquoted path with blanks names the
// program when such a file exists, as Windows' service manager reads it.
std::vector<std::string> unitCommand(const char *binaryPathName)
{
    auto absolute = [](std::string path) {
        std::error_code error;
        return path.empty() || path[0] == '/' ? path : fs::absolute(path, error).lexically_normal().string();
    };
    std::string const whole = absolute(HostProgramPath(binaryPathName));
    if (!whole.empty() && std::strchr(binaryPathName, '"') == nullptr && ::access(whole.c_str(), X_OK) == 0)
        return {whole};
    std::vector<std::string> words = SplitCommandLine(binaryPathName);
    if (words.empty())
        return words;
    words[0] = absolute(HostProgramPath(words[0].c_str()));
    if (words[0].empty())
        words.clear();
    return words;
}

// The Windows command line of a unit's command, its program in the Windows view.
std::string windowsCommandLine(std::vector<std::string> const &command)
{
    std::string line;
    for (size_t i = 0; i < command.size(); ++i) {
        std::string const word = i == 0 ? WindowsPath(command[0]) : command[i];
        if (i > 0)
            line += ' ';
        if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) {
            line += word;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : word) {
            if (c == '\\') {
                ++backslashes;
            } else {
                line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
                backslashes = 0;
            }
            if (c != '\\')
                line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

// Whether the process may write units into the directory, or create it.
bool mayWriteUnits(std::string const &directory)
{
    fs::path path(directory);
    std::error_code error;
    while (!path.empty() && !fs::exists(path, error) && path.has_parent_path() && path.parent_path() != path)
        path = path.parent_path();
    return ::access(path.c_str(), W_OK | X_OK) == 0;
}

// --- Accounts ------------------------------------------------------------------

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

bool thisMachine(std::string const &domain)
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return domain.empty() || domain == "." || sameText(domain, kMachineName) || sameText(domain, host);
}

// An account a test added, else one of the system's database. Lock held.
Account *findAccount(ServiceControlState &s, const char *domain, const char *name)
{
    std::string namedDomain, user;
    splitAccountName(name, &namedDomain, &user);
    if (namedDomain.empty() && domain != nullptr)
        namedDomain = domain;
    for (Account &account : s.accounts)
        if (sameText(account.userName, user) && (namedDomain.empty() || sameText(account.domain, namedDomain)))
            return &account;
    if (user.empty() || !thisMachine(namedDomain))
        return nullptr;
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(user.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return nullptr;
    s.accounts.push_back(Account{kMachineName, found->pw_name, std::string(), found->pw_uid, true, {}});
    return &s.accounts.back();
}

Account *findAccountBySid(ServiceControlState &s, const void *sid)
{
    const auto *bytes = static_cast<const uint8_t *>(sid);
    if (bytes[0] != 1 || bytes[1] != 5)
        return nullptr;
    uint32_t kind, rid;
    std::memcpy(&kind, bytes + kSidSize - 8, sizeof(kind));
    std::memcpy(&rid, bytes + kSidSize - 4, sizeof(rid));
    for (Account &account : s.accounts)
        if (account.rid == rid && kind == (account.system ? kSystemAccounts : kTestAccounts))
            return &account;
    return nullptr;
}

void writeSid(Account const &account, void *sid)
{
    uint8_t bytes[kSidSize] = {1, 5, 0, 0, 0, 0, 0, 5};  // S-1-5-
    const uint32_t subAuthorities[5] = {21, 0x5A17AEC4, 0x0C0FFEE5, account.system ? kSystemAccounts : kTestAccounts,
                                        account.rid};
    std::memcpy(bytes + 8, subAuthorities, sizeof(subAuthorities));
    std::memcpy(sid, bytes, kSidSize);
}

// --- The dispatcher's wake-ups ------------------------------------------------

// The dispatcher sleeps on a pipe that every change it waits for writes to,
// the stop signals included (a write is all a signal handler may do). The
// pipe lives as long as the process, so a late signal never writes elsewhere.
std::once_flag g_wakeOnce;
int g_wakeRead = -1;
std::atomic<int> g_wakeWrite{-1};
std::atomic<bool> g_stopSignalled{false};

void wakeDispatcher()
{
    int const fd = g_wakeWrite.load();
    if (fd >= 0) {
        char const byte = 1;
        [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);  // a full pipe is awake already
    }
}

void onStopSignal(int)
{
    int const saved = errno;
    g_stopSignalled.store(true);
    wakeDispatcher();
    errno = saved;
}

bool openWakePipe()
{
    std::call_once(g_wakeOnce, [] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            g_wakeRead = ends[0];
            g_wakeWrite.store(ends[1]);
        }
    });
    return g_wakeRead >= 0;
}

void sleepUntilWoken()
{
    struct pollfd wait = {g_wakeRead, POLLIN, 0};
    ::poll(&wait, 1, -1);
    char bytes[64];
    while (::read(g_wakeRead, bytes, sizeof bytes) > 0) {
    }
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
        return fail(RPC_S_SERVER_UNAVAILABLE), 0;  // only the local machine's manager is reached
    uint32_t mapped = mapManagerAccess(access) | SC_MANAGER_CONNECT;
    if ((mapped & ~s.managerRights) != 0)
        return fail(ERROR_ACCESS_DENIED), 0;
    systemd::Scope scope = systemd::CurrentScope();
    if (posix::FindProgram(scope.systemctl).empty())
        return fail(ERROR_FILE_NOT_FOUND), 0;  // no systemd here
    constexpr uint32_t writing = SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if ((mapped & writing) != 0 && !mayWriteUnits(scope.unitDirectory))
        return fail(ERROR_ACCESS_DENIED), 0;
    return newHandle(s, HandleRecord{HandleKind::Manager, mapped, std::move(scope), std::string()});
}

ServiceHandle OpenServiceA(ServiceHandle manager, const char *serviceName, uint32_t access)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::OpenService, &code))
        return fail(code), 0;
    HandleRecord *record = findHandle(s, manager, HandleKind::Manager);
    if (record == nullptr)
        return fail(ERROR_INVALID_HANDLE), 0;
    if (!validName(serviceName) || systemd::UnitName(serviceName).empty())
        return fail(ERROR_INVALID_NAME), 0;
    std::string unit = findUnit(record->scope.unitDirectory, serviceName);
    if (unit.empty())
        return fail(ERROR_SERVICE_DOES_NOT_EXIST), 0;
    return newHandle(s, HandleRecord{HandleKind::Service, mapServiceAccess(access), record->scope, std::move(unit)});
}

ServiceHandle CreateServiceA(ServiceHandle manager, const char *serviceName, const char *displayName,
                             uint32_t access, uint32_t, uint32_t startType, uint32_t, const char *binaryPathName,
                             const char *, uint32_t *tagId, const char *dependencies, const char *serviceStartName,
                             const char *)
{
    ServiceControlState &s = state();
    std::unique_lock<std::mutex> lock(s.lock);
    uint32_t code;
    if (scriptedFailure(s, ServiceCall::CreateService, &code))
        return fail(code), 0;
    HandleRecord *managerRecord = findHandle(s, manager, HandleKind::Manager);
    if (managerRecord == nullptr)
        return fail(ERROR_INVALID_HANDLE), 0;
    if ((managerRecord->access & SC_MANAGER_CREATE_SERVICE) == 0)
        return fail(ERROR_ACCESS_DENIED), 0;
    systemd::Scope const scope = managerRecord->scope;
    lock.unlock();

    if (!validName(serviceName) || std::strchr(serviceName, '/') != nullptr || std::strchr(serviceName, '\\'))
        return fail(ERROR_INVALID_NAME), 0;
    std::string const unit = systemd::UnitName(serviceName);
    if (unit.empty())
        return fail(ERROR_INVALID_NAME), 0;
    if (binaryPathName == nullptr || binaryPathName[0] == '\0')
        return fail(ERROR_INVALID_PARAMETER), 0;
    if (!findUnit(scope.unitDirectory, serviceName).empty())
        return fail(ERROR_SERVICE_EXISTS), 0;

    systemd::UnitConfig config;
    config.serviceName = serviceName;
    config.description = displayName != nullptr ? displayName : serviceName;
    config.command = unitCommand(binaryPathName);
    if (config.command.empty())
        return fail(ERROR_PATH_NOT_FOUND), 0;
    config.workingDirectory = fs::path(config.command[0]).parent_path().string();
    if (!unitUser(serviceStartName, scope.user, config.user))
        return fail(ERROR_INVALID_SERVICE_ACCOUNT), 0;
    for (const char *dependency = dependencies; dependency != nullptr && *dependency != '\0';
         dependency += std::strlen(dependency) + 1)
        if (dependency[0] != '+')  // load-order groups have no counterpart
            config.dependencies.push_back(systemd::UnitName(dependency));
    std::string text;
    systemd::FormatUnit(config, scope.user, text);

    if (!writeUnit(scope, unit, text))
        return 0;
    if (!applyUnit(scope, unit, startType)) {
        // Nothing half-installed stays behind.
        uint32_t const failure = GetLastError();
        std::error_code error;
        fs::remove(fs::path(scope.unitDirectory) / unit, error);
        systemd::Systemctl(scope, {"daemon-reload"});
        return fail(failure), 0;
    }
    if (tagId != nullptr)
        *tagId = 0;
    lock.lock();
    return newHandle(s, HandleRecord{HandleKind::Service, mapServiceAccess(access), scope, unit});
}

namespace {

// A service handle's scope and unit, checked for the access and for the unit
// still being there; the unit's text in *text. Sets the last error.
bool openedUnit(ServiceHandle service, uint32_t neededAccess, systemd::Scope &scope, std::string &unit,
                std::string &text)
{
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        HandleRecord *record = findHandle(s, service, HandleKind::Service);
        if (record == nullptr)
            return fail(ERROR_INVALID_HANDLE);
        if ((record->access & neededAccess) != neededAccess)
            return fail(ERROR_ACCESS_DENIED);
        scope = record->scope;
        unit = record->unit;
    }
    if (!readUnit(scope, unit, text))
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    return true;
}

// Writes the changed unit and has the manager take it; the old one comes
// back when the manager refuses the change.
bool replaceUnit(systemd::Scope const &scope, std::string const &unit, std::string const &oldText,
                 systemd::UnitConfig const &config, uint32_t startType)
{
    std::string text;
    if (!systemd::FormatUnit(config, scope.user, text))
        return fail(ERROR_NOT_SUPPORTED);
    if (!writeUnit(scope, unit, text))
        return false;
    if (applyUnit(scope, unit, startType))
        return true;
    uint32_t const failure = GetLastError();
    if (writeUnit(scope, unit, oldText))
        systemd::Systemctl(scope, {"daemon-reload"});
    return fail(failure);
}

}  // namespace

bool ChangeServiceConfigA(ServiceHandle service, uint32_t, uint32_t startType, uint32_t,
                          const char *binaryPathName, const char *, uint32_t *tagId, const char *dependencies,
                          const char *serviceStartName, const char *, const char *displayName)
{
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        uint32_t code;
        if (scriptedFailure(s, ServiceCall::ChangeServiceConfig, &code))
            return fail(code);
    }
    systemd::Scope scope;
    std::string unit, oldText;
    if (!openedUnit(service, SERVICE_CHANGE_CONFIG, scope, unit, oldText))
        return false;
    systemd::UnitConfig config = systemd::ParseUnit(oldText);
    if (binaryPathName != nullptr) {
        config.command = unitCommand(binaryPathName);
        if (config.command.empty())
            return fail(ERROR_PATH_NOT_FOUND);
        config.workingDirectory = fs::path(config.command[0]).parent_path().string();
    }
    if (serviceStartName != nullptr && !unitUser(serviceStartName, scope.user, config.user))
        return fail(ERROR_INVALID_SERVICE_ACCOUNT);
    if (dependencies != nullptr) {
        config.dependencies.clear();
        for (const char *dependency = dependencies; *dependency != '\0'; dependency += std::strlen(dependency) + 1)
            if (dependency[0] != '+')
                config.dependencies.push_back(systemd::UnitName(dependency));
    }
    if (displayName != nullptr)
        config.description = displayName;
    if (config.serviceName.empty())
        config.serviceName = systemd::ServiceName(unit);
    if (!replaceUnit(scope, unit, oldText, config, startType))
        return false;
    if (tagId != nullptr)
        *tagId = 0;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool ChangeServiceConfig2A(ServiceHandle service, uint32_t infoLevel, const void *info)
{
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        uint32_t code;
        if (scriptedFailure(s, ServiceCall::ChangeServiceConfig2, &code))
            return fail(code);
    }
    if (infoLevel != SERVICE_CONFIG_FAILURE_ACTIONS)
        return fail(ERROR_INVALID_PARAMETER);
    if (info == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    auto const *actions = static_cast<ServiceFailureActions const *>(info);
    if (actions->cActions != 0 && actions->lpsaActions == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    bool restarts = false;
    for (uint32_t i = 0; i < actions->cActions; ++i)
        restarts = restarts || actions->lpsaActions[i].type == SC_ACTION_RESTART;
    systemd::Scope scope;
    std::string unit, oldText;
    if (!openedUnit(service, restarts ? SERVICE_CHANGE_CONFIG | SERVICE_START : SERVICE_CHANGE_CONFIG, scope, unit,
                    oldText))
        return false;
    systemd::UnitConfig config = systemd::ParseUnit(oldText);
    config.resetPeriod = actions->dwResetPeriod;
    if (actions->lpsaActions != nullptr)
        config.failureActions.assign(actions->lpsaActions, actions->lpsaActions + actions->cActions);
    if (config.serviceName.empty())
        config.serviceName = systemd::ServiceName(unit);
    if (!replaceUnit(scope, unit, oldText, config, SERVICE_NO_CHANGE))
        return false;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool DeleteService(ServiceHandle service)
{
    {
        ServiceControlState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        uint32_t code;
        if (scriptedFailure(s, ServiceCall::DeleteService, &code))
            return fail(code);
    }
    systemd::Scope scope;
    std::string unit, text;
    if (!openedUnit(service, DELETE, scope, unit, text))
        return false;
    // Stopped (a unit the manager never loaded is not running: 5), disabled,
    // and gone from the manager's view.
    int const stopped = systemd::Systemctl(scope, {"stop", unit});
    if (stopped != 0 && stopped != 5)
        return fail(stopped < 0 ? posix::SystemErrorFromErrno(errno) : RPC_S_SERVER_UNAVAILABLE);
    if (!systemctl(scope, {"disable", unit}))
        return false;
    std::error_code error;
    if (!fs::remove(fs::path(scope.unitDirectory) / unit, error) && error)
        return fail(ERROR_ACCESS_DENIED);
    if (!systemctl(scope, {"daemon-reload"}))
        return false;
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

// The manager's own answer: the unit as systemctl cat shows it, and whether
// it is enabled.
bool seam::QueryServiceEntry(const char *serviceName, ServiceEntry *entry)
{
    if (!validName(serviceName) || entry == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    systemd::Scope const scope = systemd::CurrentScope();
    std::string unit = findUnit(scope.unitDirectory, serviceName);
    if (unit.empty())
        unit = systemd::UnitName(serviceName);
    std::string text;
    if (unit.empty() || systemd::Systemctl(scope, {"cat", unit}, &text) != 0)
        return fail(ERROR_SERVICE_DOES_NOT_EXIST);
    std::string enabled;
    systemd::Systemctl(scope, {"is-enabled", unit}, &enabled);
    enabled = enabled.substr(0, enabled.find('\n'));

    systemd::UnitConfig const config = systemd::ParseUnit(text);
    *entry = ServiceEntry{};
    entry->serviceName = systemd::ServiceName(unit);
    entry->displayName = config.description;
    entry->binaryPathName = windowsCommandLine(config.command);
    entry->serviceStartName = config.user;
    entry->serviceType = SERVICE_WIN32_OWN_PROCESS;
    entry->startType = enabled == "enabled" || enabled == "enabled-runtime" ? SERVICE_AUTO_START
                       : enabled.compare(0, 6, "masked") == 0         ? kServiceDisabled
                                                                       : SERVICE_DEMAND_START;
    entry->errorControl = SERVICE_ERROR_NORMAL;
    entry->hasFailureActions = config.hasFailureActions;
    entry->resetPeriod = config.resetPeriod;
    entry->failureActions = config.failureActions;
    return true;
}

// The services of this manager: the units in its directory that name the
// service their program runs.
std::vector<std::string> seam::ListServiceEntries()
{
    systemd::Scope const scope = systemd::CurrentScope();
    std::vector<std::string> names;
    std::error_code error;
    for (auto const &file : fs::directory_iterator(scope.unitDirectory, error)) {
        std::string const unit = file.path().filename().string();
        std::string text;
        if (!systemd::ServiceName(unit).empty() && readUnit(scope, unit, text) &&
            !systemd::ParseUnit(text).serviceName.empty())
            names.push_back(systemd::ServiceName(unit));
    }
    std::sort(names.begin(), names.end());
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
    *policy = newHandle(s, HandleRecord{HandleKind::Policy, desiredAccess, {}, std::string()});
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

// A test account's password is checked. A system account has none to give:
// the manager starts a unit as its User= without one.
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
    if (account == nullptr || (!account->system && account->password != (password != nullptr ? password : "")))
        return fail(ERROR_LOGON_FAILURE);
    if (logonType == LOGON32_LOGON_SERVICE &&
        std::find(account->rights.begin(), account->rights.end(), kServiceLogonRight) == account->rights.end())
        return fail(ERROR_LOGON_TYPE_NOT_GRANTED);
    *token = newHandle(s, HandleRecord{HandleKind::Token, 0, {}, std::string()});
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

// --- The dispatcher -----------------------------------------------------------

// Connects when the unit that started the process names this service
// (systemd::kServiceVariable), or when a test says so. The stop signals
// become the stop control for the time of the call; the manager's
// notification socket is taken out of the environment, so that programs this
// one starts do not answer for it.
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
    const char *named = std::getenv(systemd::kServiceVariable);
    if (!s.startedByManager && (named == nullptr || !sameText(named, serviceTable[0].lpServiceName)))
        return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    if (s.dispatching)
        return fail(ERROR_SERVICE_ALREADY_RUNNING);
    if (!openWakePipe())
        return fail(posix::SystemErrorFromErrno(errno));

    const char *notifySocket = std::getenv("NOTIFY_SOCKET");
    s.notifySocket = notifySocket != nullptr ? notifySocket : "";
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv(systemd::kServiceVariable);
    s.readySent = false;
    s.stoppingSent = false;
    s.dispatching = true;
    s.dispatchName = serviceTable[0].lpServiceName;
    s.dispatchKey = fold(serviceTable[0].lpServiceName);
    s.handler = nullptr;
    s.statusHandle = 0;
    s.hasReport = false;
    s.mainReturned = false;

    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    struct sigaction previousTerm {}, previousInt {};
    g_stopSignalled.store(false);
    ::sigaction(SIGTERM, &stop, &previousTerm);
    ::sigaction(SIGINT, &stop, &previousInt);

    std::vector<char> argument(s.dispatchName.begin(), s.dispatchName.end());
    argument.push_back('\0');
    char *argv[2] = {argument.data(), nullptr};
    ServiceMainFunction serviceMain = serviceTable[0].lpServiceProc;
    std::thread mainThread([&s, serviceMain, &argv] {
        serviceMain(1, argv);
        std::lock_guard<std::mutex> guard(s.lock);
        s.mainReturned = true;
        wakeDispatcher();
    });

    for (;;) {
        if (g_stopSignalled.exchange(false))
            s.controls.push_back(PendingControl{s.dispatchKey, SERVICE_CONTROL_STOP});
        if (s.mainReturned)
            break;
        uint32_t control = 0;
        if (takeDeliverableControl(s, &control)) {
            // The handler runs on this thread without the lock, so it may report.
            HandlerFunction handler = s.handler;
            lock.unlock();
            handler(control);
            lock.lock();
            continue;
        }
        lock.unlock();
        sleepUntilWoken();
        lock.lock();
    }

    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
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
    s.statusHandle = newHandle(s, HandleRecord{HandleKind::Status, 0, {}, s.dispatchKey});
    wakeDispatcher();
    return s.statusHandle;
}

// Running is the manager's READY=1; stopping, or stopped, its STOPPING=1.
bool SetServiceStatus(ServiceStatusHandle statusHandle, const ServiceStatus *status)
{
    ServiceControlState &s = state();
    std::string notification, notifySocket;
    {
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
        if (status->dwCurrentState == SERVICE_RUNNING && !s.readySent) {
            notification = "READY=1";
            s.readySent = true;
        } else if ((status->dwCurrentState == SERVICE_STOP_PENDING || status->dwCurrentState == SERVICE_STOPPED) &&
                   !s.stoppingSent) {
            notification = "STOPPING=1";
            s.stoppingSent = true;
        }
        notifySocket = s.notifySocket;
        wakeDispatcher();
    }
    if (!notification.empty() && !notifySocket.empty())
        systemd::Notify(notifySocket, notification);
    return true;
}

// --- Test seams ---------------------------------------------------------------

void seam::ResetServiceControl()
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
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

void seam::SetStartedByServiceControlManager(bool started)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.startedByManager = started;
}

void seam::SetServiceControlManagerRights(uint32_t rights)
{
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.managerRights = rights;
}

void seam::AddServiceAccount(const char *domain, const char *userName, const char *password)
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
    account.system = false;
    s.accounts.push_back(std::move(account));
}

bool seam::AccountHasRight(const char *userName, const char *right)
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

void seam::SendServiceControl(const char *serviceName, uint32_t control)
{
    if (serviceName == nullptr)
        return;
    ServiceControlState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.controls.push_back(PendingControl{fold(serviceName), control});
    wakeDispatcher();
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
