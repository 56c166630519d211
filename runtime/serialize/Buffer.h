#pragma once

/// \file
/// Plain byte storage: a block that either belongs to the buffer (allocated with
/// malloc, growable, freed on destruction) or is a view of the caller's bytes
/// (never grown, never freed).

#include <cstdint>

#include "../Export.h"

/// Storage of a packet: bytes, capacity and whether the buffer owns them.
class SHAREDLIB_API Buffer {
public:
    /// The capacity of a default buffer.
    static constexpr uint32_t BUFFER_DEFAULT_SIZE = 1024;

    /// Owned storage of `size` bytes. When the allocation fails the buffer is
    /// an owner of 0 bytes.
    Buffer(unsigned int size = BUFFER_DEFAULT_SIZE);
    /// A view of the caller's `size` bytes; nothing is copied, and the bytes
    /// must outlive the buffer.
    Buffer(const void *data, unsigned int size);
    /// Always an owned copy of the whole storage of `other`, view or not.
    Buffer(const Buffer &other);
    /// Copies the whole storage of `other` into this one, growing an owner as
    /// needed; a view too small to take it is left unchanged.
    Buffer &operator=(const Buffer &other);
    ~Buffer();

    ///@{

    /// The capacity.
    unsigned int size() const { return m_capacity; }
    /// True when the buffer owns its bytes (a view cannot be written).
    bool canWrite() const { return m_owner != 0; }
    /// The bytes, for writing.
    char *writeData() { return m_data; }
    /// The bytes, for reading.
    const char *readData() const { return m_data; }
    ///@}

    /// Makes the capacity at least `size`: an owner grows to exactly `size`
    /// bytes (keeping its contents) and never shrinks; a view never changes.
    /// True when the capacity then is at least `size`.
    bool checkSize(unsigned int size)
    {
        return size <= m_capacity || grow(size);
    }

protected:
    ///@{

    /// The bytes, the capacity and whether they are owned.
    char *m_data;
    uint32_t m_capacity;
    int32_t m_owner;
    ///@}

private:
    bool grow(uint32_t size);
};
