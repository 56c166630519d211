#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/net/Listener.h>
#include <SharedLib/net/SocketHelpers.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

using Lines = std::vector<std::string>;
constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kHostAddress = 0x0A000005;  // what this machine's name resolves to here
constexpr platform::SOCKET kNone = platform::INVALID_SOCKET;

TEST(ConnectionTest, UnusableAddressesAndStatesOnlyLog)
{
    LogCapture log;
    log.logger().SetConditional(Log_Network, LogSev_Info);
    CConnection conn;
    conn.InitStream(std::string("not an endpoint"));
    EXPECT_EQ(T(conn.GetState(), conn.GetError(), conn.GetSocket(), conn.GetLocalPort()),
              T(CConnection::Error, 10049, kNone, uint16_t{0}));
    bool processed = false;
    EXPECT_TRUE(conn.Preprocess(&processed) == nullptr && !processed);
    conn.HandleEvent(), conn.OnConnect(true);
    // Without a socket the event query itself fails, and says so.
    std::string self = "Network: Unhandled to 0.0.0.0:0: ";
    EXPECT_EQ(log.texts(),
              (Lines{"ERROR " + self + "ConvertAddressString failed with error code 10049 in CConnection::InitStream",
                     "ERROR Network: WSAEnumNetworkEvents() returned Err = WSAENOTSOCK (The descriptor is not a "
                     "socket) ",
                     "WARNING " + self + "HandleEvent (0x0) called on a CConnection in Error state",
                     self + "Unable to handle connect because there is no message handler."}));
}

// Connects, reads one message and sees the peer close, driven either by the
// host's event loop or by pulses alone.
TEST(ConnectionTest, ConnectReadAndLossByEventsOrPulses)
{
    for (bool byEvents : {true, false}) {
        SCOPED_TRACE(byEvents ? "events" : "pulses");
        RecordingHandler seen;
        RawListener listener;
        CConnection client;
        auto until = [&](auto done) {
            return DriveUntil([&] { byEvents ? WaitAndHandle(client) : client.Pulse(); }, done);
        };
        client.SetMessageHandler(&seen);
        client.InitStream("127.0.0.1:" + std::to_string(listener.port()));
        ASSERT_TRUE(client.GetState() == CConnection::Connecting && client.GetLocalPort() != 0);
        platform::SOCKET accepted = listener.accept();
        if (!byEvents) {
            // Delayed: only every third pulse works.
            client.setDelay(3);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the connect has long completed
            client.Pulse();
            client.Pulse();
            auto third = client.GetState();
            client.Pulse();
            EXPECT_EQ(T(third, client.GetState()), T(CConnection::Connecting, CConnection::Connected));
        }
        ASSERT_TRUE(until([&] { return client.GetState() == CConnection::Connected; }));
        EXPECT_TRUE(seen.connects == 1 && client.getConnectTime() > 0);

        CConnection server;
        server.InitAccepted(accepted, kLoopback, 1234);
        EXPECT_EQ(T(server.GetState(), server.GetRemotePort()), T(CConnection::Connected, uint16_t{1234}));
        bool processed = false;
        EXPECT_EQ(server.Preprocess(&processed), server.GetEventHandle());
        EXPECT_TRUE(!processed && server.GetEventHandle() != nullptr);  // no pass was left unfinished
        server.SendMsg(4, "abcd");
        server.WriteOutboundData();
        ASSERT_TRUE(until([&] { return seen.messages.size() == 1; }));

        // Closing one end is a loss for the other, which keeps its statistics.
        void *event = client.GetEventHandle();
        server.Cleanup();
        ASSERT_TRUE(until([&] { return client.GetState() == CConnection::Idle; }));
        EXPECT_EQ(T(seen.losses, client.getBytesReceived(), client.getMessagesReceived(), client.GetEventHandle()),
                  (T<int, uint32_t, uint32_t, void *>(1, 6u, 1u, nullptr)));
        EXPECT_FALSE(platform::WSACloseEvent(event));  // closed already
    }
}

TEST(ConnectionTest, ARefusedConnectIsReportedOnce)
{
    LogCapture log;
    RecordingHandler handler;
    uint16_t closedPort = RawListener().port();
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, closedPort);
    EXPECT_TRUE(
        DriveUntil([&] { WaitAndHandle(client); }, [&] { return client.GetState() != CConnection::Connecting; }));
    EXPECT_EQ(client.GetState(), CConnection::Idle);
    for (int i = 0; i < 5; ++i)
        client.Pulse(), WaitAndHandle(client);
    EXPECT_EQ(T(handler.losses, handler.connects), T(1, 0));
    Lines logged = log.texts();
    std::string refused = "ERROR Network: Zone to 127.0.0.1:" + std::to_string(closedPort) +
                          ": received a connect event with error 10061";
    EXPECT_EQ(std::count(logged.begin(), logged.end(), refused), 1);
}

