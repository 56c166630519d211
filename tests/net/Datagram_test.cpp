#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/net/SocketHelpers.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>
#include <SharedLib/serialize/PackedData.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

using Lines = std::vector<std::string>;
constexpr uint32_t kLoopback = 0x7F000001;

// A plain UDP socket on the loopback address, the far end of the tests.
struct RawUdp {
    explicit RawUdp(uint32_t ip = kLoopback, uint16_t wanted = 0)
    {
        SetSocketBlockingFlag(socket, false);
        bound = platform::BindSocket(socket, ip, wanted) == 0;
        platform::GetSocketName(socket, nullptr, &port);
    }
    ~RawUdp() { platform::closesocket(socket); }
    void sendTo(uint16_t to, std::string const &s) { platform::SendTo(socket, s.data(), int(s.size()), kLoopback, to); }
    // The next datagram, if one arrives within the time.
    std::optional<std::string> receive(int timeoutMs = 1000)
    {
        static char buffer[70000];
        int n = -1;
        auto received = [&] { return (n = platform::RecvFrom(socket, buffer, sizeof buffer, nullptr, nullptr)) >= 0; };
        DriveUntil([] {}, received, timeoutMs);
        return n >= 0 ? std::optional<std::string>(std::string(buffer, static_cast<size_t>(n))) : std::nullopt;
    }

    platform::SOCKET socket = platform::CreateSocket(platform::SOCK_DGRAM_);
    uint16_t port = 0;
    bool bound = false;
};

// Remembers who sent each message, asked while it is being delivered.
class SenderHandler : public RecordingHandler {
public:
    void HandleMessage(CConnection *conn, const void *data, uint32_t size) override
    {
        RecordingHandler::HandleMessage(conn, data, size);
        senders.emplace_back(conn->GetSourceUdpIp(), conn->GetSourceUdpPort());
    }
    std::vector<std::pair<uint32_t, uint16_t>> senders;
};

class DatagramTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        logger().SetConditional(Log_Network, LogSev_Info);
        logger().SetConditional(Log_Connections, LogSev_Info);
        conn.SetMessageHandler(&handler);
        conn.InitDatagramListen(0);
        ASSERT_TRUE(conn.GetState() == CConnection::Datagram && conn.GetLocalPort() != 0);
    }
    void TearDown() override
    {
        CConnection::setMaxUDPPacketSize(1024);
        LogCaptureTest::TearDown();
    }
    bool receiveMessages(size_t count)
    {
        return DriveUntil([&] { conn.Pulse(); }, [&] { return handler.messages.size() >= count; });
    }
    void send(std::string const &bytes) { peer.sendTo(conn.GetLocalPort(), bytes); }
    long countLines(std::string const &text) const
    {
        Lines logged = texts();
        return std::count(logged.begin(), logged.end(), text);
    }
    static std::string dropped(int size)
    {
        return "WARNING Network: Tried to send a UDP packet that was " + std::to_string(size) + "d bytes. Dropped.";
    }

    SenderHandler handler;
    CConnection conn;
    RawUdp peer;
};

