#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/net/SocketHelpers.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>
#include <SharedLib/serialize/PackedData.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// A plain UDP socket on the loopback address, the far end of the tests.
class RawUdp {
public:
    explicit RawUdp(uint32_t ip = kLoopback, uint16_t port = 0) : m_socket(platform::CreateSocket(platform::SOCK_DGRAM_))
    {
        SetSocketBlockingFlag(m_socket, false);
        bound = platform::BindSocket(m_socket, ip, port) == 0;
        platform::GetSocketName(m_socket, nullptr, &m_port);
    }
    ~RawUdp() { platform::closesocket(m_socket); }
    uint16_t port() const { return m_port; }
    void sendTo(uint16_t port, std::string const &bytes)
    {
        platform::SendTo(m_socket, bytes.data(), static_cast<int>(bytes.size()), kLoopback, port);
    }
    // The next datagram, if one arrives within the time.
    std::optional<std::string> receive(int timeoutMs = 1000)
    {
        static char buffer[70000];
        std::optional<std::string> got;
        DriveUntil([] {},
                   [&] {
                       int n = platform::RecvFrom(m_socket, buffer, sizeof buffer, nullptr, nullptr);
                       if (n >= 0)
                           got.emplace(buffer, static_cast<size_t>(n));
                       return got.has_value();
                   },
                   timeoutMs);
        return got;
    }

    bool bound = false;

private:
    platform::SOCKET m_socket;
    uint16_t m_port = 0;
};

long countText(std::vector<std::string> const &texts, std::string const &text)
{
    return std::count(texts.begin(), texts.end(), text);
}

// A message with its 16-bit little-endian length in front.
std::string framed(std::string const &body)
{
    std::string out{static_cast<char>(body.size() & 0xFF), static_cast<char>(body.size() >> 8)};
    return out + body;
}

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
        conn.SetMessageHandler(&handler);
        conn.InitDatagramListen(0);
        ASSERT_EQ(conn.GetState(), CConnection::Datagram);
        ASSERT_NE(conn.GetLocalPort(), 0);
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
    long countLines(std::string const &text) const
    {
        return countText(texts(), text);
    }

    SenderHandler handler;
    CConnection conn;
    RawUdp peer;
};

TEST_F(DatagramTest, MultiMessageListsArePackedUpToTheMaximum)
{
    CCharVectorList list;
    list.emplace_back(600, 'a');
    list.emplace_back(600, 'b');
    list.emplace_back(100, 'c');
    EXPECT_TRUE(conn.SendMultiMsg(&list, kLoopback, peer.port()));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front()[0], 'b');
    EXPECT_EQ(peer.receive(), framed(std::string(600, 'a')));

    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, peer.port()));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(peer.receive(), framed(std::string(600, 'b')) + framed(std::string(100, 'c')));
    EXPECT_EQ(conn.getBytesSent(), 602u + 704u);
    EXPECT_EQ(conn.getMessagesSent(), 0u);
    EXPECT_EQ(countLines("Network: Sending 602 bytes over UDP"), 1);
    EXPECT_EQ(countLines("Network: Sending 704 bytes over UDP"), 1);

    // Nothing to send: no datagram.
    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, peer.port()));
    EXPECT_FALSE(conn.SendMultiMsg(nullptr, kLoopback, peer.port()));
    EXPECT_FALSE(peer.receive(50).has_value());
}

TEST_F(DatagramTest, AMessageThatCanNeverFitIsDroppedFromTheList)
{
    CCharVectorList list;
    list.emplace_back(2000, 'x');
    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, peer.port()));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(peer.receive(), std::string());
    EXPECT_EQ(countLines("WARNING Network: Tried to send a UDP packet that was 2002d bytes. Dropped."), 1);

    // Passed over in the middle of a list, the others still go in one datagram.
    list.emplace_back(10, 'a');
    list.emplace_back(70000, 'y');
    list.emplace_back(0, 'z');
    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, peer.port()));
    EXPECT_EQ(peer.receive(), framed(std::string(10, 'a')) + framed(""));
    EXPECT_EQ(countLines("WARNING Network: Tried to send a UDP packet that was 70002d bytes. Dropped."), 1);
}

