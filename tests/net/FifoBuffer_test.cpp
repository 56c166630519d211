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

CBundleManager &pool()
{
    return *CBundleManager::getInstance();
}

// Bytes 0, 1, 2, ... wrapping, starting at `start`.
std::vector<char> pattern(int len, int start = 0)
{
    std::vector<char> bytes(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((start + i) * 7 + (start + i) / 251);
    return bytes;
}

// Everything the FIFO holds, read bundle by bundle from the head the way the
// write path reads it; the FIFO is left empty.
std::vector<char> drain(CFifoBuffer &fifo)
{
    std::vector<char> out;
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

int firstLength(CFifoBuffer const &fifo)
{
    int len = -1;
    fifo.getFirstBundle(nullptr, &len);
    return len;
}

}  // namespace

TEST(BundleManager, ReusesFreeBundlesOfTheRequestedSizeOnly)
{
    BufferBundle *a = pool().getBundle(48);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size, 48);
    EXPECT_EQ(a->count, 0);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(pool().getBundleSize(), 48);
    a->count = 5;
    std::memset(a->data(), 0x5A, 48);  // the whole data area is ours

    int total = pool().getTotalBundleCount();
    int free = pool().getFreeBundleCount();
    pool().returnBundle(a);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 1);
    EXPECT_EQ(pool().getTotalBundleCount(), total);

    // A larger request never gets the 48-byte block: a new one is allocated.
    BufferBundle *b = pool().getBundle(96);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b, a);
    EXPECT_EQ(b->size, 96);
    EXPECT_EQ(pool().getTotalBundleCount(), total + 1);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 1);
    std::memset(b->data(), 0x33, 96);

    // A request of its own size gets it back, reinitialised.
    BufferBundle *c = pool().getBundle(48);
    EXPECT_EQ(c, a);
    EXPECT_EQ(c->count, 0);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(pool().getFreeBundleCount(), free);

    pool().returnBundle(b);
    pool().returnBundle(c);
}

TEST(BundleManager, RefusesNonPositiveSizesAndNullBundles)
{
    int total = pool().getTotalBundleCount();
    int free = pool().getFreeBundleCount();
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
    std::vector<char> bytes = pattern(100);
    held.append(bytes.data(), 100);  // 4 bundles in use

    BufferBundle *spare = pool().getBundle(32);
    pool().returnBundle(spare);
    ASSERT_GE(pool().getFreeBundleCount(), 1);

    int inUse = pool().getTotalBundleCount() - pool().getFreeBundleCount();
    pool().clear();
    EXPECT_EQ(pool().getFreeBundleCount(), 0);
    EXPECT_EQ(pool().getTotalBundleCount(), inUse);
    EXPECT_EQ(drain(held), bytes);  // the FIFO's bundles were not touched
    EXPECT_EQ(pool().getFreeBundleCount(), 4);
}

TEST(FifoBuffer, EmptyAndZeroLength)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    char const *data = reinterpret_cast<char const *>(1);
    int len = -1;
    fifo.getFirstBundle(&data, &len);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(len, 0);

    char byte = 'x';
    fifo.append(&byte, 0);
    EXPECT_TRUE(fifo.isEmpty());
    EXPECT_EQ(fifo.getBundleCount(), 0);
    fifo.clearBytes(5);
    EXPECT_EQ(fifo.getByteCount(), 0);
}

TEST(FifoBuffer, BundleBoundary)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    std::vector<char> bytes = pattern(10001);

    fifo.append(bytes.data(), 10000);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    EXPECT_EQ(firstLength(fifo), 10000);

    fifo.append(bytes.data() + 10000, 1);
    EXPECT_EQ(fifo.getBundleCount(), 2);
    EXPECT_EQ(fifo.getByteCount(), 10001);
    char const *data = nullptr;
    int len = 0;
    fifo.getFirstBundle(&data, &len);
    EXPECT_EQ(len, 10000);  // the first bundle only
    EXPECT_EQ(std::memcmp(data, bytes.data(), 10000), 0);
    EXPECT_EQ(drain(fifo), bytes);
}

TEST(FifoBuffer, AppendAfterPartialConsumeFillsFirstBundleFromReadOffset)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    std::vector<char> head = pattern(100);
    std::vector<char> tail = pattern(20000, 100);
    fifo.append(head.data(), 100);
    fifo.clearBytes(30);
    EXPECT_EQ(firstLength(fifo), 70);

    fifo.append(tail.data(), 20000);
    // The first bundle is full to its capacity: 30 consumed bytes stay unused.
    EXPECT_EQ(firstLength(fifo), 9970);
    EXPECT_EQ(fifo.getBundleCount(), 3);  // 9970 + 10000 + 100
    EXPECT_EQ(fifo.getByteCount(), 20070);

    std::vector<char> expected(head.begin() + 30, head.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(drain(fifo), expected);
}

