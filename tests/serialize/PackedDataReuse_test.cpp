// A packet reused with empty() allocates nothing: counted at operator new,
// and by the storage staying where it is.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <SharedLib/serialize/PackedData.h>

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// The replacements pair malloc with free; the compiler cannot see that through
// inlined library code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *block = std::malloc(size != 0 ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

void roundTrip(CPackedData &packet, std::string &name, bool debug)
{
    packet.empty();
    packet.setDebug(debug);
    packet.useMD5Checksum(true);
    packet.PutUint16(12);
    packet.PutUint32(0xC0FFEE);
    packet.PutString("sixteen chars!!!");
    packet.PutData("block", 5);
    packet.PutInt64(-1);
    packet.PutMagic();
    packet.GenerateMD5Checksum();

    CPackedData received(packet.readData(), packet.size());
    char block[5];
    EXPECT_EQ(received.GetUint16(), 12);
    EXPECT_EQ(received.GetUint32(), 0xC0FFEEu);
    received.GetString(name);
    received.GetData(block, 5);
    EXPECT_EQ(received.GetInt64(), -1);
    EXPECT_TRUE(received.GetMagic());
    EXPECT_TRUE(received.ValidateMD5Checksum());
}

}  // namespace

TEST(PackedDataReuse, ReusedPacketAllocatesNothing)
{
    CPackedData packet;
    std::string name;
    roundTrip(packet, name, true);  // warm-up: the string's storage
    const char *storage = packet.readData();
    unsigned int capacity = packet.Buffer::size();

    long before = g_allocations.load();
    for (int i = 0; i < 1000; ++i)
        roundTrip(packet, name, (i & 1) != 0);
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_EQ(packet.readData(), storage);
    EXPECT_EQ(packet.Buffer::size(), capacity);
    EXPECT_EQ(name, "sixteen chars!!!");
}
