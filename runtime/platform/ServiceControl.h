#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"

/// \file
/// The service control manager, the account database and the local security
/// authority. On Windows they are the system's. Elsewhere the manager is
/// systemd: a service is a unit file, installed and removed through systemctl,
/// and a program systemd starts from it is stopped by SIGTERM or SIGINT and
/// reports ready and stopping over NOTIFY_SOCKET; accounts are the system's
/// besides those tests add, and the rights granted are recorded in-process.
/// The dispatcher runs the service's main function on a thread of its own and
/// delivers the controls for it on the calling thread. Failing calls set the
/// thread's last error (LastError.h); the security authority calls return an
/// NTSTATUS instead, as on their home platform.
namespace platform {

///@{

/// Service and security error codes, with their Windows values.
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_INVALID_SERVICE_CONTROL = 1052;
constexpr uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr uint32_t ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
constexpr uint32_t ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
constexpr uint32_t ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr uint32_t ERROR_SERVICE_EXISTS = 1073;
constexpr uint32_t ERROR_NO_SUCH_PRIVILEGE = 1313;
constexpr uint32_t ERROR_LOGON_FAILURE = 1326;
constexpr uint32_t ERROR_NONE_MAPPED = 1332;
constexpr uint32_t ERROR_LOGON_TYPE_NOT_GRANTED = 1385;
///@}

///@{

/// Service types, start types, error control and states.
constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr uint32_t SERVICE_WIN32_SHARE_PROCESS = 0x20;
constexpr uint32_t SERVICE_WIN32 = 0x30;
constexpr uint32_t SERVICE_AUTO_START = 2;
constexpr uint32_t SERVICE_DEMAND_START = 3;
constexpr uint32_t SERVICE_ERROR_NORMAL = 1;
constexpr uint32_t SERVICE_NO_CHANGE = 0xFFFFFFFF;
constexpr uint32_t SERVICE_STOPPED = 1;
constexpr uint32_t SERVICE_START_PENDING = 2;
constexpr uint32_t SERVICE_STOP_PENDING = 3;
constexpr uint32_t SERVICE_RUNNING = 4;
///@}

///@{

/// Controls and the bits that accept them.
constexpr uint32_t SERVICE_CONTROL_STOP = 1;
constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
constexpr uint32_t SERVICE_CONTROL_SHUTDOWN = 5;
constexpr uint32_t SERVICE_ACCEPT_STOP = 1;
constexpr uint32_t SERVICE_ACCEPT_SHUTDOWN = 4;
///@}

///@{

/// Access rights. Generic rights map to the specific ones as on Windows.
constexpr uint32_t DELETE = 0x10000;
constexpr uint32_t READ_CONTROL = 0x20000;
constexpr uint32_t GENERIC_WRITE = 0x40000000;
constexpr uint32_t GENERIC_ALL = 0x10000000;
constexpr uint32_t SC_MANAGER_CONNECT = 0x1;
constexpr uint32_t SC_MANAGER_CREATE_SERVICE = 0x2;
constexpr uint32_t SC_MANAGER_MODIFY_BOOT_CONFIG = 0x20;
constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr uint32_t SERVICE_CHANGE_CONFIG = 0x2;
constexpr uint32_t SERVICE_START = 0x10;
constexpr uint32_t SERVICE_STOP = 0x20;
constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;
///@}

///@{

/// ChangeServiceConfig2A levels and failure actions.
constexpr uint32_t SERVICE_CONFIG_FAILURE_ACTIONS = 2;
constexpr uint32_t SC_ACTION_NONE = 0;
constexpr uint32_t SC_ACTION_RESTART = 1;
constexpr uint32_t SC_ACTION_REBOOT = 2;
constexpr uint32_t SC_ACTION_RUN_COMMAND = 3;
///@}

///@{

/// Security policy access, logon types and providers.
constexpr uint32_t POLICY_CREATE_ACCOUNT = 0x10;
constexpr uint32_t POLICY_LOOKUP_NAMES = 0x800;
constexpr uint32_t LOGON32_LOGON_INTERACTIVE = 2;
constexpr uint32_t LOGON32_LOGON_SERVICE = 5;
constexpr uint32_t LOGON32_PROVIDER_DEFAULT = 0;
///@}

///@{

/// NTSTATUS values of the security authority.
using NtStatus = uint32_t;
constexpr NtStatus STATUS_SUCCESS = 0;
constexpr NtStatus STATUS_INVALID_HANDLE = 0xC0000008;
constexpr NtStatus STATUS_INVALID_PARAMETER = 0xC000000D;
constexpr NtStatus STATUS_ACCESS_DENIED = 0xC0000022;
constexpr NtStatus STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034;
constexpr NtStatus STATUS_NO_SUCH_PRIVILEGE = 0xC0000060;
constexpr NtStatus STATUS_INVALID_SID = 0xC0000078;
///@}

///@{

/// SC_HANDLE, SERVICE_STATUS_HANDLE, LSA_HANDLE and logon tokens; 0 is the
/// null handle of each.
using ServiceHandle = uintptr_t;
using ServiceStatusHandle = uintptr_t;
using LsaHandle = uintptr_t;
using TokenHandle = uintptr_t;
///@}

/// SERVICE_STATUS, in the platform's field order.
struct ServiceStatus {
    ///@{

