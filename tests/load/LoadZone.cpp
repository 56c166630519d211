#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

#include <SharedLib/SharedLib.h>

#include "HostLoop.h"
#include "ZoneClient.h"
#include "ZoneRouter.h"
#include "ZoneServer.h"
#include "support/ConnectionPair.h"
#include "support/TempDirectory.h"

namespace {

constexpr int kClients = 200;
constexpr int kMovesEach = 500;
using Clock = std::chrono::steady_clock;

// A peer that misbehaves on a plain socket; the test's loop must never block.
platform::SOCKET connectRaw(uint16_t port)
{
    platform::SOCKET s = platform::CreateSocket(platform::SOCK_STREAM_);
    SetSocketBlockingFlag(s, false);
    platform::ConnectSocket(s, 0x7F000001, port);
    return s;
}

void sendAll(platform::SOCKET s, std::string const &bytes)
{
    size_t sent = 0;
    for (int tries = 0; sent < bytes.size() && tries < 1000; ++tries)
        sent += static_cast<size_t>(std::max(0, platform::send(s, bytes.data() + sent,
                                                               static_cast<int>(bytes.size() - sent), 0)));
}

// Bytes until `count` arrived or the peer closed, the server framing meanwhile.
std::string receive(platform::SOCKET s, size_t count, zone::ZoneServer &server, bool *closed)
{
    std::string got;
    char buffer[65536];
    for (auto deadline = Clock::now() + std::chrono::seconds(5); got.size() < count && Clock::now() < deadline;) {
        server.Frame(1);
        int n = platform::recv(s, buffer, sizeof buffer, 0);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
        if ((*closed = n == 0))
            break;
    }
    return got;
}

// Long frames up to the limit come back bounced; a larger one closes its connection.
TEST(ZoneServerLimits, LongMessagesUpToTheLimitPassAndALargerOneClosesItsConnection)
{
    TempDirectory logs;
    Logger *logger = zone::InitZoneHost("Limits", logs.windows().c_str(), {}, false);
    zone::ZoneServer server;
    server.SetMaxMessage(100000);
    ASSERT_EQ(server.Open(0, false), 0);

    platform::SOCKET peer = connectRaw(server.Port());
    bool closed = false;
    std::string table = receive(peer, 2, server, &closed);
    ASSERT_GE(table.size(), 2u);
    receive(peer, 2 + (static_cast<unsigned char>(table[0]) | static_cast<unsigned char>(table[1]) << 8) - table.size(),
            server, &closed);
    CPackedData test;
    test.PutUint16(static_cast<uint16_t>(Msg_Test));
    test.PutData(std::string(70000 - 4, 'z').data(), 70000 - 4);
    std::string frame = Frame(std::string(test.readData(), static_cast<size_t>(test.size())));  // the long form
    sendAll(peer, frame);
    EXPECT_EQ(receive(peer, frame.size(), server, &closed), frame);
    sendAll(peer, std::string("\xFD\xFF\xA1\x86\x01\x00", 6) + std::string(1000, 'q'));  // 100001 bytes announced
    receive(peer, 1, server, &closed);
    EXPECT_EQ(std::make_tuple(closed, server.Statistics().refused, server.ClientCount()),
              std::make_tuple(true, 1u, size_t{0}));
    platform::closesocket(peer);
    server.Close();
    zone::ShutdownZoneHost(logger);
}

// Hundreds of clients whose every call is answered once and in order, beside hostile peers.
TEST(Load, TwoHundredClientsOfFiveHundredCallsAndHostilePeers)
{
    TempDirectory logs;
    Logger *logger = zone::InitZoneHost("Load", logs.windows().c_str(), {}, false);
    zone::ZoneServer server;
    zone::Router().SetServer(&server);
    ASSERT_EQ(server.Open(0, false), 0);
    zone::HostLoop clientLoop;
    std::vector<std::unique_ptr<zone::ZoneClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<zone::ZoneClient>("Load" + std::to_string(i), kMovesEach));
        clients.back()->Start("127.0.0.1:" + std::to_string(server.Port()), clientLoop);
    }
    // Garbage, a frame cut off by a reset, a table message with a digest that
    // matches nothing, an RPC for an unknown identifier.
    std::vector<platform::SOCKET> hostile;
    auto started = Clock::now();
    auto since = [&](int ms) { return Clock::now() - started > std::chrono::milliseconds(ms); };
    bool hostileSent = false;
    for (int running = kClients; running > 0 && !since(90000);) {
        server.Frame(0);
        clientLoop.Frame(1);
        while (hostile.size() < 4 && since(100))
            hostile.push_back(connectRaw(server.Port()));
        if (!hostileSent && since(300)) {
            hostileSent = true;
            sendAll(hostile[0], std::string("\x07\x00garbage\xFF\x10\x00\x01\x02", 14));
            sendAll(hostile[1], std::string("\x40\x00\x01\x00", 4));  // 64 bytes announced, 2 sent
            platform::Linger abort{1, 0};
            platform::setsockopt(hostile[1], platform::SOL_SOCKET_, platform::SO_LINGER_, &abort, sizeof abort);
            platform::closesocket(hostile[1]);
            sendAll(hostile[2], Frame(std::string("\x00\x00", 2) + std::string(16, '\x5A')));
            sendAll(hostile[3], Frame(std::string("\x00\x01\x00", 3) + std::string("\xEF\xBE\xAD\xDE", 4)));
        }
        running = 0;
        for (auto &client : clients)
            running += client->Check() == zone::ZoneClient::Outcome::Running;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    int succeeded = 0;
    uint64_t acks = 0, updates = 0;
    for (auto &client : clients) {
        if (client->Check() == zone::ZoneClient::Outcome::Succeeded)
            ++succeeded;
        else
            ADD_FAILURE() << client->Name() << ": " << client->Failure();
        EXPECT_NE(client->Connection().GetState(), CConnection::Error) << client->Name();
        acks += static_cast<uint64_t>(client->AcksReceived());
        updates += client->UpdatesReceived();
    }
    EXPECT_EQ(succeeded, kClients);
    EXPECT_EQ(acks, static_cast<uint64_t>(kClients) * kMovesEach);
    auto const &statistics = server.Statistics();
    EXPECT_EQ(std::make_tuple(statistics.moves, statistics.logins, statistics.badSeals),
              std::make_tuple(uint32_t{kClients * kMovesEach}, uint32_t{kClients}, 0u));
    std::printf("load: %d clients, %.0f calls/s, %llu state updates\n", succeeded, static_cast<double>(acks) / seconds,
                static_cast<unsigned long long>(updates));

    for (platform::SOCKET s : hostile)
        if (s != hostile[1])
            platform::closesocket(s);
    clients.clear();
    server.Close();
    zone::Router().SetServer(nullptr);
    zone::ShutdownZoneHost(logger);
}

}  // namespace
