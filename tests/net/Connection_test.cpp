#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/net/SocketHelpers.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLoopback = 0x7F000001;

class RecordingHandler : public CMessageHandler {
public:
    void HandleMessage(CConnection *, const void *, uint32_t) override {}
    void OnConnect(CConnection *, bool connected) override { ++(connected ? connects : losses); }
    void OnError(CConnection *, Error, int) override {}
    const char *GetHandlerName() const override { return "Zone"; }
    int connects = 0;
    int losses = 0;
};

// A plain listening socket the tests accept from by hand.
struct RawListener {
    RawListener()
    {
        socket = platform::CreateSocket(platform::SOCK_STREAM_);
        SetSocketBlockingFlag(socket, false);
        platform::BindSocket(socket, kLoopback, 0);
        platform::ListenSocket(socket, 16);
        platform::GetSocketName(socket, nullptr, &port);
    }
    ~RawListener() { platform::closesocket(socket); }
    platform::SOCKET accept()
    {
        for (int i = 0; i < 200; ++i) {
            platform::SOCKET s = platform::AcceptSocket(socket, nullptr, nullptr);
            if (s != platform::INVALID_SOCKET) {
                SetSocketBlockingFlag(s, false);
                return s;
            }
            std::this_thread::sleep_for(5ms);
        }
        return platform::INVALID_SOCKET;
    }
    platform::SOCKET socket;
    uint16_t port = 0;
};

// Calls step until done holds or two seconds pass.
bool drive(std::function<void()> const &step, std::function<bool()> const &done)
{
    auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        step();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The host loop's event path: wait on the event, then HandleEvent.
void waitAndHandle(CConnection &conn)
{
    void *event = conn.GetEventHandle();
    if (event != nullptr && platform::WaitForMultipleEvents(1, &event, 10) == platform::WAIT_OBJECT_0)
        conn.HandleEvent();
}

class ConnectionTest : public LogCaptureTest {
protected:
    RecordingHandler handler;
};

TEST_F(ConnectionTest, AnUnparsableAddressEndsInErrorWithoutASocket)
{
    CConnection conn;
    conn.InitStream(std::string("not an endpoint"));
    EXPECT_EQ(conn.GetState(), CConnection::Error);
    EXPECT_EQ(conn.GetError(), 10049);
    EXPECT_EQ(conn.GetSocket(), platform::INVALID_SOCKET);
    EXPECT_EQ(texts(), std::vector<std::string>{"ERROR Network: Unhandled to 0.0.0.0:0: ConvertAddressString failed "
                                                "with error code 10049 in CConnection::InitStream"});
    bool processed = false;
    EXPECT_EQ(conn.Preprocess(&processed), nullptr);
    EXPECT_FALSE(processed);
}

TEST_F(ConnectionTest, ConnectsThroughTheEventPath)
{
    RawListener listener;
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream("127.0.0.1:" + std::to_string(listener.port));
    ASSERT_EQ(client.GetState(), CConnection::Connecting);
    EXPECT_NE(client.GetLocalPort(), 0);
    platform::SOCKET accepted = listener.accept();
    ASSERT_NE(accepted, platform::INVALID_SOCKET);
    EXPECT_TRUE(drive([&] { waitAndHandle(client); }, [&] { return client.GetState() == CConnection::Connected; }));
    EXPECT_EQ(handler.connects, 1);
    EXPECT_GT(client.getConnectTime(), 0);
    EXPECT_EQ(client.GetRemoteAddress(), kLoopback);
    EXPECT_EQ(client.GetIpAsString(), "127.0.0.1");

    // The accepted side, adopted by a second connection.
    CConnection server;
    server.InitAccepted(accepted, kLoopback, 1234);
    EXPECT_EQ(server.GetState(), CConnection::Connected);
    bool processed = false;
    EXPECT_EQ(server.Preprocess(&processed), server.GetEventHandle());
    EXPECT_NE(server.GetEventHandle(), nullptr);

    // Closing one end is seen by the other as a loss.
    server.Cleanup();
    EXPECT_TRUE(drive([&] { waitAndHandle(client); }, [&] { return client.GetState() == CConnection::Idle; }));
    EXPECT_EQ(handler.losses, 1);
}

TEST_F(ConnectionTest, ConnectsThroughPulseAlone)
{
    RawListener listener;
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, listener.port);
    platform::SOCKET accepted = listener.accept();
    EXPECT_TRUE(drive([&] { client.Pulse(); }, [&] { return client.GetState() == CConnection::Connected; }));
    EXPECT_EQ(handler.connects, 1);
    // A peer that closes is seen by the pulse's read.
    platform::closesocket(accepted);
    EXPECT_TRUE(drive([&] { client.Pulse(); }, [&] { return client.GetState() == CConnection::Idle; }));
    EXPECT_EQ(handler.losses, 1);
}

TEST_F(ConnectionTest, ARefusedConnectIsReportedOnce)
{
    uint16_t closedPort;
    {
        RawListener gone;
        closedPort = gone.port;
    }
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, closedPort);
    EXPECT_TRUE(drive([&] { waitAndHandle(client); }, [&] { return client.GetState() != CConnection::Connecting; }));
    EXPECT_EQ(client.GetState(), CConnection::Idle);
    for (int i = 0; i < 5; ++i) {
        client.Pulse();
        waitAndHandle(client);
    }
    EXPECT_EQ(handler.losses, 1);
    EXPECT_EQ(handler.connects, 0);
    std::string refused = "ERROR Network: Zone to 127.0.0.1:" + std::to_string(closedPort) +
                          ": received a connect event with error 10061";
    auto logged = texts();
    EXPECT_EQ(std::count(logged.begin(), logged.end(), refused), 1);
}

