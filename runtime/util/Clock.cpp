#include "Clock.h"

#include <atomic>
#include <mutex>
#include <new>

#include "../platform/Clock.h"
#include "../platform/Lock.h"

namespace {

// Seconds in 1095 days: the period after which session identifiers repeat.
constexpr uint64_t kSessionPeriod = 94608000;
constexpr uint32_t kSessionStepsPerSecond = 30;

int64_t g_clockOffset = 0;

// The clock lock lives in static storage, constructed on first use and
// destroyed by cleanupSharedTools. g_lockGuard makes creation and release
// safe when two threads arrive at once.
alignas(platform::CriticalSection) unsigned char g_lockStorage[sizeof(platform::CriticalSection)];
std::atomic<bool> g_lockExists{false};
std::mutex g_lockGuard;

platform::CriticalSection &clockLock()
{
    if (!g_lockExists.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(g_lockGuard);
        if (!g_lockExists.load(std::memory_order_relaxed)) {
            new (g_lockStorage) platform::CriticalSection();
            g_lockExists.store(true, std::memory_order_release);
        }
    }
    return *std::launder(reinterpret_cast<platform::CriticalSection *>(g_lockStorage));
}

// Offsets and times wrap rather than overflow, whatever the caller passes.
int64_t wrappingAdd(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
int64_t wrappingSubtract(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

}  // namespace

void SetSecondsSinceEpoch(int64_t seconds)
{
    platform::CriticalSectionLock hold(clockLock());
    g_clockOffset = wrappingSubtract(seconds, platform::GetWallClockSeconds());
}

int64_t GetSecondsSinceEpoch()
{
    platform::CriticalSectionLock hold(clockLock());
    return wrappingAdd(platform::GetWallClockSeconds(), g_clockOffset);
}

uint32_t getTimeSessionId()
{
    uint64_t now = static_cast<uint64_t>(GetSecondsSinceEpoch());
    return static_cast<uint32_t>(now % kSessionPeriod * kSessionStepsPerSecond);
}

void cleanupSharedTools()
{
    std::lock_guard<std::mutex> guard(g_lockGuard);
    if (g_lockExists.load(std::memory_order_relaxed)) {
        std::launder(reinterpret_cast<platform::CriticalSection *>(g_lockStorage))->~CriticalSection();
        g_lockExists.store(false, std::memory_order_release);
    }
}
