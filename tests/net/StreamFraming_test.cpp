#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/serialize/PackedData.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

using Errors = std::vector<std::pair<Error, int>>;
using Lines = std::vector<std::string>;

std::string pattern(size_t size, char seed)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(seed + static_cast<char>(i * 7));
    return text;
}

bool pulseUntil(CConnection &conn, std::function<bool()> const &done)
{
    return DriveUntil([&] { conn.Pulse(); }, done);
}

void pulse(CConnection &conn, int times)
{
    for (int i = 0; i < times; ++i)
        conn.Pulse();
}

long countStarting(Lines const &lines, std::string const &prefix)
{
    return std::count_if(lines.begin(), lines.end(), [&](std::string const &l) { return l.rfind(prefix, 0) == 0; });
}

class StreamTest : public LogCaptureTest {
protected:
    std::string zone(RawPeerConnection &link) { return "Zone to 127.0.0.1:" + std::to_string(link.listener.port()); }
};

// One message of each frame form: short, empty, the longest short one, the
// shortest long one, a longer one, and a packet.
TEST_F(StreamTest, ExactBytesOnTheWire)
{
    RawPeerConnection link;
    ASSERT_EQ(link.client.GetState(), CConnection::Connected);
    std::string shortest = pattern(65532, 'a'), longest = pattern(65533, 'b'), longer = pattern(70000, 'c');
    link.client.SendMsg(1, "x"), link.client.SendMsg(0, "");
    for (std::string const *message : {&shortest, &longest, &longer})
        link.client.SendMsg(static_cast<uint32_t>(message->size()), message->data());
    CPackedData packet;
    packet.PutUint16(7);
    link.client.SendMsg(packet);
    std::string wire = link.peerReads();
    std::string expected = std::string("\x01\x00x\x00\x00", 5) + "\xFC\xFF" + shortest + "\xFD\xFF" +
                           std::string("\xFD\xFF\x00\x00", 4) + longest + "\xFD\xFF\x70\x11" +
                           std::string("\x01\x00", 2) + longer + std::string("\x03\x00\x00\x07\x00", 5);
    EXPECT_TRUE(wire.size() == expected.size() && wire == expected);  // no megabyte-long failure message
    EXPECT_EQ(T(link.client.getBytesSent(), link.client.getMessagesSent()),
              T(3u + 2u + 65534u + 65539u + 70006u + 5u, 6u));
}

TEST_F(StreamTest, IgnoredPacketsRefuseSendsAndSwallowReceives)
{
    CConnection idle;
    idle.SendMsg(3, "abc"), idle.FillBufferDangerous(3, "abc");
    EXPECT_EQ(T(idle.getBytesSent(), idle.GetOutboundByteCount()), T(0u, 0));

    RawPeerConnection link;
    logger().SetConditional(Log_Network, LogSev_Info);
    link.client.HandleMessage("direct", 6);
    link.client.IgnorePackets();
    link.client.HandleMessage("ignored", 7);
    link.client.SendMsg(3, "abc");
    ASSERT_FALSE(texts().empty());
    EXPECT_EQ(texts().back(), "Network: " + zone(link) + ": Refusing message because of IgnorePackets().");
    EXPECT_EQ(link.client.getMessagesSent(), 0u);
    link.client.FillBufferDangerous(3, "xyz");  // still queued
    EXPECT_TRUE(link.peerReads() == "xyz" && link.client.getBytesSent() == 3u);
    link.client.SendMsg(3, "abc", 0x7F000001, 9);  // never a datagram into the stream
    EXPECT_EQ(texts().back(), "ERROR Network: Unable to send DGram: 10045");

    link.peerSends(Frame("one") + Frame("two"));
    ASSERT_TRUE(pulseUntil(link.client, [&] { return link.client.getMessagesReceived() == 2; }));
    EXPECT_EQ(T(link.handler.messages, link.client.getBytesReceived()), T(Lines{"direct"}, 10u));
    link.client.FillBufferDangerous(3, "xyz"), link.client.Cleanup();  // what is still queued goes too
    EXPECT_EQ(link.client.GetOutboundByteCount(), 0);
}

