#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/net/BundleManager.h>
#include <SharedLib/net/ConnFifoBuffer.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/net/FifoBuffer.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<char>;
using Lines = std::vector<std::string>;

CBundleManager &pool() { return *CBundleManager::getInstance(); }
std::pair<int, int> totalAndFree() { return {pool().getTotalBundleCount(), pool().getFreeBundleCount()}; }
int inUse() { return pool().getTotalBundleCount() - pool().getFreeBundleCount(); }

// Bytes 0, 1, 2, ... wrapping, starting at `start`.
Bytes pattern(int len, int start = 0)
{
    Bytes bytes(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((start + i) * 7 + (start + i) / 251);
    return bytes;
}

// The first bundle's bytes.
Bytes first(CFifoBuffer const &fifo)
{
    char const *data = nullptr;
    int len = 0;
    fifo.getFirstBundle(&data, &len);
    return data ? Bytes(data, data + len) : Bytes();
}

// Everything the FIFO holds, read bundle by bundle from the head the way the
// write path reads it; the FIFO is left empty.
Bytes drain(CFifoBuffer &fifo)
{
    Bytes out;
    for (Bytes head; !fifo.isEmpty(); fifo.clearBytes(static_cast<int>(head.size()))) {
        head = first(fifo);
        EXPECT_FALSE(head.empty());
        if (head.empty())
            break;
        out.insert(out.end(), head.begin(), head.end());
    }
    return out;
}

void append(CFifoBuffer &fifo, Bytes const &bytes) { fifo.append(bytes.data(), static_cast<int>(bytes.size())); }

}  // namespace

TEST(BundleManager, ReusesFreeBundlesOfTheRequestedSizeAndClearFreesOnlyThose)
{
    BufferBundle *a = pool().getBundle(48);
    ASSERT_TRUE(a != nullptr && a->size == 48 && a->count == 0 && a->next == nullptr);
    a->count = 5;
    std::memset(a->data(), 0x5A, 48);  // the whole data area is ours
    auto [total, free] = totalAndFree();
    pool().returnBundle(a);
    // A larger request never gets the 48-byte block; one of its own size gets
    // it back, reinitialised.
    BufferBundle *b = pool().getBundle(96);
    std::memset(b->data(), 0x33, 96);
    BufferBundle *c = pool().getBundle(48);
    EXPECT_EQ(T(b != a, c, c->count, totalAndFree()), T(true, a, 0, std::make_pair(total + 1, free)));
    pool().returnBundle(b), pool().returnBundle(c);

    // Non-positive sizes and null bundles are refused.
    auto before = totalAndFree();
    EXPECT_TRUE(!pool().getBundle(0) && !pool().getBundle(-10) && !pool().allocBundle(-1));
    pool().returnBundle(nullptr), pool().deallocBundle(nullptr);
    EXPECT_EQ(totalAndFree(), before);

    // Clearing the pool frees the free bundles only.
    CFifoBuffer held;
    held.setBundleSize(32);
    append(held, pattern(100));  // 4 bundles in use
    ASSERT_GE(pool().getFreeBundleCount(), 2);
    int used = inUse();
    pool().clear();
    EXPECT_EQ(totalAndFree(), std::make_pair(used, 0));
    EXPECT_EQ(drain(held), pattern(100));  // the FIFO's bundles were not touched
    EXPECT_EQ(pool().getFreeBundleCount(), 4);
}

TEST(FifoBuffer, EmptyAndHostileArgumentsChangeNothing)
{
    CFifoBuffer fifo;
    char small[4] = {1, 2, 3, 4};
    fifo.append(small, 4);  // no bundle size yet
    fifo.setBundleSize(-3), fifo.append(small, 4);
    fifo.setBundleSize(16);
    fifo.append(nullptr, 4), fifo.append(small, -1), fifo.append(small, 0), fifo.clearBytes(5);
    char const *data = reinterpret_cast<char const *>(1);
    int len = -1;
    fifo.getFirstBundle(&data, &len);
    EXPECT_TRUE(data == nullptr && len == 0 && fifo.isEmpty() && fifo.getBundleCount() == 0);

    fifo.append(small, 4);
    // Would pass 2^31 - 1 bytes: refused before a byte of `small` is read past its end.
    fifo.append(small, INT_MAX), fifo.clearBytes(-5);
    EXPECT_EQ(fifo.getByteCount(), 4);
    EXPECT_EQ(drain(fifo), Bytes(small, small + 4));
}