    /// The SERVICE_STATUS field of the same name.
    uint32_t dwServiceType;
    uint32_t dwCurrentState;
    uint32_t dwControlsAccepted;
    uint32_t dwWin32ExitCode;
    uint32_t dwServiceSpecificExitCode;
    uint32_t dwCheckPoint;
    uint32_t dwWaitHint;
    ///@}
};

///@{

/// LPSERVICE_MAIN_FUNCTIONA and LPHANDLER_FUNCTION.
using ServiceMainFunction = void (*)(uint32_t argc, char **argv);
using HandlerFunction = void (*)(uint32_t control);
///@}

/// SERVICE_TABLE_ENTRYA; a table ends with an entry of two nulls.
struct ServiceTableEntry {
    ///@{

    /// The service's name and its main function.
    const char *lpServiceName;
    ServiceMainFunction lpServiceProc;
    ///@}
};

/// SC_ACTION and SERVICE_FAILURE_ACTIONSA.
struct ScAction {
    ///@{

    /// The action (SC_ACTION_*) and its delay in milliseconds.
    uint32_t type;
    uint32_t delay;
    ///@}
};
/// SERVICE_FAILURE_ACTIONSA: what the manager does when the service fails.
struct ServiceFailureActions {
    ///@{

    /// The SERVICE_FAILURE_ACTIONSA field of the same name.
    uint32_t dwResetPeriod;
    const char *lpRebootMsg;
    const char *lpCommand;
    uint32_t cActions;
    const ScAction *lpsaActions;
    ///@}
};

/// LSA_UNICODE_STRING (lengths in bytes) and LSA_OBJECT_ATTRIBUTES.
struct LsaUnicodeString {
    ///@{

    /// The LSA_UNICODE_STRING field of the same name.
    uint16_t Length;
    uint16_t MaximumLength;
    char16_t *Buffer;
    ///@}
};
/// LSA_OBJECT_ATTRIBUTES, for opening the policy object.
struct LsaObjectAttributes {
    ///@{