// With lag updates on, the 1801st pulse sends a ping request; the reply sets
// the lag to half the round trip, capped at 500 ms.
TEST_F(StreamTest, KeepAlivePingAndLag)
{
    RawPeerConnection link;
    auto pulsesThenRead = [&](int pulses) {
        pulse(link.client, pulses);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        char bytes[16];
        int n = platform::recv(link.peer, bytes, sizeof bytes, 0);
        return n > 0 ? std::string(bytes, static_cast<size_t>(n)) : std::string();
    };
    link.client.SetUpdateLag(), platform::PinPerformanceCounter(1000000000);
    EXPECT_EQ(pulsesThenRead(1800), "");
    EXPECT_EQ(pulsesThenRead(2), "\xFF\xFF");  // the 1801st queues it, the next writes it
    EXPECT_EQ(link.client.getBytesSent(), 0u);   // markers are not counted
    EXPECT_EQ(pulsesThenRead(4000), "");         // none while the first is unanswered
    // The reply comes 12 seconds later: a lag of 6000 ms, logged, then capped.
    platform::PinPerformanceCounter(1000000000 + 12000 * static_cast<int64_t>(CConnection::s_timerFreq));
    link.peerSends("\xFE\xFF");
    pulseUntil(link.client, [&] { return link.client.GetLag() != 0; });
    platform::ReleasePerformanceCounter();
    EXPECT_EQ(T(link.client.GetLag(), link.client.getMessagesReceived()), T(500u, 0u));
    EXPECT_EQ(texts().back(), "WARNING Network: connection 127.0.0.1 has a ginormous lag of 6000");
    EXPECT_EQ(pulsesThenRead(2), "\xFF\xFF");  // answered: the next one is due at once
}

TEST_F(StreamTest, FramesSplitAtEveryByteBoundaryArriveWhole)
{
    RawPeerConnection link;
    std::string stream = Frame("first") + Frame("") + Frame(pattern(300, 'q')) + "\xFF\xFF" + Frame("last");
    Lines expected{"first", "", pattern(300, 'q'), "last"};
    std::string replies;
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        link.handler.messages.clear();
        link.peerSends(stream.substr(0, cut));
        pulse(link.client, 3);
        link.peerSends(stream.substr(cut));
        ASSERT_TRUE(pulseUntil(link.client, [&] { return link.handler.messages.size() == 4; })) << "cut at " << cut;
        EXPECT_EQ(link.handler.messages, expected) << "cut at " << cut;
        replies += "\xFE\xFF";
    }
    // Every ping request is answered; neither counts as a message.
    EXPECT_EQ(link.peerReads(), replies);
    size_t n = stream.size() - 1;
    EXPECT_EQ(T(link.client.getMessagesReceived(), link.client.getBytesReceived()), T(4 * n, (n - 1) * n));
    EXPECT_EQ(link.client.GetState(), CConnection::Connected);
}

// The handler is asked about each frame's size first; a refused one drops
// what is buffered and the connection goes on.
TEST_F(StreamTest, LongFramesGrowTheBufferUnlessTheHandlerRefusesThem)
{
    RawPeerConnection link;
    auto asked = [&] { return !link.handler.sizesAsked.empty(); };
    EXPECT_TRUE(link.client.ResizeInboundBuffer(100) && link.client.GetInboundBufferSize() == 20000u);  // never shrinks
    // Only the long-form marker so far: the frame is taken to be 65542 bytes.
    link.peerSends("\xFD\xFF");
    pulseUntil(link.client, asked);
    EXPECT_TRUE(link.handler.sizesAsked.front() == 65542u && link.client.GetInboundBufferSize() >= 65542u);
    std::string big = pattern(70000, 'z');
    link.peerSends(Frame(big).substr(2));
    ASSERT_TRUE(pulseUntil(link.client, [&] { return link.handler.messages.size() == 1; }));
    EXPECT_TRUE(link.handler.messages[0] == big);
    EXPECT_EQ(T(link.client.GetInboundBufferSize(), link.client.getBytesReceived()), T(70006u, 70006u));

    // A long-form header announcing 4 GiB: refused, nothing allocated.
    link.handler.sizeLimit = 1000;
    link.handler.sizesAsked.clear();
    link.peerSends(std::string("\xFD\xFF\xFF\xFF\xFF\xFF", 6) + pattern(100, 'x'));
    pulseUntil(link.client, asked);
    EXPECT_EQ(T(link.handler.sizesAsked.front(), link.client.GetInboundBufferSize()), T(UINT32_MAX, 70006u));
    link.client.Pulse();
    link.peerSends(Frame("after"));
    ASSERT_TRUE(pulseUntil(link.client, [&] { return link.handler.messages.size() == 2; }));
    EXPECT_EQ(T(link.handler.messages[1], link.client.GetState()), T(std::string("after"), CConnection::Connected));
}

