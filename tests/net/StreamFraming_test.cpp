#include <gtest/gtest.h>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/serialize/PackedData.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

std::string frame(std::string const &message)
{
    std::string bytes;
    if (message.size() < 65533) {
        bytes += static_cast<char>(message.size() & 0xFF);
        bytes += static_cast<char>(message.size() >> 8);
    } else {
        uint32_t size = static_cast<uint32_t>(message.size());
        bytes += "\xFD\xFF";
        bytes.append(reinterpret_cast<const char *>(&size), 4);
    }
    return bytes + message;
}

std::string pattern(size_t size, char seed)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(seed + static_cast<char>(i * 7));
    return text;
}

using StreamTest = LogCaptureTest;

TEST_F(StreamTest, ExactBytesOnTheWire)
{
    RawPeerConnection link;
    ASSERT_EQ(link.client.GetState(), CConnection::Connected);
    std::string ten = "0123456789";
    link.client.SendMsg(10, ten.data());
    EXPECT_EQ(link.client.getBytesSent(), 12u);
    EXPECT_EQ(link.client.getMessagesSent(), 1u);
    link.client.SendMsg(0, "");
    std::string shortest = pattern(65532, 'a');
    std::string longest = pattern(65533, 'b');
    link.client.SendMsg(static_cast<uint32_t>(shortest.size()), shortest.data());
    link.client.SendMsg(static_cast<uint32_t>(longest.size()), longest.data());
    std::string wire = link.peerReads();
    std::string expected = std::string("\x0A\x00", 2) + ten + std::string("\x00\x00", 2) + "\xFC\xFF" + shortest +
                           "\xFD\xFF" + std::string("\xFD\xFF\x00\x00", 4) + longest;
    ASSERT_EQ(wire.size(), expected.size());
    EXPECT_TRUE(wire == expected);
    EXPECT_EQ(link.client.getBytesSent(), 12u + 2u + 65534u + 65539u);
    EXPECT_EQ(link.client.getMessagesSent(), 4u);

    // A packet goes out as its bytes up to size().
    CPackedData packet;
    packet.PutUint16(7);
    link.client.SendMsg(packet);
    EXPECT_EQ(link.peerReads(), std::string("\x03\x00\x00\x07\x00", 5));
}

TEST_F(StreamTest, NothingIsQueuedOutsideAConnectedStream)
{
    CConnection idle;
    idle.SendMsg(3, "abc");
    idle.FillBufferDangerous(3, "abc");
    EXPECT_EQ(idle.getBytesSent(), 0u);
    EXPECT_EQ(idle.GetOutboundByteCount(), 0);

    RawPeerConnection link;
    logger().SetConditional(Log_Network, LogSev_Info);
    link.client.IgnorePackets();
    link.client.SendMsg(3, "abc");
    ASSERT_FALSE(texts().empty());
    EXPECT_EQ(texts().back(), "Network: Zone to 127.0.0.1:" + std::to_string(link.listener.port()) +
                                  ": Refusing message because of IgnorePackets().");
    EXPECT_EQ(link.client.getMessagesSent(), 0u);
    link.client.FillBufferDangerous(3, "xyz");  // still queued
    EXPECT_EQ(link.peerReads(), "xyz");
    EXPECT_EQ(link.client.getBytesSent(), 3u);
}

TEST_F(StreamTest, APingRequestIsAnsweredAndNotCounted)
{
    RawPeerConnection link;
    link.peerSends("\xFF\xFF");
    EXPECT_EQ(link.peerReads(), "\xFE\xFF");
    EXPECT_EQ(link.client.getMessagesReceived(), 0u);
    EXPECT_EQ(link.client.getBytesReceived(), 0u);
    EXPECT_TRUE(link.handler.messages.empty());
}

