// The zone demo: a zone server and scripted game clients built on SharedLib
// exactly as the game's programs use it.
//
//   zone_demo server --port P [--max-message BYTES] [--log CHANNEL=LEVEL]... [--logs DIR]
//   zone_demo client --connect HOST:PORT [--name NAME] [--moves N] [--log ...]
//   zone_demo demo [--clients N] [--moves N]   a server and N clients on 127.0.0.1
//   ... --rpc-names FILE                       also write the RPC name table (for a capture tool)
//
// Exit status: 0 on success, 1 when a client's session failed, 2 for bad
// arguments or a server that could not start.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <SharedLib/platform/ChildProcess.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/Process.h>

#include "ZoneClient.h"
#include "ZoneRouter.h"
#include "ZoneRpcNames.h"
#include "ZoneServer.h"

namespace {

std::atomic<bool> g_stop{false};

void requestStop() { g_stop = true; }

struct Options {
    std::string mode;
    uint16_t port = 0;
    std::string connect;
    std::string name = "Mariner";
    std::string logs = "logs";
    int moves = 200;
    int clients = 4;
    uint32_t maxMessage = zone::kDefaultMaxMessage;
    std::vector<std::string> levels;
    std::string rpcNames;
};

int usage(char const *why)
{
    std::fprintf(stderr, "zone_demo: %s\n", why);
    std::fprintf(stderr,
                 "usage: zone_demo server --port P [--max-message BYTES] [--log CHANNEL=LEVEL]... [--logs DIR]\n"
                 "       zone_demo client --connect HOST:PORT [--name NAME] [--moves N] [--log CHANNEL=LEVEL]...\n"
                 "       zone_demo demo [--clients N] [--moves N] [--port P]\n"
                 "       any mode: --rpc-names FILE writes the RPC name table first\n");
    return 2;
}

bool parse(int argc, char **argv, Options &options, std::string &error)
{
    if (argc < 2) {
        error = "no mode given";
        return false;
    }
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) {
            error = "option " + option + " needs a value";
            return false;
        }
        std::string value = argv[++i];
        if (option == "--port") {
            int port = std::atoi(value.c_str());
            if (port <= 0 || port > 65535) {
                error = "bad port " + value;
                return false;
            }
            options.port = static_cast<uint16_t>(port);
        } else if (option == "--connect") {
            options.connect = value;
        } else if (option == "--name") {
            options.name = value;
        } else if (option == "--moves") {
            options.moves = std::atoi(value.c_str());
        } else if (option == "--clients") {
            options.clients = std::atoi(value.c_str());
        } else if (option == "--log") {
            options.levels.push_back(value);
        } else if (option == "--rpc-names") {
            options.rpcNames = value;
        } else if (option == "--logs") {
            options.logs = platform::WindowsPath(value);  // the library's view of a path of this system
        } else if (option == "--max-message") {
            char *end = nullptr;
            unsigned long bytes = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || bytes == 0 || bytes > UINT32_MAX - 6) {
                error = "bad message size " + value;
                return false;
            }
            options.maxMessage = static_cast<uint32_t>(bytes);
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    return true;
}

int runServer(Options const &options)
{
    platform::OnStopRequest(requestStop);
    Logger *logger = zone::InitZoneHost("ZoneServer", options.logs.c_str(), options.levels, false);
    int status = 0;
    {
        zone::ZoneServer server;
        server.SetMaxMessage(options.maxMessage);
        zone::Router().SetServer(&server);
        int error = server.Open(options.port, false);
        if (error != 0) {
            std::fprintf(stderr, "zone_demo server: cannot listen on port %d (error %d)\n", options.port, error);
            status = 2;
        } else {
            std::printf("server: listening on 127.0.0.1:%d, logs in %s\n", server.Port(),
                        platform::HostPath(GetOutputPath(options.logs.c_str()).c_str()).c_str());
            std::fflush(stdout);
            while (!g_stop)
                server.Frame(10);
            zone::ServerStatistics const &s = server.Statistics();
            std::string slowest, busiest;
            float slowestAverage = 0.0f;
            int32_t busiestCount = 0;
            CRpcMgr::GetInstance()->getRPCStats(slowest, slowestAverage, busiest, busiestCount);
            std::printf("server: %u clients served, %u logins, %u moves, %u sealed notes (%u bad), %u Test bounces, "
                        "%u state updates sent\n",
                        s.accepted, s.logins, s.moves, s.sealedNotes, s.badSeals, s.bounced, s.updatesSent);
            std::printf("server: busiest RPC %s (%d calls), slowest %s (%.3f ms on average)\n",
                        busiest.empty() ? "-" : busiest.c_str(), busiestCount, slowest.empty() ? "-" : slowest.c_str(),
                        static_cast<double>(slowestAverage));
            std::printf("server: %s\n", server.ConnectionSummary().c_str());
            server.Close();
        }
        zone::Router().SetServer(nullptr);
    }
    zone::ShutdownZoneHost(logger);
    return status;
}