TEST_F(StreamTest, ATimeBudgetDeliversOneMessagePerPass)
{
    RawPeerConnection link;
    link.client.setAllowedProcessingTime(0.0f);
    std::string stream;
    for (int i = 0; i < 25; ++i)
        stream += Frame("m" + std::to_string(i));
    link.peerSends(stream);
    pulseUntil(link.client, [&] { return !link.handler.messages.empty(); });
    EXPECT_EQ(link.handler.messages.size(), 1u);
    // Preprocess resumes the unfinished pass each frame, one message at a time.
    bool processed = false;
    for (int i = 0; i < 30 && link.handler.messages.size() < 25; ++i)
        link.client.Preprocess(&processed);
    EXPECT_TRUE(processed && link.handler.messages.back() == "m24");
    // At 10 and 20 cut-short passes.
    EXPECT_EQ(T(countStarting(texts(), "WARNING Network: we've failed to finishing processing reads for the past "),
                link.client.getMaxReadEventsPerFrame()),
              T(2L, 1u));
}

TEST_F(StreamTest, APeerThatResetsMidFrameIsALossReportedOnce)
{
    RawPeerConnection link;
    link.peerSends(std::string("\x10\x00" "abc", 5));
    pulse(link.client, 5);
    platform::Linger abort{1, 0};
    platform::setsockopt(link.peer, platform::SOL_SOCKET_, platform::SO_LINGER_, &abort, sizeof abort);
    platform::closesocket(std::exchange(link.peer, platform::INVALID_SOCKET));
    ASSERT_TRUE(pulseUntil(link.client, [&] { return link.client.GetState() != CConnection::Connected; }));
    pulse(link.client, 5);
    EXPECT_EQ(T(link.handler.losses, link.client.GetState(), link.client.GetError(), link.handler.messages.size(),
                link.client.GetSocket()),
              T(1, CConnection::Error, 10054, size_t{0}, platform::INVALID_SOCKET));
}

// A handler that deletes its connection inside one kind of callback, as
// hosts do; the library must touch nothing of it afterwards.
class DeletingHandler : public RecordingHandler {
    using Base = RecordingHandler;

public:
    enum When { Established, Message, Loss, OutboundError };
    explicit DeletingHandler(When when) : m_when(when) {}
    void HandleMessage(CConnection *c, const void *data, uint32_t size) override
    {
        Base::HandleMessage(c, data, size), deleteIf(Message);
    }
    void OnConnect(CConnection *c, bool up) override { Base::OnConnect(c, up), deleteIf(up ? Established : Loss); }
    void OnError(CConnection *c, Error e, int detail) override { Base::OnError(c, e, detail), deleteIf(OutboundError); }
    void deleteIf(When when) { delete (when == m_when ? std::exchange(victim, nullptr) : nullptr); }
    bool pulse() { return victim == nullptr || (victim->Pulse(), victim == nullptr); }
    CConnection *victim = new CConnection;

private:
    When m_when;
};

