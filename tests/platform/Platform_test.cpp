#include <gtest/gtest.h>

#include <set>
#include <thread>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/Debugger.h>
#include <SharedLib/platform/Lock.h>
#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/platform/Process.h>
#include <SharedLib/testing/TestSeams.h>

namespace {

TEST(PlatformClock, RealClocksMoveForward)
{
    int64_t frequency = 0;
    EXPECT_TRUE(platform::QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1000000000);
    int64_t before = 0, after = 0;
    uint32_t tickBefore = platform::GetTickCount();
    platform::QueryPerformanceCounter(&before);
    platform::Sleep(20);
    platform::QueryPerformanceCounter(&after);
    EXPECT_GT(after, before);
    EXPECT_LT(static_cast<uint32_t>(platform::GetTickCount() - tickBefore), 0x80000000u);  // not backwards
}

TEST(PlatformProcess, ThreadIdsAreDistinctAndStable)
{
    uint32_t mine = platform::GetCurrentThreadId();
    EXPECT_EQ(mine, platform::GetCurrentThreadId());
    EXPECT_EQ(mine, platform::GetCurrentProcessId());  // the main thread's id is the process id
    uint32_t other = 0;
    std::thread([&] { other = platform::GetCurrentThreadId(); }).join();
    EXPECT_NE(other, mine);
    EXPECT_NE(other, 0u);
}

TEST(PlatformLock, CriticalSectionIsRecursive)
{
    platform::CriticalSection section;
    platform::CriticalSectionLock outer(section);
    platform::CriticalSectionLock inner(section);
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = section.try_lock(); }).join();
    EXPECT_FALSE(otherGotIt);
}

TEST(PlatformMessageBox, RecordedAndAnsweredAtOnce)
{
    platform::SetMessageBoxEcho(false);
    platform::TakeMessageBoxRecords();
    EXPECT_EQ(platform::MessageBoxA(nullptr, "text", "Caption", platform::MB_OK), platform::IDOK);
    EXPECT_EQ(platform::MessageBoxA(nullptr, "question", "Q", platform::MB_YESNO), platform::IDYES);
    platform::ScriptMessageBoxAnswer(platform::IDNO);
    EXPECT_EQ(platform::MessageBoxA(nullptr, "scripted", "Q", platform::MB_YESNO), platform::IDNO);
    EXPECT_EQ(platform::MessageBoxA(nullptr, nullptr, nullptr, platform::MB_OKCANCEL), platform::IDOK);

    auto records = platform::TakeMessageBoxRecords();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].text + "|" + records[0].caption + "|" + records[2].text + "|" + records[3].text,
              "text|Caption|scripted|");
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());

    // The record stays bounded however many boxes a program raises.
    for (int i = 0; i < 1000; ++i)
        platform::MessageBoxA(nullptr, "again", "Error", platform::MB_OK);
    EXPECT_LE(platform::TakeMessageBoxRecords().size(), 64u);
    platform::SetMessageBoxEcho(true);
}

TEST(PlatformDebugger, DiscardedUnlessASinkIsSet)
{
    std::string seen;
    platform::OutputDebugStringA("nobody hears this");
    platform::SetDebugOutputSink([](char const *text, void *context) { *static_cast<std::string *>(context) += text; },
                                 &seen);
    platform::OutputDebugStringA("one");
    platform::OutputDebugStringA(nullptr);
    platform::OutputDebugStringA("two");
    platform::SetDebugOutputSink(nullptr, nullptr);
    platform::OutputDebugStringA("three");
    EXPECT_EQ(seen, "onetwo");
}

}  // namespace
