#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <SharedLib/serialize/Buffer.h>

namespace {

std::string bytesOf(const Buffer &buffer, size_t n) { return std::string(buffer.readData(), n); }

TEST(Buffer, OwnsItsStorageOrViewsTheCallersAndCheckSize)
{
    Buffer owned;
    EXPECT_TRUE(owned.size() == 1024u && owned.canWrite() && owned.readData() != nullptr);

    char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Buffer view(bytes, sizeof(bytes));
    EXPECT_TRUE(!view.canWrite() && view.size() == 8u && view.readData() == bytes);  // nothing copied
    EXPECT_EQ(Buffer(nullptr, 100).size(), 0u);  // no bytes: nothing to read

    // checkSize: an owner grows to exactly the size asked for, never shrinks
    // and keeps its bytes; a view never changes.
    Buffer buffer(4);
    std::memcpy(buffer.writeData(), "abcd", 4);
    for (unsigned int size : {3u, 4u, 4001u, 10u})
        EXPECT_TRUE(buffer.checkSize(size));
    EXPECT_EQ(bytesOf(buffer, 4), "abcd");
    EXPECT_TRUE(!buffer.checkSize(0x80000000u) && buffer.size() == 4001u);  // what a negative count becomes
    Buffer empty(0u);
    EXPECT_TRUE(empty.checkSize(10) && empty.size() == 10u);

    EXPECT_TRUE(view.checkSize(8) && !view.checkSize(9) && view.size() == 8u && view.readData() == bytes);
}

TEST(Buffer, CopiesNeverShareAnOwnedBlock)
{
    Buffer source(4);
    std::memcpy(source.writeData(), "wxyz", 4);
    Buffer copied(source), assigned(2);
    assigned = source;
    source.writeData()[0] = 'W';
    for (Buffer *copy : {&copied, &assigned})
        EXPECT_TRUE(copy->canWrite() && copy->size() == 4u && bytesOf(*copy, 4) == "wxyz");
    Buffer &self = assigned;
    assigned = self;
    EXPECT_EQ(bytesOf(assigned, 4), "wxyz");

    // A copy of a view owns its bytes; a view too small for an assignment is left unchanged.
    char bytes[3] = {'v', 'i', 'e'};
    Buffer view(bytes, sizeof(bytes));
    Buffer ownCopy(view);
    EXPECT_TRUE(ownCopy.canWrite() && ownCopy.readData() != bytes && bytesOf(ownCopy, 3) == "vie");
    view = source;
    EXPECT_TRUE(view.size() == 3u && std::string(bytes, 3) == "vie");
}

}  // namespace
