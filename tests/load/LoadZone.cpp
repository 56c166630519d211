#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include <SharedLib/SharedLib.h>

#include "HostLoop.h"
#include "ZoneClient.h"
#include "ZoneRouter.h"
#include "ZoneServer.h"
#include "support/TempDirectory.h"

namespace {

constexpr int kClients = 200;
constexpr int kMovesEach = 500;
constexpr uint32_t kLoopback = 0x7F000001;

// A peer that misbehaves on a plain socket.
platform::SOCKET connectRaw(uint16_t port)
{
    platform::SOCKET s = platform::CreateSocket(platform::SOCK_STREAM_);
    SetSocketBlockingFlag(s, false);  // the test's loop must never block
    platform::ConnectSocket(s, kLoopback, port);
    return s;
}

void sendAll(platform::SOCKET s, std::string const &bytes)
{
    size_t sent = 0;
    for (int tries = 0; sent < bytes.size() && tries < 1000; ++tries) {
        int n = platform::send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n > 0)
            sent += static_cast<size_t>(n);
    }
}

std::string framed(std::string const &message)
{
    std::string bytes(2, '\0');
    bytes[0] = static_cast<char>(message.size() & 0xFF);
    bytes[1] = static_cast<char>(message.size() >> 8);
    return bytes + message;
}

TEST(Load, TwoHundredClientsOfFiveHundredCallsAndHostilePeers)
{
    TempDirectory logs;
    Logger *logger = zone::InitZoneHost("Load", logs.windows().c_str(), {}, false);
    zone::ZoneServer server;
    zone::Router().SetServer(&server);
    ASSERT_EQ(server.Open(0, false), 0);
    std::string endpoint = "127.0.0.1:" + std::to_string(server.Port());

    zone::HostLoop clientLoop;
    std::vector<std::unique_ptr<zone::ZoneClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<zone::ZoneClient>("Load" + std::to_string(i), kMovesEach));
        clients.back()->Start(endpoint, clientLoop);
    }

    // Hostile peers: garbage, a frame cut off by a reset, a table message
    // with a digest that matches nothing, an RPC for an unknown identifier.
    std::vector<platform::SOCKET> hostile;

    auto started = std::chrono::steady_clock::now();
    auto deadline = started + std::chrono::seconds(90);
    bool hostileSent = false;
    int running = kClients;
    while (running > 0 && std::chrono::steady_clock::now() < deadline) {
        server.Frame(0);
        clientLoop.Frame(1);
        if (hostile.empty() && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(100)) {
            for (int i = 0; i < 4; ++i)
                hostile.push_back(connectRaw(server.Port()));
        }
        if (!hostileSent && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(300)) {
            hostileSent = true;
            sendAll(hostile[0], std::string("\x07\x00garbage\xFF\x10\x00\x01\x02", 14));
            sendAll(hostile[1], std::string("\x40\x00\x01\x00", 4));  // 64 bytes announced, 2 sent
            platform::Linger abort{1, 0};
            platform::setsockopt(hostile[1], platform::SOL_SOCKET_, platform::SO_LINGER_, &abort, sizeof abort);
            platform::closesocket(hostile[1]);
            sendAll(hostile[2], framed(std::string("\x00\x00", 2) + std::string(16, '\x5A')));
            sendAll(hostile[3], framed(std::string("\x00\x01\x00", 3) + std::string("\xEF\xBE\xAD\xDE", 4)));
        }
        running = 0;
        for (auto &client : clients)
            if (client->Check() == zone::ZoneClient::Outcome::Running)
                ++running;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

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
    EXPECT_EQ(server.Statistics().moves, static_cast<uint32_t>(kClients * kMovesEach));
    EXPECT_EQ(server.Statistics().logins, static_cast<uint32_t>(kClients));
    EXPECT_EQ(server.Statistics().badSeals, 0u);
    std::printf("load: %d clients, %llu RPC round trips in %.2f s (%.0f calls/s), %llu state updates received\n",
                succeeded, static_cast<unsigned long long>(acks), seconds, static_cast<double>(acks) / seconds,
                static_cast<unsigned long long>(updates));

    for (platform::SOCKET s : hostile)
        if (s != hostile[1])
            platform::closesocket(s);
    clients.clear();
    server.Close();
    zone::Router().SetServer(nullptr);
    zone::ShutdownZoneHost(logger);
}

// Bytes from a blocking-free socket until `count` arrived or the peer closed.
std::string receive(platform::SOCKET s, size_t count, zone::ZoneServer &server, bool *closed)
{
    std::string got;
    char buffer[65536];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        server.Frame(1);
        int n = platform::recv(s, buffer, sizeof buffer, 0);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
        if (n == 0) {
            *closed = true;
            break;
        }
    }
    return got;
}

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
    size_t tableFrame = 2 + (static_cast<unsigned char>(table[0]) | static_cast<unsigned char>(table[1]) << 8);
    receive(peer, tableFrame - table.size(), server, &closed);

    // 70000 bytes travel in the long form and come back bounced.
    CPackedData test;
    test.PutUint16(static_cast<uint16_t>(Msg_Test));
    std::string filler(70000 - 4, 'z');
    test.PutData(filler.data(), static_cast<int>(filler.size()));
    uint32_t size = static_cast<uint32_t>(test.size());
    std::string frame("\xFD\xFF", 2);
    frame.append(reinterpret_cast<const char *>(&size), 4);
    frame.append(test.readData(), size);
    sendAll(peer, frame);
    EXPECT_EQ(receive(peer, frame.size(), server, &closed), frame);

    // One byte above the limit: the server drops the client at once.
    uint32_t tooLarge = 100001;
    std::string header("\xFD\xFF", 2);
    header.append(reinterpret_cast<const char *>(&tooLarge), 4);
    sendAll(peer, header + std::string(1000, 'q'));
    receive(peer, 1, server, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(server.Statistics().refused, 1u);
    EXPECT_EQ(server.ClientCount(), 0u);

    platform::closesocket(peer);
    server.Close();
    zone::ShutdownZoneHost(logger);
}

}  // namespace
