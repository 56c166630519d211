#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/FrameEventLog.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

namespace {

// DumpLog's lines go through debuglog, so they reach the DB target.
std::vector<std::string> g_dbLines;
void dbLine(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    g_dbLines.push_back(text);
}

std::vector<std::string> dump(FrameEventLog &log, int frames)
{
    g_dbLines.clear();
    log.DumpLog(frames);
    return g_dbLines;
}

using Lines = std::vector<std::string>;

class FrameEventLogTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        g_dbLines.clear();
        logger().setLogLocationMask(LogLocation_DB);
        logger().setDBLogFunction(dbLine);
    }
    void TearDown() override
    {
        m_log.cleanup();
        gFrameEventLog.cleanup();
        FrameEventLogger::init();
        platform::ReleasePerformanceCounter();
        LogCaptureTest::TearDown();
    }

    FrameEventLog m_log;
};

TEST_F(FrameEventLogTest, DivisorsFollowTheFrequency)
{
    FrameEventLogger::initFromFrequency(10000000);
    EXPECT_EQ(FrameEventLogger::sm_uDivisor, 10000u);
    EXPECT_EQ(FrameEventLogger::sm_uSecondsDivisor, 10000000u);
    FrameEventLogger::initFromFrequency(999);
    EXPECT_EQ(FrameEventLogger::sm_uDivisor, 1u);
    EXPECT_EQ(FrameEventLogger::sm_uSecondsDivisor, 999u);
    FrameEventLogger::initFromFrequency(0);
    EXPECT_EQ(FrameEventLogger::sm_uDivisor, 1u);
    EXPECT_EQ(FrameEventLogger::sm_uSecondsDivisor, 0u);

    // Frequency 0: raw ticks count as milliseconds.
    gFrameEventLog.init(2);
    platform::PinPerformanceCounter(100);
    {
        FrameEventLogger timer("raw");
        platform::PinPerformanceCounter(142);
    }
    EXPECT_EQ(gFrameEventLog.records()[0].m_value, 42u);

    FrameEventLogger::init();
    EXPECT_EQ(FrameEventLogger::sm_uDivisor, 1000000u);
    EXPECT_EQ(FrameEventLogger::sm_uSecondsDivisor, 1000000000u);
}

TEST_F(FrameEventLogTest, RecordNamesCopyLikeStrncpy)
{
    FrameEventRecord record;
    std::memset(&record, 0x55, sizeof record);
    record.set("ab", 7);
    EXPECT_EQ(std::memcmp(record.m_name, "ab\0\0\0\0\0\0", 8), 0);
    EXPECT_EQ(record.m_value, 7u);
    record.set("TwelveChars!", 9);
    EXPECT_EQ(std::memcmp(record.m_name, "TwelveCh", 8), 0);
    record.set(nullptr, 1);
    EXPECT_EQ(std::memcmp(record.m_name, "\0\0\0\0\0\0\0\0", 8), 0);

    m_log.init(2);
    m_log.LogEvent("TwelveChars!", 5);
    m_log.LogEvent("Exactly8", 6);
    EXPECT_EQ(dump(m_log, -1), (Lines{"TwelveCh: 5", "Exactly8: 6"}));
}

TEST_F(FrameEventLogTest, RingKeepsTheNewestAndDumpsOldestFirst)
{
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
    EXPECT_EQ(m_log.next(), 2);
    EXPECT_EQ(dump(m_log, -1), (Lines{"e3: 3", "e4: 4", "e5: 5", "e6: 6"}));

    m_log.cleanup();
    m_log.LogEvent("late", 1);
    EXPECT_EQ(m_log.records(), nullptr);
    EXPECT_TRUE(dump(m_log, -1).empty());
    EXPECT_TRUE(dump(m_log, 1).empty());
    m_log.init(0);
    m_log.LogEvent("zero", 1);
    EXPECT_EQ(m_log.records(), nullptr);
}

TEST_F(FrameEventLogTest, DumpByFramesStartsAtMarkers)
{
    m_log.init(8);
    m_log.LogEvent("FRStart", 10);
    m_log.LogEvent("a", 1);
    m_log.LogEvent("b", 2);
    m_log.LogEvent("FRStart", 20);
    m_log.LogEvent("c", 3);
    EXPECT_EQ(dump(m_log, 1), (Lines{"FRStart: 20", "c: 3"}));
    EXPECT_EQ(dump(m_log, 2), (Lines{"FRStart: 10", "a: 1", "b: 2", "FRStart: 20", "c: 3"}));
    // More frames than markers: the whole ring.
    EXPECT_EQ(dump(m_log, 3), (Lines{": 0", ": 0", ": 0", "FRStart: 10", "a: 1", "b: 2", "FRStart: 20", "c: 3"}));
    EXPECT_TRUE(dump(m_log, 0).empty());
    EXPECT_TRUE(dump(m_log, -2).empty());

    // A wrapped ring; an 8-byte name starting "FRStart" is no marker.
    m_log.init(4);
    m_log.LogEvent("FRStart", 1);
    m_log.LogEvent("a", 2);
    m_log.LogEvent("FRStart", 3);
    m_log.LogEvent("FRStartX", 4);
    m_log.LogEvent("c", 5);
    EXPECT_EQ(dump(m_log, 1), (Lines{"FRStart: 3", "FRStartX: 4", "c: 5"}));
    EXPECT_EQ(dump(m_log, 2), (Lines{"a: 2", "FRStart: 3", "FRStartX: 4", "c: 5"}));
}

TEST_F(FrameEventLogTest, DumpIsSilentWhenGenericIsQuiet)
{
    m_log.init(2);
    m_log.LogEvent("a", 1);
    logger().SetConditional(Log_Generic, LogSev_Warning);
    EXPECT_TRUE(dump(m_log, -1).empty());
    logger().SetConditional(Log_Generic, LogSev_Info);
    theLogger = nullptr;
    EXPECT_TRUE(dump(m_log, -1).empty());
    theLogger = &logger();
    EXPECT_EQ(dump(m_log, -1), (Lines{": 0", "a: 1"}));
}

TEST_F(FrameEventLogTest, LoggerRecordsWholeMillisecondsInTheGlobal)
{
    gFrameEventLog.init(2);
    platform::PinPerformanceCounter(0);
    {
        FrameEventLogger timer("frame");
        platform::PinPerformanceCounter(3000000 - 1);
    }
    EXPECT_EQ(gFrameEventLog.next(), 1);
    EXPECT_STREQ(gFrameEventLog.records()[0].m_name, "frame");
    EXPECT_EQ(gFrameEventLog.records()[0].m_value, 2u);

    gFrameEventLog.cleanup();
    { FrameEventLogger timer("nolog"); }
    EXPECT_EQ(gFrameEventLog.records(), nullptr);
}

}  // namespace
