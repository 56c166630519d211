#include "BitField.h"

#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kWordBits = 32;

// Words needed for `size` bits: size / 32 rounded up, 0 for no bits.
int wordsFor(int size)
{
    if (size <= 0)
        return 0;
    return (size >> 5) + ((size & 31) != 0 ? 1 : 0);
}

// The bits of the last used word that lie below the bit count.
uint32_t lastWordMask(int bitCount)
{
    const int tail = bitCount & 31;
    return tail == 0 ? ~0u : (1u << tail) - 1u;
}

// Zeroed storage for `words` words, or null when it cannot be had.
uint32_t *allocateWords(int words)
{
    return static_cast<uint32_t *>(std::calloc(static_cast<size_t>(words), sizeof(uint32_t)));
}

// Clears bits [begin, end) of `bits`; begin < end.
void clearBitRange(uint32_t *bits, int begin, int end)
{
    const int firstWord = begin >> 5;
    const int lastWord = (end - 1) >> 5;
    const uint32_t headMask = ~0u << (begin & 31);
    const uint32_t tailMask = lastWordMask(end);
    if (firstWord == lastWord) {
        bits[firstWord] &= ~(headMask & tailMask);
        return;
    }
    bits[firstWord] &= ~headMask;
    if (lastWord - firstWord > 1)
        std::memset(bits + firstWord + 1, 0, static_cast<size_t>(lastWord - firstWord - 1) * sizeof(uint32_t));
    bits[lastWord] &= ~tailMask;
}

}  // namespace

BitField::BitField(int size) : m_bits(nullptr), m_bitCount(0), m_wordCount(0), m_startBit(0)
{
    if (size != 0)
        Init(size);
}

BitField::BitField(const BitField &other)
    : m_bits(nullptr), m_bitCount(0), m_wordCount(0), m_startBit(other.m_startBit)
{
    if (other.m_bitCount == 0 || other.m_bits == nullptr)
        return;
    m_bits = allocateWords(other.m_wordCount);
    if (m_bits == nullptr)
        return;
    std::memcpy(m_bits, other.m_bits, static_cast<size_t>(other.m_wordCount) * sizeof(uint32_t));
    m_bitCount = other.m_bitCount;
    m_wordCount = other.m_wordCount;
}

void BitField::operator=(const BitField &other)
{
    if (this == &other)
        return;
    uint32_t *copy = nullptr;
    if (other.m_bitCount != 0 && other.m_bits != nullptr) {
        copy = allocateWords(other.m_wordCount);
        if (copy == nullptr)
            return;  // keep what we have rather than end up half assigned
        std::memcpy(copy, other.m_bits, static_cast<size_t>(other.m_wordCount) * sizeof(uint32_t));
    }
    Dispose();
    if (copy != nullptr) {
        m_bits = copy;
        m_bitCount = other.m_bitCount;
        m_wordCount = other.m_wordCount;
    }
}

BitField::~BitField()
{
    Dispose();
}

void BitField::Init(int size)
{
    Dispose();
    m_startBit = 0;
    if (size <= 0)
        return;
    const int words = wordsFor(size);
    m_bits = allocateWords(words);
    if (m_bits == nullptr)
        return;
    m_wordCount = words;
    m_bitCount = size;
}

void BitField::Dispose()
{
    if (m_bits == nullptr)
        return;
    std::free(m_bits);
    m_bits = nullptr;
    m_bitCount = 0;
    m_wordCount = 0;
}

void BitField::Resize(int size)
{
    if (m_bitCount == 0) {
        Init(size);
        return;
    }
    if (m_bitCount > size) {
        if (size > 0)
            m_bitCount = size;  // the storage stays; the bits above are out of range
        else
            Dispose();
        return;
    }
    if (m_bitCount == size)
        return;

    const int words = wordsFor(size);
    if (words <= m_wordCount) {
        // Bits left over from before a shrink must not come back.
        clearBitRange(m_bits, m_bitCount, size);
        m_bitCount = size;
        return;
    }

    uint32_t *grown = allocateWords(words);
    if (grown == nullptr)
        return;
    const int usedWords = wordsFor(m_bitCount);
    m_bits[usedWords - 1] &= lastWordMask(m_bitCount);
    std::memcpy(grown, m_bits, static_cast<size_t>(usedWords) * sizeof(uint32_t));
    std::free(m_bits);
    m_bits = grown;
    m_wordCount = words;
    m_bitCount = size;
}

void BitField::Clear()
{
    if (m_bits != nullptr)
        std::memset(m_bits, 0, static_cast<size_t>(m_wordCount) * sizeof(uint32_t));
}

void BitField::SetAll()
{
    if (m_bits != nullptr)
        std::memset(m_bits, 0xFF, static_cast<size_t>(m_wordCount) * sizeof(uint32_t));
}

bool BitField::Set(int index, bool value, bool grow)
{
    if (index < 0)
        return false;
    if (index >= m_bitCount) {
        // INT_MAX + 1 bits cannot be counted.
        if (!grow || index == INT_MAX)
            return false;
        Resize(index + 1);
        if (index >= m_bitCount)
            return false;
    }
    uint32_t &word = m_bits[index >> 5];
    const uint32_t mask = 1u << (index & 31);
    const bool previous = (word & mask) != 0;
    if (value)
        word |= mask;
    else
        word &= ~mask;
    return previous;
}

bool BitField::Get(int index, bool) const
{
    if (index < 0 || index >= m_bitCount)
        return false;
    return (m_bits[index >> 5] >> (index & 31)) & 1u;
}

int BitField::GetCountOfBits(bool value) const
{
    const int usedWords = wordsFor(m_bitCount);
    int setBits = 0;
    for (int w = 0; w + 1 < usedWords; ++w)
        setBits += std::popcount(m_bits[w]);
    if (usedWords > 0)
        setBits += std::popcount(m_bits[usedWords - 1] & lastWordMask(m_bitCount));
    return value ? setBits : m_bitCount - setBits;
}

int BitField::GetIndexOfNthBitSet(int n) const
{
    if (n < 0)
        return -1;
    const int usedWords = wordsFor(m_bitCount);
    for (int w = 0; w < usedWords; ++w) {
        uint32_t word = m_bits[w];
        if (w == usedWords - 1)
            word &= lastWordMask(m_bitCount);
        const int inWord = std::popcount(word);
        if (n < inWord) {
            for (; n > 0; --n)
                word &= word - 1;  // drop the lowest set bit
            return w * kWordBits + std::countr_zero(word);
        }
        n -= inWord;
    }
    return -1;
}

int BitField::FindSetBit(int from, int to) const
{
    if (from < 0)
        return -1;
    const int end = (to == -1 || to > m_bitCount) ? m_bitCount : to;
    if (from >= end)
        return -1;

    int w = from >> 5;
    const int lastWord = (end - 1) >> 5;
    uint32_t word = m_bits[w] & (~0u << (from & 31));
    for (;;) {
        if (word != 0) {
            const int index = w * kWordBits + std::countr_zero(word);
            return index < end ? index : -1;
        }
        if (++w > lastWord)
            return -1;
        word = m_bits[w];
    }
}

int BitField::FindSetBitAfterStartBit()
{
    int found = FindSetBit(m_startBit, m_bitCount);
    if (found == -1)
        found = FindSetBit(0, m_startBit);
    m_startBit = (found + 1 < m_bitCount) ? found + 1 : 0;
    return found;
}
