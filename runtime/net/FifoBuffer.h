#pragma once

/// \file
/// A first-in, first-out byte queue over a chain of pooled bundles: bytes are
/// appended at the tail and read in place and consumed at the head. Each byte
/// is copied once on the way in; the bundles come from and go back to the
/// process-wide CBundleManager, so appending and consuming allocate nothing
/// once the pool holds enough free bundles.
///
/// Chain layout: the unread bytes of the first bundle lie at m_readOffset ..
/// m_readOffset + count of its data area and never past its capacity; every
/// later bundle holds its bytes from position 0. Every bundle of the chain
/// holds at least one byte, and every bundle but the last is full.

#include <cstdint>
#include <cstring>

#include "../Export.h"
#include "BundleManager.h"

/// A byte queue of fixed-size bundles from the CBundleManager: appended at the back, written from the front.
class SHAREDLIB_API CFifoBuffer {
public:
    CFifoBuffer();
    /// Returns every bundle to the pool.
    virtual ~CFifoBuffer();
    /// A FIFO owns its bundles; two owners would both return them.
    CFifoBuffer(CFifoBuffer const &) = delete;
    CFifoBuffer &operator=(CFifoBuffer const &) = delete;

    ///@{

    /// The capacity of the bundles requested from now on; bundles already in
    /// the chain keep theirs. A plain FIFO needs a positive size before it can
    /// hold anything.
    void setBundleSize(int size) { m_bundleSize = size; }
    /// The capacity of new bundles.
    int getBundleSize() const { return m_bundleSize; }
    ///@}

    /// Copies `len` bytes to the tail, filling the last bundle to its capacity
    /// before linking a new one. Refused as a whole (nothing changes) when
    /// `len` is 0 or negative, `data` is null, or the byte count would pass
    /// 2^31 - 1. Without a usable bundle (the bundle size is not positive, or
    /// the heap is exhausted) the bytes that found no room are not queued;
    /// getByteCount() always counts exactly the bytes held.
    void append(void const *data, int len);
    /// Copies `head` then `body` to the tail as one unit: true when both were
    /// queued; false, with the FIFO exactly as before, when any byte found no
    /// room. A length of 0 adds nothing for that piece.
    bool appendWhole(void const *head, int headLen, void const *body, int bodyLen)
    {
        /// The common case: both pieces fit behind the tail's bytes.
        BufferBundle *tail = m_last != nullptr ? m_last : m_first;
        if (tail != nullptr && headLen >= 0 && bodyLen >= 0 && (bodyLen == 0 || body != nullptr)) {
            int end = tail->count + (tail == m_first ? m_readOffset : 0);
            int64_t total = static_cast<int64_t>(headLen) + bodyLen;
            if (total <= tail->size - end && total <= INT32_MAX - m_byteCount) {
                char *to = tail->data() + end;
                for (int i = 0; i < headLen; ++i)
                    to[i] = static_cast<char const *>(head)[i];
                if (bodyLen > 0)
                    std::memcpy(to + headLen, body, static_cast<size_t>(bodyLen));
                tail->count += static_cast<int32_t>(total);
                m_byteCount += static_cast<int32_t>(total);
                return true;
            }
        }
        return appendWholeSlow(head, headLen, body, bodyLen);
    }
    /// The first unread byte and the number of unread bytes in the first
    /// bundle only; null and 0 when the FIFO is empty. Either pointer may be null.
    void getFirstBundle(char const **data, int *len) const;
    /// Consumes `n` bytes from the head; bundles emptied go back to the pool.
    /// 0 or negative does nothing; more than getByteCount() consumes everything.
    void clearBytes(int n);
    /// Returns every bundle to the pool and empties the FIFO.
    void clear();

    ///@{

    /// Whether the queue is empty, and the bytes it holds.
    bool isEmpty() const { return m_first == nullptr; }
    int getByteCount() const { return m_byteCount; }
    ///@}
    /// Walks the chain.
    int getBundleCount() const;

protected:
    /// Appends head and body as one unit when the fast path cannot; false when the queue refuses them.
    bool appendWholeSlow(void const *head, int headLen, void const *body, int bodyLen);
    /// Removes the last `n` bytes again (n at most getByteCount()); bundles
    /// left empty go back to the pool.
    void dropTail(int n);
    /// Takes a bundle of m_bundleSize from the pool and links it as the first
    /// bundle (`after` null) or after `after`; m_last is the caller's to set.
    /// Null, with nothing linked, when no bundle could be had.
    virtual BufferBundle *appendBundle(BufferBundle *after);
    /// Unlinks the first bundle and returns it to the pool; the second bundle
    /// becomes the first. m_last, m_readOffset and m_byteCount are the caller's.
    virtual void recycleFirstBundle();

    /// The first bundle of the queue, null when empty.
    BufferBundle *m_first;
    ///@{

    /// The last bundle while the chain holds two or more; null otherwise.
    BufferBundle *m_last;
    /// Bytes of the first bundle already written out.
    int32_t m_readOffset;
    /// The capacity of new bundles.
    int32_t m_bundleSize;
    /// Bytes queued.
    int32_t m_byteCount;
    /// Bundles in the chain.
    int32_t m_bundleCount;
    ///@}
};