TEST(ConnectionAddresses, EndpointTextsAndOwnAddresses)
{
    struct Case { const char *text; bool ok; uint16_t port; };
    // Ports read like atoi and keep their low 16 bits.
    for (Case c : {Case{"10.0.0.5:7000", true, 7000}, Case{"10.0.0.5: +7001x", true, 7001},
                   Case{"10.0.0.5:-1", true, 65535}, Case{"10.0.0.5:abc", true, 0}, Case{"10.0.0.5:70000", true, 4464},
                   Case{"10.0.0.5", false, 1}, Case{":7000", false, 1}, Case{"10.0.0.5:", false, 1}}) {
        uint32_t ip = 0;
        uint16_t port = 1;
        bool ok = CConnection::ConvertAddressString(c.text, &ip, &port);
        EXPECT_EQ(T(ok, port, ip), T(c.ok, c.port, c.ok ? 0x0A000005u : 0u)) << c.text;
    }
    uint32_t ip = 42;
    uint16_t port = 0;
    EXPECT_FALSE(CConnection::ConvertAddressString("no.such.host.invalid:99", &ip, &port));
    EXPECT_EQ(T(port, ip), T(uint16_t{99}, 42u));  // the port is written before the host is resolved
    EXPECT_EQ(CConnection::GetIpAsString(0x7F000001), "127.0.0.1");

    platform::PinHostAddresses({0xC0A80104, 0x0A010203});
    EXPECT_EQ(CConnection::GetLocalIPAddress(0x0A000000, 0xFF000000), 0x0A010203u);
    EXPECT_EQ(CConnection::GetLocalIPAddress(0xAC100000, 0xFFF00000), 0u);
    uint32_t addresses[3] = {9, 9, 9};
    CConnection::GetAllLocalIPAddresses(addresses, 1);  // no more than asked for
    EXPECT_EQ(T(addresses[0], addresses[1]), T(0xC0A80104u, 9u));
    CConnection::GetAllLocalIPAddresses(addresses, 3);
    EXPECT_EQ(std::vector<uint32_t>(addresses, addresses + 3), (std::vector<uint32_t>{0xC0A80104u, 0x0A010203u, 0}));
    platform::ReleaseHostAddresses();
    EXPECT_FALSE(SetSocketBlockingFlag(kNone - 3, false));
}

class AcceptingHandler : public CListenHandler {
public:
    ~AcceptingHandler()
    {
        for (CConnection *connection : accepted)
            delete connection;
    }
    void OnAccept(CListener *, CConnection *connection) override { accepted.push_back(connection); }
    void OnListenError(CListener *listener, int error) override
    {
        errors.push_back(error);
        countAtError = listener->GetAcceptedCount();
    }
    std::vector<CConnection *> accepted;
    std::vector<int> errors;
    uint32_t countAtError = 99;
};

// A platform socket listening on 127.0.0.1:port; invalid when the port is taken.
platform::SOCKET occupy(uint16_t port)
{
    platform::SOCKET s = platform::CreateSocket(platform::SOCK_STREAM_);
    if (platform::BindSocket(s, kLoopback, port) == 0 && platform::ListenSocket(s, 4) == 0)
        return s;
    platform::closesocket(s);
    return kNone;
}

uint16_t portOf(platform::SOCKET s)
{
    uint16_t port = 0;
    platform::GetSocketName(s, nullptr, &port);
    return port;
}

class ListenerTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        platform::PinHostAddresses({kHostAddress, kLoopback});
    }
    void TearDown() override
    {
        for (platform::SOCKET s : sockets)
            platform::closesocket(s);
        platform::ReleaseHostAddresses();
        LogCaptureTest::TearDown();
    }
    platform::SOCKET keep(platform::SOCKET s) { return sockets.emplace_back(s); }
    // A blocking client connected to 127.0.0.1:port, closed at the end.
    platform::SOCKET connectClient(uint16_t port)
    {
        platform::SOCKET s = keep(platform::CreateSocket(platform::SOCK_STREAM_));
        EXPECT_EQ(0, platform::ConnectSocket(s, kLoopback, port));
        return s;
    }
    std::vector<platform::SOCKET> sockets;
    AcceptingHandler handler;
};

TEST_F(ListenerTest, PortsInUseFailOrAreSteppedOver)
{
    // Two ports in use and a free one after them.
    uint16_t base = 0;
    for (int attempt = 0; attempt < 50 && base == 0; ++attempt) {
        platform::SOCKET first = keep(occupy(0));
        uint16_t port = portOf(first);
        platform::SOCKET second = port < 65000 ? occupy(static_cast<uint16_t>(port + 1)) : kNone;
        platform::SOCKET third = second != kNone ? occupy(static_cast<uint16_t>(port + 2)) : kNone;
        if (third != kNone)
            base = port;  // the third closes again, for the listener to land on
        platform::closesocket(third);
        keep(second);
    }
    ASSERT_NE(0, base);
    CListener listener;
    EXPECT_EQ(10048, listener.Init(&handler, kLoopback, base, false));
    listener.Pulse();
    EXPECT_EQ(T(listener.GetEventHandle(), handler.errors.size()), T<void *>(nullptr, size_t{0}));
    std::string cannotBind = "ERROR Network: Unable to bind socket on 127.0.0.1:";
    EXPECT_EQ(texts(), Lines{cannotBind + std::to_string(base) + " in CListener::Init: 10048"});
    clearLines();
    ASSERT_EQ(0, listener.Init(&handler, 0, base, true));
    EXPECT_EQ(T(listener.GetPort(), listener.GetAddress(), texts()),
              (T<int, uint32_t, Lines>(base + 2, kHostAddress, {})));

    // Without an address for the host name there is nothing to bind.
    platform::PinHostAddresses({});
    platform::SetLastError(0);
    EXPECT_EQ(11004, listener.Init(&handler, kLoopback, 0, false));
    EXPECT_EQ(T(texts(), listener.GetEventHandle()),
              (T<Lines, void *>({"ERROR Network: Invalid addr in CListener::Init: 11004"}, nullptr)));
    platform::PinHostAddresses({kHostAddress, kLoopback});

    // Stepping stops at the last port.
    platform::SOCKET top = occupy(65535);
    if (top == kNone)
        GTEST_SKIP() << "port 65535 is taken";
    keep(top);
    clearLines();
    EXPECT_EQ(10048, listener.Init(&handler, kLoopback, 65535, true));
    EXPECT_EQ(texts(), Lines{cannotBind + "65535 in CListener::Init: 10048"});
}