TEST_F(DatagramTest, MultiMessageListsArePackedUpToTheMaximum)
{
    CCharVectorList list = {CCharVector(600, 'a'), CCharVector(600, 'b'), CCharVector(100, 'c')};
    ASSERT_TRUE(conn.SendMultiMsg(&list, kLoopback, peer.port) && list.size() == 2u && list.front()[0] == 'b');
    EXPECT_EQ(peer.receive(), Frame(std::string(600, 'a')));
    EXPECT_TRUE(!conn.SendMultiMsg(&list, kLoopback, peer.port) && list.empty());
    EXPECT_EQ(peer.receive(), Frame(std::string(600, 'b')) + Frame(std::string(100, 'c')));
    EXPECT_EQ(T(conn.getBytesSent(), conn.getMessagesSent()), T(602u + 704u, 0u));
    EXPECT_EQ(countLines("Network: Sending 602 bytes over UDP") + countLines("Network: Sending 704 bytes over UDP"), 2);

    // Nothing to send: no datagram.
    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, peer.port) || conn.SendMultiMsg(nullptr, kLoopback, peer.port));
    EXPECT_FALSE(peer.receive(50).has_value());

    // A message that can never fit is dropped from the list; alone, it leaves
    // an empty datagram, among others they still go in one.
    list.emplace_back(2000, 'x');
    EXPECT_TRUE(!conn.SendMultiMsg(&list, kLoopback, peer.port) && list.empty());
    EXPECT_EQ(peer.receive(), std::string());
    list = {CCharVector(10, 'a'), CCharVector(70000, 'y'), CCharVector(), CCharVector(1008, 'w')};  // fills it exactly
    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, peer.port));
    EXPECT_EQ(peer.receive(), Frame(std::string(10, 'a')) + Frame("") + Frame(std::string(1008, 'w')));
    EXPECT_EQ(countLines(dropped(2002)) + countLines(dropped(70002)), 2);
    conn.Cleanup();  // releases the datagram buffer; the destructor's Cleanup finds nothing left
}

// The queued form sends to the connection's remote address.
class AddressedConnection : public CConnection {
public:
    void setRemote(uint32_t ip, uint16_t port) { m_remoteAddress = ip, m_remotePort = port; }
};

TEST_F(DatagramTest, SingleMessagesGoOutAtOnceWithinTheirLimits)
{
    AddressedConnection sender;
    sender.InitDatagramListen(0);
    std::string fits(1022, 'f'), tooLong(1023, 't');
    sender.SendMsg(static_cast<unsigned short>(fits.size()), fits.data(), kLoopback, peer.port);
    EXPECT_EQ(peer.receive(), Frame(fits));
    sender.SendMsg(static_cast<unsigned short>(tooLong.size()), tooLong.data(), kLoopback, peer.port);
    EXPECT_FALSE(peer.receive(50).has_value());
    EXPECT_EQ(T(countLines(dropped(1025)), sender.getMessagesSent(), sender.getBytesSent()), T(1L, 1u, 1024u));

    CPackedData packet;
    packet.PutUint32(0x01020304);
    sender.SendMsg(packet, kLoopback, peer.port);
    EXPECT_EQ(peer.receive(), Frame(std::string(packet.readData(), packet.size())));
    sender.setRemote(kLoopback, peer.port);
    sender.SendMsg(uint32_t{5}, "hello");
    EXPECT_EQ(peer.receive(), Frame("hello"));
    EXPECT_EQ(T(sender.GetOutboundByteCount(), sender.getMessagesSent()), T(0, 3u));

    // A larger maximum lets more through, but never past a 16-bit length.
    CConnection::setMaxUDPPacketSize(65535);
    sender.SendMsg(static_cast<uint32_t>(tooLong.size()), tooLong.data());
    EXPECT_EQ(peer.receive(), Frame(tooLong));
    std::string huge(65536, 'h');
    sender.SendMsg(static_cast<uint32_t>(huge.size()), huge.data());
    CPackedData hugePacket(huge.data(), static_cast<int>(huge.size()));
    sender.SendMsg(hugePacket, kLoopback, peer.port);
    EXPECT_EQ(countLines("ERROR Network: Tried to send too much data, ignoring: 65536 bytes"), 2);
    sender.IgnorePackets(), sender.SendMsg(uint32_t{5}, "hello");
    EXPECT_TRUE(!peer.receive(50).has_value() && sender.getMessagesSent() == 4u);
}