// Thousands of appends and consumes of every size, against a deque model.
TEST(FifoBuffer, MatchesDequeModel)
{
    for (int bundleSize : {1, 7, 64, 1000}) {
        SCOPED_TRACE(bundleSize);
        CFifoBuffer fifo;
        fifo.setBundleSize(bundleSize);
        std::deque<char> model;
        std::mt19937 rng(1234u + static_cast<unsigned>(bundleSize));
        int next = 0;
        auto consume = [&](int n) {
            fifo.clearBytes(n);
            model.erase(model.begin(), model.begin() + std::min(model.size(), static_cast<size_t>(n)));
        };
        int othersInUse = inUse();

        for (int op = 0; op < 4000; ++op) {
            unsigned kind = rng() % 8;
            if (kind < 4) {
                int len = rng() % 10 == 0 ? 0 : static_cast<int>(rng() % (3 * bundleSize + 3));
                Bytes bytes = pattern(len, next);
                next += len;
                append(fifo, bytes);
                model.insert(model.end(), bytes.begin(), bytes.end());
            } else if (kind < 6) {
                // Read and consume in place, a bundle at a time.
                for (int want = model.empty() ? 0 : static_cast<int>(rng() % (model.size() + 1)); want > 0;) {
                    Bytes head = first(fifo);
                    ASSERT_TRUE(!head.empty() && head.size() <= static_cast<size_t>(bundleSize));
                    int step = std::min(want, static_cast<int>(head.size()));
                    ASSERT_TRUE(std::equal(head.begin(), head.begin() + step, model.begin()));
                    consume(step);
                    want -= step;
                }
            } else if (kind < 7) {
                // Blind consume across bundles, sometimes past the end.
                consume(static_cast<int>(rng() % (model.size() + static_cast<size_t>(bundleSize) + 2)));
            } else if (rng() % 8 == 0) {
                fifo.clear();
                model.clear();
            }

            ASSERT_EQ(T(fifo.getByteCount(), fifo.isEmpty()), T(static_cast<int>(model.size()), model.empty()));
            // Every bundle let go of is back in the pool.
            ASSERT_EQ(inUse(), othersInUse + fifo.getBundleCount());
            if (model.empty())
                continue;
            Bytes head = first(fifo);
            ASSERT_GT(head.size(), 0u);
            ASSERT_TRUE(std::equal(head.begin(), head.end(), model.begin()));
            // Every bundle after the first is filled before the next is linked.
            int held = static_cast<int>(model.size()), firstLen = static_cast<int>(head.size());
            int bundles = held <= firstLen ? 1 : 1 + (held - firstLen + bundleSize - 1) / bundleSize;
            ASSERT_EQ(fifo.getBundleCount(), bundles);
        }
        Bytes rest = drain(fifo);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), model.begin(), model.end()));
    }
}

// Exposes the rollback used when a whole append fails.
struct TailFifo : CFifoBuffer {
    using CFifoBuffer::dropTail;
};

TEST(FifoBuffer, AppendWholeQueuesBothPiecesOrNothing)
{
    TailFifo fifo;
    fifo.setBundleSize(16);
    Bytes start = pattern(10), head = pattern(6, 100), body = pattern(40, 200), tail = pattern(3, 50);
    append(fifo, start);
    ASSERT_TRUE(fifo.appendWhole(head.data(), 6, body.data(), 40) && fifo.getByteCount() == 56);

    // No further bundle can be had: the head would fit, the body would not.
    fifo.setBundleSize(0);
    int free = pool().getFreeBundleCount();
    EXPECT_FALSE(fifo.appendWhole(head.data(), 6, body.data(), 40) || fifo.appendWhole(head.data(), 6, nullptr, 4) ||
                 fifo.appendWhole(head.data(), 6, body.data(), INT_MAX));
    EXPECT_TRUE(fifo.getByteCount() == 56 && fifo.getBundleCount() == 4 && pool().getFreeBundleCount() == free);

    // Dropping the tail returns the bundles it empties, from any read offset.
    fifo.clearBytes(5);
    fifo.dropTail(24);  // the kept bytes end exactly at the second bundle's end
    EXPECT_EQ(T(fifo.getByteCount(), fifo.getBundleCount(), pool().getFreeBundleCount()), T(27, 2, free + 2));
    fifo.setBundleSize(16);
    append(fifo, tail);
    Bytes expected(start.begin() + 5, start.end());
    for (Bytes const *piece : {&head, &body, &tail})
        expected.insert(expected.end(), piece->begin(), piece == &body ? piece->begin() + 16 : piece->end());
    EXPECT_EQ(drain(fifo), expected);
}