TEST_F(ConnectionTest, DelayedPulsesWorkEveryThirdCall)
{
    RawListener listener;
    CConnection client;
    client.SetMessageHandler(&handler);
    client.setDelay(3);
    client.InitStream(kLoopback, listener.port);
    platform::SOCKET accepted = listener.accept();
    std::this_thread::sleep_for(20ms);  // the connect has long completed
    client.Pulse();
    client.Pulse();
    EXPECT_EQ(client.GetState(), CConnection::Connecting);
    client.Pulse();
    EXPECT_EQ(client.GetState(), CConnection::Connected);
    platform::closesocket(accepted);
}

TEST_F(ConnectionTest, TheKeepAlivePingGoesOutOnThe1801stPulse)
{
    RawListener listener;
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, listener.port);
    platform::SOCKET peer = listener.accept();
    ASSERT_TRUE(drive([&] { client.Pulse(); }, [&] { return client.GetState() == CConnection::Connected; }));
    client.SetUpdateLag();
    char bytes[16];
    for (int i = 0; i < 1800; ++i)
        client.Pulse();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(platform::recv(peer, bytes, sizeof bytes, 0), platform::SOCKET_ERROR);  // nothing yet
    client.Pulse();  // the 1801st queues the request...
    client.Pulse();  // ...and the next one writes it
    std::this_thread::sleep_for(10ms);
    ASSERT_EQ(platform::recv(peer, bytes, sizeof bytes, 0), 2);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFF);
    EXPECT_EQ(client.getBytesSent(), 0u);  // markers are not counted
    // No second request while the first is unanswered.
    for (int i = 0; i < 4000; ++i)
        client.Pulse();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(platform::recv(peer, bytes, sizeof bytes, 0), platform::SOCKET_ERROR);
    platform::closesocket(peer);
}

TEST_F(ConnectionTest, CleanupKeepsTheStatistics)
{
    RawListener listener;
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, listener.port);
    platform::SOCKET peer = listener.accept();
    ASSERT_TRUE(drive([&] { client.Pulse(); }, [&] { return client.GetState() == CConnection::Connected; }));
    platform::send(peer, "\x04\x00" "abcd", 6, 0);  // one framed message of 4 bytes
    ASSERT_TRUE(drive([&] { client.Pulse(); }, [&] { return client.getBytesReceived() == 6; }));
    EXPECT_EQ(client.getMessagesReceived(), 1u);
    client.Cleanup();
    EXPECT_EQ(client.GetState(), CConnection::Idle);
    EXPECT_EQ(client.getBytesReceived(), 6u);
    EXPECT_GT(client.getConnectTime(), 0);
    EXPECT_EQ(client.GetMessageHandler(), &handler);
    EXPECT_EQ(client.GetEventHandle(), nullptr);
    platform::closesocket(peer);
}

TEST_F(ConnectionTest, EventsInIdleAndErrorAreOnlyLogged)
{
    logger().SetConditional(Log_Network, LogSev_Info);
    CConnection conn;
    conn.HandleEvent();
    conn.InitStream(std::string(":7000"));
    clearLines();
    conn.HandleEvent();
    // Without a socket the event query itself fails, and says so.
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR Network: WSAEnumNetworkEvents() returned Err = WSAENOTSOCK (The descriptor is not a "
                           "socket) ",
                           "WARNING Network: Unhandled to 0.0.0.0:0: HandleEvent (0x0) called on a CConnection in "
                           "Error state"}));
    conn.OnConnect(true);
    EXPECT_EQ(texts().back(), "Network: Unhandled to 0.0.0.0:0: Unable to handle connect because there is no "
                              "message handler.");
}

TEST(ConnectionAddresses, EndpointTexts)
{
    uint32_t ip = 0;
    uint16_t port = 0;
    EXPECT_TRUE(CConnection::ConvertAddressString("10.0.0.5:7000", &ip, &port));
    EXPECT_EQ(ip, 0x0A000005u);
    EXPECT_EQ(port, 7000);
    EXPECT_FALSE(CConnection::ConvertAddressString("10.0.0.5", &ip, &port));
    EXPECT_FALSE(CConnection::ConvertAddressString(":7000", &ip, &port));
    EXPECT_FALSE(CConnection::ConvertAddressString("10.0.0.5:", &ip, &port));
    EXPECT_TRUE(CConnection::ConvertAddressString("10.0.0.5:abc", &ip, &port));
    EXPECT_EQ(port, 0);
    EXPECT_TRUE(CConnection::ConvertAddressString("10.0.0.5:70000", &ip, &port));
    EXPECT_EQ(port, 4464);
    ip = 42;
    EXPECT_FALSE(CConnection::ConvertAddressString("no.such.host.invalid:99", &ip, &port));
    EXPECT_EQ(port, 99);  // written before the host is resolved
    EXPECT_EQ(ip, 42u);
    EXPECT_EQ(CConnection::GetIpAsString(0x7F000001), "127.0.0.1");
}

TEST(ConnectionAddresses, OwnAddressOnASubnet)
{
    platform::PinHostAddresses({0xC0A80104, 0x0A010203});
    EXPECT_EQ(CConnection::GetLocalIPAddress(0x0A000000, 0xFF000000), 0x0A010203u);
    EXPECT_EQ(CConnection::GetLocalIPAddress(0xAC100000, 0xFFF00000), 0u);
    uint32_t addresses[3] = {9, 9, 9};
    CConnection::GetAllLocalIPAddresses(addresses, 3);
    EXPECT_EQ(addresses[0], 0xC0A80104u);
    EXPECT_EQ(addresses[2], 0u);
    platform::ReleaseHostAddresses();
    EXPECT_FALSE(SetSocketBlockingFlag(platform::INVALID_SOCKET - 3, false));
}

}  // namespace