TEST_F(DatagramTest, ReceivedMessagesAreDeliveredWithTheirSender)
{
    RawUdp other;
    clearLines(), send(Frame("one") + Frame("two") + Frame("three"));
    ASSERT_TRUE(receiveMessages(3));
    other.sendTo(conn.GetLocalPort(), Frame("four"));
    ASSERT_TRUE(receiveMessages(4));

    EXPECT_EQ(handler.messages, (Lines{"one", "two", "three", "four"}));
    std::pair<uint32_t, uint16_t> first{kLoopback, peer.port}, second{kLoopback, other.port};
    EXPECT_EQ(handler.senders, (std::vector<std::pair<uint32_t, uint16_t>>{first, first, first, second}));
    uint32_t const perPacket = conn.getMessagesPerPacket();
    EXPECT_EQ(T(perPacket, conn.getMessagesPerPacket()), T(3u, 0u));  // reset by reading
    // The prefixes are not counted.
    EXPECT_EQ(T(conn.getMessagesReceived(), conn.getBytesReceived()), T(4u, 3u + 3u + 5u + 4u));
    auto processed = [](std::string what, uint16_t port) {
        return "Network: Processed " + what + " bytes) over UDP from 127.0.0.1:" + std::to_string(port);
    };
    EXPECT_EQ(texts(), (Lines{processed("3 messages (17", peer.port), processed("1 messages (6", other.port)}));
}

TEST_F(DatagramTest, ABadLengthDropsTheRestOfItsDatagram)
{
    // Zero, too long for the datagram, as long as the maximum itself, the
    // long form (which cannot pass the default maximum), a lone trailing byte.
    std::pair<std::string, int> cases[] = {{Frame("first") + std::string(2, '\0') + Frame("lost"), 0},
                                           {Frame("second") + std::string("\x10\x00xx", 4), 16},
                                           {std::string("\x00\x04", 2) + std::string(1024, 'm'), 1024},
                                           {std::string("\xFD\xFF\x01\x00\x00\x00z", 7), 65533},
                                           {Frame("third") + "\x01", 1}};
    for (auto const &[datagram, badSize] : cases)
        send(datagram);
    ASSERT_TRUE(receiveMessages(3));
    std::string last = "Network: Processed 1 messages (8 bytes) over UDP from 127.0.0.1:" + std::to_string(peer.port);
    DriveUntil([&] { conn.Pulse(); }, [&] { return countLines(last) == 1; });
    EXPECT_EQ(handler.messages, (Lines{"first", "second", "third"}));
    for (auto const &[datagram, badSize] : cases)
        EXPECT_EQ(countLines("WARNING Network: Received bad UDP packet from 127.0.0.1 (size " +
                             std::to_string(badSize) + ", max 1024), dropping."),
                  1);
    EXPECT_EQ(conn.GetState(), CConnection::Datagram);

    // A maximum above 65533 lets the long form through.
    CConnection::setMaxUDPPacketSize(65535);
    send(std::string("\xFD\xFF\x03\x00\x00\x00", 6) + "abc" + Frame("de"));
    ASSERT_TRUE(receiveMessages(5));
    EXPECT_EQ(Lines(handler.messages.begin() + 3, handler.messages.end()), (Lines{"abc", "de"}));
}

