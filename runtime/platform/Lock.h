#pragma once

/// \file
/// Locks: critical sections and their scoped holders.

#include <mutex>

namespace platform {

/// A critical section: a lock the owning thread may take again.
class CriticalSection {
public:
    ///@{

    /// Takes, tries to take and releases the lock.
    void lock() { m_mutex.lock(); }
    bool try_lock() { return m_mutex.try_lock(); }
    void unlock() { m_mutex.unlock(); }
    ///@}

private:
    std::recursive_mutex m_mutex;
};

/// Holds a critical section for a scope.
using CriticalSectionLock = std::lock_guard<CriticalSection>;

}  // namespace platform
