// The service manager's options, results and message boxes, and a program
// running as a service.
#include "support/ServiceManagerFixture.h"

namespace {

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
    platform::FailNextServiceCall(platform::ServiceCall::CreateService, 5);
    EXPECT_EQ(outcome({"-install"}), "5 Error/error: CreateService failed with error 5: Access is denied.\r\n");
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
    platform::FailNextServiceCall(platform::ServiceCall::LookupAccountName, 5);  // when asked for the sizes
    EXPECT_EQ(outcome({"-install", "-username", "bob", "-password", "secret"}),
              "5 Error/error: LookupAccountName failed with 5: Access is denied.\r\n");
    platform::FailNextServiceCall(platform::ServiceCall::LsaAddAccountRights, platform::STATUS_ACCESS_DENIED);
    EXPECT_EQ(outcome({"-install", "-username", "bob", "-password", "secret"}),
              "5 Error/error: LsaAddAccountRights failed with 5: Access is denied.\r\n");
    EXPECT_FALSE(installed());
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

// Started by hand; on POSIX also when started by another service's unit.
void expectConsoleStart()
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 1063);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** --- *** Unable to start service \n"
              "The service process could not connect to the service controller.\r\n\n\n");
}

TEST_F(ServiceManagerTest, ProgramStartedForAnotherServiceIsAConsoleProgram)
{
    setVariable("SHAREDLIB_SERVICE_NAME", "Launcher");
    expectConsoleStart();
    EXPECT_FALSE(ServiceManager::isUsingService());
}

TEST_F(ServiceManagerTest, ConsoleProgramCannotStartAsService)
{
    expectConsoleStart();
    EXPECT_FALSE(ServiceManager::isUsingService());
    EXPECT_TRUE(ServiceManager::initService());  // console mode
    ServiceManager::endService(3);
    EXPECT_TRUE(platform::TakeServiceStatusReports().empty());

    std::string longName(300, 'n');
    testing::internal::CaptureStdout();
    EXPECT_EQ(ServiceManager::configureService(pollingServiceMain, longName.c_str()), 123);
    platform::SetStartedByServiceControlManager(true);
    platform::FailNextServiceCall(platform::ServiceCall::StartServiceCtrlDispatcher, 0);  // a failure without a code
    EXPECT_EQ(ServiceManager::configureService(pollingServiceMain, kName), 1);
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

        // "name type state accepted exit specific checkpoint hint": running, running,
        // stopped, stopped with the code.
        std::string reports;
        for (auto const &r : platform::TakeServiceStatusReports()) {
            reports += r.serviceName;
            for (uint32_t field : {r.status.dwServiceType, r.status.dwCurrentState, r.status.dwControlsAccepted,
                                   r.status.dwWin32ExitCode, r.status.dwServiceSpecificExitCode,
                                   r.status.dwCheckPoint, r.status.dwWaitHint})
                reports += " " + std::to_string(field);
            reports += "|";
        }
        EXPECT_EQ(reports, "ZoneServer 48 4 5 0 0 0 0|ZoneServer 48 4 5 0 0 0 0|ZoneServer 48 1 5 0 0 0 0|"
                           "ZoneServer 48 1 5 7 0 0 0|");
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
