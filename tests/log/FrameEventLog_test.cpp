#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <SharedLib/SharedLib.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

// The frame event ring and the scoped timers, on pinned clocks.
namespace {

using Lines = std::vector<std::string>;
constexpr int64_t kTicksPerMs = 1000000;  // the counter runs in nanoseconds here

class TimerTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        logger().setLogLocationMask(LogLocation_DB);  // the timers and the dump use debuglog
        FrameEventLogger::init();
        ASSERT_EQ(FrameEventLogger::sm_uDivisor, static_cast<uint64_t>(kTicksPerMs));
    }
    void TearDown() override
    {
        m_log.cleanup();
        gFrameEventLog.cleanup();
        FrameEventLogger::init();
        platform::ReleaseTickCount();
        platform::ReleasePerformanceCounter();
        LogCaptureTest::TearDown();
    }

    // A Timer made from `args` with the counter at `from`, ended at `to`.
    template <class Timer, class... Args>
    static void timed(int64_t from, int64_t to, Args &&...args)
    {
        platform::PinPerformanceCounter(from);
        Timer timer(std::forward<Args>(args)...);
        platform::PinPerformanceCounter(to);
    }
    Lines dump(FrameEventLog &log, int frames)
    {
        clearLines();
        log.DumpLog(frames);
        return dbTexts();
    }

    FrameEventLog m_log;
};

TEST_F(TimerTest, DivisorsFollowTheFrequency)
{
    for (auto [frequency, perMs, perSecond] : {std::tuple<int64_t, uint64_t, uint64_t>{10000000, 10000, 10000000},
                                              {1000, 1, 1000}, {999, 1, 999}, {0, 1, 0}, {-5, 1, 0}}) {
        FrameEventLogger::initFromFrequency(frequency);
        EXPECT_EQ(std::pair(FrameEventLogger::sm_uDivisor, FrameEventLogger::sm_uSecondsDivisor),
                  std::pair(perMs, perSecond)) << frequency;
    }
    // Frequency 0: raw ticks count as milliseconds.
    gFrameEventLog.init(2);
    timed<FrameEventLogger>(100, 142, "raw");
    EXPECT_EQ(gFrameEventLog.records()[0].m_value, 42u);

    // The first timer sets the divisors from the counter's frequency.
    FrameEventLogger::sm_uDivisor = 0;
    uint32_t total = 0;
    platform::PinPerformanceCounter(0);
    {
        PrecisionPerfCounter timer(total);
        EXPECT_EQ(std::pair(FrameEventLogger::sm_uDivisor, FrameEventLogger::sm_uSecondsDivisor),
                  std::pair(uint64_t{1000000}, uint64_t{1000000000}));
        platform::PinPerformanceCounter(4 * kTicksPerMs);
    }
    EXPECT_EQ(total, 4u);

    // FrameEventLogger records whole milliseconds in the global, when it has room.
    gFrameEventLog.init(2);
    timed<FrameEventLogger>(0, 3 * kTicksPerMs - 1, "frame");
    EXPECT_EQ(std::tuple(gFrameEventLog.next(), std::string(gFrameEventLog.records()[0].m_name),
                         gFrameEventLog.records()[0].m_value),
              std::tuple(1, std::string("frame"), 2u));
    gFrameEventLog.cleanup();
    { FrameEventLogger timer("nolog"); }
    EXPECT_EQ(gFrameEventLog.records(), nullptr);
}

TEST_F(TimerTest, RingKeepsTheNewestWithNamesCutToEightAndDumpsOldestFirst)
{
    FrameEventRecord record;
    std::memset(&record, 0x55, sizeof record);
    record.set("ab", 7);  // the rest of the name zeroed
    EXPECT_TRUE(std::memcmp(record.m_name, "ab\0\0\0\0\0\0", 8) == 0 && record.m_value == 7u);
    record.set(nullptr, 1);
    EXPECT_EQ(std::memcmp(record.m_name, "\0\0\0\0\0\0\0\0", 8), 0);

    m_log.init(2);
    m_log.LogEvent("TwelveChars!", 5), m_log.LogEvent("Exactly8", 6);
    EXPECT_EQ(dump(m_log, -1), (Lines{"TwelveCh: 5", "Exactly8: 6"}));
    EXPECT_EQ(gFrameEventLog.records(), nullptr);  // the global starts empty
    gFrameEventLog.LogEvent("early", 1);
    EXPECT_TRUE(dump(gFrameEventLog, -1).empty());

    m_log.init(3);
    m_log.LogEvent("a", 1);
    EXPECT_EQ(dump(m_log, -1), (Lines{": 0", ": 0", "a: 1"}));  // never-written records

    m_log.init(4);
    char name[] = "e0";
    for (int i = 1; i <= 6; ++i) {
        name[1] = static_cast<char>('0' + i);
        m_log.LogEvent(name, static_cast<uint32_t>(i));
    }
    EXPECT_EQ(std::pair(m_log.next(), dump(m_log, -1)), std::pair(2, Lines{"e3: 3", "e4: 4", "e5: 5", "e6: 6"}));
    m_log.LogEvent("big", 0xFFFFFFFFu);  // printed as the int it is
    EXPECT_EQ(dump(m_log, 1), (Lines{"e4: 4", "e5: 5", "e6: 6", "big: -1"}));

    m_log.cleanup();
    m_log.LogEvent("late", 1);
    EXPECT_TRUE(m_log.records() == nullptr && dump(m_log, -1).empty() && dump(m_log, 1).empty());
    m_log.init(0);
    m_log.LogEvent("zero", 1);
    EXPECT_EQ(m_log.records(), nullptr);
}

