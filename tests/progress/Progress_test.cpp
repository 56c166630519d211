#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <SharedLib/progress/Progress.h>

namespace {

// Records every call; isOverrun follows setOverrun as a real window would.
class RecordingWindow : public CProgressWindow {
public:
    void start() override { calls.push_back("start"); }
    void refresh() override { calls.push_back("refresh"); }
    void setStatus(char const *text) override { calls.push_back(std::string("status ") + text); }
    void setValue(float fraction) override
    {
        calls.push_back("value");
        values.push_back(fraction);
    }
    void setOverrun(bool value) override
    {
        calls.push_back(value ? "overrun on" : "overrun off");
        overrun = value;
    }
    bool isOverrun() override { return overrun; }
    void pulse() override { calls.push_back("pulse"); }
    void finish() override { calls.push_back("finish"); }

    int count(std::string const &name) const
    {
        int n = 0;
        for (auto const &call : calls)
            n += call == name;
        return n;
    }

    std::vector<std::string> calls;
    std::vector<float> values;
    bool overrun = false;
};

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { CProgressWindow::g_pWindow = &window; }
    void TearDown() override { CProgressWindow::g_pWindow = nullptr; }
    RecordingWindow window;
};

TEST_F(ProgressTest, NestedProgressFillsTheShareOfTheLastBegin)
{
    {
        CProgress outer;
        outer.begin(0.25f);
        outer.begin(0.25f);
        ASSERT_EQ(window.values, (std::vector<float>{0.0f, 0.0f, 0.25f}));
        {
            CProgress inner;
            EXPECT_EQ(window.values.back(), 0.25f);
            inner.setValue(0.5f);
            EXPECT_EQ(window.values.back(), 0.375f);
            inner.setValue(1.0f);
            EXPECT_EQ(window.values.back(), 0.5f);
            // Nested once more without a begin: the whole share of inner.
            CProgress innermost;
            innermost.setValue(0.5f);
            EXPECT_EQ(window.values.back(), 0.375f);
        }
        // The end of a nested progress does not move its parent.
        outer.begin(0.5f);
        EXPECT_EQ(window.values.back(), 0.5f);
    }
    EXPECT_EQ(window.count("start"), 1);
    EXPECT_EQ(window.count("finish"), 1);
    EXPECT_EQ(window.calls.front(), "start");
    EXPECT_EQ(window.calls.back(), "finish");
}

TEST_F(ProgressTest, TheEleventhTenthOverrunsOnceThenOnlyPulses)
{
    CProgress progress;
    for (int i = 0; i < 10; ++i)
        progress.begin(0.1f);
    EXPECT_EQ(window.count("overrun on"), 0);
    EXPECT_EQ(window.count("pulse"), 0);
    progress.begin(0.1f);
    EXPECT_EQ(window.count("overrun on"), 1);
    size_t const shown = window.values.size();
    progress.begin(0.1f);
    progress.setValue(0.5f);
    EXPECT_EQ(window.count("pulse"), 2);
    EXPECT_EQ(window.count("overrun on"), 1);
    EXPECT_EQ(window.values.size(), shown);
}

TEST_F(ProgressTest, EndMarkIsOnePointZeroOneInSinglePrecision)
{
    CProgress outer;
    outer.begin(0.5f);
    outer.begin(0.5f);  // the share 0.5 .. 1
    {
        CProgress inner;
        inner.setValue(1.005f);  // complete, not overrun
        EXPECT_EQ(window.values.back(), 1.0f);
        EXPECT_EQ(window.count("overrun on"), 0);
        inner.setValue(-3.0f);
        EXPECT_EQ(window.values.back(), 0.5f);
        inner.setValue(1.0099999f);  // the float just below the mark
        EXPECT_EQ(window.count("overrun on"), 0);
        inner.setValue(1.01f);
        EXPECT_EQ(window.count("overrun on"), 1);
    }
    // The overrun nested progress ended: the overrun is off again and the
    // parent updates normally.
    EXPECT_EQ(window.count("overrun off"), 1);
    EXPECT_FALSE(window.overrun);
    window.values.clear();
    outer.setValue(0.5f);
    EXPECT_EQ(window.values, (std::vector<float>{0.5f}));
}

TEST_F(ProgressTest, OverrunOfAnotherProgressIsNotClearedByANormalChild)
{
    CProgress outer;
    for (int i = 0; i < 11; ++i)
        outer.begin(0.1f);
    ASSERT_TRUE(window.overrun);
    {
        CProgress inner;  // only pulses; it never reached the mark itself
        EXPECT_EQ(window.calls.back(), "pulse");
    }
    EXPECT_EQ(window.count("overrun off"), 0);
    EXPECT_TRUE(window.overrun);
}

TEST_F(ProgressTest, BeginToExactlyTheMarkOverruns)
{
    CProgress progress;
    progress.begin(1.01f);
    EXPECT_EQ(window.count("overrun on"), 1);
    // The step that overruns shows nothing else.
    EXPECT_EQ(window.values, (std::vector<float>{0.0f}));
}

TEST_F(ProgressTest, StatusIsFormattedAndBounded)
{
    CProgress progress;
    progress.setStatus("step %d of %s", 3, "five");
    EXPECT_EQ(window.calls.back(), "status step 3 of five");
    std::string const longText(5000, 'x');
    progress.setStatus("%s", longText.c_str());
    EXPECT_EQ(window.calls.back(), "status " + std::string(1999, 'x'));
}

TEST_F(ProgressTest, AssignmentCopiesTheShares)
{
    CProgress outer;
    outer.begin(0.5f);
    outer.begin(0.25f);
    CProgress copy;  // nested: shares 0.5 .. 0.75
    copy = outer;    // now outer's base, scale, position and child share
    copy.setValue(0.5f);
    EXPECT_EQ(window.values.back(), 0.5f);
    copy.begin(0.25f);  // position 0.75 -> 1
    EXPECT_EQ(window.values.back(), 0.75f);
}

TEST(ProgressWithoutWindow, KeepsTheChainAndCallsNothing)
{
    CProgressWindow::g_pWindow = nullptr;
    RecordingWindow window;
    {
        CProgress outer;
        outer.begin(0.5f);
        outer.begin(0.5f);
        {
            CProgress inner;
            inner.setStatus("x");
            // A window that appears now sees the chain as built without one:
            // inner is nested, so its end calls no finish.
            CProgressWindow::g_pWindow = &window;
        }
        EXPECT_EQ(window.count("finish"), 0);
        CProgressWindow::g_pWindow = nullptr;
        // Without a window begin leaves the position where it was (0).
        outer.begin(0.5f);
        CProgressWindow::g_pWindow = &window;
        outer.begin(0.5f);
        EXPECT_EQ(window.values.back(), 0.0f);
    }
    EXPECT_EQ(window.count("finish"), 1);
    EXPECT_EQ(window.count("start"), 0);
    CProgressWindow::g_pWindow = nullptr;
}

}  // namespace
