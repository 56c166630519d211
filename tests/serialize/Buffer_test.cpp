#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <SharedLib/serialize/Buffer.h>

namespace {

std::string bytesOf(const Buffer &buffer, size_t n) { return std::string(buffer.readData(), n); }

TEST(Buffer, OwnsItsStorageOrViewsTheCallers)
{
    Buffer owned;
    EXPECT_EQ(owned.size(), 1024u);
    EXPECT_TRUE(owned.canWrite());
    ASSERT_NE(owned.readData(), nullptr);

    char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Buffer view(bytes, sizeof(bytes));
    EXPECT_FALSE(view.canWrite());
    EXPECT_EQ(view.size(), 8u);
    EXPECT_EQ(view.readData(), bytes);  // nothing copied
    EXPECT_EQ(Buffer(nullptr, 100).size(), 0u);  // no bytes: nothing to read
}

// An owner grows to exactly the size asked for, never shrinks and keeps its
// bytes; a view never changes.
TEST(Buffer, CheckSize)
{
    Buffer buffer(4);
    std::memcpy(buffer.writeData(), "abcd", 4);
    for (unsigned int size : {3u, 4u, 4001u, 10u})
        EXPECT_TRUE(buffer.checkSize(size));
    EXPECT_EQ(buffer.size(), 4001u);
    EXPECT_EQ(bytesOf(buffer, 4), "abcd");
    EXPECT_FALSE(buffer.checkSize(0x80000000u));  // what a negative count becomes
    EXPECT_EQ(buffer.size(), 4001u);
    Buffer empty(0u);
    EXPECT_TRUE(empty.checkSize(10));
    EXPECT_EQ(empty.size(), 10u);

    char bytes[16] = {};
    Buffer view(bytes, sizeof(bytes));
    EXPECT_TRUE(view.checkSize(16));
    EXPECT_FALSE(view.checkSize(17));
    EXPECT_EQ(view.size(), 16u);
    EXPECT_EQ(view.readData(), bytes);
}

TEST(Buffer, CopiesNeverShareAnOwnedBlock)
{
    Buffer source(4);
    std::memcpy(source.writeData(), "wxyz", 4);
    Buffer copied(source), assigned(2);
    assigned = source;
    source.writeData()[0] = 'W';
    for (Buffer *copy : {&copied, &assigned}) {
        EXPECT_TRUE(copy->canWrite());
        EXPECT_EQ(copy->size(), 4u);
        EXPECT_EQ(bytesOf(*copy, 4), "wxyz");
    }
    Buffer &self = assigned;
    assigned = self;
    EXPECT_EQ(bytesOf(assigned, 4), "wxyz");

    // A copy of a view owns its bytes; a view too small for an assignment is left unchanged.
    char bytes[3] = {'v', 'i', 'e'};
    Buffer view(bytes, sizeof(bytes));
    Buffer ownCopy(view);
    EXPECT_TRUE(ownCopy.canWrite());
    EXPECT_NE(ownCopy.readData(), bytes);
    EXPECT_EQ(bytesOf(ownCopy, 3), "vie");
    view = source;
    EXPECT_EQ(view.size(), 3u);
    EXPECT_EQ(std::string(bytes, 3), "vie");
}

}  // namespace