TEST_F(TimerTest, DumpByFramesStartsAtMarkers)
{
    m_log.init(8);
    for (auto [name, value] : {std::pair<char const *, uint32_t>{"FRStart", 10}, {"a", 1}, {"b", 2}, {"FRStart", 20},
                               {"c", 3}})
        m_log.LogEvent(name, value);
    EXPECT_EQ(dump(m_log, 1), (Lines{"FRStart: 20", "c: 3"}));
    EXPECT_EQ(dump(m_log, 2), (Lines{"FRStart: 10", "a: 1", "b: 2", "FRStart: 20", "c: 3"}));
    // More frames than markers: the whole ring.
    EXPECT_EQ(dump(m_log, 3), (Lines{": 0", ": 0", ": 0", "FRStart: 10", "a: 1", "b: 2", "FRStart: 20", "c: 3"}));
    EXPECT_TRUE(dump(m_log, 0).empty() && dump(m_log, -2).empty());

    // A wrapped ring; an 8-byte name starting "FRStart" is no marker.
    m_log.init(4);
    for (auto [name, value] : {std::pair<char const *, uint32_t>{"FRStart", 1}, {"a", 2}, {"FRStart", 3},
                               {"FRStartX", 4}, {"c", 5}})
        m_log.LogEvent(name, value);
    EXPECT_EQ(dump(m_log, 1), (Lines{"FRStart: 3", "FRStartX: 4", "c: 5"}));
    EXPECT_EQ(dump(m_log, 2), (Lines{"a: 2", "FRStart: 3", "FRStartX: 4", "c: 5"}));

    // Silent while Generic is quieter than info, or without a logger.
    logger().SetConditional(Log_Generic, LogSev_Warning);
    EXPECT_TRUE(dump(m_log, -1).empty());
    logger().SetConditional(Log_Generic, LogSev_Info);
    theLogger = nullptr;
    EXPECT_TRUE(dump(m_log, -1).empty());
    theLogger = &logger();
    EXPECT_EQ(dump(m_log, -1).size(), 4u);
}

TEST_F(TimerTest, CountersAddWholeMillisecondsOrRawTicks)
{
    uint32_t ticks = 7;  // a tick-count total survives a wrap
    platform::PinTickCount(0xFFFFFFF0u);
    {
        PerfCounter timer(ticks);
        platform::PinTickCount(0x10u);
    }
    EXPECT_EQ(ticks, 7u + 0x20u);

    uint32_t ms = 0, raw = 0, plain = 10;
    platform::PinPerformanceCounter(1000);
    {
        PrecisionPerfCounter a(ms, false), b(raw, true), c(plain);
        platform::PinPerformanceCounter(1000 + 6 * kTicksPerMs / 10);  // 0.6 ms
    }
    EXPECT_EQ(std::make_tuple(ms, raw, plain), std::make_tuple(0u, 600000u, 10u));
    platform::PinPerformanceCounter(0);
    {
        PrecisionPerfCounter a(ms, false), c(plain);
        platform::PinPerformanceCounter(3 * kTicksPerMs - 1);  // just under 3 ms
    }
    EXPECT_EQ(std::make_pair(ms, plain), std::make_pair(2u, 12u));

    // Raw totals are 32-bit counters; a counter that runs backwards adds nothing.
    raw = 0;
    timed<PrecisionPerfCounter>(0, (int64_t{1} << 32) + 5, raw, true);
    timed<PrecisionPerfCounter>(3 * kTicksPerMs, 0, ms, false);
    EXPECT_EQ(std::pair(raw, ms), std::pair(5u, 2u));
}

// Logged at the threshold and above, timed from its own start; silent without
// info or a logger.
TEST_F(TimerTest, LogCounterLogsAtTheThreshold)
{
    timed<PerfLogCounter>(kTicksPerMs, 59 * kTicksPerMs / 10, "name", Log_Generic, 5);  // 4.9 ms
    EXPECT_TRUE(dbTexts().empty());
    timed<PerfLogCounter>(0, 5 * kTicksPerMs, "name", Log_Generic, 5);
    logger().SetConditional(Log_Pulse, LogSev_Info);
    timed<PerfLogCounter>(0, 123456, "pulse", Log_Pulse, 0);
    EXPECT_EQ(dbTexts(), (Lines{"name time=5.0000 ms", "Pulse: pulse time=0.1235 ms"}));

    clearLines();
    logger().SetConditional(Log_Pulse, LogSev_Warning);
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
    // Started, then squelched, silenced or left without a logger before the end.
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
    EXPECT_TRUE(dbTexts().empty());
}

}  // namespace
