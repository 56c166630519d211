#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include <SharedLib/net/BundleManager.h>
#include <SharedLib/net/FifoBuffer.h>

namespace {

using Bytes = std::vector<char>;

CBundleManager &pool() { return *CBundleManager::getInstance(); }

// Bytes 0, 1, 2, ... wrapping, starting at `start`.
Bytes pattern(int len, int start = 0)
{
    Bytes bytes(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((start + i) * 7 + (start + i) / 251);
    return bytes;
}

// Everything the FIFO holds, read bundle by bundle from the head the way the
// write path reads it; the FIFO is left empty.
Bytes drain(CFifoBuffer &fifo)
{
    Bytes out;
    while (!fifo.isEmpty()) {
        char const *data = nullptr;
        int len = 0;
        fifo.getFirstBundle(&data, &len);
        EXPECT_GT(len, 0);
        if (len <= 0)
            break;
        out.insert(out.end(), data, data + len);
        fifo.clearBytes(len);
    }
    return out;
}

// The first bundle's bytes.
Bytes first(CFifoBuffer const &fifo)
{
    char const *data = nullptr;
    int len = 0;
    fifo.getFirstBundle(&data, &len);
    return data ? Bytes(data, data + len) : Bytes();
}

void append(CFifoBuffer &fifo, Bytes const &bytes) { fifo.append(bytes.data(), static_cast<int>(bytes.size())); }

}  // namespace

TEST(BundleManager, ReusesFreeBundlesOfTheRequestedSizeOnly)
{
    BufferBundle *a = pool().getBundle(48);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 48);
    EXPECT_EQ(a->count, 0);
    EXPECT_EQ(a->next, nullptr);
    a->count = 5;
    std::memset(a->data(), 0x5A, 48);  // the whole data area is ours

    int total = pool().getTotalBundleCount();
    int free = pool().getFreeBundleCount();
    pool().returnBundle(a);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 1);

    // A larger request never gets the 48-byte block: a new one is allocated.
    BufferBundle *b = pool().getBundle(96);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b, a);
    EXPECT_EQ(pool().getTotalBundleCount(), total + 1);
    std::memset(b->data(), 0x33, 96);

    // A request of its own size gets it back, reinitialised.
    BufferBundle *c = pool().getBundle(48);
    EXPECT_EQ(c, a);
    EXPECT_EQ(c->count, 0);
    EXPECT_EQ(pool().getFreeBundleCount(), free);
    pool().returnBundle(b);
    pool().returnBundle(c);

    // Non-positive sizes and null bundles are refused.
    total = pool().getTotalBundleCount();
    free = pool().getFreeBundleCount();
    EXPECT_EQ(pool().getBundle(0), nullptr);
    EXPECT_EQ(pool().getBundle(-10), nullptr);
    EXPECT_EQ(pool().allocBundle(-1), nullptr);
    pool().returnBundle(nullptr);
    pool().deallocBundle(nullptr);
    EXPECT_EQ(pool().getTotalBundleCount(), total);
    EXPECT_EQ(pool().getFreeBundleCount(), free);
}

TEST(BundleManager, ClearReleasesOnlyFreeBundles)
{
    CFifoBuffer held;
    held.setBundleSize(32);
    Bytes bytes = pattern(100);
    append(held, bytes);  // 4 bundles in use
    pool().returnBundle(pool().getBundle(32));
    ASSERT_GE(pool().getFreeBundleCount(), 1);

    int inUse = pool().getTotalBundleCount() - pool().getFreeBundleCount();
    pool().clear();
    EXPECT_EQ(pool().getFreeBundleCount(), 0);
    EXPECT_EQ(pool().getTotalBundleCount(), inUse);
    EXPECT_EQ(drain(held), bytes);  // the FIFO's bundles were not touched
    EXPECT_EQ(pool().getFreeBundleCount(), 4);
}

