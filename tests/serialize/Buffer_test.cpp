#include <gtest/gtest.h>

#include <cstring>

#include <SharedLib/serialize/Buffer.h>

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

    Buffer nothing(nullptr, 100);  // no bytes: nothing to read
    EXPECT_EQ(nothing.size(), 0u);
}

TEST(Buffer, CheckSizeGrowsAnOwnerToExactlyTheSizeAndKeepsItsBytes)
{
    Buffer buffer(4);
    std::memcpy(buffer.writeData(), "abcd", 4);
    EXPECT_TRUE(buffer.checkSize(3));
    EXPECT_EQ(buffer.size(), 4u);  // never shrinks
    EXPECT_TRUE(buffer.checkSize(4));
    EXPECT_EQ(buffer.size(), 4u);
    EXPECT_TRUE(buffer.checkSize(4001));
    EXPECT_EQ(buffer.size(), 4001u);
    EXPECT_EQ(std::memcmp(buffer.readData(), "abcd", 4), 0);

    Buffer empty(0u);
    EXPECT_TRUE(empty.checkSize(10));
    EXPECT_EQ(empty.size(), 10u);
}

TEST(Buffer, CheckSizeNeverChangesAView)
{
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

    Buffer copied(source);
    EXPECT_TRUE(copied.canWrite());
    EXPECT_NE(copied.readData(), source.readData());
    EXPECT_EQ(std::memcmp(copied.readData(), "wxyz", 4), 0);

    Buffer assigned(2);
    assigned = source;
    EXPECT_NE(assigned.readData(), source.readData());
    EXPECT_EQ(assigned.size(), 4u);
    EXPECT_EQ(std::memcmp(assigned.readData(), "wxyz", 4), 0);
    source.writeData()[0] = 'W';
    EXPECT_EQ(assigned.readData()[0], 'w');

    Buffer &self = assigned;
    assigned = self;
    EXPECT_EQ(std::memcmp(assigned.readData(), "wxyz", 4), 0);

    // A copy of a view owns its bytes.
    char bytes[3] = {'v', 'i', 'e'};
    Buffer view(bytes, sizeof(bytes));
    Buffer ownCopy(view);
    EXPECT_TRUE(ownCopy.canWrite());
    EXPECT_NE(ownCopy.readData(), bytes);
    EXPECT_EQ(std::memcmp(ownCopy.readData(), "vie", 3), 0);
}

TEST(Buffer, AssignmentIntoAViewTooSmallLeavesItUnchanged)
{
    char small[2] = {'s', 't'};
    Buffer view(small, sizeof(small));
    Buffer source(4);
    std::memcpy(source.writeData(), "long", 4);
    view = source;
    EXPECT_EQ(view.size(), 2u);
    EXPECT_EQ(small[0], 's');
    EXPECT_EQ(small[1], 't');
}
