#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/platform/Process.h>
#include <SharedLib/platform/ServiceControl.h>
#include <SharedLib/service/ServiceManager.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/TempDirectory.h"

namespace {

using Kest::Orv::ServiceManager;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr char kName[] = "ZoneServer";
constexpr char kDisplay[] = "Zone Server";

// Sets an environment variable; an empty value unsets it.
void setVariable(char const *name, std::string const &value)
{
    platform::SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

// A systemctl that records its calls, fails a verb when a file "fail-<verb>"
// says so, and answers cat and is-enabled from the unit directory.
constexpr char kSystemctl[] = R"(#!/bin/sh
state=${SHAREDLIB_SYSTEMD_UNIT_DIR%/*}
printf '%s\n' "$*" >> "$state/systemctl.log"
verb= unit=
for word; do case $word in -*) ;; *) if [ -z "$verb" ]; then verb=$word; else unit=$word; fi;; esac; done
[ -e "$state/fail-$verb" ] && exit 1
case $verb in
cat) [ -f "$SHAREDLIB_SYSTEMD_UNIT_DIR/$unit" ] || exit 1; echo "# $unit"; cat "$SHAREDLIB_SYSTEMD_UNIT_DIR/$unit";;
enable) touch "$state/$unit.enabled";;
disable) rm -f "$state/$unit.enabled";;
is-enabled) if [ -e "$state/$unit.enabled" ]; then echo enabled; else echo disabled; exit 1; fi;;
esac
exit 0
)";

// Services go to a systemd stand-in early on the PATH (after a folder that is
// not there), with the unit directory in a scratch folder (the Windows
// build's manager ignores both).
class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ResetServiceControl();
        platform::SetMessageBoxEcho(false);
        platform::TakeMessageBoxRecords();
        fs::create_directories(dir.host() / "bin");
        std::ofstream(dir.host() / "bin" / "systemctl", std::ios::binary) << kSystemctl;
        fs::permissions(dir.host() / "bin" / "systemctl", fs::perms::owner_all);
        char const separator = fs::path::preferred_separator == '/' ? ':' : ';';
        char const *path = std::getenv("PATH");
        m_path = path != nullptr ? path : "";
        setVariable("PATH", (dir.host() / "none").string() + separator + (dir.host() / "bin").string() + separator +
                                m_path);
        setVariable("SHAREDLIB_SYSTEMD_UNIT_DIR", units().string());
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", "system");
    }
    void TearDown() override
    {
        platform::ResetServiceControl();
        platform::TakeMessageBoxRecords();
        setVariable("PATH", m_path);
        setVariable("SHAREDLIB_SYSTEMD_UNIT_DIR", "");
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", "");
        setVariable("SHAREDLIB_SYSTEMCTL", "");
        setVariable("SHAREDLIB_SERVICE_NAME", "");
    }

    static int32_t maintain(std::vector<std::string> arguments, const char *display = kDisplay)
    {
        arguments.insert(arguments.begin(), "server.exe");
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        return ServiceManager::serviceMaintenance(static_cast<int>(arguments.size()), argv.data(), kName, display);
    }

    static bool installed(platform::ServiceEntry *entry = nullptr)
    {
        platform::ServiceEntry ignored;
        return platform::QueryServiceEntry(kName, entry != nullptr ? entry : &ignored);
    }

    // The maintenance's result, then each box it raised as "caption/icon: text".
    static std::string outcome(Strings arguments, const char *display = kDisplay)
    {
        std::string text = std::to_string(maintain(std::move(arguments), display));
        for (auto const &box : platform::TakeMessageBoxRecords())
            text += " " + box.caption +
                    (box.type == platform::MB_ICONERROR         ? "/error: "
                     : box.type == platform::MB_ICONWARNING     ? "/warning: "
                     : box.type == platform::MB_ICONINFORMATION ? "/information: "
                                                                : "/other: ") +
                    box.text;
        return text;
    }

    fs::path units() const { return dir.host() / "units"; }

    static std::string describe(std::vector<platform::ScAction> const &actions)
    {
        std::string text;
        for (auto const &action : actions)
            text += std::to_string(action.type) + "/" + std::to_string(action.delay) + " ";
        return text;
    }

    // The stand-in's calls since the last look.
    Strings takeCalls()
    {
        Strings calls;
        std::istringstream log(ReadHostFile(dir.host() / "systemctl.log"));
        for (std::string line; std::getline(log, line);)
            calls.push_back(line);
        fs::remove(dir.host() / "systemctl.log");
        return calls;
    }

    TempDirectory dir;
    std::string m_path;
};

constexpr char kUsage[] = "\nService Manager Options:\n\n"
                          " -remove    Remove this program's service entry\n\n"
                          " -install   Install this program as a service\n"
                          "    -username <name>      The account that this service will run as\n"
                          "       If no username is specified, the service will run as LocalSystem\n"
                          "    -password <password>  The password for the given account\n\n"
                          "If no options are specified, the program will run normally\n";

TEST_F(ServiceManagerTest, OptionsInAnyCaseAndTheirMistakes)
{
    EXPECT_EQ(maintain({}), 0);
    EXPECT_EQ(ServiceManager::serviceMaintenance(0, nullptr, kName, kDisplay), 0);
    EXPECT_EQ(outcome({"-port", "7000", "install", "--install"}), "0");
    testing::internal::CaptureStdout();
    EXPECT_EQ(outcome({"-install", "-?", "-remove"}), "2");  // the usage stops everything else
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage);
    EXPECT_EQ(outcome({"-remove", "-install"}),
              "2 Error/information: -install and -remove were both specified.  Please specify only one.");
    EXPECT_FALSE(installed());
    // A missing value is shown and the installation goes on.
    EXPECT_EQ(outcome({"-install", "-username"}), "1 Error/information: No username was specified");
    platform::ServiceEntry entry;
    ASSERT_TRUE(installed(&entry));
    EXPECT_EQ(entry.serviceStartName, "");
    EXPECT_EQ(outcome({"-install", "-PASSWORD"}), "1 Error/information: No password was specified");
}

TEST_F(ServiceManagerTest, InstallCreatesTheEntryInAnyCase)
{
    EXPECT_EQ(outcome({"-world", "3", "-InStAlL"}), "1");
    platform::ServiceEntry e;
    ASSERT_TRUE(installed(&e));
    std::string executable;
    ASSERT_TRUE(platform::GetExecutablePath(executable));
    EXPECT_EQ(e.binaryPathName, executable);
    // Own process, automatic start, normal errors, the local system account, restarts after ten seconds for ever.
    EXPECT_EQ(e.displayName + "|" + std::to_string(e.serviceType) + " " + std::to_string(e.startType) + " " +
                  std::to_string(e.errorControl) + "|" + e.serviceStartName + "|" + std::to_string(e.resetPeriod) +
                  " " + std::to_string(e.hasFailureActions) + std::to_string(e.hasRebootMessage) + e.command + "|" +
                  describe(e.failureActions),
              "Zone Server|16 2 1||4294967295 10|1/10000 ");
}

TEST_F(ServiceManagerTest, RemoveAndTheManagersRefusals)
{
    ASSERT_EQ(outcome({"-install"}), "1");
    EXPECT_EQ(outcome({"-Remove"}), "1");
    EXPECT_FALSE(installed());
    EXPECT_EQ(outcome({"-remove"}), "1060 Error/error: OpenService failed with error 1060: The specified service "
                                    "does not exist as an installed service.\r\n");
    platform::SetServiceControlManagerRights(platform::SC_MANAGER_CONNECT);
    EXPECT_EQ(outcome({"-install"}), "5 Error/error: Failed to open the Service Control Manager with sufficient "
                                     "rights to create a service.");
    EXPECT_EQ(outcome({"-remove"}), "5 Error/error: Failed to open the Service Control Manager with sufficient "
                                    "rights to delete a service.");
    platform::SetServiceControlManagerRights(platform::SC_MANAGER_ALL_ACCESS);
    platform::FailNextServiceCall(platform::ServiceCall::ChangeServiceConfig2, 5);
    EXPECT_EQ(outcome({"-install"}), "5 Warning/warning: CreateService succeeded, but ChangeServiceConfig2 failed "
                                     "with error 5: Access is denied.\r\n");
    EXPECT_TRUE(installed());  // the entry stays
    platform::FailNextServiceCall(platform::ServiceCall::DeleteService, 1072);
    EXPECT_EQ(outcome({"-remove"}), "1072 Warning/warning: DeleteService failed with error 1072: The specified "
                                    "service has been marked for deletion.\r\n");
}

TEST_F(ServiceManagerTest, AccountGetsTheServiceLogonRight)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    EXPECT_EQ(outcome({"-USERNAME", "bob", "-install", "-PassWord", "secret"}), "1");
    platform::ServiceEntry entry;
    ASSERT_TRUE(installed(&entry));
    EXPECT_EQ(entry.serviceStartName.substr(entry.serviceStartName.rfind('\\') + 1), "bob");
    EXPECT_TRUE(platform::AccountHasRight("bob", "SeServiceLogonRight"));
}

TEST_F(ServiceManagerTest, BadAccountsStopTheInstallation)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    EXPECT_EQ(outcome({"-install", "-username", "no-such-user-q7", "-password", "x"}),
              "1332 Error/error: LookupAccountName failed with 1332: No mapping between account names and security "
              "IDs was done.\r\n");
    EXPECT_EQ(outcome({"-install", "-username", "bob", "-password", "wrong"}),
              "1326 Error/error: LogonUser failed with 1326: The user name or password is incorrect.\r\n");
    platform::FailNextServiceCall(platform::ServiceCall::LsaAddAccountRights, platform::STATUS_ACCESS_DENIED);
    EXPECT_EQ(outcome({"-install", "-username", "bob", "-password", "secret"}),
              "5 Error/error: LsaAddAccountRights failed with 5: Access is denied.\r\n");
    EXPECT_FALSE(installed());
}

// --- Over systemd (POSIX only) -------------------------------------------------

class SystemdServiceTest : public ServiceManagerTest {
protected:
    // The unit file as the manager would read it.
    std::string unitText(char const *unit = "ZoneServer.service") const { return ReadHostFile(units() / unit); }
};

// The unit file is checked word for word, and once by systemd itself.
TEST_F(SystemdServiceTest, InstallWritesTheUnitAndRemoveTakesItAway)
{
    bool const canVerify = std::system("command -v systemd-analyze >/dev/null 2>&1") == 0;
    fs::create_directories(dir.host() / "runtime");
    std::string executable;
    ASSERT_TRUE(platform::GetExecutablePath(executable));
    fs::path const program = platform::HostPath(executable.c_str());
    struct Case {
        char const *scope;
        std::string systemctl;  // how every call begins
        char const *target;
    };
    for (Case const &c : {Case{"system", "", "multi-user.target"}, Case{"user", "--user ", "default.target"}}) {
        SCOPED_TRACE(c.scope);
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", c.scope);
        ASSERT_EQ(outcome({"-install"}), "1");
        EXPECT_EQ(unitText(), "[Unit]\nDescription=Zone Server\nStartLimitIntervalSec=0\n\n[Service]\nType=notify\n"
                              "Environment=SHAREDLIB_SERVICE_NAME=ZoneServer\nExecStart=" +
                                  program.string() + "\nWorkingDirectory=" + program.parent_path().string() +
                                  "\nRestart=on-failure\nRestartSec=10s\n\n[Install]\nWantedBy=" + c.target + "\n");
        EXPECT_EQ(takeCalls(), (Strings{c.systemctl + "daemon-reload", c.systemctl + "enable ZoneServer.service",
                                        c.systemctl + "daemon-reload"}));
        if (canVerify) {
            std::string const command = "XDG_RUNTIME_DIR='" + (dir.host() / "runtime").string() +
                                        "' systemd-analyze verify " + (c.scope[0] == 'u' ? "--user '" : "'") +
                                        (units() / "ZoneServer.service").string() + "' >'" +
                                        (dir.host() / "verify.txt").string() + "' 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << ReadHostFile(dir.host() / "verify.txt");
        }
        ASSERT_EQ(outcome({"-remove"}), "1");
        EXPECT_FALSE(fs::exists(units() / "ZoneServer.service"));
        EXPECT_EQ(takeCalls(), (Strings{c.systemctl + "stop ZoneServer.service",
                                        c.systemctl + "disable ZoneServer.service", c.systemctl + "daemon-reload"}));
    }
}

// A second installation reconfigures the one entry.
TEST_F(SystemdServiceTest, ReinstallingChangesTheNameAndTheUnitsUser)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    ASSERT_EQ(outcome({"-install", "-username", "root", "-password", "any"}, "Old"), "1");  // the system's own account
    EXPECT_NE(unitText().find("\nUser=root\n"), std::string::npos);
    ASSERT_EQ(outcome({"-INSTALL", "-username", "SALTHOST\\bob", "-password", "secret"}), "1");
    EXPECT_NE(unitText().find("Description=Zone Server\n"), std::string::npos);
    EXPECT_NE(unitText().find("\nUser=bob\n"), std::string::npos);
    EXPECT_EQ(platform::ListServiceEntries(), Strings{kName});
    ASSERT_EQ(maintain({"-remove"}), 1);

    // A user's own manager runs units as that user only.
    setVariable("SHAREDLIB_SYSTEMD_SCOPE", "user");
    EXPECT_EQ(outcome({"-install", "-username", "bob", "-password", "secret"}),
              "1057 Error/error: CreateService failed with error 1057: The account name is invalid or does not exist, "
              "or the password is invalid for the account name specified.\r\n");
    EXPECT_FALSE(installed());
}

TEST_F(SystemdServiceTest, RefusalsOfTheManagerAreReportedAndUndone)
{
    struct Case {
        char const *failing;  // the systemctl verb that fails
        char const *option;
        char const *outcome;
        Strings calls;  // those of the refused maintenance
    };
    // A refused enable takes the new unit away again; a refused reload puts
    // the old one back.
    Case const cases[] = {
        {"enable", "-install", "1722 Error/error: CreateService failed with error 1722",
         {"daemon-reload", "enable ZoneServer.service", "daemon-reload"}},
        {"daemon-reload", "-install", "1722 Error/error: ConfigureService failed with error 1722",
         {"daemon-reload", "daemon-reload"}},
        {"disable", "-remove", "1722 Warning/warning: DeleteService failed with error 1722",
         {"stop ZoneServer.service", "disable ZoneServer.service"}},
        {"stop", "-remove", "1722 Warning/warning: DeleteService failed with error 1722", {"stop ZoneServer.service"}},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.failing);
        bool const fresh = c.calls.size() == 3;
        if (!fresh) {
            ASSERT_EQ(outcome({"-install"}, "Old Name"), "1");
        }
        std::ofstream(dir.host() / ("fail-" + std::string(c.failing))).flush();
        takeCalls();
        EXPECT_EQ(outcome({c.option}, "New Name"), c.outcome + std::string(": The RPC server is unavailable.\r\n"));
        EXPECT_EQ(takeCalls(), c.calls);
        if (fresh)
            EXPECT_FALSE(fs::exists(units() / "ZoneServer.service"));
        else
            EXPECT_NE(unitText().find("Description=Old Name\n"), std::string::npos);
        fs::remove(dir.host() / ("fail-" + std::string(c.failing)));
        if (!fresh) {
            ASSERT_EQ(outcome({"-remove"}), "1");
        }
    }
    setVariable("SHAREDLIB_SYSTEMCTL", (dir.host() / "no-systemctl").string());
    EXPECT_EQ(outcome({"-install"}), "2 Error/error: Failed to open the Service Control Manager with sufficient "
                                     "rights to create a service.");
}

TEST_F(SystemdServiceTest, CommandLinesAndNamesSurviveTheUnitFile)
{
    fs::create_directories(dir.host() / "with space");
    std::ofstream(dir.host() / "with space" / "prog") << "#!/bin/sh\n";
    fs::permissions(dir.host() / "with space" / "prog", fs::perms::owner_all);
    std::string const windows = dir.windows("with space\\prog");
    std::string const host = (dir.host() / "with space" / "prog").string();
    struct Case {
        char const *name;
        std::string commandLine;
        std::string unit;
        std::string execStart;
        std::string queried;  // the command line the manager gives back
    };
    Case const cases[] = {
        {"Zone Server", "\"" + windows + "\" -a \"b c\" 100% $HOME", "Zone\\x20Server.service",
         "ExecStart=\"" + host + "\" -a \"b c\" \"100%%\" \"$$HOME\"\n",
         "\"" + windows + "\" -a \"b c\" 100% $HOME"},
        // An unquoted path with blanks is the program when that file exists.
        {".hidden@1", windows, "\\x2ehidden\\x401.service", "ExecStart=\"" + host + "\"\n", "\"" + windows + "\""},
    };
    platform::ServiceHandle manager = platform::OpenSCManagerA(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, 0u);
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        platform::ServiceHandle service = platform::CreateServiceA(
            manager, c.name, "50% \"load\"\nnext", platform::SERVICE_ALL_ACCESS, platform::SERVICE_WIN32_OWN_PROCESS,
            platform::SERVICE_DEMAND_START, platform::SERVICE_ERROR_NORMAL, c.commandLine.c_str(), nullptr, nullptr,
            "Db Server\0Auth\0", nullptr, nullptr);
        ASSERT_NE(service, 0u);
        std::string const text = unitText(c.unit.c_str());
        EXPECT_NE(text.find(c.execStart), std::string::npos) << text;
        EXPECT_NE(text.find("Description=50%% \"load\" next\nRequires=Db\\x20Server.service\n"
                            "After=Db\\x20Server.service\nRequires=Auth.service\nAfter=Auth.service\n\n"),
                  std::string::npos)
            << text;
        platform::ServiceEntry e;
        ASSERT_TRUE(platform::QueryServiceEntry(c.name, &e));
        EXPECT_EQ(e.serviceName + "|" + e.displayName + "|" + e.binaryPathName + "|" + std::to_string(e.startType),
                  c.name + std::string("|50% \"load\" next|") + c.queried + "|3");
        // A new list of dependencies replaces the old one.
        ASSERT_TRUE(platform::ChangeServiceConfigA(service, platform::SERVICE_NO_CHANGE, platform::SERVICE_NO_CHANGE,
                                                   platform::SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                   "+Group\0Auth\0", nullptr, nullptr, nullptr));
        EXPECT_NE(unitText(c.unit.c_str()).find("next\nRequires=Auth.service\nAfter=Auth.service\n\n"), std::string::npos);
        platform::CloseServiceHandle(service);
    }
    EXPECT_EQ(platform::ListServiceEntries(), (Strings{".hidden@1", "Zone Server"}));
    EXPECT_EQ(platform::CreateServiceA(manager, std::string(250, 'n').c_str(), nullptr, platform::SERVICE_ALL_ACCESS, 0,
                                       0, 0, "/bin/true", nullptr, nullptr, nullptr, nullptr, nullptr),
              0u);  // too long for a unit's name
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_NAME);
    platform::CloseServiceHandle(manager);
}

// Windows' failure actions as systemd's restart settings, and back.
TEST_F(SystemdServiceTest, LimitedRestartsBecomeAStartLimit)
{
    using platform::ScAction;
    platform::ServiceHandle manager = platform::OpenSCManagerA(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS);
    platform::ServiceHandle service = platform::CreateServiceA(
        manager, kName, "Zone", platform::SERVICE_ALL_ACCESS, platform::SERVICE_WIN32_OWN_PROCESS,
        platform::SERVICE_AUTO_START, platform::SERVICE_ERROR_NORMAL, "/bin/true", nullptr, nullptr, nullptr, nullptr,
        nullptr);
    ASSERT_NE(service, 0u);
    ScAction const restart{platform::SC_ACTION_RESTART, 2500}, none{platform::SC_ACTION_NONE, 0};
    struct Case {
        uint32_t reset;
        std::vector<ScAction> actions;
        char const *unit;      // the restart lines of the unit
        uint32_t queriedReset;  // what the entry gives back
    };
    Case const cases[] = {
        {3600, {restart, restart, none}, "StartLimitIntervalSec=3600s\nStartLimitBurst=3\n", 3600},
        {0xFFFFFFFF, {restart, none}, "StartLimitIntervalSec=infinity\nStartLimitBurst=2\n", 0xFFFFFFFF},
        {0, {restart, none}, "StartLimitIntervalSec=1s\nStartLimitBurst=2\n", 1},
        {0, {restart}, "StartLimitIntervalSec=0\n", 0xFFFFFFFF},
    };
    for (Case const &c : cases) {
        platform::ServiceFailureActions const actions{c.reset, nullptr, "", static_cast<uint32_t>(c.actions.size()),
                                                      c.actions.data()};
        ASSERT_TRUE(platform::ChangeServiceConfig2A(service, platform::SERVICE_CONFIG_FAILURE_ACTIONS, &actions));
        std::string const text = unitText();
        EXPECT_NE(text.find(std::string("Description=Zone\n") + c.unit + "\n[Service]"), std::string::npos) << text;
        EXPECT_NE(text.find("Restart=on-failure\nRestartSec=2500ms\n"), std::string::npos) << text;
        platform::ServiceEntry entry;
        ASSERT_TRUE(installed(&entry));
        EXPECT_EQ(entry.resetPeriod, c.queriedReset);
        EXPECT_EQ(describe(entry.failureActions), describe(c.actions));
    }
    // Anything but "none" after the restarts has no systemd form.
    ScAction const reboot[] = {restart, none, {platform::SC_ACTION_REBOOT, 0}};
    platform::ServiceFailureActions const refused{60, nullptr, "", 3, reboot};
    EXPECT_FALSE(platform::ChangeServiceConfig2A(service, platform::SERVICE_CONFIG_FAILURE_ACTIONS, &refused));
    EXPECT_FALSE(platform::ChangeServiceConfig2A(manager, platform::SERVICE_CONFIG_FAILURE_ACTIONS, &refused));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
    platform::CloseServiceHandle(service);
    platform::CloseServiceHandle(manager);
}

// --- Running as a service -------------------------------------------------------

// What the service main saw: its argument, then whether it ran as a service,
// started, and saw the stop.
std::string g_seen;

// A service main function as a server writes it: start, poll until stopped, end.
void pollingServiceMain(uint32_t argc, char **argv)
{
    bool const service = ServiceManager::isUsingService(), started = ServiceManager::initService();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (started && ServiceManager::isServiceRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_seen = std::string(argc > 0 ? argv[0] : "") + (service ? " service" : "") + (started ? " started" : "") +
             (ServiceManager::isServiceRunning() ? "" : " stopped");
    ServiceManager::endService(7);
}

TEST_F(ServiceManagerTest, ConsoleProgramCannotStartAsService)
{
    for (char const *named : {"", "Launcher"}) {  // started by hand, or by another service's unit
        setVariable("SHAREDLIB_SERVICE_NAME", named);
        testing::internal::CaptureStdout();
        EXPECT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 1063);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "*** --- *** Unable to start service \n"
                  "The service process could not connect to the service controller.\r\n\n\n");
    }
    EXPECT_FALSE(ServiceManager::isUsingService());
    EXPECT_TRUE(ServiceManager::initService());  // console mode
    ServiceManager::endService(3);
    EXPECT_TRUE(platform::TakeServiceStatusReports().empty());

    std::string longName(300, 'n');
    testing::internal::CaptureStdout();
    EXPECT_EQ(ServiceManager::configureService(pollingServiceMain, longName.c_str()), 123);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ServiceManager::isUsingService());
}

TEST_F(ServiceManagerTest, StopAndShutdownControlsEndTheService)
{
    for (uint32_t control : {platform::SERVICE_CONTROL_STOP, platform::SERVICE_CONTROL_SHUTDOWN}) {
        SCOPED_TRACE(control);
        platform::SetStartedByServiceControlManager(true);
        g_seen.clear();
        // An interrogation is answered with the record as it stands.
        platform::SendServiceControl(kName, platform::SERVICE_CONTROL_INTERROGATE);
        platform::SendServiceControl(kName, control);
        ASSERT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 0);
        EXPECT_EQ(platform::GetLastError(), 0u);
        EXPECT_EQ(g_seen, "ZoneServer service started stopped");
        EXPECT_TRUE(ServiceManager::isUsingService() && !ServiceManager::isServiceRunning());

        // "name type state exit accepted": running, running, stopped, stopped with the code.
        std::string reports;
        for (auto const &r : platform::TakeServiceStatusReports())
            reports += r.serviceName + " " + std::to_string(r.status.dwServiceType) + " " +
                       std::to_string(r.status.dwCurrentState) + " " + std::to_string(r.status.dwWin32ExitCode) +
                       " " + std::to_string(r.status.dwControlsAccepted) + "|";
        EXPECT_EQ(reports, "ZoneServer 48 4 0 5|ZoneServer 48 4 0 5|ZoneServer 48 1 0 5|ZoneServer 48 1 7 5|");
        ServiceManager::endService(9);  // the status handle ended with the dispatcher
        EXPECT_TRUE(platform::TakeServiceStatusReports().empty());
    }
}

TEST_F(ServiceManagerTest, FailedHandlerRegistrationLeavesStartPending)
{
    platform::SetStartedByServiceControlManager(true);
    platform::FailNextServiceCall(platform::ServiceCall::RegisterServiceCtrlHandler, 1060);
    ASSERT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 0);
    EXPECT_EQ(g_seen, "ZoneServer service stopped");
    EXPECT_FALSE(ServiceManager::isServiceRunning());
    EXPECT_TRUE(platform::TakeServiceStatusReports().empty());
}

}  // namespace