TEST_F(ListenerTest, OneCallAcceptsEveryPendingConnection)
{
    CListener listener, unhandled;
    ASSERT_EQ(0, listener.Init(&handler, kLoopback, 0, false));
    ASSERT_EQ(0, unhandled.Init(nullptr, kLoopback, 0, false));
    std::vector<uint16_t> clientPorts, peerPorts;
    for (int i = 0; i < 3; ++i)
        clientPorts.push_back(portOf(connectClient(listener.GetPort())));
    connectClient(unhandled.GetPort());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    unhandled.HandleEvent();
    listener.HandleEvent();
    EXPECT_EQ(T(unhandled.GetAcceptedCount(), listener.GetAcceptedCount()), T(0u, 3u));
    ASSERT_EQ(3u, handler.accepted.size());
    for (CConnection *connection : handler.accepted) {
        EXPECT_EQ(T(connection->GetState(), connection->GetRemoteAddress()), T(CConnection::Connected, kLoopback));
        EXPECT_NE(nullptr, connection->GetEventHandle());
        peerPorts.push_back(connection->GetRemotePort());
    }
    std::sort(peerPorts.begin(), peerPorts.end()), std::sort(clientPorts.begin(), clientPorts.end());
    EXPECT_EQ(clientPorts, peerPorts);

    listener.Pulse();  // nothing left: would-block is not an error
    EXPECT_EQ(T(listener.GetAcceptedCount(), handler.errors.size()), T(3u, size_t{0}));
}

TEST_F(ListenerTest, TheHostWaitsOnTheEventAndCleanupClosesThePort)
{
    CListener listener;
    ASSERT_EQ(0, listener.Init(&handler, kLoopback, 0, false));
    uint16_t port = listener.GetPort();
    void *event = listener.GetEventHandle();
    ASSERT_TRUE(event != nullptr && platform::WaitForMultipleEvents(1, &event, 0) == platform::WAIT_TIMEOUT);
    for (uint32_t round = 1; round <= 2; ++round) {
        connectClient(port);
        ASSERT_EQ(platform::WAIT_OBJECT_0, platform::WaitForMultipleEvents(1, &event, 2000));
        listener.HandleEvent();
        EXPECT_EQ(T(listener.GetAcceptedCount(), platform::WaitForMultipleEvents(1, &event, 0)),
                  T(round, platform::WAIT_TIMEOUT));
    }

    listener.Cleanup();
    EXPECT_EQ(T(listener.GetAcceptedCount(), listener.GetEventHandle(), listener.GetPort(), listener.GetAddress()),
              (T<uint32_t, void *>(0, nullptr, port, kHostAddress)));
    EXPECT_NE(0, platform::ConnectSocket(keep(platform::CreateSocket(platform::SOCK_STREAM_)), kLoopback, port));
    EXPECT_EQ(10061u, platform::WSAGetLastError());
    listener.Reset();  // closing twice is harmless

    // The port opens again, and the destructor releases it.
    ASSERT_EQ(0, CListener().Init(&handler, kLoopback, port, false));
    EXPECT_NE(kNone, keep(occupy(port)));
}

// Reaches the listening socket to make accept fail.
class ExposedListener : public CListener {
public:
    unsigned int &socket() { return m_socket; }
};

TEST_F(ListenerTest, AnAcceptErrorClosesTheListenerBeforeTellingTheHandler)
{
    ExposedListener listener;
    ASSERT_EQ(0, listener.Init(&handler, kLoopback, 0, false));
    keep(listener.socket());
    // accept on a socket that is not listening fails with WSAEINVAL.
    listener.socket() = platform::CreateSocket(platform::SOCK_STREAM_);
    listener.Pulse();
    ASSERT_EQ(std::vector<int>{10022}, handler.errors);
    EXPECT_EQ(T(handler.countAtError, listener.socket(), listener.GetEventHandle()),
              (T<uint32_t, unsigned, void *>(0, kNone, nullptr)));
}

}  // namespace
