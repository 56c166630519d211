// The service manager over systemd: unit files, systemctl calls, start limits.
#include "support/ServiceManagerFixture.h"

namespace {

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
        {"Zone Server", "\"" + windows + "\" -a \"b c\" 100% $HOME \"d e\\\\\"", "Zone\\x20Server.service",
         "ExecStart=\"" + host + "\" -a \"b c\" \"100%%\" \"$$HOME\" \"d e\\\\\"\n",
         "\"" + windows + "\" -a \"b c\" 100% $HOME \"d e\\\\\""},
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
    platform::ServiceHandle manager = platform::OpenSCManagerA(nullptr, nullptr, platform::GENERIC_ALL);
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
        EXPECT_EQ(std::pair(entry.hasFailureActions, entry.resetPeriod), std::pair(true, c.queriedReset));
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

// A unit written by hand: hexadecimal escapes either case, and no RestartSec.
TEST_F(SystemdServiceTest, AUnitWrittenByHandIsRead)
{
    fs::create_directories(units());
    std::ofstream(units() / "Hand.service") << "[Service]\nExecStart=/bin\\x2Ftru\\x65\nRestart=on-failure\n";
    platform::ServiceEntry e;
    ASSERT_TRUE(platform::QueryServiceEntry("Hand", &e));
    EXPECT_EQ(e.binaryPathName + "|" + describe(e.failureActions), "z:\\bin\\true|1/0 ");
}

// A policy handle closes once; a right is nobody's without a name.
TEST_F(SystemdServiceTest, PolicyHandlesAndRights)
{
    platform::LsaObjectAttributes attributes{};
    platform::LsaHandle policy = 0;
    ASSERT_EQ(platform::LsaOpenPolicy(nullptr, &attributes, platform::POLICY_LOOKUP_NAMES, &policy), 0u);
    EXPECT_EQ(platform::LsaClose(policy), 0u);
    EXPECT_EQ(platform::LsaClose(policy), platform::STATUS_INVALID_HANDLE);  // closed once only
    EXPECT_FALSE(platform::AccountHasRight(nullptr, "SeServiceLogonRight"));  // nobody named
}

// A stop sent while the service runs wakes the dispatcher, which hands it on.
TEST_F(SystemdServiceTest, AStopSentWhileTheServiceRunsEndsIt)
{
    static bool stopped;
    platform::SetStartedByServiceControlManager(true);
    auto const serviceMain = [](uint32_t, char **) {
        ServiceManager::initService();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the dispatcher is asleep again
        platform::SendServiceControl(kName, platform::SERVICE_CONTROL_STOP);
        for (int i = 0; i < 5000 && ServiceManager::isServiceRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stopped = !ServiceManager::isServiceRunning();
        ServiceManager::endService(0);
    };
    EXPECT_EQ(ServiceManager::configureService(serviceMain, kName), 0);
    EXPECT_TRUE(stopped);
}

}  // namespace