TEST_F(StreamTest, LagIsHalfTheRoundTripCappedAt500)
{
    RawPeerConnection link;
    link.client.SetUpdateLag();
    platform::PinPerformanceCounter(1000000000);
    for (int i = 0; i < 1801; ++i)
        link.client.Pulse();
    EXPECT_EQ(link.peerReads(), "\xFF\xFF");
    // The reply comes 12 seconds later: a lag of 6000 ms, logged, then capped.
    platform::PinPerformanceCounter(1000000000 + 12000 * static_cast<int64_t>(CConnection::s_timerFreq));
    link.peerSends("\xFE\xFF");
    DriveUntil([&] { link.client.Pulse(); }, [&] { return link.client.GetLag() != 0; });
    platform::ReleasePerformanceCounter();
    EXPECT_EQ(link.client.GetLag(), 500u);
    ASSERT_FALSE(texts().empty());
    EXPECT_EQ(texts().back(), "WARNING Network: connection 127.0.0.1 has a ginormous lag of 6000");
}

TEST_F(StreamTest, FramesSplitAtEveryByteBoundaryArriveWhole)
{
    RawPeerConnection link;
    std::string stream = frame("first") + frame("") + frame(pattern(300, 'q')) + "\xFF\xFF" + frame("last");
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        link.handler.messages.clear();
        link.peerSends(stream.substr(0, cut));
        for (int i = 0; i < 3; ++i)
            link.client.Pulse();
        link.peerSends(stream.substr(cut));
        ASSERT_TRUE(DriveUntil([&] { link.client.Pulse(); }, [&] { return link.handler.messages.size() == 4; }))
            << "cut at " << cut;
        EXPECT_EQ(link.handler.messages[0], "first");
        EXPECT_EQ(link.handler.messages[1], "");
        EXPECT_EQ(link.handler.messages[2], pattern(300, 'q'));
        EXPECT_EQ(link.handler.messages[3], "last");
    }
    link.peerReads();  // the ping replies
    EXPECT_EQ(link.client.GetState(), CConnection::Connected);
}

TEST_F(StreamTest, LongFramesGrowTheBufferToTheirSize)
{
    RawPeerConnection link;
    EXPECT_EQ(link.client.GetInboundBufferSize(), 20000u);
    // Only the long-form marker so far: the frame is taken to be 65542 bytes.
    link.peerSends("\xFD\xFF");
    DriveUntil([&] { link.client.Pulse(); }, [&] { return !link.handler.sizesAsked.empty(); });
    EXPECT_EQ(link.handler.sizesAsked.front(), 65542u);
    EXPECT_GE(link.client.GetInboundBufferSize(), 65542u);
    std::string big = pattern(70000, 'z');
    uint32_t size = 70000;
    link.peerSends(std::string(reinterpret_cast<const char *>(&size), 4));
    link.peerSends(big);
    ASSERT_TRUE(DriveUntil([&] { link.client.Pulse(); }, [&] { return link.handler.messages.size() == 1; }));
    EXPECT_EQ(link.client.GetInboundBufferSize(), 70006u);
    EXPECT_TRUE(link.handler.messages[0] == big);
    EXPECT_EQ(link.client.getBytesReceived(), 70006u);
}

TEST_F(StreamTest, ARefusedSizeDropsTheBufferAndTheConnectionGoesOn)
{
    RawPeerConnection link;
    link.handler.sizeLimit = 1000;
    // A long-form header announcing 4 GiB: refused, nothing allocated.
    link.peerSends(std::string("\xFD\xFF\xFF\xFF\xFF\xFF", 6) + pattern(100, 'x'));
    DriveUntil([&] { link.client.Pulse(); }, [&] { return !link.handler.sizesAsked.empty(); });
    EXPECT_EQ(link.client.GetInboundBufferSize(), 20000u);
    EXPECT_TRUE(link.handler.messages.empty());
    link.client.Pulse();
    link.peerSends(frame("after"));
    ASSERT_TRUE(DriveUntil([&] { link.client.Pulse(); }, [&] { return link.handler.messages.size() == 1; }));
    EXPECT_EQ(link.handler.messages[0], "after");
    EXPECT_EQ(link.client.GetState(), CConnection::Connected);
}