TEST_F(DatagramTest, OneCallDeliversFiftyDatagramsAndDiscardsTheRest)
{
    for (int i = 0; i < 60; ++i)
        send(Frame(std::to_string(i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    conn.Pulse();
    ASSERT_EQ(handler.messages.size(), 50u);
    EXPECT_EQ(T(handler.messages.front() + handler.messages.back(), countLines("Network: Dropping 10 UDP packets")),
              T(std::string("049"), 1L));
    conn.Pulse();  // the surplus is gone from the socket, not waiting for the next call
    EXPECT_EQ(handler.messages.size(), 50u);

    // An empty datagram is read and delivers nothing; the event path reads too.
    send("");
    send(Frame("after"));
    ASSERT_TRUE(DriveUntil([&] { WaitAndHandle(conn); }, [&] { return handler.messages.size() == 51; }));
    EXPECT_EQ(handler.messages.back(), "after");
}

TEST_F(DatagramTest, ADatagramLargerThanTheInboundBufferIsAnErrorThatClosesNothing)
{
    send(Frame("ok"));
    send(std::string(20001, 'x')), clearLines();
    ASSERT_TRUE(DriveUntil([&] { conn.HandleDgramReadEvent(0); },
                           [&] { return conn.GetState() != CConnection::Datagram; }));
    EXPECT_EQ(T(conn.GetState(), conn.GetError(), handler.messages), T(CConnection::Error, 10040, Lines{"ok"}));
    // The host decides what to close: socket and event are still held.
    EXPECT_TRUE(conn.GetSocket() != platform::INVALID_SOCKET && conn.GetEventHandle() != nullptr);
    for (std::string const &line : texts())
        EXPECT_EQ(line.find("Connections:"), std::string::npos) << line;
    EXPECT_EQ(1, countLines("ERROR Network: Zone to 0.0.0.0:0: recvfrom failed with error code 10040 in "
                            "CConnection::HandleDgramReadEvent"));
    // Cleanup releases them.
    void *event = conn.GetEventHandle();
    conn.Cleanup();
    EXPECT_TRUE(conn.GetSocket() == platform::INVALID_SOCKET && !platform::WSACloseEvent(event));
}

TEST_F(DatagramTest, AHandlerThatClosesTheConnectionStopsDelivery)
{
    struct Closing : RecordingHandler {
        void HandleMessage(CConnection *conn, const void *data, uint32_t size) override
        {
            RecordingHandler::HandleMessage(conn, data, size);
            conn->Cleanup();
        }
    } closing;
    conn.SetMessageHandler(&closing);
    send(Frame("a") + Frame("b")), send(Frame("c"));
    ASSERT_TRUE(DriveUntil([&] { conn.Pulse(); }, [&] { return !closing.messages.empty(); }));
    EXPECT_EQ(T(closing.messages, conn.GetState()), T(Lines{"a"}, CConnection::Idle));
}

TEST_F(DatagramTest, BusyPortsAreSkippedUpToTheNumberOfTriesAndReopeningReplaces)
{
    // Three consecutive free ports, the first two held by other sockets.
    std::vector<std::unique_ptr<RawUdp>> held;
    uint16_t base = 0;
    for (int attempt = 0; attempt < 50 && held.size() < 2; ++attempt) {
        held.clear();
        base = held.emplace_back(std::make_unique<RawUdp>(0))->port;
        if (base > 65000)
            continue;
        bool secondBound = held.emplace_back(std::make_unique<RawUdp>(0, base + 1))->bound;
        if (!secondBound || !RawUdp(0, base + 2).bound)
            held.clear();
    }
    ASSERT_EQ(held.size(), 2u);

    CConnection bound;
    clearLines(), bound.InitDatagramListen(base, 2);
    ASSERT_EQ(T(bound.GetState(), bound.GetLocalPort()), T(CConnection::Datagram, uint16_t(base + 2)));
    std::string self = "Unhandled to 0.0.0.0:0: ", failed = "Network: " + self + "bind failed with error code 10048 in "
                                                                                  "CConnection::InitDatagramListen";
    EXPECT_EQ(texts(), (Lines{failed, failed,
                              "Connections: " + self + "Setting socket to " + std::to_string(bound.GetSocket()) +
                                  " in CConnection::InitDatagramListen"}));
    EXPECT_EQ(lines().at(0).severity, LogSev_Info);

    // With the third port busy as well: three attempts, then Error; without
    // retries, a single attempt.
    CConnection other;
    clearLines(), other.InitDatagramListen(base, 2);
    EXPECT_EQ(T(other.GetState(), other.GetError()), T(CConnection::Error, 10048));
    other.InitDatagramListen(base, 0);
    EXPECT_EQ(texts(), Lines(4, failed));

    // Opening again replaces the held socket.
    unsigned int first = bound.GetSocket();
    clearLines(), bound.InitDatagramListen(0);
    ASSERT_TRUE(bound.GetState() == CConnection::Datagram && !texts().empty());
    EXPECT_EQ(texts().front(), "ERROR Connections: " + self + "Overwriting open socket " + std::to_string(first) +
                                   " in state 3 with listening dgram socket");
}

}  // namespace
