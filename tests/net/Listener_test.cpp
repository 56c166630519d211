#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/net/Connection.h>
#include <SharedLib/net/Listener.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kHostAddress = 0x0A000005;  // what this machine's name resolves to here

class RecordingHandler : public CListenHandler {
public:
    ~RecordingHandler()
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
    if (platform::BindSocket(s, kLoopback, port) != 0 || platform::ListenSocket(s, 4) != 0) {
        platform::closesocket(s);
        return platform::INVALID_SOCKET;
    }
    return s;
}

uint16_t portOf(platform::SOCKET s)
{
    uint16_t port = 0;
    platform::GetSocketName(s, nullptr, &port);
    return port;
}

// A blocking client connected to 127.0.0.1:port; its local port in *localPort.
platform::SOCKET connectClient(uint16_t port, uint16_t *localPort = nullptr)
{
    platform::SOCKET s = platform::CreateSocket(platform::SOCK_STREAM_);
    EXPECT_EQ(0, platform::ConnectSocket(s, kLoopback, port));
    if (localPort != nullptr)
        *localPort = portOf(s);
    return s;
}

bool hasLine(std::vector<std::string> const &texts, std::string const &line)
{
    return std::find(texts.begin(), texts.end(), line) != texts.end();
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
    platform::SOCKET keep(platform::SOCKET s)
    {
        sockets.push_back(s);
        return s;
    }
    std::vector<platform::SOCKET> sockets;
    RecordingHandler handler;
};

TEST_F(ListenerTest, APortInUseFailsWithItsCodeAndNamesThePort)
{
    uint16_t busy = portOf(keep(occupy(0)));
    CListener listener;
    EXPECT_EQ(10048, listener.Init(&handler, kLoopback, busy, false));
    EXPECT_TRUE(hasLine(texts(), "ERROR Network: Unable to bind socket on 127.0.0.1:" + std::to_string(busy) +
                                     " in CListener::Init: 10048"));
    EXPECT_EQ(nullptr, listener.GetEventHandle());
    listener.Pulse();
    EXPECT_TRUE(handler.errors.empty());
}

TEST_F(ListenerTest, SteppingSkipsPortsInUse)
{
    uint16_t base = 0;
    for (int attempt = 0; attempt < 50 && base == 0; ++attempt) {
        platform::SOCKET first = occupy(0);
        uint16_t port = portOf(first);
        platform::SOCKET second = port < 65000 ? occupy(static_cast<uint16_t>(port + 1)) : platform::INVALID_SOCKET;
        platform::SOCKET third = second != platform::INVALID_SOCKET ? occupy(static_cast<uint16_t>(port + 2))
                                                                    : platform::INVALID_SOCKET;
        if (third != platform::INVALID_SOCKET) {
            platform::closesocket(third);  // free, for the listener to land on
            keep(first);
            keep(second);
            base = port;
        } else {
            platform::closesocket(first);
            if (second != platform::INVALID_SOCKET)
                platform::closesocket(second);
        }
    }
    ASSERT_NE(0, base);

    CListener listener;
    ASSERT_EQ(0, listener.Init(&handler, 0, base, true));
    EXPECT_EQ(base + 2, listener.GetPort());
    EXPECT_EQ(kHostAddress, listener.GetAddress());
    EXPECT_TRUE(texts().empty());
}

TEST_F(ListenerTest, SteppingStopsAtTheLastPort)
{
    platform::SOCKET top = occupy(65535);
    if (top == platform::INVALID_SOCKET)
        GTEST_SKIP() << "port 65535 is taken";
    keep(top);
    CListener listener;
    EXPECT_EQ(10048, listener.Init(&handler, kLoopback, 65535, true));
    EXPECT_TRUE(hasLine(texts(), "ERROR Network: Unable to bind socket on 127.0.0.1:65535 in CListener::Init: 10048"));
}