TEST_F(StreamTest, ATimeBudgetDeliversOneMessagePerPass)
{
    RawPeerConnection link;
    link.client.setAllowedProcessingTime(0.0f);
    std::string stream;
    for (int i = 0; i < 25; ++i) {
        std::string name = "m";
        name += std::to_string(i);
        stream += frame(name);
    }
    link.peerSends(stream);
    DriveUntil([&] { link.client.Pulse(); }, [&] { return !link.handler.messages.empty(); });
    size_t afterRead = link.handler.messages.size();
    EXPECT_EQ(afterRead, 1u);
    // Preprocess resumes the unfinished pass each frame, one message at a time.
    bool processed = false;
    for (int i = 0; i < 30 && link.handler.messages.size() < 25; ++i)
        link.client.Preprocess(&processed);
    EXPECT_TRUE(processed);
    ASSERT_EQ(link.handler.messages.size(), 25u);
    EXPECT_EQ(link.handler.messages[24], "m24");
    auto logged = texts();
    long warnings = std::count_if(logged.begin(), logged.end(), [](std::string const &line) {
        return line.rfind("WARNING Network: we've failed to finishing processing reads for the past ", 0) == 0;
    });
    EXPECT_EQ(warnings, 2);  // at 10 and 20 cut-short passes
    EXPECT_EQ(link.client.getMaxReadEventsPerFrame(), 1u);
}

TEST_F(StreamTest, IgnoredPacketsAreConsumedAndCountedButNotDelivered)
{
    RawPeerConnection link;
    link.client.IgnorePackets();
    link.peerSends(frame("one") + frame("two"));
    ASSERT_TRUE(DriveUntil([&] { link.client.Pulse(); }, [&] { return link.client.getMessagesReceived() == 2; }));
    EXPECT_TRUE(link.handler.messages.empty());
    EXPECT_EQ(link.client.getBytesReceived(), 10u);
}

TEST_F(StreamTest, APeerThatResetsMidFrameIsALossReportedOnce)
{
    RawPeerConnection link;
    link.peerSends(std::string("\x10\x00" "abc", 5));
    for (int i = 0; i < 5; ++i)
        link.client.Pulse();
    platform::Linger abort{1, 0};
    platform::setsockopt(link.peer, platform::SOL_SOCKET_, platform::SO_LINGER_, &abort, sizeof abort);
    platform::closesocket(link.peer);
    link.peer = platform::INVALID_SOCKET;
    ASSERT_TRUE(DriveUntil([&] { link.client.Pulse(); },
                           [&] { return link.client.GetState() != CConnection::Connected; }));
    for (int i = 0; i < 5; ++i)
        link.client.Pulse();
    EXPECT_EQ(link.handler.losses, 1);
    EXPECT_EQ(link.client.GetState(), CConnection::Error);
    EXPECT_EQ(link.client.GetError(), 10054);
    EXPECT_TRUE(link.handler.messages.empty());
}

// A handler that deletes its connection inside one kind of callback, as
// hosts do; the library must touch nothing of it afterwards.
class DeletingHandler : public RecordingHandler {
public:
    enum When { Established, Message, Loss, OutboundError };
    explicit DeletingHandler(When when) : m_when(when) {}
    void HandleMessage(CConnection *conn, const void *data, uint32_t size) override
    {
        RecordingHandler::HandleMessage(conn, data, size);
        deleteIf(m_when == Message);
    }
    void OnConnect(CConnection *conn, bool connected) override
    {
        RecordingHandler::OnConnect(conn, connected);
        deleteIf(m_when == (connected ? Established : Loss));
    }
    void OnError(CConnection *conn, Error code, int detail) override
    {
        RecordingHandler::OnError(conn, code, detail);
        deleteIf(m_when == OutboundError);
    }
    void deleteIf(bool now)
    {
        if (now) {
            delete victim;
            victim = nullptr;
        }
    }
    bool pulse()
    {
        if (victim != nullptr)
            victim->Pulse();
        return victim == nullptr;
    }
    CConnection *victim = new CConnection;

private:
    When m_when;
};