TEST_F(StreamTest, AHandlerMayDeleteItsConnectionInsideAnyCallback)
{
    using D = DeletingHandler;
    for (auto when : {D::Established, D::Message, D::Loss, D::OutboundError}) {
        SCOPED_TRACE(when);
        RawListener listener;
        D handler(when);
        handler.victim->SetMessageHandler(&handler);
        handler.victim->InitStream(0x7F000001, listener.port());
        platform::SOCKET peer = listener.accept();
        auto connected = [&] { return handler.connects == 1; };
        ASSERT_TRUE(when == D::Established || DriveUntil([&] { handler.pulse(); }, connected));
        if (when == D::Message)
            platform::send(peer, (Frame("a") + Frame("b")).data(), 6, 0);
        if (when == D::Loss)
            platform::closesocket(peer);
        if (when == D::OutboundError) {
            CConnection::setOutboundSizeLimit(10);
            handler.victim->SendMsg(20, "twenty bytes of text");
        }
        EXPECT_TRUE(DriveUntil([] {}, [&] { return handler.pulse(); }));
        CConnection::setOutboundSizeLimit(8388608);
        EXPECT_EQ(handler.messages, when == D::Message ? Lines{"a"} : Lines{});
        if (when != D::Loss)
            platform::closesocket(peer);
    }

    // A datagram connection deleted by its first message reads no further.
    D handler(D::Message);
    handler.victim->SetMessageHandler(&handler);
    handler.victim->InitDatagramListen(0);
    platform::SOCKET sender = platform::CreateSocket(platform::SOCK_DGRAM_);
    std::string datagram = Frame("x") + Frame("y");
    for (int i = 0; i < 2; ++i)
        platform::SendTo(sender, datagram.data(), static_cast<int>(datagram.size()), 0x7F000001,
                         handler.victim->GetLocalPort());
    EXPECT_TRUE(DriveUntil([] {}, [&] { return handler.pulse(); }) && handler.messages == Lines{"x"});
    platform::closesocket(sender);
}

// Moves the pinned performance counter: 0.6 ms in every size check, 1.5 ms
// in every handler call.
class ClockMovingHandler : public RecordingHandler {
public:
    bool CheckMessageSize(uint32_t size) override { return advance(600000), RecordingHandler::CheckMessageSize(size); }
    void HandleMessage(CConnection *c, const void *data, uint32_t size) override
    {
        advance(1500000);
        RecordingHandler::HandleMessage(c, data, size);
    }
    void advance(int64_t nanoseconds) { platform::PinPerformanceCounter(m_now += nanoseconds); }

private:
    int64_t m_now = 1000000000;
};

TEST_F(StreamTest, EachDeliveryTimesTheHandlerCallAlone)
{
    ClockMovingHandler moving;
    moving.advance(0);
    {
        RawPeerConnection link;
        link.client.SetMessageHandler(&moving);
        link.peerSends(Frame("a") + Frame("b") + Frame("c"));
        ASSERT_TRUE(pulseUntil(link.client, [&] { return moving.messages.size() == 3; }));
        // 1.5 ms each, cut to 1; the whole pass: 3 x (0.6 + 1.5) ms
        EXPECT_EQ(T(link.client.getProcessTime(), link.client.getTotalReadTime()), T(3u, 6u));
        link.client.resetTimers();
        CConnection &c = link.client;
        EXPECT_EQ(c.getWriteTime() + c.getReadTime() + c.getProcessTime() + c.getTotalReadTime() +
                      c.getMaxReadEventsPerFrame(), 0u);
    }
    CConnection udp;
    udp.SetMessageHandler(&moving);
    udp.InitDatagramListen(0);
    platform::SOCKET sender = platform::CreateSocket(platform::SOCK_DGRAM_);
    std::string datagram = Frame("x") + Frame("y") + Frame("z");
    platform::SendTo(sender, datagram.data(), static_cast<int>(datagram.size()), 0x7F000001, udp.GetLocalPort());
    EXPECT_TRUE(pulseUntil(udp, [&] { return moving.messages.size() == 6; }) && udp.getProcessTime() == 3u);
    platform::closesocket(sender);
    platform::ReleasePerformanceCounter();
}

