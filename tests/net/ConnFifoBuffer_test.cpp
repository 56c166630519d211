#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/BundleManager.h>
#include <SharedLib/net/ConnFifoBuffer.h>
#include <SharedLib/net/Connection.h>

#include "support/LogCapture.h"

namespace {

class ZoneHandler : public CMessageHandler {
public:
    void HandleMessage(CConnection *, void const *, uint32_t) override {}
    void OnConnect(CConnection *, bool) override {}
    void OnError(CConnection *, Error, int) override {}
    char const *GetHandlerName() const override { return ++nameCalls, "Zone"; }
    mutable int nameCalls = 0;
};

// A queue on a fresh connection (address and port 0) handled by "Zone", with
// the tuning values at their defaults for the duration of a test.
class ConnFifoBufferTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        m_savedBundleSize = CConnection::s_outboundBundleSize;
        m_savedWarning = CConnection::s_outboundSizeWarning;
        CConnection::setOutBufferExpandSize(10000);
        CConnection::setOutboundSizeWarning(80000);
        conn.SetMessageHandler(&handler);
        queue.setConn(&conn);
    }
    void TearDown() override
    {
        queue.clear();  // before the thresholds are restored
        CConnection::setOutBufferExpandSize(m_savedBundleSize);
        CConnection::setOutboundSizeWarning(m_savedWarning);
        LogCaptureTest::TearDown();
    }

    // Appends until the queue holds `bundles` bundles of the default size.
    void growTo(int bundles)
    {
        while (queue.getBundleCount() < bundles)
            append(queue, 10000);
        ASSERT_EQ(queue.getBundleCount(), bundles);
    }
    static void append(CConnFifoBuffer &fifo, int bytes)
    {
        std::vector<char> chunk(static_cast<size_t>(bytes), 'q');
        fifo.append(chunk.data(), bytes);
    }
    static std::string increased(int bytes, char const *name = "Zone")
    {
        return "WARNING Network: Outbound queue capacity increased to " + std::to_string(bytes) + " bytes on " +
               name + " to 0.0.0.0:0";
    }
    static constexpr char const *kEmptied = "WARNING Network: Outbound queue capacity emptied on Zone to 0.0.0.0:0";

    ZoneHandler handler;
    CConnection conn;
    CConnFifoBuffer queue;

private:
    int m_savedBundleSize = 0;
    int m_savedWarning = 0;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(ConnFifoBufferTest, WarnsAtEightAndSixteenBundlesAndOnceWhenEmptied)
{
    growTo(7);
    EXPECT_TRUE(texts().empty());
    growTo(8);
    EXPECT_EQ(texts(), Lines{increased(80000)});
    EXPECT_EQ(lines().back().severity, LogSev_Warning);
    EXPECT_EQ(lines().back().channel, Log_Network);
    growTo(15);
    EXPECT_EQ(texts().size(), 1u);
    growTo(16);
    EXPECT_EQ(texts(), (Lines{increased(80000), increased(160000)}));

    clearLines();
    queue.clearBytes(queue.getByteCount() - 1);  // down to one bundle: no line
    EXPECT_TRUE(texts().empty());
    queue.clearBytes(1);
    EXPECT_EQ(texts(), Lines{kEmptied});

    // Emptying re-arms the first threshold.
    clearLines();
    growTo(7);
    EXPECT_TRUE(texts().empty());
    growTo(8);
    EXPECT_EQ(texts(), Lines{increased(80000)});
    clearLines();
    queue.clear();
    EXPECT_EQ(texts(), Lines{kEmptied});
}

TEST_F(ConnFifoBufferTest, DoublingContinuesOnCapacityAndShrinkingDoesNotWarn)
{
    growTo(33);
    EXPECT_EQ(texts(), (Lines{increased(80000), increased(160000), increased(320000)}));
    clearLines();
    // Consuming down to 20 bundles and growing back to 63 stays below 2 x 32.
    queue.clearBytes(13 * 10000);
    ASSERT_EQ(queue.getBundleCount(), 20);
    growTo(63);
    EXPECT_TRUE(texts().empty());
    growTo(64);
    EXPECT_EQ(texts(), Lines{increased(640000)});

    // Capacity, not bytes held, is measured.
    queue.clear();
    clearLines();
    CConnection::setOutboundSizeWarning(25000);
    append(queue, 20001);  // 20001 bytes, 30000 capacity
    EXPECT_EQ(texts(), Lines{increased(30000)});
}

TEST_F(ConnFifoBufferTest, BundleSizeTakenAtFirstAppendOnly)
{
    CConnection::setOutBufferExpandSize(500);
    EXPECT_EQ(queue.getBundleSize(), 0);
    append(queue, 1);
    CConnection::setOutBufferExpandSize(700);
    append(queue, 1499);
    EXPECT_EQ(queue.getBundleSize(), 500);
    EXPECT_EQ(queue.getBundleCount(), 3);
    int len = 0;
    queue.getFirstBundle(nullptr, &len);
    EXPECT_EQ(len, 500);

    // Emptied and cleared, it keeps its size.
    queue.clear();
    append(queue, 600);
    EXPECT_EQ(queue.getBundleSize(), 500);
    EXPECT_EQ(queue.getBundleCount(), 2);
}

TEST_F(ConnFifoBufferTest, NamesAreBuiltOnlyForLinesWritten)
{
    logger().SetConditional(Log_Network, LogSev_Error);
    growTo(16);
    queue.clear();
    EXPECT_TRUE(texts().empty());
    EXPECT_EQ(handler.nameCalls, 0);

    logger().SetConditional(Log_Network, LogSev_Warning);
    growTo(8);
    EXPECT_EQ(texts(), Lines{increased(80000)});
    EXPECT_EQ(handler.nameCalls, 1);
}

TEST_F(ConnFifoBufferTest, NoHandlerOrNoConnection)
{
    conn.SetMessageHandler(nullptr);
    growTo(8);
    CConnFifoBuffer orphan;
    append(orphan, 80000);
    EXPECT_EQ(texts(), (Lines{increased(80000, "Unhandled"), increased(80000, "Unhandled")}));
    // Destroyed while warned: returned to the pool without a line.
    int free = 0;
    {
        CConnFifoBuffer doomed;
        doomed.setConn(&conn);
        append(doomed, 80000);
        clearLines();
        free = CBundleManager::getInstance()->getFreeBundleCount();
    }
    EXPECT_TRUE(texts().empty());
    EXPECT_EQ(CBundleManager::getInstance()->getFreeBundleCount(), free + 8);
}

TEST_F(ConnFifoBufferTest, SteadyStateAllocatesNothing)
{
    for (int i = 0; i < 100; ++i)
        append(queue, 1234);
    queue.clear();
    int total = CBundleManager::getInstance()->getTotalBundleCount();
    int free = CBundleManager::getInstance()->getFreeBundleCount();
    for (int round = 0; round < 30; ++round) {
        for (int i = 0; i < 100; ++i)
            append(queue, 1234);
        while (!queue.isEmpty()) {
            int len = 0;
            queue.getFirstBundle(nullptr, &len);
            queue.clearBytes(len < 3000 ? len : 3000);  // a socket taking part of a bundle
        }
        ASSERT_EQ(CBundleManager::getInstance()->getTotalBundleCount(), total);
        ASSERT_EQ(CBundleManager::getInstance()->getFreeBundleCount(), free);
    }
}