TEST(FifoBuffer, EmptyZeroLengthAndTheBundleBoundary)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    char const *data = reinterpret_cast<char const *>(1);
    int len = -1;
    fifo.getFirstBundle(&data, &len);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(len, 0);
    fifo.append(data, 0);
    fifo.clearBytes(5);
    EXPECT_TRUE(fifo.isEmpty());
    EXPECT_EQ(fifo.getBundleCount(), 0);
    EXPECT_EQ(fifo.getByteCount(), 0);

    Bytes bytes = pattern(10001);
    fifo.append(bytes.data(), 10000);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    fifo.append(bytes.data() + 10000, 1);
    EXPECT_EQ(fifo.getBundleCount(), 2);
    EXPECT_EQ(fifo.getByteCount(), 10001);
    EXPECT_EQ(first(fifo), pattern(10000));  // the first bundle only
    EXPECT_EQ(drain(fifo), bytes);
}

TEST(FifoBuffer, AppendAfterPartialConsumeFillsFirstBundleFromReadOffset)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    Bytes head = pattern(100), tail = pattern(20000, 100);
    append(fifo, head);
    fifo.clearBytes(30);
    EXPECT_EQ(first(fifo).size(), 70u);

    append(fifo, tail);
    // The first bundle is full to its capacity: 30 consumed bytes stay unused.
    EXPECT_EQ(first(fifo).size(), 9970u);
    EXPECT_EQ(fifo.getBundleCount(), 3);  // 9970 + 10000 + 100
    EXPECT_EQ(fifo.getByteCount(), 20070);
    Bytes expected(head.begin() + 30, head.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(drain(fifo), expected);
}

TEST(FifoBuffer, ConsumingExactlyTheFirstBundleReturnsIt)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    append(fifo, pattern(15000));
    fifo.clearBytes(400);  // first bundle now holds 9600 from offset 400
    int free = pool().getFreeBundleCount();
    fifo.clearBytes(9600);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 1);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    EXPECT_EQ(first(fifo), pattern(5000, 10000));

    // The survivor is read from its start, so it may now fill up to 10000.
    append(fifo, pattern(5000, 15000));
    EXPECT_EQ(fifo.getBundleCount(), 1);
    EXPECT_EQ(first(fifo).size(), 10000u);
}

TEST(FifoBuffer, HostileArgumentsAreRefusedOrClamped)
{
    CFifoBuffer fifo;
    char small[4] = {1, 2, 3, 4};
    fifo.append(small, 4);  // no bundle size yet
    fifo.setBundleSize(-3);
    fifo.append(small, 4);
    fifo.setBundleSize(16);
    fifo.append(nullptr, 4);
    fifo.append(small, -1);
    EXPECT_TRUE(fifo.isEmpty());
    EXPECT_EQ(fifo.getByteCount(), 0);

    fifo.append(small, 4);
    // Would pass 2^31 - 1 bytes: refused before a byte of `small` is read past its end.
    fifo.append(small, INT_MAX);
    EXPECT_EQ(fifo.getByteCount(), 4);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    fifo.clearBytes(-5);
    EXPECT_EQ(drain(fifo), Bytes(small, small + 4));

    append(fifo, pattern(40));
    int free = pool().getFreeBundleCount();
    fifo.clearBytes(INT_MAX);  // more than held: everything, every bundle back
    EXPECT_TRUE(fifo.isEmpty());
    EXPECT_EQ(fifo.getByteCount(), 0);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 3);
}

TEST(FifoBuffer, ClearReturnsEveryBundle)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(100);
    append(fifo, pattern(950));
    fifo.clearBytes(50);
    int free = pool().getFreeBundleCount();
    int total = pool().getTotalBundleCount();
    fifo.clear();
    EXPECT_TRUE(fifo.isEmpty());
    EXPECT_EQ(fifo.getByteCount(), 0);
    EXPECT_EQ(fifo.getBundleCount(), 0);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 10);
    EXPECT_EQ(pool().getTotalBundleCount(), total);

    // Usable again, from offset 0.
    append(fifo, pattern(100));
    EXPECT_EQ(fifo.getBundleCount(), 1);
    EXPECT_EQ(first(fifo).size(), 100u);
}