int runClient(Options const &options)
{
    if (options.connect.empty())
        return usage("client needs --connect HOST:PORT");
    Logger *logger = zone::InitZoneHost(("Client_" + options.name).c_str(), options.logs.c_str(), options.levels,
                                        false);
    int status;
    {
        zone::ZoneClient client(options.name, options.moves);
        auto started = std::chrono::steady_clock::now();
        zone::ZoneClient::Outcome outcome = client.Run(options.connect, 30000);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (outcome == zone::ZoneClient::Outcome::Succeeded) {
            std::printf("client %s: table checked, %d moves acknowledged in order, %u state updates, %.2f s\n",
                        options.name.c_str(), client.AcksReceived(), client.UpdatesReceived(), seconds);
            status = 0;
        } else {
            std::fprintf(stderr, "client %s: failed: %s\n", options.name.c_str(), client.Failure().c_str());
            status = 1;
        }
        client.Stop();
    }
    zone::ShutdownZoneHost(logger);
    return status;
}

// Another run of this program with the arguments (plain words, no quoting
// needed); its output is passed on to ours by relay.
std::unique_ptr<platform::ChildProcess> spawnSelf(std::vector<std::string> const &arguments)
{
    std::string self;
    auto child = std::make_unique<platform::ChildProcess>();
    if (!platform::GetExecutablePath(self))
        return child;
    std::string commandLine = "\"" + self + "\"";
    for (std::string const &argument : arguments)
        commandLine += " " + argument;
    child->Start(self.c_str(), commandLine.c_str());
    return child;
}

void relay(platform::ChildProcess &child)
{
    char buffer[4096];
    for (int32_t got; (got = child.Read(buffer, sizeof buffer)) > 0;)
        std::fwrite(buffer, 1, static_cast<size_t>(got), stdout);
    std::fflush(stdout);
}

// Waits for the child to end, passing its output on; its exit code, or -1
// when it never started.
int32_t finish(platform::ChildProcess &child)
{
    if (!child.started())
        return -1;
    while (child.Wait(50) != platform::ChildProcess::WaitResult::Exited)
        relay(child);
    relay(child);
    int32_t code = -1;
    child.GetExitCode(code);
    return code;
}

// The preferred port when it is free, else one the system picks.
uint16_t freePort(uint16_t preferred)
{
    platform::SOCKET probe = platform::CreateSocket(platform::SOCK_STREAM_);
    if (platform::BindSocket(probe, 0x7F000001, preferred) != 0)
        platform::BindSocket(probe, 0x7F000001, 0);
    uint16_t port = 0;
    platform::GetSocketName(probe, nullptr, &port);
    platform::closesocket(probe);
    return port;
}

int runDemo(Options const &options)
{
    uint16_t port = options.port != 0 ? options.port : freePort(zone::kDefaultPort);
    std::printf("demo: starting a zone server on 127.0.0.1:%d and %d clients making %d moves each\n", port,
                options.clients, options.moves);
    std::fflush(stdout);
    auto server = spawnSelf({"server", "--port", std::to_string(port)});
    // Give the server a moment to listen; clients retry nothing on their own.
    platform::Sleep(300);
    relay(*server);
    auto started = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<platform::ChildProcess>> clients;
    for (int i = 0; i < options.clients; ++i)
        clients.push_back(spawnSelf({"client", "--connect", "127.0.0.1:" + std::to_string(port), "--name",
                                     "Mariner" + std::to_string(i + 1), "--moves", std::to_string(options.moves)}));
    // Every child's output is passed on while they run, so none waits on a full pipe.
    for (bool running = true; running;) {
        running = false;
        for (auto const &child : clients) {
            if (child->started() && !child->HasExited()) {
                running = true;
                child->Wait(5);
            }
            relay(*child);
        }
        relay(*server);
    }
    int succeeded = 0;
    for (auto const &client : clients)
        if (finish(*client) == 0)
            ++succeeded;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (server->started())
        platform::RequestProcessStop(static_cast<uint32_t>(server->processId()));
    bool serverOk = finish(*server) == 0;
    std::printf("demo: %d of %d clients succeeded, %d RPC round trips in %.2f s, server %s\n", succeeded,
                options.clients, succeeded * options.moves, seconds, serverOk ? "shut down cleanly" : "FAILED");
    return succeeded == options.clients && serverOk ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!parse(argc, argv, options, error))
        return usage(error.c_str());
    if (options.moves < 0 || options.clients < 1)
        return usage("--moves and --clients must be positive");
    if (!options.rpcNames.empty() && !zone::WriteRpcNameTable(options.rpcNames, error)) {
        std::fprintf(stderr, "zone_demo: cannot write the RPC name table: %s\n", error.c_str());
        return 2;
    }
    if (options.mode == "server")
        return runServer(options);
    if (options.mode == "client")
        return runClient(options);
    if (options.mode == "demo")
        return runDemo(options);
    return usage(("unknown mode " + options.mode).c_str());
}
