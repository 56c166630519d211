// The zone demo captured live on the loopback interface and decoded: the
// messages the dissector finds agree with the counts the demo's server prints.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <thread>

#include "Capture.h"

using namespace capture;

TEST(DissectorLive, DemoTrafficAgreesWithTheServersCounts)
{
    if (!HaveTshark())
        GTEST_SKIP() << "tshark is not installed";
    std::string dir = TestDirectory("live");
    // tshark capturing the loopback interface; it stops by itself after a minute.
    pid_t tshark = ::fork();
    if (tshark == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen((dir + "/capture.err").c_str(), "w", stderr);
        ::execlp("tshark", "tshark", "-i", "lo", "-f", "tcp or udp", "-w", (dir + "/demo.pcapng").c_str(), "-a",
                 "duration:60", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    // tshark says it is capturing before it finds out whether it may: it then ends.
    auto capturing = [&] { return ReadFile(dir + "/capture.err").find("Capturing on") != std::string::npos; };
    auto exited = [&] { return ::waitpid(tshark, nullptr, WNOHANG) == tshark; };
    bool gone = false;
    for (int i = 0; i < 300 && !capturing() && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gone = exited();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!gone)
        gone = exited();
    if (gone || !capturing()) {
        if (!gone) {
            ::kill(tshark, SIGKILL);
            ::waitpid(tshark, nullptr, 0);
        }
        GTEST_SKIP() << "cannot capture on lo: " << ReadFile(dir + "/capture.err");
    }
    int status = std::system(("timeout -s KILL 60 " ZONE_DEMO " demo --clients 2 --moves 40 --rpc-names " + dir +
                              "/rpcs.txt >" + dir + "/demo.out 2>&1")
                                 .c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the last packets reach the file
    ::kill(tshark, SIGINT);
    ::waitpid(tshark, nullptr, 0);
    std::string output = ReadFile(dir + "/demo.out");
    ASSERT_EQ(status, 0) << output;

    // The port the demo took and the server's closing statistics.
    size_t at = output.find("zone server on 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << output;
    std::string port = std::to_string(std::atoi(output.c_str() + at + std::strlen("zone server on 127.0.0.1:")));
    at = output.rfind("server: ", output.find(" clients served,"));
    ASSERT_NE(at, std::string::npos) << output;
    int clients = 0, logins = 0, moves = 0, notes = 0, bad = 0, bounces = 0, updates = 0;
    ASSERT_EQ(std::sscanf(output.c_str() + at,
                          "server: %d clients served, %d logins, %d moves, %d sealed notes (%d bad), %d Test bounces, "
                          "%d state updates sent",
                          &clients, &logins, &moves, &notes, &bad, &bounces, &updates),
              7)
        << output;

    // The port the demo took alone; its clients' UDP ports are followed.
    TsharkResult result = RunTshark({"-o", "sharedlib.tcp_ports:" + port, "-o",
                                     "sharedlib.rpc_names:" + dir + "/rpcs.txt", "-r", dir + "/demo.pcapng",
                                     "-T", "fields", "-E", "aggregator=/s", "-e", "sharedlib.type_name", "-e",
                                     "sharedlib.rpc_name", "-e", "_ws.lua.error"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::map<std::string, int> count;
    for (auto const &row : result.Rows()) {
        std::istringstream names(row.at(0) + " " + row.at(1) + " " + (row.at(2).empty() ? "" : "LuaError"));
        for (std::string name; names >> name;)
            ++count[name];
    }
    EXPECT_EQ(moves, 2 * 40);
    std::map<std::string, int> expected = {
        {"RpcTable", clients},     {"UDPAnnouncement", clients},  {"Login", logins},
        {"Welcome", logins},       {"Move", moves},               {"MoveAck", moves},
        {"SealedNote", notes},     {"SealedNoteResult", notes},   {"Test", 2 * bounces},
        {"UpdateObject", updates}, {"LuaError", 0},               {"RpcCallFunction", 2 * (logins + moves + notes)}};
    for (auto const &[name, n] : expected)
        EXPECT_EQ(count[name], n) << name;
}