TEST_F(ListenerTest, OneCallAcceptsEveryPendingConnection)
{
    CListener listener;
    ASSERT_EQ(0, listener.Init(&handler, kLoopback, 0, false));
    std::vector<uint16_t> clientPorts(3);
    for (uint16_t &port : clientPorts)
        keep(connectClient(listener.GetPort(), &port));
    std::this_thread::sleep_for(100ms);

    listener.HandleEvent();
    EXPECT_EQ(3u, listener.GetAcceptedCount());
    ASSERT_EQ(3u, handler.accepted.size());
    std::vector<uint16_t> peerPorts;
    for (CConnection *connection : handler.accepted) {
        EXPECT_EQ(CConnection::Connected, connection->GetState());
        EXPECT_EQ(kLoopback, connection->GetRemoteAddress());
        EXPECT_NE(nullptr, connection->GetEventHandle());
        peerPorts.push_back(connection->GetRemotePort());
    }
    std::sort(peerPorts.begin(), peerPorts.end());
    std::sort(clientPorts.begin(), clientPorts.end());
    EXPECT_EQ(clientPorts, peerPorts);

    listener.Pulse();  // nothing left: would-block is not an error
    EXPECT_EQ(3u, listener.GetAcceptedCount());
    EXPECT_TRUE(handler.errors.empty());
}

TEST_F(ListenerTest, WithoutAHandlerNothingIsAccepted)
{
    CListener listener;
    ASSERT_EQ(0, listener.Init(nullptr, kLoopback, 0, false));
    keep(connectClient(listener.GetPort()));
    std::this_thread::sleep_for(50ms);
    listener.Pulse();
    listener.HandleEvent();
    EXPECT_EQ(0u, listener.GetAcceptedCount());
}

TEST_F(ListenerTest, CleanupClosesAndKeepsAddressAndPort)
{
    CListener listener;
    ASSERT_EQ(0, listener.Init(&handler, kLoopback, 0, false));
    uint16_t port = listener.GetPort();
    keep(connectClient(port));
    std::this_thread::sleep_for(50ms);
    listener.Pulse();
    ASSERT_EQ(1u, listener.GetAcceptedCount());

    listener.Cleanup();
    EXPECT_EQ(0u, listener.GetAcceptedCount());
    EXPECT_EQ(nullptr, listener.GetEventHandle());
    EXPECT_EQ(port, listener.GetPort());
    EXPECT_EQ(kHostAddress, listener.GetAddress());
    platform::SOCKET refused = keep(platform::CreateSocket(platform::SOCK_STREAM_));
    EXPECT_NE(0, platform::ConnectSocket(refused, kLoopback, port));
    EXPECT_EQ(10061u, platform::WSAGetLastError());

    listener.Reset();  // closing twice is harmless

    // The port opens again, and the destructor releases it.
    {
        CListener again;
        ASSERT_EQ(0, again.Init(&handler, kLoopback, port, false));
    }
    platform::SOCKET rebound = occupy(port);
    EXPECT_NE(platform::INVALID_SOCKET, rebound);
    keep(rebound);
}

TEST_F(ListenerTest, HostLoopWaitsOnTheEventThenHandlesIt)
{
    CListener listener;
    ASSERT_EQ(0, listener.Init(&handler, kLoopback, 0, false));
    void *event = listener.GetEventHandle();
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForMultipleEvents(1, &event, 0));

    for (uint32_t round = 1; round <= 2; ++round) {
        keep(connectClient(listener.GetPort()));
        ASSERT_EQ(platform::WAIT_OBJECT_0, platform::WaitForMultipleEvents(1, &event, 2000));
        listener.HandleEvent();
        EXPECT_EQ(round, listener.GetAcceptedCount());
        EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForMultipleEvents(1, &event, 0));
    }
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
    EXPECT_EQ(0u, handler.countAtError);
    EXPECT_EQ(platform::INVALID_SOCKET, listener.socket());
    EXPECT_EQ(nullptr, listener.GetEventHandle());
}

TEST_F(ListenerTest, AHostNameWithoutAddressesFails)
{
    platform::PinHostAddresses({});
    platform::SetLastError(0);
    CListener listener;
    EXPECT_EQ(11004, listener.Init(&handler, kLoopback, 0, false));
    EXPECT_TRUE(hasLine(texts(), "ERROR Network: Invalid addr in CListener::Init: 11004"));
    EXPECT_EQ(nullptr, listener.GetEventHandle());
}

}  // namespace
