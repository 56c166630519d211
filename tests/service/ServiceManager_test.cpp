#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/platform/ServiceControl.h>
#include <SharedLib/service/ServiceManager.h>

namespace {

using Kest::Orv::ServiceManager;

constexpr char kName[] = "ZoneServer";
constexpr char kDisplay[] = "Zone Server";

class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ResetServiceControl();
        platform::SetMessageBoxEcho(false);
        platform::TakeMessageBoxRecords();
    }
    void TearDown() override
    {
        platform::ResetServiceControl();
        platform::TakeMessageBoxRecords();
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
    EXPECT_EQ(entry.serviceStartName, "SALTHOST\\bob");
    EXPECT_EQ(entry.password, "secret");
    EXPECT_TRUE(platform::AccountHasRight("bob", "SeServiceLogonRight"));
}

TEST_F(ServiceManagerTest, BadAccountsStopTheInstallation)
{
    platform::AddServiceAccount("SALTHOST", "bob", "secret");
    EXPECT_EQ(maintain({"-install", "-username", "alice", "-password", "x"}), 1332);
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