TEST_F(DatagramTest, ASingleMessageFillsAtMostOneDatagram)
{
    std::string fits(1022, 'f');
    conn.SendMsg(static_cast<unsigned short>(fits.size()), fits.data(), kLoopback, peer.port());
    EXPECT_EQ(peer.receive(), framed(fits));
    EXPECT_EQ(conn.getMessagesSent(), 1u);

    std::string tooLong(1023, 't');
    conn.SendMsg(static_cast<unsigned short>(tooLong.size()), tooLong.data(), kLoopback, peer.port());
    EXPECT_EQ(countLines("WARNING Network: Tried to send a UDP packet that was 1025d bytes. Dropped."), 1);
    EXPECT_FALSE(peer.receive(50).has_value());
    EXPECT_EQ(conn.getMessagesSent(), 1u);
    EXPECT_EQ(conn.getBytesSent(), 1024u);

    // A larger maximum lets it through; the setting is process-wide.
    CConnection::setMaxUDPPacketSize(2048);
    conn.SendMsg(static_cast<unsigned short>(tooLong.size()), tooLong.data(), kLoopback, peer.port());
    EXPECT_EQ(peer.receive(), framed(tooLong));
}

// The queued form sends to the connection's remote address.
class AddressedConnection : public CConnection {
public:
    void setRemote(uint32_t ip, uint16_t port)
    {
        m_remoteAddress = ip;
        m_remotePort = port;
    }
};

TEST_F(DatagramTest, PackedAndQueuedFormsGoOutAtOnceWithinTheirLimits)
{
    AddressedConnection sender;
    sender.InitDatagramListen(0);
    CPackedData packet;
    packet.PutUint32(0x01020304);
    sender.SendMsg(packet, kLoopback, peer.port());
    EXPECT_EQ(peer.receive(), framed(std::string(packet.readData(), packet.size())));

    sender.setRemote(kLoopback, peer.port());
    sender.SendMsg(uint32_t{5}, "hello");
    EXPECT_EQ(peer.receive(), framed("hello"));
    EXPECT_EQ(sender.GetOutboundByteCount(), 0);
    EXPECT_EQ(sender.getMessagesSent(), 2u);

    // Never cut short: a message too long for a 16-bit length is refused.
    CConnection::setMaxUDPPacketSize(65535);
    std::string huge(65536, 'h');
    sender.SendMsg(static_cast<uint32_t>(huge.size()), huge.data());
    EXPECT_EQ(countLines("ERROR Network: Tried to send too much data, ignoring: 65536 bytes"), 1);
    sender.IgnorePackets();
    sender.SendMsg(uint32_t{5}, "hello");
    EXPECT_FALSE(peer.receive(50).has_value());
    EXPECT_EQ(sender.getMessagesSent(), 2u);
}

TEST_F(DatagramTest, ReceivedMessagesAreDeliveredWithTheirSender)
{
    RawUdp other;
    peer.sendTo(conn.GetLocalPort(), framed("one") + framed("two") + framed("three"));
    ASSERT_TRUE(receiveMessages(3));
    other.sendTo(conn.GetLocalPort(), framed("four"));
    ASSERT_TRUE(receiveMessages(4));

    EXPECT_EQ(handler.messages, (std::vector<std::string>{"one", "two", "three", "four"}));
    std::pair<uint32_t, uint16_t> first{kLoopback, peer.port()}, second{kLoopback, other.port()};
    EXPECT_EQ(handler.senders, (std::vector<std::pair<uint32_t, uint16_t>>{first, first, first, second}));
    EXPECT_EQ(conn.getMessagesPerPacket(), 3u);
    EXPECT_EQ(conn.getMessagesPerPacket(), 0u);
    EXPECT_EQ(conn.getMessagesReceived(), 4u);
    EXPECT_EQ(conn.getBytesReceived(), 3u + 3u + 5u + 4u);  // the prefixes are not counted
    EXPECT_EQ(countLines("Network: Processed 3 messages (17 bytes) over UDP from 127.0.0.1:" +
                         std::to_string(peer.port())),
              1);
}

