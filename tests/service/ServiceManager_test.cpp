#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/MessageBox.h>
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

// Sets an environment variable; putenv keeps the very string, so every one
// stays allocated (and reachable) for the process's life. An empty value
// reads as unset to the service manager.
void setVariable(std::string const &name, std::string const &value)
{
    static auto *kept = new std::vector<std::unique_ptr<char[]>>;
    std::string const assignment = name + "=" + value;
    kept->push_back(std::make_unique<char[]>(assignment.size() + 1));
    std::memcpy(kept->back().get(), assignment.c_str(), assignment.size() + 1);
    putenv(kept->back().get());
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

// Services go to a systemd stand-in first on the PATH, with the unit
// directory in a scratch folder (the Windows build's manager ignores both).
class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ResetServiceControl();
        platform::SetMessageBoxEcho(false);
        platform::TakeMessageBoxRecords();
        fs::create_directories(dir.host() / "bin");
        {
            std::ofstream(dir.host() / "bin" / "systemctl", std::ios::binary) << kSystemctl;
        }
        fs::permissions(dir.host() / "bin" / "systemctl", fs::perms::owner_all);
        char const separator = fs::path::preferred_separator == '/' ? ':' : ';';
        char const *path = std::getenv("PATH");
        m_path = path != nullptr ? path : "";
        setVariable("PATH", (dir.host() / "bin").string() + separator + m_path);
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

    static void expectOneBox(std::string const &text, std::string const &caption, uint32_t type)
    {
        auto boxes = platform::TakeMessageBoxRecords();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].caption, caption);
        EXPECT_EQ(boxes[0].type, type);
    }

    fs::path units() const { return dir.host() / "units"; }

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

TEST_F(ServiceManagerTest, UsageIsPrintedAndStopsEverythingElse)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(maintain({"-install", "-?", "-remove"}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage);
    EXPECT_FALSE(installed());
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());
}

TEST_F(ServiceManagerTest, NoMaintenanceWithoutOptions)
{
    char program[] = "server.exe";
    char *argv[] = {program, nullptr};
    EXPECT_EQ(ServiceManager::serviceMaintenance(1, argv, kName, kDisplay), 0);
    EXPECT_EQ(ServiceManager::serviceMaintenance(0, nullptr, kName, kDisplay), 0);
    EXPECT_EQ(maintain({"-port", "7000", "install", "--install"}), 0);
    EXPECT_FALSE(installed());
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());
}

TEST_F(ServiceManagerTest, InstallCreatesTheEntryInAnyCase)
{
    EXPECT_EQ(maintain({"-world", "3", "-InStAlL"}), 1);
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());

    platform::ServiceEntry entry;
    ASSERT_TRUE(installed(&entry));
    std::string executable;
    ASSERT_TRUE(platform::GetExecutablePath(executable));
    EXPECT_EQ(entry.binaryPathName, executable);
    EXPECT_EQ(entry.displayName, kDisplay);
    EXPECT_EQ(entry.serviceType, platform::SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(entry.startType, platform::SERVICE_AUTO_START);
    EXPECT_EQ(entry.errorControl, platform::SERVICE_ERROR_NORMAL);
    EXPECT_EQ(entry.serviceStartName, "");  // the local system account
    ASSERT_TRUE(entry.hasFailureActions);
    EXPECT_EQ(entry.resetPeriod, 0xFFFFFFFFu);
    EXPECT_FALSE(entry.hasRebootMessage);
    EXPECT_EQ(entry.command, "");
    ASSERT_EQ(entry.failureActions.size(), 1u);
    EXPECT_EQ(entry.failureActions[0].type, platform::SC_ACTION_RESTART);
    EXPECT_EQ(entry.failureActions[0].delay, 10000u);
}

TEST_F(ServiceManagerTest, ReinstallReconfiguresTheExistingEntry)
{
    ASSERT_EQ(maintain({"-install"}, "Old Name"), 1);
    EXPECT_EQ(maintain({"-INSTALL"}, "New Name"), 1);
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());
    platform::ServiceEntry entry;
    ASSERT_TRUE(installed(&entry));
    EXPECT_EQ(entry.displayName, "New Name");
    EXPECT_EQ(platform::ListServiceEntries().size(), 1u);
}

TEST_F(ServiceManagerTest, RemoveDeletesTheEntryAndReportsAMissingOne)
{
    ASSERT_EQ(maintain({"-install"}), 1);
    EXPECT_EQ(maintain({"-Remove"}), 1);
    EXPECT_FALSE(installed());
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());

    EXPECT_EQ(maintain({"-remove"}), 1060);
    expectOneBox("OpenService failed with error 1060: The specified service does not exist as an installed "
                 "service.\r\n",
                 "Error", platform::MB_ICONERROR);
}