TEST(FifoBuffer, SteadyStateAllocatesNothing)
{
    CFifoBuffer a, b;
    a.setBundleSize(256);
    b.setBundleSize(1000);  // a second size shares the pool without churn
    Bytes bytes = pattern(5000);
    a.append(bytes.data(), 5000);
    b.append(bytes.data(), 4000);
    a.clear();
    b.clear();

    int total = pool().getTotalBundleCount();
    int free = pool().getFreeBundleCount();
    for (int round = 0; round < 50; ++round) {
        a.append(bytes.data(), 5000);
        b.append(bytes.data(), 4000);
        ASSERT_EQ(pool().getTotalBundleCount(), total);
        ASSERT_EQ(drain(a), bytes);
        b.clearBytes(3999);
        b.clearBytes(1);
        ASSERT_EQ(pool().getFreeBundleCount(), free);
    }
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
        auto consumeModel = [&](size_t n) { model.erase(model.begin(), model.begin() + std::min(model.size(), n)); };

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
                int want = model.empty() ? 0 : static_cast<int>(rng() % (model.size() + 1));
                while (want > 0) {
                    Bytes head = first(fifo);
                    ASSERT_GT(head.size(), 0u);
                    ASSERT_LE(head.size(), static_cast<size_t>(bundleSize));
                    int step = std::min(want, static_cast<int>(head.size()));
                    ASSERT_TRUE(std::equal(head.begin(), head.begin() + step, model.begin()));
                    fifo.clearBytes(step);
                    consumeModel(static_cast<size_t>(step));
                    want -= step;
                }
            } else if (kind < 7) {
                // Blind consume across bundles, sometimes past the end.
                int n = static_cast<int>(rng() % (model.size() + static_cast<size_t>(bundleSize) + 2));
                fifo.clearBytes(n);
                consumeModel(static_cast<size_t>(n));
            } else if (rng() % 8 == 0) {
                fifo.clear();
                model.clear();
            }

            ASSERT_EQ(fifo.getByteCount(), static_cast<int>(model.size()));
            ASSERT_EQ(fifo.isEmpty(), model.empty());
            if (model.empty())
                continue;
            Bytes head = first(fifo);
            ASSERT_GT(head.size(), 0u);
            ASSERT_TRUE(std::equal(head.begin(), head.end(), model.begin()));
            // Every bundle after the first is filled before the next is linked.
            int held = static_cast<int>(model.size()), firstLen = static_cast<int>(head.size());
            int expectedBundles = held <= firstLen ? 1 : 1 + (held - firstLen + bundleSize - 1) / bundleSize;
            ASSERT_EQ(fifo.getBundleCount(), expectedBundles);
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
    append(fifo, pattern(10));
    Bytes head = pattern(6, 100), body = pattern(40, 200);
    ASSERT_TRUE(fifo.appendWhole(head.data(), 6, body.data(), 40));
    EXPECT_EQ(fifo.getByteCount(), 56);

    // No further bundle can be had: the head would fit, the body would not.
    fifo.setBundleSize(0);
    int free = pool().getFreeBundleCount();
    EXPECT_FALSE(fifo.appendWhole(head.data(), 6, body.data(), 40));
    EXPECT_FALSE(fifo.appendWhole(head.data(), 6, nullptr, 4));
    EXPECT_FALSE(fifo.appendWhole(head.data(), 6, body.data(), INT_MAX));
    EXPECT_EQ(fifo.getByteCount(), 56);
    EXPECT_EQ(fifo.getBundleCount(), 4);
    EXPECT_EQ(pool().getFreeBundleCount(), free);

    // Dropping the tail returns the bundles it empties, from any read offset.
    fifo.clearBytes(5);
    fifo.dropTail(30);
    EXPECT_EQ(fifo.getByteCount(), 21);
    EXPECT_EQ(fifo.getBundleCount(), 2);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 2);
    Bytes start = pattern(10), tail = pattern(3, 50);
    Bytes expected(start.begin() + 5, start.end());
    expected.insert(expected.end(), head.begin(), head.end());
    expected.insert(expected.end(), body.begin(), body.begin() + 10);
    fifo.setBundleSize(16);
    append(fifo, tail);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(drain(fifo), expected);
}