TEST_F(DatagramTest, ABadLengthDropsTheRestOfItsDatagram)
{
    std::string zero{'\0', '\0'};
    peer.sendTo(conn.GetLocalPort(), framed("first") + zero + framed("lost"));
    ASSERT_TRUE(receiveMessages(1));
    // Too long for the datagram, then as long as the maximum itself.
    peer.sendTo(conn.GetLocalPort(), framed("second") + std::string("\x10\x00xx", 4));
    peer.sendTo(conn.GetLocalPort(), std::string("\x00\x04", 2) + std::string(1024, 'm'));
    // The long form cannot pass the default maximum; a lone trailing byte is bad.
    peer.sendTo(conn.GetLocalPort(), std::string("\xFD\xFF\x01\x00\x00\x00z", 7));
    peer.sendTo(conn.GetLocalPort(), framed("third") + "\x01");
    ASSERT_TRUE(receiveMessages(3));
    DriveUntil([&] { conn.Pulse(); }, [&] { return countLines("Network: Processed 1 messages (8 bytes) over UDP from "
                                                              "127.0.0.1:" + std::to_string(peer.port())) == 1; });

    EXPECT_EQ(handler.messages, (std::vector<std::string>{"first", "second", "third"}));
    std::string tail = "), dropping.";
    EXPECT_EQ(countLines("WARNING Network: Received bad UDP packet from 127.0.0.1 (size 0, max 1024" + tail), 1);
    EXPECT_EQ(countLines("WARNING Network: Received bad UDP packet from 127.0.0.1 (size 16, max 1024" + tail), 1);
    EXPECT_EQ(countLines("WARNING Network: Received bad UDP packet from 127.0.0.1 (size 1024, max 1024" + tail), 1);
    EXPECT_EQ(countLines("WARNING Network: Received bad UDP packet from 127.0.0.1 (size 65533, max 1024" + tail), 1);
    EXPECT_EQ(countLines("WARNING Network: Received bad UDP packet from 127.0.0.1 (size 1, max 1024" + tail), 1);
    EXPECT_EQ(conn.GetState(), CConnection::Datagram);
}

TEST_F(DatagramTest, TheLongFormPassesAMaximumAbove65533)
{
    CConnection::setMaxUDPPacketSize(65535);
    peer.sendTo(conn.GetLocalPort(), std::string("\xFD\xFF\x03\x00\x00\x00", 6) + "abc" + framed("de"));
    ASSERT_TRUE(receiveMessages(2));
    EXPECT_EQ(handler.messages, (std::vector<std::string>{"abc", "de"}));
    EXPECT_EQ(conn.getBytesReceived(), 5u);
}