TEST_F(ServiceManagerTest, InstallAndRemoveTogetherAreRefused)
{
    EXPECT_EQ(maintain({"-remove", "-install"}), 2);
    expectOneBox("-install and -remove were both specified.  Please specify only one.", "Error",
                 platform::MB_ICONINFORMATION);
    EXPECT_FALSE(installed());
}

TEST_F(ServiceManagerTest, MissingValuesAreShownAndInstallationGoesOn)
{
    EXPECT_EQ(maintain({"-install", "-username"}), 1);
    expectOneBox("No username was specified", "Error", platform::MB_ICONINFORMATION);
    platform::ServiceEntry entry;
    ASSERT_TRUE(installed(&entry));
    EXPECT_EQ(entry.serviceStartName, "");

    EXPECT_EQ(maintain({"-install", "-PASSWORD"}), 1);
    expectOneBox("No password was specified", "Error", platform::MB_ICONINFORMATION);
}

TEST_F(ServiceManagerTest, AccountGetsTheServiceLogonRight)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    EXPECT_EQ(maintain({"-USERNAME", "bob", "-install", "-PassWord", "secret"}), 1);
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());
    platform::ServiceEntry entry;
    ASSERT_TRUE(installed(&entry));
    EXPECT_EQ(entry.serviceStartName.substr(entry.serviceStartName.rfind('\\') + 1), "bob");
    EXPECT_TRUE(platform::AccountHasRight("bob", "SeServiceLogonRight"));
}

TEST_F(ServiceManagerTest, BadAccountsStopTheInstallation)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    EXPECT_EQ(maintain({"-install", "-username", "no-such-user-q7", "-password", "x"}), 1332);
    expectOneBox("LookupAccountName failed with 1332: No mapping between account names and security IDs was "
                 "done.\r\n",
                 "Error", platform::MB_ICONERROR);

    EXPECT_EQ(maintain({"-install", "-username", "bob", "-password", "wrong"}), 1326);
    expectOneBox("LogonUser failed with 1326: The user name or password is incorrect.\r\n", "Error",
                 platform::MB_ICONERROR);

    platform::FailNextServiceCall(platform::ServiceCall::LsaAddAccountRights, platform::STATUS_ACCESS_DENIED);
    EXPECT_EQ(maintain({"-install", "-username", "bob", "-password", "secret"}), 5);
    expectOneBox("LsaAddAccountRights failed with 5: Access is denied.\r\n", "Error", platform::MB_ICONERROR);
    EXPECT_FALSE(installed());
}

TEST_F(ServiceManagerTest, ManagerAndConfigurationFailures)
{
    platform::SetServiceControlManagerRights(platform::SC_MANAGER_CONNECT);
    EXPECT_EQ(maintain({"-install"}), 5);
    expectOneBox("Failed to open the Service Control Manager with sufficient rights to create a service.", "Error",
                 platform::MB_ICONERROR);
    EXPECT_EQ(maintain({"-remove"}), 5);
    expectOneBox("Failed to open the Service Control Manager with sufficient rights to delete a service.", "Error",
                 platform::MB_ICONERROR);

    platform::SetServiceControlManagerRights(platform::SC_MANAGER_ALL_ACCESS);
    platform::FailNextServiceCall(platform::ServiceCall::ChangeServiceConfig2, 5);
    EXPECT_EQ(maintain({"-install"}), 5);
    expectOneBox("CreateService succeeded, but ChangeServiceConfig2 failed with error 5: Access is denied.\r\n",
                 "Warning", platform::MB_ICONWARNING);
    EXPECT_TRUE(installed());  // the entry stays

    platform::FailNextServiceCall(platform::ServiceCall::DeleteService, 1072);
    EXPECT_EQ(maintain({"-remove"}), 1072);
    expectOneBox("DeleteService failed with error 1072: The specified service has been marked for deletion.\r\n",
                 "Warning", platform::MB_ICONWARNING);
}

// --- Over systemd (POSIX only) -------------------------------------------------

class SystemdServiceTest : public ServiceManagerTest {
protected:
    // The unit file as the manager would read it.
    std::string unitText(char const *unit = "ZoneServer.service") const { return ReadHostFile(units() / unit); }

    static fs::path program()
    {
        std::string executable;
        EXPECT_TRUE(platform::GetExecutablePath(executable));
        return platform::HostPath(executable.c_str());
    }
};

