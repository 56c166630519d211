#include <gtest/gtest.h>

#include <algorithm>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

// A peer that stops reading: the client's queue grows behind its socket
// buffers.
class BlockedPeerTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        platform::PinWallClock(2000000000);
        link = std::make_unique<RawPeerConnection>();
        // Small, but not below the loopback segment size, where the receiver
        // would never open its window again.
        link->client.SetSendBufferSize(65536);
        int small = 131072;
        platform::setsockopt(link->peer, platform::SOL_SOCKET_, platform::SO_RCVBUF_, &small, sizeof small);
    }
    void TearDown() override
    {
        link.reset();
        platform::ReleaseWallClock();
        CConnection::setOutboundSizeLimit(8388608);
        LogCaptureTest::TearDown();
    }

    // Queues numbered messages until the socket refuses more.
    void fill(int messages)
    {
        std::string body(1000, '.');
        for (int i = 0; i < messages; ++i) {
            std::string message = std::to_string(sent++) + body;
            link->client.SendMsg(static_cast<uint32_t>(message.size()), message.data());
        }
        for (int i = 0; i < 20; ++i)
            link->client.WriteOutboundData();
    }

    std::unique_ptr<RawPeerConnection> link;
    int sent = 0;
};

TEST_F(BlockedPeerTest, TheTimeoutReachesTheHandlerAndNothingIsLost)
{
    logger().SetConditional(Log_Network, LogSev_Info);
    fill(4000);
    ASSERT_GT(link->client.GetOutboundByteCount(), 0);
    std::string port = std::to_string(link->listener.port());
    auto logged = texts();
    long blockedLines = std::count_if(logged.begin(), logged.end(), [](std::string const &line) {
        return line.find(": Write blocked. Start timeout 180 seconds. buffer size ") != std::string::npos;
    });
    EXPECT_EQ(blockedLines, 1);

    platform::PinWallClock(2000000000 + 179);
    link->client.WriteOutboundData();
    EXPECT_TRUE(link->handler.errors.empty());
    platform::PinWallClock(2000000000 + 181);
    link->client.WriteOutboundData();
    ASSERT_EQ(link->handler.errors.size(), 1u);
    EXPECT_EQ(link->handler.errors[0].first, Error_ConnectWriteTimeout);
    EXPECT_EQ(link->handler.errors[0].second, 181);
    EXPECT_EQ(texts().back(), "WARNING Network: Zone to 127.0.0.1:" + port +
                                  ": Timeout. Blocked writing. Waited 181 seconds. Wrote 0 bytes in that time.");
    // The next would-block starts a new period: no second report at once.
    link->client.WriteOutboundData();
    EXPECT_EQ(link->handler.errors.size(), 1u);

    // The peer reads again: everything arrives, once, in order.
    std::string wire = link->peerReads(2000);
    size_t at = 0;
    int expected = 0;
    while (at + 2 <= wire.size()) {
        uint16_t length = static_cast<uint16_t>(static_cast<unsigned char>(wire[at]) |
                                                (static_cast<unsigned char>(wire[at + 1]) << 8));
        ASSERT_LE(at + 2 + length, wire.size());
        EXPECT_EQ(wire.substr(at + 2, std::to_string(expected).size()), std::to_string(expected));
        at += 2 + length;
        ++expected;
    }
    EXPECT_EQ(at, wire.size());
    EXPECT_EQ(expected, sent);
    EXPECT_EQ(link->client.GetOutboundByteCount(), 0);
}

TEST_F(BlockedPeerTest, AnOversizedQueueIsReportedAtEveryAttemptAndKept)
{
    CConnection::setOutboundSizeLimit(100000);
    fill(200);
    int queued = link->client.GetOutboundByteCount();
    ASSERT_GT(queued, 100000);
    size_t before = link->handler.errors.size();
    link->client.WriteOutboundData();
    link->client.WriteOutboundData();
    ASSERT_EQ(link->handler.errors.size(), before + 2);
    EXPECT_EQ(link->handler.errors.back().first, Error_ConnectWriteQueueLimit);
    EXPECT_EQ(link->handler.errors.back().second, queued);
    EXPECT_EQ(link->client.GetOutboundByteCount(), queued);  // nothing dropped
    EXPECT_EQ(link->client.GetState(), CConnection::Connected);
}

TEST(WritePath, APartialSendLeavesTheRestAtTheHead)
{
    ConnectionPair pair;
    std::string big(300000, 'b');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i % 251);
    pair.client.SendMsg(static_cast<uint32_t>(big.size()), big.data());
    pair.client.SendMsg(5, "after");
    ASSERT_TRUE(DriveUntil([&] { pair.pulseBoth(); }, [&] { return pair.serverHandler.messages.size() == 2; }));
    EXPECT_TRUE(pair.serverHandler.messages[0] == big);
    EXPECT_EQ(pair.serverHandler.messages[1], "after");
    EXPECT_EQ(pair.server.getBytesReceived(), pair.client.getBytesSent());
}

using WritePathTest = LogCaptureTest;

TEST_F(WritePathTest, AMessageTheQueueRefusesIsReportedAndNotCounted)
{
    logger().SetConditional(Log_Network, LogSev_Info);
    // A queue that can never get a bundle refuses every message whole.
    CConnection::setOutBufferExpandSize(0);
    RawPeerConnection link;
    link.client.SendMsg(10, "0123456789");
    link.client.FillBufferDangerous(3, "raw");
    CConnection::setOutBufferExpandSize(10000);
    EXPECT_EQ(link.client.GetOutboundByteCount(), 0);
    EXPECT_EQ(link.client.getBytesSent(), 0u);
    EXPECT_EQ(link.client.getMessagesSent(), 0u);
    std::string peer = "ERROR Network: Zone to 127.0.0.1:" + std::to_string(link.listener.port());
    auto logged = texts();
    EXPECT_EQ(std::count(logged.begin(), logged.end(), peer + ": Unable to queue a message of 10 bytes. Buffer size 0"),
              1);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), peer + ": Unable to queue a message of 3 bytes. Buffer size 0"),
              1);
    ASSERT_EQ(link.handler.errors.size(), 2u);
    EXPECT_EQ(link.handler.errors[0], std::make_pair(Error_ConnectWriteQueueLimit, 0));
}

TEST_F(WritePathTest, PreprocessFlushesTheQueueInEveryState)
{
    RawPeerConnection link;
    link.client.SendMsg(3, "abc");
    // An error recorded by the host closes nothing: the queue still goes out.
    link.client.SetError(10054, "test", "test", false);
    bool processed = false;
    EXPECT_EQ(link.client.Preprocess(&processed), nullptr);
    EXPECT_FALSE(processed);
    std::string got;
    DriveUntil([] {},
               [&] {
                   char buffer[16];
                   int n = platform::recv(link.peer, buffer, sizeof buffer, 0);
                   if (n > 0)
                       got.append(buffer, static_cast<size_t>(n));
                   return got.size() >= 5;
               });
    EXPECT_EQ(got, std::string("\x03\x00" "abc", 5));
}

}  // namespace
