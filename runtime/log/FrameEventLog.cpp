#include "FrameEventLog.h"

#include <cstring>
#include <new>

#include "../enums/Log.h"
#include "../platform/Clock.h"
#include "LogStatement.h"

FrameEventLog gFrameEventLog;

alignas(std::atomic_ref<uint64_t>::required_alignment) uint64_t FrameEventLogger::sm_uDivisor = 0;
alignas(std::atomic_ref<uint64_t>::required_alignment) uint64_t FrameEventLogger::sm_uSecondsDivisor = 0;

namespace {

char const kFrameMarker[FrameEventRecord::kNameLength] = {'F', 'R', 'S', 't', 'a', 'r', 't', '\0'};

int64_t readCounter()
{
    int64_t now = 0;
    platform::QueryPerformanceCounter(&now);
    return now;
}

}  // namespace

void FrameEventRecord::set(char const *name, uint32_t value)
{
    int length = 0;
    if (name != nullptr)
        while (length < kNameLength && name[length] != '\0')
            ++length;
    std::memcpy(m_name, name != nullptr ? name : "", static_cast<size_t>(length));
    std::memset(m_name + length, 0, static_cast<size_t>(kNameLength - length));
    m_value = value;
}

void FrameEventLog::init(int count)
{
    cleanup();
    if (count <= 0)
        return;
    m_records = new (std::nothrow) FrameEventRecord[static_cast<size_t>(count)]();
    m_capacity = m_records != nullptr ? count : 0;
}

void FrameEventLog::cleanup()
{
    delete[] m_records;
    m_records = nullptr;
    m_capacity = 0;
    m_next = 0;
}

void FrameEventLog::LogEvent(char const *name, uint32_t value)
{
    if (m_records == nullptr || m_capacity <= 0)
        return;
    if (m_next < 0 || m_next >= m_capacity)
        m_next = 0;
    m_records[m_next].set(name, value);
    if (++m_next == m_capacity)
        m_next = 0;
}

void FrameEventLog::DumpLog(int frames)
{
    if (m_records == nullptr || m_capacity <= 0 || m_next < 0 || m_next >= m_capacity)
        return;
    if (frames == 0 || frames < -1)
        return;

    int start = m_next;
    if (frames > 0) {
        // Walk back over the ring once, newest first, counting markers.
        int index = m_next;
        int markers = 0;
        for (int step = 0; step < m_capacity; ++step) {
            index = index == 0 ? m_capacity - 1 : index - 1;
            if (std::memcmp(m_records[index].m_name, kFrameMarker, sizeof kFrameMarker) == 0 &&
                ++markers == frames) {
                start = index;
                break;
            }
        }
    }

    int index = start;
    do {
        printRecord(index);
        if (++index == m_capacity)
            index = 0;
    } while (index != m_next);
}

void FrameEventLog::printRecord(int index) const
{
    FrameEventRecord const &record = m_records[index];
    // A full 8-byte name has no terminator of its own.
    char name[FrameEventRecord::kNameLength + 1];
    std::memcpy(name, record.m_name, FrameEventRecord::kNameLength);
    name[FrameEventRecord::kNameLength] = '\0';
    SHAREDLIB_DEBUGLOG(LogSev_Info, Log_Generic, "%s: %d", name, static_cast<int>(record.m_value));
}

FrameEventLogger::FrameEventLogger(char const *name) : m_name(name), m_start(0)
{
    millisecondDivisor();
    m_start = readCounter();
}

FrameEventLogger::~FrameEventLogger()
{
    uint64_t elapsed = static_cast<uint64_t>(readCounter()) - static_cast<uint64_t>(m_start);
    gFrameEventLog.LogEvent(m_name, static_cast<uint32_t>(elapsed / millisecondDivisor()));
}

void FrameEventLogger::init()
{
    int64_t frequency = 0;
    if (!platform::QueryPerformanceFrequency(&frequency))
        frequency = 0;
    initFromFrequency(frequency);
}

void FrameEventLogger::initFromFrequency(int64_t frequency)
{
    uint64_t perSecond = frequency > 0 ? static_cast<uint64_t>(frequency) : 0;
    // A counter slower than 1000 ticks a second still counts one tick as a
    // millisecond rather than dividing by zero.
    uint64_t perMillisecond = perSecond / 1000 != 0 ? perSecond / 1000 : 1;
    std::atomic_ref<uint64_t>(sm_uSecondsDivisor).store(perSecond, std::memory_order_relaxed);
    std::atomic_ref<uint64_t>(sm_uDivisor).store(perMillisecond, std::memory_order_release);
}

uint64_t FrameEventLogger::millisecondDivisor()
{
    uint64_t divisor = std::atomic_ref<uint64_t>(sm_uDivisor).load(std::memory_order_acquire);
    if (divisor == 0) {
        init();
        divisor = std::atomic_ref<uint64_t>(sm_uDivisor).load(std::memory_order_acquire);
    }
    // init never leaves 0 behind; only a host writing 0 at the same time could.
    return divisor != 0 ? divisor : 1;
}
