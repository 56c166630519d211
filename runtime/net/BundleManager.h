#pragma once

/// \file
/// The process-wide pool of bundles: the fixed-size blocks that byte FIFOs
/// (CFifoBuffer) are built from. Bundles go back to the pool's free list, never
/// to the heap, while the process runs, so a busy server does not allocate and
/// free memory for every message.

#include <cstdint>

#include "../Export.h"

/// One block: this header followed directly by `size` bytes of data, allocated
/// in one piece.
struct BufferBundle {
    /// Next bundle in a FIFO chain, or in the pool's free list; null at the end.
    BufferBundle *next;
    /// Capacity of the data area in bytes. It always equals the size the block
    /// was allocated with: the pool never hands a block out under another size.
    int32_t size;
    /// Bytes held. In the first bundle of a FIFO they begin at the FIFO's read
    /// offset; in every other bundle at the start of the data area.
    int32_t count;

    ///@{

    /// The bundle's bytes, which follow its header.
    char *data() { return reinterpret_cast<char *>(this + 1); }
    char const *data() const { return reinterpret_cast<char const *>(this + 1); }
    ///@}
};

/// The pool. There is exactly one, constructed when the library loads (before
/// any other static object can reach it) and destroyed when it unloads; every
/// pool operation acts on it through getInstance(). Bundles in use are not
/// tracked: they belong to the FIFO holding them until it returns them.
///
/// Single-threaded: the pool and its FIFOs are used from the host loop's thread.
class SHAREDLIB_API CBundleManager {
public:
    /// The process-wide manager.
    static CBundleManager *getInstance();

    /// Releases the free list to the heap.
    virtual ~CBundleManager();
    CBundleManager(CBundleManager const &) = delete;
    CBundleManager &operator=(CBundleManager const &) = delete;

    /// A bundle ready for use (next null, count 0, capacity `size`). Records
    /// `size` as the latest requested size. A free bundle is reused only when it
    /// was allocated with exactly `size` bytes: free bundles of other sizes are
    /// skipped and stay on the free list for requests of their own size (in this
    /// system every queue uses one bundle size, so the head of the list matches
    /// at once). Without a match a new bundle is allocated. Null, with nothing
    /// allocated, when `size` is 0 or negative or the heap is exhausted.
    BufferBundle *getBundle(int size);
    /// A new bundle of `size` data bytes from the heap; counted in the total.
    /// Null when `size` is 0 or negative or the heap is exhausted.
    BufferBundle *allocBundle(int size);
    /// Puts a bundle on the head of the free list. Null is ignored.
    void returnBundle(BufferBundle *bundle);
    /// Releases a bundle already taken off the free list to the heap and drops
    /// it from both counts. Null is ignored.
    void deallocBundle(BufferBundle *bundle);
    /// Releases every free bundle to the heap; bundles held by FIFOs stay theirs.
    void clear();
    /// Forgets the free list and zeroes the counts without releasing anything.
    void init();

    ///@{

    /// The size of a bundle, the bundles free for reuse and all bundles made.
    int getBundleSize() const { return m_bundleSize; }
    int getFreeBundleCount() const { return m_freeBundles; }
    int getTotalBundleCount() const { return m_totalBundles; }
    ///@}

private:
    constexpr CBundleManager() : m_freeList(nullptr), m_bundleSize(0), m_totalBundles(0), m_freeBundles(0) {}

    /// The one instance; constant-initialised, so it is ready before any
    /// static constructor of the program runs.
    static CBundleManager s_instance;

    BufferBundle *m_freeList;
    int32_t m_bundleSize;
    int32_t m_totalBundles;
    int32_t m_freeBundles;
};