    /// The LSA_OBJECT_ATTRIBUTES field of the same name.
    uint32_t Length;
    void *RootDirectory;
    LsaUnicodeString *ObjectName;
    uint32_t Attributes;
    void *SecurityDescriptor;
    void *SecurityQualityOfService;
    ///@}
};

// --- The service database ---------------------------------------------------

/// OpenSCManagerA of the local machine (machine and database null or empty);
/// fails with ERROR_ACCESS_DENIED when the process lacks the rights asked for.
SHAREDLIB_API ServiceHandle OpenSCManagerA(const char *machineName, const char *databaseName, uint32_t access);
/// OpenServiceA: ERROR_SERVICE_DOES_NOT_EXIST for an unknown name. Service
/// names are compared without regard to case and are at most 256 characters.
SHAREDLIB_API ServiceHandle OpenServiceA(ServiceHandle manager, const char *serviceName, uint32_t access);
/// CreateServiceA: ERROR_SERVICE_EXISTS when the name is taken; the manager
/// handle needs SC_MANAGER_CREATE_SERVICE.
SHAREDLIB_API ServiceHandle CreateServiceA(ServiceHandle manager, const char *serviceName, const char *displayName,
                                           uint32_t access, uint32_t serviceType, uint32_t startType,
                                           uint32_t errorControl, const char *binaryPathName,
                                           const char *loadOrderGroup, uint32_t *tagId, const char *dependencies,
                                           const char *serviceStartName, const char *password);
/// ChangeServiceConfigA: SERVICE_NO_CHANGE and null leave a field as it is.
/// The handle needs SERVICE_CHANGE_CONFIG.
SHAREDLIB_API bool ChangeServiceConfigA(ServiceHandle service, uint32_t serviceType, uint32_t startType,
                                        uint32_t errorControl, const char *binaryPathName,
                                        const char *loadOrderGroup, uint32_t *tagId, const char *dependencies,
                                        const char *serviceStartName, const char *password,
                                        const char *displayName);
/// ChangeServiceConfig2A; only SERVICE_CONFIG_FAILURE_ACTIONS is known. A
/// restart action needs SERVICE_START on the handle as well.
SHAREDLIB_API bool ChangeServiceConfig2A(ServiceHandle service, uint32_t infoLevel, const void *info);
///@{

/// DeleteService: needs DELETE; the entry is gone at once and other handles
/// to it answer ERROR_SERVICE_MARKED_FOR_DELETE.
SHAREDLIB_API bool DeleteService(ServiceHandle service);
/// CloseServiceHandle: closes a manager or service handle.
SHAREDLIB_API bool CloseServiceHandle(ServiceHandle handle);
///@}

// --- Accounts, rights and logon ---------------------------------------------

///@{

/// LookupAccountNameA on the local system: the account's security identifier
/// and domain. Buffers too small (or null) fail with ERROR_INSUFFICIENT_BUFFER
/// and give the sizes needed (the domain's with its terminating zero); an
/// unknown account fails with ERROR_NONE_MAPPED. The name may carry a
/// "DOMAIN\" prefix.
SHAREDLIB_API bool LookupAccountNameA(const char *systemName, const char *accountName, void *sid, uint32_t *sidSize,
                                      char *referencedDomainName, uint32_t *domainSize, uint32_t *sidNameUse);
/// LsaOpenPolicy: opens the local security policy with the access asked for.
SHAREDLIB_API NtStatus LsaOpenPolicy(LsaUnicodeString *systemName, LsaObjectAttributes *objectAttributes,
                                     uint32_t desiredAccess, LsaHandle *policy);
///@}
///@{

/// LsaAddAccountRights: the policy needs POLICY_CREATE_ACCOUNT and
/// POLICY_LOOKUP_NAMES; an unknown privilege name is STATUS_NO_SUCH_PRIVILEGE.
SHAREDLIB_API NtStatus LsaAddAccountRights(LsaHandle policy, const void *accountSid, const LsaUnicodeString *rights,
                                           uint32_t countOfRights);
/// LsaClose: closes a policy handle.
SHAREDLIB_API NtStatus LsaClose(LsaHandle policy);
/// LsaNtStatusToWinError: the Windows error code of an NTSTATUS value.
SHAREDLIB_API uint32_t LsaNtStatusToWinError(NtStatus status);
///@}
///@{

/// LogonUserA: ERROR_LOGON_FAILURE for an unknown user or a wrong password;
/// the service logon type also needs "SeServiceLogonRight" on the account
/// (ERROR_LOGON_TYPE_NOT_GRANTED without it).
SHAREDLIB_API bool LogonUserA(const char *userName, const char *domain, const char *password, uint32_t logonType,
                              uint32_t logonProvider, TokenHandle *token);
/// CloseHandle for a logon token.
SHAREDLIB_API bool CloseTokenHandle(TokenHandle token);
///@}

/// The system's message for a code as FormatSystemMessage gives it, knowing
/// the service, account and logon codes as well.
SHAREDLIB_API std::string FormatServiceMessage(uint32_t code);

// --- The dispatcher -----------------------------------------------------------

/// StartServiceCtrlDispatcherA: fails with
/// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT unless the process counts as
/// started by the service control manager. Otherwise it runs the first
/// entry's main function on a new thread (argument: the service name) and,
/// on the calling thread, hands each queued control to the registered handler
/// once the last reported status accepts it; it returns when the main
/// function has returned, so nothing of the service outlives the call.
SHAREDLIB_API bool StartServiceCtrlDispatcherA(const ServiceTableEntry *serviceTable);
/// RegisterServiceCtrlHandlerA: only for the service the dispatcher runs
/// (ERROR_SERVICE_DOES_NOT_EXIST otherwise).
SHAREDLIB_API ServiceStatusHandle RegisterServiceCtrlHandlerA(const char *serviceName, HandlerFunction handler);
/// SetServiceStatus: reports the service's status to the service manager.
SHAREDLIB_API bool SetServiceStatus(ServiceStatusHandle statusHandle, const ServiceStatus *status);

}  // namespace platform