// A peer that stops reading: the client's queue grows behind its socket
// buffers until writes block.
TEST_F(StreamTest, ABlockedPeerTimesOutAndLosesNothing)
{
    logger().SetConditional(Log_Network, LogSev_Info);
    platform::PinWallClock(2000000000);
    RawPeerConnection link;
    // Small, but not below the loopback segment size, where the receiver
    // would never open its window again.
    link.client.SetSendBufferSize(65536);
    int small = 131072;
    platform::setsockopt(link.peer, platform::SOL_SOCKET_, platform::SO_RCVBUF_, &small, sizeof small);
    std::string expected;
    for (int i = 0; i < 4000; ++i) {
        std::string message = std::to_string(i) + std::string(1000, '.');
        link.client.SendMsg(static_cast<uint32_t>(message.size()), message.data());
        expected += Frame(message);
    }
    for (int i = 0; i < 20; ++i)
        link.client.WriteOutboundData();
    ASSERT_GT(link.client.GetOutboundByteCount(), 0);
    std::string peer = zone(link);
    std::string blocked = "Network: " + peer + ": Write blocked. Start timeout 180 seconds. buffer size ";
    EXPECT_EQ(countStarting(texts(), blocked), 1);

    platform::PinWallClock(2000000000 + 179);
    link.client.WriteOutboundData();
    EXPECT_TRUE(link.handler.errors.empty());
    platform::PinWallClock(2000000000 + 180);
    link.client.WriteOutboundData();
    EXPECT_EQ(link.handler.errors.size(), 1u);
    EXPECT_EQ(texts().back(), "WARNING Network: " + peer +
                                  ": Timeout. Blocked writing. Waited 180 seconds. Wrote 0 bytes in that time.");
    // The next would-block starts a new period: no second report at once.
    link.client.WriteOutboundData();
    EXPECT_EQ(link.handler.errors.size(), 1u);
    // A queue over the size limit is reported at every attempt, and kept.
    int queued = link.client.GetOutboundByteCount();
    CConnection::setOutboundSizeLimit(queued - 1);
    link.client.WriteOutboundData(), link.client.WriteOutboundData();
    EXPECT_EQ(link.handler.errors, (Errors{{Error_ConnectWriteTimeout, 180},
                                           {Error_ConnectWriteQueueLimit, queued},
                                           {Error_ConnectWriteQueueLimit, queued}}));
    CConnection::setOutboundSizeLimit(8388608);

    // The peer reads again: everything arrives, once, in order.
    std::string wire = link.peerReads(2000);
    EXPECT_EQ(T(wire.size(), wire == expected, link.client.GetOutboundByteCount()), T(expected.size(), true, 0));
    // Every blocked period after the timed-out one ended when a write got through.
    EXPECT_EQ(countStarting(texts(), "Network: End write-blocked timeout on " + peer + ". Buffer size "),
              countStarting(texts(), blocked) - 1);
    platform::ReleaseWallClock();
}

// Refusals, the large-write line and the flush of a connection in Error, on
// one connection in that order.
TEST_F(StreamTest, RefusedMessagesLargeWritesAndTheFlushInError)
{
    logger().SetConditional(Log_Network, LogSev_Info);
    // A queue that can never get a bundle refuses every message whole.
    CConnection::setOutBufferExpandSize(0);
    RawPeerConnection link;
    clearLines();
    link.client.SendMsg(10, "0123456789");
    link.client.FillBufferDangerous(3, "raw");
    CConnection::setOutBufferExpandSize(10000);
    EXPECT_EQ(T(link.client.GetOutboundByteCount(), link.client.getBytesSent(), link.client.getMessagesSent()),
              T(0, 0u, 0u));
    std::string peer = "Network: " + zone(link);
    auto refused = [&](int bytes) {
        return "ERROR " + peer + ": Unable to queue a message of " + std::to_string(bytes) + " bytes. Buffer size 0";
    };
    EXPECT_EQ(texts(), (Lines{refused(10), "Network: Queuing 3 bytes dangerously", refused(3)}));
    EXPECT_EQ(link.handler.errors, Errors(2, {Error_ConnectWriteQueueLimit, 0}));

    for (uint32_t size : {4998u, 4999u}) {  // frames of 5000 and 5001 bytes
        clearLines();
        link.client.SendMsg(size, std::string(size, 's').data());
        link.client.WriteOutboundData();
        EXPECT_EQ(texts(), size == 4998u ? Lines{} : Lines{peer + ": Attempting write of 5001 bytes"});
    }
    EXPECT_EQ(link.peerReads().size(), 10001u);

    link.client.SendMsg(3, "abc");
    // An error recorded by the host closes nothing: the queue still goes out.
    link.client.SetError(10054, "test", "test", false);
    bool processed = false;
    EXPECT_TRUE(link.client.Preprocess(&processed) == nullptr && !processed);
    EXPECT_EQ(link.peerReads(), std::string("\x03\x00" "abc", 5));  // pulses do nothing in Error
}

}  // namespace