TEST_F(StreamTest, AHandlerMayDeleteItsConnectionInsideAnyCallback)
{
    for (auto when : {DeletingHandler::Established, DeletingHandler::Message, DeletingHandler::Loss,
                      DeletingHandler::OutboundError}) {
        SCOPED_TRACE(when);
        RawListener listener;
        DeletingHandler handler(when);
        handler.victim->SetMessageHandler(&handler);
        handler.victim->InitStream(0x7F000001, listener.port());
        platform::SOCKET peer = listener.accept();
        if (when != DeletingHandler::Established) {
            ASSERT_TRUE(DriveUntil([&] { handler.pulse(); }, [&] { return handler.connects == 1; }));
        }
        if (when == DeletingHandler::Message)
            platform::send(peer, (frame("a") + frame("b")).data(), 6, 0);
        if (when == DeletingHandler::Loss)
            platform::closesocket(peer);
        if (when == DeletingHandler::OutboundError) {
            CConnection::setOutboundSizeLimit(10);
            handler.victim->SendMsg(20, "twenty bytes of text");
        }
        EXPECT_TRUE(DriveUntil([] {}, [&] { return handler.pulse(); }));
        CConnection::setOutboundSizeLimit(8388608);
        if (when == DeletingHandler::Message) {
            EXPECT_EQ(handler.messages, std::vector<std::string>{"a"});
        }
        if (when != DeletingHandler::Loss)
            platform::closesocket(peer);
    }

    // A datagram connection deleted by its first message reads no further.
    DeletingHandler handler(DeletingHandler::Message);
    handler.victim->SetMessageHandler(&handler);
    handler.victim->InitDatagramListen(0);
    platform::SOCKET sender = platform::CreateSocket(platform::SOCK_DGRAM_);
    std::string datagram = frame("x") + frame("y");
    platform::SendTo(sender, datagram.data(), static_cast<int>(datagram.size()), 0x7F000001,
                     handler.victim->GetLocalPort());
    platform::SendTo(sender, datagram.data(), static_cast<int>(datagram.size()), 0x7F000001,
                     handler.victim->GetLocalPort());
    EXPECT_TRUE(DriveUntil([] {}, [&] { return handler.pulse(); }));
    EXPECT_EQ(handler.messages, std::vector<std::string>{"x"});
    platform::closesocket(sender);
}

TEST_F(StreamTest, AHostDrivesTheReadPathItself)
{
    RawPeerConnection link;
    link.handler.sizeLimit = 100;
    EXPECT_TRUE(link.client.CheckMessageSize(100));
    EXPECT_FALSE(link.client.CheckMessageSize(101));
    link.client.HandleMessage("direct", 6);
    link.peerSends(frame("one") + frame("two"));
    ASSERT_TRUE(DriveUntil([&] { link.client.HandleStreamReadEvent(0); },
                           [&] { return link.handler.messages.size() == 3; }));
    link.client.ProcessInboundData();
    EXPECT_EQ(link.handler.messages, (std::vector<std::string>{"direct", "one", "two"}));
    link.client.SendMsg(2, "ok");
    link.client.HandleWriteEvent(0);
    EXPECT_EQ(link.client.GetOutboundByteCount(), 0);
}

// Moves the pinned performance counter: 0.6 ms in every size check, 1.5 ms
// in every handler call.
class ClockMovingHandler : public RecordingHandler {
public:
    bool CheckMessageSize(uint32_t size) override
    {
        advance(600000);
        return RecordingHandler::CheckMessageSize(size);
    }
    void HandleMessage(CConnection *conn, const void *data, uint32_t size) override
    {
        advance(1500000);
        RecordingHandler::HandleMessage(conn, data, size);
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
        link.peerSends(frame("a") + frame("b") + frame("c"));
        ASSERT_TRUE(DriveUntil([&] { link.client.Pulse(); }, [&] { return moving.messages.size() == 3; }));
        EXPECT_EQ(link.client.getProcessTime(), 3u);  // 1.5 ms each, cut to 1
    }
    CConnection udp;
    udp.SetMessageHandler(&moving);
    udp.InitDatagramListen(0);
    platform::SOCKET sender = platform::CreateSocket(platform::SOCK_DGRAM_);
    std::string datagram = frame("x") + frame("y") + frame("z");
    platform::SendTo(sender, datagram.data(), static_cast<int>(datagram.size()), 0x7F000001, udp.GetLocalPort());
    EXPECT_TRUE(DriveUntil([&] { udp.Pulse(); }, [&] { return moving.messages.size() == 6; }));
    EXPECT_EQ(udp.getProcessTime(), 3u);
    platform::closesocket(sender);
    platform::ReleasePerformanceCounter();
}

}  // namespace
