#pragma once

/// \file
/// Per-frame timing events and their log.

#include <atomic>
#include <cstdint>

#include "../Export.h"

/// One timing event: an 8-byte name (a name of 8 or more characters keeps no
/// terminator) and a value, usually milliseconds.
class SHAREDLIB_API FrameEventRecord {
public:
    /// Bytes of a name; a name of this length keeps no terminator.
    static constexpr int kNameLength = 8;

    /// Copies at most 8 bytes of the name as strncpy does: shorter names are
    /// padded with zero bytes. A null name is stored as an empty one.
    void set(char const *name, uint32_t value);

    ///@{

    /// The name (not always terminated) and the value.
    char m_name[kNameLength];
    uint32_t m_value;
    ///@}
};

/// A fixed-size ring of timing events, grouped into frames by events named
/// "FRStart" that the host logs at the start of each frame. Usable between
/// init and cleanup; one thread at a time.
class SHAREDLIB_API FrameEventLog {
public:
    /// Neither allocates nor frees: the global starts with no array, and an
    /// instance that was init'ed must be cleaned up explicitly.
    constexpr FrameEventLog() : m_records(nullptr), m_capacity(0), m_next(0) {}
    ~FrameEventLog() = default;

    ///@{

    /// Allocates count zeroed records (freeing any earlier array). A count of
    /// 0 or less, or an allocation that fails, leaves the log without an array.
    void init(int count);
    /// Frees the array.
    void cleanup();
    ///@}

    /// Overwrites the oldest record; ignored without an array.
    void LogEvent(char const *name, uint32_t value);

    /// Prints records to the log on Generic at info, "%s: %d", oldest first.
    /// frames -1: the whole ring. frames 1 or more: from the frames-th newest
    /// "FRStart" marker to the newest record; the whole ring when the ring
    /// holds fewer markers. frames 0 or below -1 print nothing.
    void DumpLog(int frames);

    ///@{

    /// The records, how many there is room for, and the index the next record goes to.
    FrameEventRecord const *records() const { return m_records; }
    int capacity() const { return m_capacity; }
    int next() const { return m_next; }
    ///@}

private:
    void printRecord(int index) const;

    FrameEventRecord *m_records;
    int m_capacity;
    int m_next;
};

/// The one frame event log of the process; FrameEventLogger writes to it.
SHAREDLIB_API extern FrameEventLog gFrameEventLog;

/// A scoped timer that logs its elapsed milliseconds as one event of
/// gFrameEventLog when it goes out of scope. The name is not copied.
class SHAREDLIB_API FrameEventLogger {
public:
    /// Starts timing; the event is recorded under name (not copied).
    explicit FrameEventLogger(char const *name);
    ~FrameEventLogger();

    /// Reads the performance counter's frequency and sets the divisors.
    static void init();
    /// Sets the divisors for a frequency in ticks per second: ticks per
    /// millisecond (at least 1; 1 for a frequency of 0 or less) and ticks per
    /// second (left at 0 for a frequency of 0 or less).
    static void initFromFrequency(int64_t frequency);
    /// The ticks per millisecond, running init first while it is still 0.
    static uint64_t millisecondDivisor();

    ///@{

    /// 0 until init runs. Written once, then only read; accessed through
    /// std::atomic_ref inside the library.
    alignas(std::atomic_ref<uint64_t>::required_alignment) static uint64_t sm_uDivisor;
    alignas(std::atomic_ref<uint64_t>::required_alignment) static uint64_t sm_uSecondsDivisor;
    ///@}

private:
    char const *m_name;
    int64_t m_start;
};
