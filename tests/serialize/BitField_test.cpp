#include <SharedLib/serialize/BitField.h>

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <vector>

namespace {

using Bits = std::vector<int>;

Bits setBits(const BitField &field)
{
    Bits bits;
    for (int i = 0; i < field.Size(); ++i)
        if (field.Get(i, false))
            bits.push_back(i);
    return bits;
}

BitField fieldWith(int size, std::initializer_list<int> bits)
{
    BitField field(size);
    for (int bit : bits)
        field.Set(bit, true, false);
    return field;
}

TEST(BitField, InitDisposeGrowthAndTheCursor)
{
    BitField field(40);
    EXPECT_TRUE(field.Size() == 40 && field.GetCountOfBits(false) == 40 && BitField(-5).Size() == 0);
    field.SetAll(), field.setStartBit(17);
    field.Init(70);  // fresh, clear bits and cursor
    EXPECT_TRUE(field.GetCountOfBits(true) == 0 && field.getStartBit() == 0);
    field.setStartBit(5);
    field.Resize(0);  // disposes, keeps the cursor
    EXPECT_TRUE(field.Size() == 0 && field.getStartBit() == 5);
    field.Resize(12);  // from empty this is Init
    EXPECT_TRUE(field.Size() == 12 && field.getStartBit() == 0);
    field.Resize(100);  // past its storage
    EXPECT_TRUE(field.Size() == 100 && field.GetCountOfBits(false) == 100);
    // Set grows the field only when asked.
    BitField grown(40);
    EXPECT_TRUE(!grown.Set(40, true, false) && grown.Size() == 40);
    EXPECT_TRUE(!grown.Set(40, true, true) && grown.Size() == 41);  // the old value
    EXPECT_TRUE(grown.Set(40, false, false) && !grown.Get(40, false));

    for (int bad : {-1, INT_MIN, INT_MAX})
        EXPECT_FALSE(grown.Set(bad, true, true)) << bad;
    EXPECT_TRUE(grown.Size() == 41 && grown.GetCountOfBits(true) == 0);
}

TEST(BitField, BitsComingIntoRangeAreClear)
{
    BitField field(40);
    field.SetAll(), field.Resize(10), field.Resize(40);  // same storage on the way back up
    EXPECT_EQ(field.GetCountOfBits(true), 10);

    BitField wide(130);  // back up within the storage from past the first word
    wide.SetAll(), wide.Resize(40), wide.Resize(130);
    EXPECT_TRUE(setBits(wide).size() == 40u && wide.FindSetBit(40, -1) == -1);

    field.SetAll(), field.Resize(33), field.Resize(200);  // then past the storage: the old tail word is stale
    EXPECT_TRUE(field.GetCountOfBits(true) == 33 && field.FindSetBit(33, -1) == -1);

    BitField copy(field);  // a shrunk field hands its larger storage on
    copy.SetAll(), copy.Resize(5), copy.Resize(64);
    EXPECT_EQ(setBits(copy), (Bits{0, 1, 2, 3, 4}));
}

TEST(BitField, CountsAndSearchesStopAtTheBitCountAndCrossWords)
{
    BitField field(36);
    field.SetAll();  // fills whole words
    EXPECT_TRUE(field.GetCountOfBits(true) == 36 && field.GetCountOfBits(false) == 0);
    EXPECT_TRUE(field.GetIndexOfNthBitSet(35) == 35 && field.FindSetBit(3, INT_MAX) == 3);
    for (int bad : {-1, 36, INT_MAX})
        EXPECT_FALSE(field.Get(bad, false)) << bad;
    EXPECT_EQ((Bits{field.GetIndexOfNthBitSet(36), field.GetIndexOfNthBitSet(-1), field.FindSetBit(36, -1),
                    field.FindSetBit(-3, -1), field.FindSetBit(5, 2), field.FindSetBit(5, -2)}),
              Bits(6, -1));

    // Across words.
    BitField wide = fieldWith(200, {1, 31, 32, 63, 64, 199});
    Bits nth;
    for (int n = 0; n <= 6; ++n)
        nth.push_back(wide.GetIndexOfNthBitSet(n));
    EXPECT_EQ(nth, (Bits{1, 31, 32, 63, 64, 199, -1}));

    BitField two = fieldWith(64, {0});
    ASSERT_EQ(two.FindSetBit(5, -1), -1);
    two.Set(40, true, false);
    EXPECT_TRUE(two.FindSetBit(5, -1) == 40 && two.FindSetBit(5, 40) == -1 && BitField(32).FindSetBit(0, 32) == -1);

    BitField sparse = fieldWith(300, {50, 290});
    EXPECT_EQ(sparse.FindSetBit(51, 289), -1);  // a hit in the last word but past `to`
    EXPECT_EQ(sparse.FindSetBit(51, 291), 290);
}

TEST(BitField, CursorCyclesThroughSetBits)
{
    BitField field = fieldWith(10, {3, 9});
    for (int round = 0; round < 3; ++round) {
        int const first = field.FindSetBitAfterStartBit(), second = field.FindSetBitAfterStartBit();
        EXPECT_EQ(Bits({first, second, field.getStartBit()}), (Bits{3, 9, 0}));  // wrapped after the last bit
    }
    field.setStartBit(500);
    EXPECT_TRUE(field.FindSetBitAfterStartBit() == 3 && field.getStartBit() == 4);
    field.setStartBit(-7);
    EXPECT_TRUE(field.FindSetBitAfterStartBit() == -1 && field.getStartBit() == 0);
    BitField empty(50);
    empty.setStartBit(20);
    EXPECT_TRUE(empty.FindSetBitAfterStartBit() == -1 && empty.getStartBit() == 0);
}

TEST(BitField, CopyTakesTheCursorAssignmentKeepsItsOwn)
{
    BitField source = fieldWith(100, {2, 50, 99});
    source.setStartBit(51);
    BitField copy(source), target(7);
    target.setStartBit(4);
    target = source;
    EXPECT_TRUE(copy.getStartBit() == 51 && target.getStartBit() == 4 && setBits(target) == setBits(source));

    copy.Set(2, false, false), target.Set(50, false, false);  // separate storage
    EXPECT_EQ(setBits(source), (Bits{2, 50, 99}));

    BitField &alias = copy;
    copy = alias;
    target = BitField();
    EXPECT_TRUE(setBits(copy) == (Bits{50, 99}) && target.Size() == 0);
}

}  // namespace
