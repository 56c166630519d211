#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

#include <SharedLib/progress/Progress.h>

namespace {

// Writes every call on one line; isOverrun follows setOverrun as a real
// window would.
class RecordingWindow : public CProgressWindow {
public:
    void start() override { calls << "start\n"; }
    void refresh() override { calls << "refresh\n"; }
    void setStatus(char const *text) override { calls << "status " << text << "\n"; }
    void setValue(float fraction) override { calls << "value " << std::setprecision(9) << fraction << "\n"; }
    void setOverrun(bool value) override { calls << (value ? "overrun on\n" : "overrun off\n"), overrun = value; }
    bool isOverrun() override { return overrun; }
    void pulse() override { calls << "pulse\n"; }
    void finish() override { calls << "finish\n"; }

    // The calls since the last look.
    std::string take()
    {
        std::string const text = calls.str();
        calls.str("");
        return text;
    }

    std::ostringstream calls;
    bool overrun = false;
};

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { CProgressWindow::g_pWindow = &window; }
    void TearDown() override { CProgressWindow::g_pWindow = nullptr; }
    RecordingWindow window;
};

TEST_F(ProgressTest, NestedAndCopiedProgressFillTheShareOfTheLastBegin)
{
    {
        CProgress outer;
        outer.begin(0.25f), outer.begin(0.25f);
        EXPECT_EQ(window.take(), "start\nvalue 0\nvalue 0\nvalue 0.25\n");
        {
            CProgress inner;
            inner.setValue(0.5f), inner.setValue(1.0f), inner.setValue(-3.0f);
            inner.setValue(1.005f);  // complete, not overrun
            // Nested once more without a begin: the whole share of inner.
            CProgress innermost;
            innermost.setValue(0.5f);
        }
        EXPECT_EQ(window.take(),
                  "value 0.25\nvalue 0.375\nvalue 0.5\nvalue 0.25\nvalue 0.5\nvalue 0.25\nvalue 0.375\n");
        // The end of a nested progress does not move its parent.
        outer.begin(0.5f);
    }
    EXPECT_EQ(window.take(), "value 0.5\nfinish\n");
    // An assigned progress takes the shares of its source.
    CProgress outer;
    outer.begin(0.5f), outer.begin(0.25f);
    CProgress copy;                         // nested: shares 0.5 .. 0.75
    copy.begin(0.25f), copy.begin(0.25f);  // its own next share: 0.5625 .. 0.625
    copy = outer;                           // now outer's base, scale, position and next share
    window.take();
    {
        CProgress next;  // fills the copied next share, 0.5 .. 0.75
        next.setValue(1.0f);
    }
    copy.setValue(0.5f);
    copy.begin(0.25f);  // position 0.75 -> 1
    EXPECT_EQ(window.take(), "value 0.5\nvalue 0.75\nvalue 0.5\nvalue 0.75\n");
}

TEST_F(ProgressTest, TheEndMarkOverrunsOnceThenOnlyPulsesUntilItsProgressEnds)
{
    {
        CProgress exact;
        exact.begin(1.01f);  // exactly the mark: nothing else is shown
        exact.begin(0.1f);
    }
    EXPECT_EQ(window.take(), "start\nvalue 0\noverrun on\npulse\nfinish\n");
    window.overrun = false;

    CProgress outer;
    for (int i = 0; i < 10; ++i)
        outer.begin(0.1f);
    EXPECT_EQ(window.take().find("overrun"), std::string::npos);
    outer.begin(0.1f), outer.begin(0.1f), outer.setValue(0.5f);  // from the eleventh tenth on
    EXPECT_EQ(window.take(), "overrun on\npulse\npulse\n");
    { CProgress inner; }  // only pulses; it never reached the mark itself
    EXPECT_EQ(window.take(), "pulse\n");  // the overrun of another stays on
    window.overrun = false;
    {
        CProgress inner;
        inner.setValue(1.0099999f), inner.setValue(1.01f);  // the float just below the mark, then the mark
    }
    EXPECT_EQ(window.take(), "value 0.900000095\nvalue 1.00000012\noverrun on\noverrun off\n");
}

TEST_F(ProgressTest, StatusIsFormattedAndBounded)
{
    CProgress progress;
    window.take();
    progress.setStatus("step %d of %s", 3, "five"), progress.setStatus(nullptr);
    progress.setStatus("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(window.take(), "status step 3 of five\nstatus " + std::string(1999, 'x') + "\n");
}

TEST(ProgressWithoutWindow, KeepsTheChainAndCallsNothing)
{
    CProgressWindow::g_pWindow = nullptr;
    RecordingWindow window;
    {
        CProgress outer;
        outer.begin(0.5f), outer.begin(0.5f);
        {
            CProgress inner;
            inner.setStatus("x"), inner.setValue(0.5f);
            // A window that appears now sees the chain as built without one:
            // inner is nested, so its end calls no finish.
            CProgressWindow::g_pWindow = &window;
        }
        CProgressWindow::g_pWindow = nullptr;
        outer.begin(0.5f);  // without a window begin leaves the position where it was (0)
        CProgressWindow::g_pWindow = &window;
        outer.begin(0.5f);
    }
    EXPECT_EQ(window.take(), "value 0\nfinish\n");
    CProgressWindow::g_pWindow = nullptr;
}

}  // namespace
