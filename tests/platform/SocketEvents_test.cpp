#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>

namespace {

using namespace platform;

constexpr uint32_t kLoopback = 0x7F000001;

// A listener on an ephemeral loopback port.
struct Listener {
    Listener()
    {
        socket = CreateSocket(SOCK_STREAM_);
        EXPECT_EQ(BindSocket(socket, kLoopback, 0), 0);
        EXPECT_EQ(ListenSocket(socket, 16), 0);
        EXPECT_EQ(GetSocketName(socket, nullptr, &port), 0);
    }
    ~Listener() { closesocket(socket); }
    SOCKET socket;
    uint16_t port = 0;
};

// Enumerates after waiting up to a second for the event.
WSANETWORKEVENTS waitAndEnumerate(SOCKET s, WSAEVENT event, uint32_t timeoutMs = 1000)
{
    WaitForMultipleEvents(1, &event, timeoutMs);
    WSANETWORKEVENTS events{};
    EXPECT_EQ(WSAEnumNetworkEvents(s, event, &events), 0);
    return events;
}

// The code a call that returned SOCKET_ERROR left behind; 0 when it succeeded.
uint32_t failure(int result) { return result == SOCKET_ERROR ? GetLastError() : 0; }

struct Pair {
    Pair()
    {
        client = CreateSocket(SOCK_STREAM_);
        clientEvent = WSACreateEvent();
        EXPECT_EQ(WSAEventSelect(client, clientEvent, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
        int started = ConnectSocket(client, kLoopback, listener.port);
        EXPECT_TRUE(started == 0 || GetLastError() == WSAEWOULDBLOCK);
        WSAEVENT listenEvent = WSACreateEvent();
        WSAEventSelect(listener.socket, listenEvent, FD_ACCEPT);
        WSANETWORKEVENTS accepted = waitAndEnumerate(listener.socket, listenEvent);
        EXPECT_TRUE(accepted.lNetworkEvents & FD_ACCEPT);
        server = AcceptSocket(listener.socket, nullptr, nullptr);
        EXPECT_NE(server, INVALID_SOCKET);
        int32_t on = 1;
        EXPECT_EQ(platform::setsockopt(server, IPPROTO_TCP_, TCP_NODELAY_, &on, sizeof on), 0);
        WSACloseEvent(listenEvent);
        serverEvent = WSACreateEvent();
        EXPECT_EQ(WSAEventSelect(server, serverEvent, FD_READ | FD_WRITE | FD_CLOSE), 0);
    }
    ~Pair()
    {
        closesocket(client), closesocket(server);
        WSACloseEvent(clientEvent), WSACloseEvent(serverEvent);
    }
    Listener listener;
    SOCKET client, server;
    WSAEVENT clientEvent, serverEvent;
};

TEST(SocketEvents, WriteIsRecordedOnceAndRearmedOnlyAfterWouldBlock)
{
    Pair pair;
    WSANETWORKEVENTS client = waitAndEnumerate(pair.client, pair.clientEvent);
    EXPECT_EQ(client.lNetworkEvents & (FD_CONNECT | FD_WRITE), FD_CONNECT | FD_WRITE);
    EXPECT_EQ(client.iErrorCode[4], 0);
    bool writable = false, exception = true;
    EXPECT_TRUE(ProbeConnect(pair.client, &writable, &exception) == 1 && writable && !exception);
    WSANETWORKEVENTS server = waitAndEnumerate(pair.server, pair.serverEvent);
    EXPECT_EQ(server.lNetworkEvents, FD_WRITE);
    // Writable still, but FD_WRITE is not recorded again without a blocked send.
    EXPECT_EQ(waitAndEnumerate(pair.client, pair.clientEvent, 50).lNetworkEvents, 0);
    EXPECT_EQ(WaitForMultipleEvents(1, &pair.clientEvent, 20), WAIT_TIMEOUT);

    // Writable all along, but a send that did not block re-arms nothing.
    EXPECT_EQ(platform::send(pair.client, "ping", 4, 0), 4);
    EXPECT_EQ(waitAndEnumerate(pair.client, pair.clientEvent, 30).lNetworkEvents & FD_WRITE, 0);
    int small = 4096;
    platform::setsockopt(pair.client, SOL_SOCKET_, SO_SNDBUF_, &small, sizeof small);
    std::vector<char> chunk(65536, 'x');
    while (platform::send(pair.client, chunk.data(), static_cast<int>(chunk.size()), 0) > 0) {
    }
    EXPECT_EQ(GetLastError(), WSAEWOULDBLOCK);
    // The peer drains: space frees up and FD_WRITE comes once.
    std::vector<char> sink(1 << 20);
    for (int i = 0; i < 100; ++i) {
        while (platform::recv(pair.server, sink.data(), static_cast<int>(sink.size()), 0) > 0) {
        }
        if (waitAndEnumerate(pair.client, pair.clientEvent, 100).lNetworkEvents & FD_WRITE)
            return;
    }
    ADD_FAILURE() << "FD_WRITE never came back";
}

TEST(SocketEvents, ReadIsLevelTriggeredAndRearmedByRecv)
{
    Pair pair;
    waitAndEnumerate(pair.server, pair.serverEvent);
    ASSERT_EQ(platform::send(pair.client, "0123456789", 10, 0), 10);
    WSANETWORKEVENTS const read = waitAndEnumerate(pair.server, pair.serverEvent);
    EXPECT_EQ(read.lNetworkEvents, FD_READ);
    EXPECT_EQ(read.iErrorCode[0], 0);
    // Not again until recv is called...
    EXPECT_EQ(waitAndEnumerate(pair.server, pair.serverEvent, 30).lNetworkEvents, 0);
    char buffer[16];
    ASSERT_EQ(platform::recv(pair.server, buffer, 4, 0), 4);
    // ...and then again, because data remains.
    EXPECT_EQ(waitAndEnumerate(pair.server, pair.serverEvent).lNetworkEvents, FD_READ);
    ASSERT_EQ(platform::recv(pair.server, buffer, sizeof buffer, 0), 6);
    EXPECT_EQ(waitAndEnumerate(pair.server, pair.serverEvent, 30).lNetworkEvents, 0);
    EXPECT_EQ(failure(platform::recv(pair.server, buffer, sizeof buffer, 0)), WSAEWOULDBLOCK);
}

TEST(SocketEvents, HandlesAreCheckedAndAResetOnlyClearsTheSignal)
{
    Pair pair;
    waitAndEnumerate(pair.server, pair.serverEvent);
    platform::send(pair.client, "x", 1, 0);
    ASSERT_EQ(WaitForMultipleEvents(1, &pair.serverEvent, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(WSAResetEvent(pair.serverEvent));
    EXPECT_EQ(WaitForMultipleEvents(1, &pair.serverEvent, 20), WAIT_TIMEOUT);
    EXPECT_EQ(waitAndEnumerate(pair.server, pair.serverEvent, 0).lNetworkEvents, FD_READ);

    WSAEVENT bogus = reinterpret_cast<WSAEVENT>(0x1234);
    WSANETWORKEVENTS events{};
    EXPECT_FALSE(WSAResetEvent(bogus));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WSACloseEvent(bogus));
    EXPECT_EQ(failure(WSAEventSelect(INVALID_SOCKET - 5, pair.serverEvent, FD_READ)), WSAENOTSOCK);
    EXPECT_EQ(failure(WSAEnumNetworkEvents(pair.server, pair.serverEvent, nullptr)), WSAEFAULT);
    EXPECT_EQ(failure(WSAEnumNetworkEvents(INVALID_SOCKET - 5, pair.serverEvent, &events)), WSAENOTSOCK);
    // Deselected, the socket no longer signals its event.
    EXPECT_EQ(WSAEventSelect(pair.server, pair.serverEvent, 0), 0);
    platform::send(pair.client, "y", 1, 0);
    EXPECT_EQ(WaitForMultipleEvents(1, &pair.serverEvent, 50), WAIT_TIMEOUT);
}

TEST(SocketEvents, GracefulCloseIsRecordedOnceAfterTheLastByte)
{
    Pair pair;
    waitAndEnumerate(pair.server, pair.serverEvent);
    platform::send(pair.client, "bye", 3, 0);
    platform::shutdown(pair.client, SD_SEND);
    // The data comes first; the close only once it has been read.
    EXPECT_EQ(waitAndEnumerate(pair.server, pair.serverEvent).lNetworkEvents, FD_READ);
    char buffer[8];
    EXPECT_EQ(platform::recv(pair.server, buffer, sizeof buffer, 0), 3);
    WSANETWORKEVENTS closed = waitAndEnumerate(pair.server, pair.serverEvent);
    EXPECT_TRUE(closed.lNetworkEvents & FD_CLOSE);
    EXPECT_EQ(closed.iErrorCode[5], 0);
    EXPECT_EQ(waitAndEnumerate(pair.server, pair.serverEvent, 30).lNetworkEvents & FD_CLOSE, 0);
}

TEST(SocketEvents, ResetCarriesTheResetCode)
{
    Pair pair;
    waitAndEnumerate(pair.server, pair.serverEvent);
    Linger abort{1, 0};
    setsockopt(pair.client, SOL_SOCKET_, SO_LINGER_, &abort, sizeof abort);
    platform::send(pair.client, "data", 4, 0);
    closesocket(pair.client);
    pair.client = CreateSocket(SOCK_STREAM_);  // keeps the destructor simple
    platform::Sleep(20);
    WSANETWORKEVENTS events = waitAndEnumerate(pair.server, pair.serverEvent);
    EXPECT_TRUE(events.lNetworkEvents & FD_CLOSE);
    EXPECT_EQ(events.iErrorCode[5], static_cast<int32_t>(WSAECONNRESET));
}

TEST(SocketEvents, AWaitSetWakesForTheSignalledOnly)
{
    // 100 pairs; ten of them get data.
    std::vector<std::unique_ptr<Pair>> pairs;
    EventWaitSet set;
    for (int i = 0; i < 100; ++i) {
        pairs.push_back(std::make_unique<Pair>());
        WSANETWORKEVENTS drained{};
        WSAEnumNetworkEvents(pairs.back()->server, pairs.back()->serverEvent, &drained);
        ASSERT_TRUE(set.Add(pairs.back()->serverEvent));
        ASSERT_TRUE(set.Add(pairs.back()->serverEvent));  // a second time changes nothing
    }
    std::vector<WSAEVENT> signalled;
    set.Wait(20, signalled);
    EXPECT_TRUE(signalled.empty());
    std::set<WSAEVENT> expected;
    for (size_t i = 0; i < 100; i += 10) {
        platform::send(pairs[i]->client, "x", 1, 0);
        expected.insert(pairs[i]->serverEvent);
    }
    std::set<WSAEVENT> seen;
    for (int round = 0; round < 50 && seen.size() < expected.size(); ++round) {
        set.Wait(100, signalled);
        seen.insert(signalled.begin(), signalled.end());
    }
    EXPECT_EQ(seen, expected);
    // Signalled until enumerated.
    set.Wait(0, signalled);
    EXPECT_EQ(signalled.size(), expected.size());
    for (size_t i = 0; i < 100; i += 10)
        EXPECT_EQ(waitAndEnumerate(pairs[i]->server, pairs[i]->serverEvent, 0).lNetworkEvents, FD_READ);
    set.Wait(0, signalled);
    EXPECT_TRUE(signalled.empty());

    // WaitForMultipleEvents gives the lowest signalled.
    WSAEVENT two[] = {pairs[1]->serverEvent, pairs[2]->serverEvent};
    EXPECT_EQ(WaitForMultipleEvents(2, two, 10), WAIT_TIMEOUT);
    platform::send(pairs[2]->client, "x", 1, 0);
    EXPECT_EQ(WaitForMultipleEvents(2, two, 1000), WAIT_OBJECT_0 + 1);
    platform::send(pairs[1]->client, "x", 1, 0);
    platform::Sleep(10);
    EXPECT_EQ(WaitForMultipleEvents(2, two, 1000), WAIT_OBJECT_0);
    WSAEVENT bogus = reinterpret_cast<WSAEVENT>(0x1234);
    EXPECT_EQ(WaitForMultipleEvents(1, &bogus, 0), WAIT_FAILED);
    WSACloseEvent(pairs[1]->serverEvent);  // signalled, but closed unread: it leaves the set
    pairs[1]->serverEvent = WSACreateEvent();
    set.Wait(0, signalled);
    EXPECT_EQ(signalled, std::vector<WSAEVENT>{pairs[2]->serverEvent});
}

TEST(Sockets, FailuresCarryWinsockCodes)
{
    Listener listener;
    SOCKET other = CreateSocket(SOCK_STREAM_);
    ListenSocket(other, 1);  // leaves it listening on some port
    SOCKET clash = CreateSocket(SOCK_STREAM_);
    EXPECT_EQ(failure(BindSocket(clash, kLoopback, listener.port)), WSAEADDRINUSE);
    EXPECT_EQ(failure(platform::send(clash, "x", 1, 0)), WSAENOTCONN);
    EXPECT_EQ(failure(BindSocket(clash, 0x01020304, 0)), WSAEADDRNOTAVAIL);
    uint32_t on = 1;
    EXPECT_EQ(failure(ioctlsocket(INVALID_SOCKET - 5, FIONBIO_, &on)), WSAENOTSOCK);
    closesocket(clash);
    closesocket(other);

    uint32_t ip = 0;
    EXPECT_EQ(ResolveIPv4("127.0.0.1", &ip), 0);
    EXPECT_EQ(ip, kLoopback);
    EXPECT_NE(ResolveIPv4("no.such.host.invalid", &ip), 0);
    EXPECT_EQ(InetNtoa(0x7F000001) + " " + InetNtoa(0xFFFFFFFF), "127.0.0.1 255.255.255.255");

    // A refused connect reports its code.
    uint16_t closedPort;
    {
        Listener gone;
        closedPort = gone.port;
    }
    SOCKET s = CreateSocket(SOCK_STREAM_);
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(s, event, FD_CONNECT | FD_CLOSE);
    ConnectSocket(s, kLoopback, closedPort);
    WSANETWORKEVENTS events = waitAndEnumerate(s, event);
    EXPECT_EQ(events.lNetworkEvents, FD_CONNECT);
    EXPECT_EQ(events.iErrorCode[4], static_cast<int32_t>(WSAECONNREFUSED));
    bool writable = true, exception = false;
    EXPECT_EQ(ProbeConnect(s, &writable, &exception), 1);
    EXPECT_TRUE(exception && !writable);
    int32_t error = -1;
    int length = sizeof error;
    EXPECT_EQ(platform::getsockopt(s, SOL_SOCKET_, SO_ERROR_, &error, &length), 0);
    EXPECT_EQ(failure(platform::getsockopt(s, SOL_SOCKET_, 0x7777, &error, &length)), WSAENOPROTOOPT);
    int32_t size = 8192;  // the receive buffer takes at least what it is given
    EXPECT_EQ(platform::setsockopt(s, SOL_SOCKET_, SO_RCVBUF_, &size, sizeof size), 0);
    EXPECT_TRUE(platform::getsockopt(s, SOL_SOCKET_, SO_RCVBUF_, &size, &length) == 0 && size >= 8192);
    closesocket(s);
    EXPECT_EQ(failure(WSAEnumNetworkEvents(s, event, &events)), WSAENOTSOCK);  // closed, it is no socket
    WSACloseEvent(event);

    // Without an event the probe finds the refusal itself.
    SOCKET probed = CreateSocket(SOCK_STREAM_);
    ConnectSocket(probed, kLoopback, closedPort);
    exception = false;
    for (int i = 0; i < 100 && !exception; ++i)
        if (ProbeConnect(probed, &writable, &exception) == 0)
            platform::Sleep(10);
    EXPECT_TRUE(exception && !writable);
    closesocket(probed);
}

TEST(Sockets, DatagramsKeepTheirBoundaries)
{
    SOCKET a = CreateSocket(SOCK_DGRAM_), b = CreateSocket(SOCK_DGRAM_);
    ASSERT_EQ(BindSocket(a, kLoopback, 0) + BindSocket(b, kLoopback, 0), 0);
    uint16_t portA = 0, portB = 0;
    ASSERT_EQ(GetSocketName(a, nullptr, &portA) + GetSocketName(b, nullptr, &portB), 0);
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(b, event, FD_READ);
    EXPECT_EQ(SendTo(a, "hello", 5, kLoopback, portB), 5);
    EXPECT_EQ(SendTo(a, "0123456789", 10, kLoopback, portB), 10);
    EXPECT_TRUE(waitAndEnumerate(b, event).lNetworkEvents & FD_READ);
    char buffer[8];
    uint32_t from = 0;
    uint16_t fromPort = 0;
    EXPECT_EQ(RecvFrom(b, buffer, sizeof buffer, &from, &fromPort), 5);
    EXPECT_EQ(std::pair(from, fromPort), std::pair(kLoopback, portA));
    EXPECT_EQ(failure(RecvFrom(b, buffer, sizeof buffer, &from, &fromPort)), WSAEMSGSIZE);
    int32_t on = 1;  // broadcasting is an option of its own; an unknown one is refused
    EXPECT_EQ(platform::setsockopt(a, SOL_SOCKET_, SO_BROADCAST_, &on, sizeof on), 0);
    EXPECT_EQ(failure(platform::setsockopt(a, SOL_SOCKET_, 0x7777, &on, sizeof on)), WSAENOPROTOOPT);
    closesocket(a);
    closesocket(b);
    WSACloseEvent(event);
}

}  // namespace

TEST(SocketEvents, APollMaySkipAReadOnlyWhileAWaitSetWatchesAnEmptySocket)
{
    Pair pair;
    char buffer[64];
    platform::send(pair.client, "ab", 2, 0);
    waitAndEnumerate(pair.server, pair.serverEvent);
    EXPECT_EQ(platform::recv(pair.server, buffer, sizeof buffer, 0), 2);
    // Empty, but nothing would report new input: every poll must read.
    EXPECT_TRUE(platform::MayHaveInput(pair.server));

    EventWaitSet set;
    set.Add(pair.serverEvent);
    EXPECT_EQ(platform::recv(pair.server, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_FALSE(platform::MayHaveInput(pair.server));
    platform::send(pair.client, "cd", 2, 0);
    std::vector<WSAEVENT> signalled;
    set.Wait(1000, signalled);
    EXPECT_EQ(signalled.size(), 1u);
    EXPECT_TRUE(platform::MayHaveInput(pair.server));
    // A read that fills the whole buffer may have left more behind.
    EXPECT_EQ(platform::recv(pair.server, buffer, 1, 0), 1);
    EXPECT_TRUE(platform::MayHaveInput(pair.server));
    EXPECT_EQ(platform::recv(pair.server, buffer, sizeof buffer, 0), 1);
    EXPECT_FALSE(platform::MayHaveInput(pair.server));
    set.Remove(pair.serverEvent);
    EXPECT_TRUE(platform::MayHaveInput(pair.server));
}
