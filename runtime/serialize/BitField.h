#pragma once

/// \file
/// A set of bits that grows on demand, with counting and search operations and
/// a round-robin cursor (the start bit) that hands out the set bits one after
/// another, wrapping at the end.
///
/// Bit i is bit i % 32 (least significant first) of word i / 32. Bits at or
/// beyond Size() are never reported, and bits that come into range when the
/// field grows are always clear. Shrinking keeps the storage.

#include <cstdint>

#include "../Export.h"

/// A fixed number of bits in 32-bit words, with a start bit for reading them in turn.
class SHAREDLIB_API BitField {
public:
    ///@{

    /// A field of size bits, all clear, or a copy of other.
    BitField(int size = 0);
    BitField(const BitField &other);
    ///@}
    /// Copies the bits of `other`; the start bit of this field stays as it is.
    void operator=(const BitField &other);
    virtual ~BitField();

    /// Drops the old bits; `size` clear bits when positive. Start bit 0.
    void Init(int size);
    /// Frees the storage; the start bit stays as it is.
    void Dispose();
    /// Changes the bit count, keeping the bits below the new count.
    void Resize(int size);

    ///@{

    /// Clears, or sets, every bit.
    void Clear();
    void SetAll();
    ///@}

    /// Sets or clears bit `index` and returns its previous value. An index at
    /// or beyond Size() grows the field when `grow` is true and is refused
    /// (false, nothing changes) otherwise.
    bool Set(int index, bool value, bool grow);
    ///@{

    /// The bit; false outside 0 <= index < Size(). The second argument is unused.
    bool Get(int index, bool unused = false) const;
    /// The number of bits.
    int Size() const { return m_bitCount; }
    ///@}

    /// How many bits below Size() equal `value`.
    int GetCountOfBits(bool value) const;
    /// The set bit with exactly `n` set bits below it, or -1.
    int GetIndexOfNthBitSet(int n) const;
    /// The lowest set bit in [from, to), or -1; `to` == -1 means Size().
    int FindSetBit(int from, int to) const;
    /// The next set bit at or after the start bit, wrapping round; the start bit
    /// moves just past it. -1 (and start bit 0) when no bit is set.
    int FindSetBitAfterStartBit();

    ///@{

    /// The start bit: read, set, or reset to 0.
    int getStartBit() const { return m_startBit; }
    void setStartBit(int startBit) { m_startBit = startBit; }
    void resetStartBit() { m_startBit = 0; }
    ///@}

protected:
    ///@{

    /// The words, the bit count, the word count and the start bit.
    uint32_t *m_bits;
    int32_t m_bitCount;
    int32_t m_wordCount;
    int32_t m_startBit;
    ///@}
};