TEST_F(SystemdServiceTest, InstallWritesTheUnitAndRemoveTakesItAway)
{
    struct Case {
        char const *scope;
        std::string systemctl;  // how every call begins
        char const *target;
    };
    for (Case const &c : {Case{"system", "", "multi-user.target"}, Case{"user", "--user ", "default.target"}}) {
        SCOPED_TRACE(c.scope);
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", c.scope);
        ASSERT_EQ(maintain({"-install"}), 1);
        EXPECT_EQ(unitText(), "[Unit]\nDescription=Zone Server\nStartLimitIntervalSec=0\n\n[Service]\nType=notify\n"
                              "Environment=SHAREDLIB_SERVICE_NAME=ZoneServer\nExecStart=" +
                                  program().string() + "\nWorkingDirectory=" + program().parent_path().string() +
                                  "\nRestart=on-failure\nRestartSec=10s\n\n[Install]\nWantedBy=" + c.target + "\n");
        EXPECT_EQ(takeCalls(), (Strings{c.systemctl + "daemon-reload", c.systemctl + "enable ZoneServer.service",
                                        c.systemctl + "daemon-reload"}));

        ASSERT_EQ(maintain({"-remove"}), 1);
        EXPECT_FALSE(fs::exists(units() / "ZoneServer.service"));
        EXPECT_EQ(takeCalls(), (Strings{c.systemctl + "stop ZoneServer.service",
                                        c.systemctl + "disable ZoneServer.service", c.systemctl + "daemon-reload"}));
        EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());
    }
}

TEST_F(SystemdServiceTest, InstalledUnitsPassSystemdVerify)
{
    if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed";
    fs::create_directories(dir.host() / "runtime");
    struct Case {
        char const *scope;
        Strings arguments;
    };
    Case const cases[] = {
        {"system", {"-install"}},
        {"system", {"-install", "-username", "root", "-password", "any"}},
        {"user", {"-install"}},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.scope + (" " + c.arguments.back()));
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", c.scope);
        ASSERT_EQ(maintain(c.arguments), 1);
        std::string const command = "XDG_RUNTIME_DIR='" + (dir.host() / "runtime").string() +
                                    "' systemd-analyze verify " + (c.scope[0] == 'u' ? "--user '" : "'") +
                                    (units() / "ZoneServer.service").string() + "' >'" +
                                    (dir.host() / "verify.txt").string() + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << unitText() << ReadHostFile(dir.host() / "verify.txt");
    }
}

TEST_F(SystemdServiceTest, AccountsBecomeTheUnitsUser)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    ASSERT_EQ(maintain({"-install", "-username", "root", "-password", "any"}), 1);  // the system's own account
    EXPECT_NE(unitText().find("\nUser=root\n"), std::string::npos);
    ASSERT_EQ(maintain({"-install", "-username", "SALTHOST\\bob", "-password", "secret"}), 1);
    EXPECT_NE(unitText().find("\nUser=bob\n"), std::string::npos);
    ASSERT_EQ(maintain({"-remove"}), 1);

    // A user's own manager runs units as that user only.
    setVariable("SHAREDLIB_SYSTEMD_SCOPE", "user");
    EXPECT_EQ(maintain({"-install", "-username", "bob", "-password", "secret"}), 1057);
    expectOneBox("CreateService failed with error 1057: The account name is invalid or does not exist, or the "
                 "password is invalid for the account name specified.\r\n",
                 "Error", platform::MB_ICONERROR);
    EXPECT_FALSE(installed());
}

TEST_F(SystemdServiceTest, RefusalsOfTheManagerAreReportedAndUndone)
{
    struct Case {
        char const *failing;  // the systemctl verb that fails
        Strings arguments;
        int32_t result;
        char const *box;
        char const *caption;
        uint32_t icon;
        char const *description;  // in the unit left behind; null: none is
    };
    Case const cases[] = {
        {"enable", {"-install"}, 1722, "CreateService failed with error 1722: The RPC server is unavailable.\r\n",
         "Error", platform::MB_ICONERROR, nullptr},
        {"daemon-reload", {"-install"}, 1722,
         "ConfigureService failed with error 1722: The RPC server is unavailable.\r\n", "Error",
         platform::MB_ICONERROR, "Old Name"},
        {"disable", {"-remove"}, 1722, "DeleteService failed with error 1722: The RPC server is unavailable.\r\n",
         "Warning", platform::MB_ICONWARNING, "Old Name"},
        {"stop", {"-remove"}, 1722, "DeleteService failed with error 1722: The RPC server is unavailable.\r\n",
         "Warning", platform::MB_ICONWARNING, "Old Name"},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.failing);
        if (c.description != nullptr) {
            ASSERT_EQ(maintain({"-install"}, "Old Name"), 1);
        }
        std::ofstream(dir.host() / ("fail-" + std::string(c.failing))).flush();
        EXPECT_EQ(maintain(c.arguments, "New Name"), c.result);
        expectOneBox(c.box, c.caption, c.icon);
        if (c.description != nullptr)
            EXPECT_NE(unitText().find(std::string("Description=") + c.description + "\n"), std::string::npos);
        else
            EXPECT_FALSE(fs::exists(units() / "ZoneServer.service"));
        fs::remove(dir.host() / ("fail-" + std::string(c.failing)));
        if (c.description != nullptr) {
            ASSERT_EQ(maintain({"-remove"}), 1);
        }
    }

    setVariable("SHAREDLIB_SYSTEMCTL", (dir.host() / "no-systemctl").string());
    EXPECT_EQ(maintain({"-install"}), 2);
    expectOneBox("Failed to open the Service Control Manager with sufficient rights to create a service.", "Error",
                 platform::MB_ICONERROR);
}