TEST(FifoBuffer, ConsumingExactlyTheFirstBundleReturnsIt)
{
    CFifoBuffer fifo;
    fifo.setBundleSize(10000);
    std::vector<char> bytes = pattern(15000);
    fifo.append(bytes.data(), 15000);
    fifo.clearBytes(400);  // first bundle now holds 9600 from offset 400

    int free = pool().getFreeBundleCount();
    fifo.clearBytes(9600);
    EXPECT_EQ(pool().getFreeBundleCount(), free + 1);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    char const *data = nullptr;
    int len = 0;
    fifo.getFirstBundle(&data, &len);
    ASSERT_EQ(len, 5000);
    EXPECT_EQ(std::memcmp(data, bytes.data() + 10000, 5000), 0);

    // The survivor is read from its start, so it may now fill up to 10000.
    std::vector<char> more = pattern(5000, 15000);
    fifo.append(more.data(), 5000);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    EXPECT_EQ(firstLength(fifo), 10000);
}

TEST(FifoBuffer, HostileArgumentsAreRefusedOrClamped)
{
    CFifoBuffer fifo;
    char small[4] = {1, 2, 3, 4};
    fifo.append(small, 4);  // no bundle size yet
    EXPECT_TRUE(fifo.isEmpty());
    EXPECT_EQ(fifo.getByteCount(), 0);
    fifo.setBundleSize(-3);
    fifo.append(small, 4);
    EXPECT_TRUE(fifo.isEmpty());

    fifo.setBundleSize(16);
    fifo.append(nullptr, 4);
    fifo.append(small, -1);
    EXPECT_TRUE(fifo.isEmpty());
    fifo.append(small, 4);
    // Would pass 2^31 - 1 bytes: refused before a byte of `small` is read past its end.
    fifo.append(small, INT_MAX);
    EXPECT_EQ(fifo.getByteCount(), 4);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    fifo.clearBytes(-5);
    EXPECT_EQ(drain(fifo), std::vector<char>(small, small + 4));

    std::vector<char> bytes = pattern(40);
    fifo.append(bytes.data(), 40);
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
    std::vector<char> bytes = pattern(950);
    fifo.append(bytes.data(), 950);
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
    fifo.append(bytes.data(), 100);
    EXPECT_EQ(fifo.getBundleCount(), 1);
    EXPECT_EQ(firstLength(fifo), 100);
}

TEST(FifoBuffer, SteadyStateAllocatesNothing)
{
    CFifoBuffer a;
    CFifoBuffer b;
    a.setBundleSize(256);
    b.setBundleSize(1000);  // a second size shares the pool without churn
    std::vector<char> bytes = pattern(5000);
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
        std::vector<char> source = pattern(4 * bundleSize + 16);
        int next = 0;

        for (int op = 0; op < 4000; ++op) {
            unsigned kind = rng() % 8;
            if (kind < 4) {
                int len = static_cast<int>(rng() % (3 * bundleSize + 3));
                if (rng() % 10 == 0)
                    len = 0;
                std::vector<char> bytes = pattern(len, next);
                next += len;
                fifo.append(bytes.data(), len);
                model.insert(model.end(), bytes.begin(), bytes.end());
            } else if (kind < 6) {
                // Read and consume in place, a bundle at a time.
                int want = model.empty() ? 0 : static_cast<int>(rng() % (model.size() + 1));
                while (want > 0) {
                    char const *data = nullptr;
                    int len = 0;
                    fifo.getFirstBundle(&data, &len);
                    ASSERT_GT(len, 0);
                    ASSERT_LE(len, bundleSize);
                    int step = std::min(want, len);
                    ASSERT_TRUE(std::equal(data, data + step, model.begin()));
                    fifo.clearBytes(step);
                    model.erase(model.begin(), model.begin() + step);
                    want -= step;
                }
            } else if (kind < 7) {
                // Blind consume across bundles, sometimes past the end.
                int n = static_cast<int>(rng() % (model.size() + static_cast<size_t>(bundleSize) + 2));
                fifo.clearBytes(n);
                model.erase(model.begin(), model.begin() + std::min<size_t>(model.size(), static_cast<size_t>(n)));
            } else if (rng() % 8 == 0) {
                fifo.clear();
                model.clear();
            }

            ASSERT_EQ(fifo.getByteCount(), static_cast<int>(model.size()));
            ASSERT_EQ(fifo.isEmpty(), model.empty());
            if (model.empty())
                continue;
            char const *data = nullptr;
            int first = 0;
            fifo.getFirstBundle(&data, &first);
            ASSERT_GT(first, 0);
            ASSERT_TRUE(std::equal(data, data + first, model.begin()));
            // Every bundle after the first is filled before the next is linked.
            int held = static_cast<int>(model.size());
            int expectedBundles = held <= first ? 1 : 1 + (held - first + bundleSize - 1) / bundleSize;
            ASSERT_EQ(fifo.getBundleCount(), expectedBundles);
        }
        std::vector<char> rest = drain(fifo);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), model.begin(), model.end()));
    }
}