TEST_F(DatagramTest, OneCallDeliversFiftyDatagramsAndDiscardsTheRest)
{
    for (int i = 0; i < 60; ++i)
        peer.sendTo(conn.GetLocalPort(), framed(std::to_string(i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    conn.Pulse();
    ASSERT_EQ(handler.messages.size(), 50u);
    EXPECT_EQ(handler.messages.front(), "0");
    EXPECT_EQ(handler.messages.back(), "49");
    EXPECT_EQ(countLines("Network: Dropping 10 UDP packets"), 1);
    // The surplus is gone from the socket, not waiting for the next call.
    conn.Pulse();
    EXPECT_EQ(handler.messages.size(), 50u);

    // An empty datagram among the first fifty is read and delivers nothing.
    peer.sendTo(conn.GetLocalPort(), "");
    peer.sendTo(conn.GetLocalPort(), framed("after"));
    ASSERT_TRUE(receiveMessages(51));
    EXPECT_EQ(handler.messages.back(), "after");
}

TEST_F(DatagramTest, TheEventPathReadsToo)
{
    peer.sendTo(conn.GetLocalPort(), framed("event"));
    void *event = conn.GetEventHandle();
    ASSERT_NE(event, nullptr);
    ASSERT_TRUE(DriveUntil(
        [&] {
            if (platform::WaitForMultipleEvents(1, &event, 10) == platform::WAIT_OBJECT_0)
                conn.HandleEvent();
        },
        [&] { return handler.messages.size() == 1; }));
    EXPECT_EQ(handler.messages[0], "event");
}

TEST_F(DatagramTest, ADatagramLargerThanTheInboundBufferIsAnErrorThatClosesNothing)
{
    logger().SetConditional(Log_Connections, LogSev_Info);
    peer.sendTo(conn.GetLocalPort(), framed("ok"));
    peer.sendTo(conn.GetLocalPort(), std::string(20001, 'x'));
    ASSERT_TRUE(DriveUntil([&] { conn.HandleDgramReadEvent(0); },
                           [&] { return conn.GetState() != CConnection::Datagram; }));
    EXPECT_EQ(conn.GetState(), CConnection::Error);
    EXPECT_EQ(conn.GetError(), 10040);
    // The host decides what to close: socket and event are still held.
    EXPECT_NE(conn.GetSocket(), platform::INVALID_SOCKET);
    EXPECT_NE(conn.GetEventHandle(), nullptr);
    for (std::string const &line : texts())
        EXPECT_EQ(line.find("Connections:"), std::string::npos) << line;
    EXPECT_EQ(handler.messages, std::vector<std::string>{"ok"});
    EXPECT_EQ(countLines("ERROR Network: Zone to 0.0.0.0:0: recvfrom failed with error code 10040 in "
                         "CConnection::HandleDgramReadEvent"),
              1);
}

TEST_F(DatagramTest, AHandlerThatClosesTheConnectionStopsDelivery)
{
    class Closing : public RecordingHandler {
        void HandleMessage(CConnection *conn, const void *data, uint32_t size) override
        {
            RecordingHandler::HandleMessage(conn, data, size);
            conn->Cleanup();
        }
    } closing;
    conn.SetMessageHandler(&closing);
    peer.sendTo(conn.GetLocalPort(), framed("a") + framed("b"));
    peer.sendTo(conn.GetLocalPort(), framed("c"));
    ASSERT_TRUE(DriveUntil([&] { conn.Pulse(); }, [&] { return !closing.messages.empty(); }));
    EXPECT_EQ(closing.messages, std::vector<std::string>{"a"});
    EXPECT_EQ(conn.GetState(), CConnection::Idle);
}

TEST_F(DatagramTest, AStreamConnectionSendsNoDatagramsIntoItsStream)
{
    RawPeerConnection link;
    ASSERT_EQ(link.client.GetState(), CConnection::Connected);
    link.client.SendMsg(3, "abc", kLoopback, peer.port());
    EXPECT_EQ(countLines("ERROR Network: Unable to send DGram: 10045"), 1);
    EXPECT_EQ(link.peerReads(50), "");
}

class DatagramBindTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        logger().SetConditional(Log_Network, LogSev_Info);
        logger().SetConditional(Log_Connections, LogSev_Info);
    }
};

TEST_F(DatagramBindTest, BusyPortsAreSkippedUpToTheNumberOfTries)
{
    // Three consecutive free ports, the first two held by other sockets.
    std::vector<std::unique_ptr<RawUdp>> held;
    uint16_t base = 0;
    for (int attempt = 0; attempt < 50 && held.size() < 2; ++attempt) {
        held.clear();
        held.push_back(std::make_unique<RawUdp>(0));
        base = held[0]->port();
        if (base > 65000)
            continue;
        held.push_back(std::make_unique<RawUdp>(0, base + 1));
        RawUdp probe(0, base + 2);
        if (!held[1]->bound || !probe.bound)
            held.clear();
    }
    ASSERT_EQ(held.size(), 2u);

    CConnection conn;
    conn.InitDatagramListen(base, 2);
    ASSERT_EQ(conn.GetState(), CConnection::Datagram);
    EXPECT_EQ(conn.GetLocalPort(), base + 2);
    std::string failed = "Network: Unhandled to 0.0.0.0:0: bind failed with error code 10048 in "
                         "CConnection::InitDatagramListen";
    auto logged = lines();
    long infoFailures = std::count_if(logged.begin(), logged.end(), [&](CapturedLine const &line) {
        return line.text == failed && line.severity == LogSev_Info;
    });
    EXPECT_EQ(infoFailures, 2);
    std::string setting = "Connections: Unhandled to 0.0.0.0:0: Setting socket to " +
                          std::to_string(conn.GetSocket()) + " in CConnection::InitDatagramListen";
    EXPECT_EQ(countText(texts(), setting), 1);

    // With the third port busy as well: three attempts, then Error.
    CConnection other;
    clearLines();
    other.InitDatagramListen(base, 2);
    EXPECT_EQ(other.GetState(), CConnection::Error);
    EXPECT_EQ(other.GetError(), 10048);
    EXPECT_EQ(countText(texts(), failed), 3);

    // No retries: a single attempt.
    clearLines();
    other.InitDatagramListen(base, 0);
    EXPECT_EQ(countText(texts(), failed), 1);
}

TEST_F(DatagramBindTest, ReopeningReplacesTheHeldSocket)
{
    CConnection conn;
    conn.InitDatagramListen(0);
    unsigned int first = conn.GetSocket();
    conn.InitDatagramListen(0);
    ASSERT_EQ(conn.GetState(), CConnection::Datagram);
    std::string overwriting = "ERROR Connections: Unhandled to 0.0.0.0:0: Overwriting open socket " +
                              std::to_string(first) + " in state 3 with listening dgram socket";
    EXPECT_EQ(countText(texts(), overwriting), 1);

    // Two datagram connections talk to each other through the list form.
    RecordingHandler handler;
    CConnection receiver;
    receiver.SetMessageHandler(&handler);
    receiver.InitDatagramListen(0);
    CCharVectorList list(16, CCharVector(62, 'm'));
    EXPECT_FALSE(conn.SendMultiMsg(&list, kLoopback, receiver.GetLocalPort()));
    ASSERT_TRUE(DriveUntil([&] { receiver.Pulse(); }, [&] { return handler.messages.size() == 16; }));
    EXPECT_EQ(receiver.getMessagesPerPacket(), 16u);
    EXPECT_EQ(conn.getBytesSent(), 1024u);
}

}  // namespace