TEST_F(SystemdServiceTest, CommandLinesAndNamesSurviveTheUnitFile)
{
    fs::create_directories(dir.host() / "with space");
    {
        std::ofstream(dir.host() / "with space" / "prog") << "#!/bin/sh\n";
    }
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
        EXPECT_NE(text.find("Description=50%% \"load\" next\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Requires=Db\\x20Server.service\nAfter=Db\\x20Server.service\nRequires=Auth.service\n"),
                  std::string::npos)
            << text;
        platform::ServiceEntry entry;
        ASSERT_TRUE(platform::QueryServiceEntry(c.name, &entry));
        EXPECT_EQ(entry.serviceName, c.name);
        EXPECT_EQ(entry.displayName, "50% \"load\" next");
        EXPECT_EQ(entry.binaryPathName, c.queried);
        EXPECT_EQ(entry.startType, platform::SERVICE_DEMAND_START);
        platform::CloseServiceHandle(service);
    }
    EXPECT_EQ(platform::ListServiceEntries(), (Strings{".hidden@1", "Zone Server"}));
    platform::CloseServiceHandle(manager);
}

// --- Running as a service -------------------------------------------------------

std::atomic<bool> g_initResult{false};
std::atomic<bool> g_sawStop{false};
std::atomic<bool> g_wasUsingService{false};
std::string g_firstArgument;

// A service main function as a server writes it: start, poll until stopped, end.
void pollingServiceMain(uint32_t argc, char **argv)
{
    g_firstArgument = argc > 0 ? argv[0] : "";
    g_wasUsingService = ServiceManager::isUsingService();
    g_initResult = ServiceManager::initService();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_initResult && ServiceManager::isServiceRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_sawStop = !ServiceManager::isServiceRunning();
    ServiceManager::endService(7);
}

TEST_F(ServiceManagerTest, ConsoleProgramCannotStartAsService)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 1063);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** --- *** Unable to start service \n"
              "The service process could not connect to the service controller.\r\n\n\n");
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
        g_sawStop = false;
        // An interrogation is answered with the record as it stands.
        platform::SendServiceControl(kName, platform::SERVICE_CONTROL_INTERROGATE);
        platform::SendServiceControl(kName, control);
        ASSERT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 0);
        EXPECT_TRUE(ServiceManager::isUsingService());
        EXPECT_TRUE(g_wasUsingService);
        EXPECT_TRUE(g_initResult);
        EXPECT_TRUE(g_sawStop);
        EXPECT_EQ(g_firstArgument, kName);
        EXPECT_FALSE(ServiceManager::isServiceRunning());

        auto reports = platform::TakeServiceStatusReports();
        ASSERT_EQ(reports.size(), 4u);
        for (auto const &report : reports) {
            EXPECT_EQ(report.serviceName, kName);
            EXPECT_EQ(report.status.dwServiceType, platform::SERVICE_WIN32);
            EXPECT_EQ(report.status.dwControlsAccepted, 5u);
        }
        EXPECT_EQ(reports[0].status.dwCurrentState, platform::SERVICE_RUNNING);
        EXPECT_EQ(reports[1].status.dwCurrentState, platform::SERVICE_RUNNING);
        EXPECT_EQ(reports[2].status.dwCurrentState, platform::SERVICE_STOPPED);
        EXPECT_EQ(reports[2].status.dwWin32ExitCode, 0u);
        EXPECT_EQ(reports[3].status.dwCurrentState, platform::SERVICE_STOPPED);
        EXPECT_EQ(reports[3].status.dwWin32ExitCode, 7u);
    }
}

TEST_F(ServiceManagerTest, FailedHandlerRegistrationLeavesStartPending)
{
    platform::SetStartedByServiceControlManager(true);
    platform::FailNextServiceCall(platform::ServiceCall::RegisterServiceCtrlHandler, 1060);
    g_initResult = true;
    ASSERT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 0);
    EXPECT_FALSE(g_initResult);
    EXPECT_FALSE(ServiceManager::isServiceRunning());
    EXPECT_TRUE(platform::TakeServiceStatusReports().empty());
}

}  // namespace
