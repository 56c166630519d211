#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/FrameEventLog.h>
#include <SharedLib/log/PerfCounter.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

namespace {

// debuglog lines reach the DB target, not the console.
std::vector<std::string> g_dbLines;
void dbLine(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    g_dbLines.push_back(text);
}

constexpr int64_t kTicksPerMs = 1000000;  // the counter runs in nanoseconds here

class PerfCounterTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        g_dbLines.clear();
        logger().setLogLocationMask(LogLocation_DB);
        logger().setDBLogFunction(dbLine);
        FrameEventLogger::init();
        ASSERT_EQ(FrameEventLogger::sm_uDivisor, static_cast<uint64_t>(kTicksPerMs));
    }
    void TearDown() override
    {
        platform::ReleaseTickCount();
        platform::ReleasePerformanceCounter();
        LogCaptureTest::TearDown();
    }
};

TEST_F(PerfCounterTest, TickCountTotalSurvivesAWrap)
{
    uint32_t total = 7;
    platform::PinTickCount(0xFFFFFFF0u);
    {
        PerfCounter timer(total);
        platform::PinTickCount(0x10u);
    }
    EXPECT_EQ(total, 7u + 0x20u);
}

TEST_F(PerfCounterTest, PrecisionAddsWholeMillisecondsOrRawTicks)
{
    uint32_t ms = 0, raw = 0, plain = 10;
    platform::PinPerformanceCounter(1000);
    {
        PrecisionPerfCounter a(ms, false), b(raw, true), c(plain);
        platform::PinPerformanceCounter(1000 + 6 * kTicksPerMs / 10);  // 0.6 ms
    }
    EXPECT_EQ(ms, 0u);
    EXPECT_EQ(raw, 600000u);
    EXPECT_EQ(plain, 10u);

    platform::PinPerformanceCounter(0);
    {
        PrecisionPerfCounter a(ms, false), c(plain);
        platform::PinPerformanceCounter(3 * kTicksPerMs - 1);  // just under 3 ms
    }
    EXPECT_EQ(ms, 2u);
    EXPECT_EQ(plain, 12u);

    // Raw totals are 32-bit counters; a counter that runs backwards adds nothing.
    raw = 0;
    platform::PinPerformanceCounter(0);
    {
        PrecisionPerfCounter b(raw, true);
        platform::PinPerformanceCounter((int64_t{1} << 32) + 5);
    }
    EXPECT_EQ(raw, 5u);
    {
        PrecisionPerfCounter a(ms, false);
        platform::PinPerformanceCounter(0);
    }
    EXPECT_EQ(ms, 2u);
}

TEST_F(PerfCounterTest, FirstTimerSetsTheDivisor)
{
    FrameEventLogger::sm_uDivisor = 0;
    uint32_t total = 0;
    platform::PinPerformanceCounter(0);
    {
        PrecisionPerfCounter timer(total);
        EXPECT_EQ(FrameEventLogger::sm_uDivisor, static_cast<uint64_t>(kTicksPerMs));
        platform::PinPerformanceCounter(4 * kTicksPerMs);
    }
    EXPECT_EQ(total, 4u);
}

TEST_F(PerfCounterTest, LogCounterLogsAtTheThreshold)
{
    platform::PinPerformanceCounter(0);
    {
        PerfLogCounter timer("name", Log_Generic, 5);
        platform::PinPerformanceCounter(49 * kTicksPerMs / 10);  // 4.9 ms
    }
    EXPECT_TRUE(g_dbLines.empty());
    {
        PerfLogCounter timer("name", Log_Generic, 5);
        platform::PinPerformanceCounter(49 * kTicksPerMs / 10 + 5 * kTicksPerMs);
    }
    logger().SetConditional(Log_Pulse, LogSev_Info);
    {
        PerfLogCounter timer("pulse", Log_Pulse, 0);
        platform::PinPerformanceCounter(49 * kTicksPerMs / 10 + 5 * kTicksPerMs + 123456);
    }
    EXPECT_EQ(g_dbLines, (std::vector<std::string>{"name time=5.0000 ms", "Pulse: pulse time=0.1235 ms"}));
}

TEST_F(PerfCounterTest, LogCounterStaysSilentWithoutInfoOrLogger)
{
    platform::PinPerformanceCounter(0);
    // Quiet at the start: no start time is taken, so nothing is logged even
    // when the channel opens before the end.
    {
        PerfLogCounter timer("quiet", Log_Pulse, 0);
        logger().SetConditional(Log_Pulse, LogSev_Info);
        platform::PinPerformanceCounter(10 * kTicksPerMs);
    }
    {
        theLogger = nullptr;
        PerfLogCounter timer("nologger", Log_Generic, 0);
        theLogger = &logger();
        platform::PinPerformanceCounter(20 * kTicksPerMs);
    }
    { PerfLogCounter timer("nochannel", static_cast<Log>(Log_Max), 0); }
    // Started, then squelched or silenced before the end.
    {
        PerfLogCounter timer("squelched", Log_Generic, 0);
        logger().setBSquelchLogger(true);
    }
    logger().setBSquelchLogger(false);
    {
        PerfLogCounter timer("silenced", Log_Generic, 0);
        logger().SetConditional(Log_Generic, LogSev_Warning);
    }
    {
        PerfLogCounter timer("gone", Log_Pulse, 0);
        theLogger = nullptr;
    }
    theLogger = &logger();
    EXPECT_TRUE(g_dbLines.empty());
}

}  // namespace