namespace {

// A connection's queue (address and port 0, handled by "Zone"); the tuning
// values are back at their defaults after each test.
class ConnFifoBufferTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        conn.SetMessageHandler(&handler);
        queue.setConn(&conn);
    }
    void TearDown() override
    {
        queue.clear();  // before the defaults are restored
        CConnection::setOutBufferExpandSize(10000);
        CConnection::setOutboundSizeWarning(80000);
        LogCaptureTest::TearDown();
    }
    static void append(CFifoBuffer &fifo, int bytes) { ::append(fifo, Bytes(static_cast<size_t>(bytes), 'q')); }
    static std::string increased(int bytes, char const *name = "Zone")
    {
        return "WARNING Network: Outbound queue capacity increased to " + std::to_string(bytes) + " bytes on " +
               name + " to 0.0.0.0:0";
    }
    static constexpr char const *kEmptied = "WARNING Network: Outbound queue capacity emptied on Zone to 0.0.0.0:0";

    RecordingHandler handler;
    CConnection conn;
    CConnFifoBuffer queue;
};

}  // namespace

// The capacity is reported when it reaches the warning size and at every
// doubling since the last report; emptying re-arms the first report.
TEST_F(ConnFifoBufferTest, WarnsAtEachDoublingOfCapacityAndOnceWhenEmptied)
{
    struct Step {
        int bundles;  // grown (or consumed) to this many bundles of the default size
        Lines logged;
    };
    Step steps[] = {{7, {}},          {8, {increased(80000)}},   {15, {}},  {16, {increased(160000)}},
                    {31, {}},         {32, {increased(320000)}}, {20, {}},  {63, {}},
                    {64, {increased(640000)}}, {1, {}},          {0, {kEmptied}}, {7, {}},
                    {8, {increased(80000)}}};
    for (Step const &step : steps) {
        clearLines();
        while (queue.getBundleCount() < step.bundles)
            append(queue, 10000);
        if (step.bundles < queue.getBundleCount())
            queue.clearBytes(queue.getByteCount() - (step.bundles == 0 ? 0 : 10000 * step.bundles - 1));
        ASSERT_EQ(queue.getBundleCount(), step.bundles);
        EXPECT_EQ(texts(), step.logged) << step.bundles;
    }
    EXPECT_EQ(T(lines().back().severity, lines().back().channel), T(LogSev_Warning, int(Log_Network)));
    clearLines(), queue.clear();
    EXPECT_EQ(texts(), Lines{kEmptied});

    // Capacity, not bytes held, is measured.
    clearLines(), CConnection::setOutboundSizeWarning(25000);
    append(queue, 20001);  // 20001 bytes, 30000 capacity
    EXPECT_EQ(texts(), Lines{increased(30000)});
}

TEST_F(ConnFifoBufferTest, BundleSizeTakenAtFirstAppendAndSteadyStateAllocatesNothing)
{
    CConnection::setOutBufferExpandSize(500);
    ASSERT_EQ(queue.getBundleSize(), 0);
    append(queue, 1);
    CConnection::setOutBufferExpandSize(700);
    append(queue, 1499);
    EXPECT_EQ(T(queue.getBundleSize(), queue.getBundleCount()), T(500, 3));
    queue.clear();

    // Emptied, it keeps its size, and reuses what it gave back.
    int total = pool().getTotalBundleCount();
    for (int round = 0; round < 30; ++round) {
        for (int i = 0; i < 10; ++i)
            append(queue, 123);
        EXPECT_EQ(queue.getBundleCount(), 3);
        while (!queue.isEmpty()) {
            int len = 0;
            queue.getFirstBundle(nullptr, &len);
            EXPECT_LE(len, 500);
            queue.clearBytes(len < 300 ? len : 300);  // a socket taking only some of a bundle
        }
        ASSERT_EQ(pool().getTotalBundleCount(), total);
    }
}

// Without a handler, or without a connection, the line names no handler.
TEST_F(ConnFifoBufferTest, UnhandledQueuesAndDestructionWithoutALine)
{
    conn.SetMessageHandler(nullptr);
    append(queue, 80000);
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
        free = pool().getFreeBundleCount();
    }
    EXPECT_EQ(T(texts(), pool().getFreeBundleCount()), T(Lines{}, free + 8));
}
