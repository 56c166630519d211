#include "FifoBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

CFifoBuffer::CFifoBuffer()
    : m_first(nullptr), m_last(nullptr), m_readOffset(0), m_bundleSize(0), m_byteCount(0), m_bundleCount(0)
{
}

CFifoBuffer::~CFifoBuffer()
{
    clear();
}

void CFifoBuffer::append(void const *data, int len)
{
    if (len <= 0 || data == nullptr || len > INT32_MAX - m_byteCount)
        return;

    if (m_first == nullptr) {
        if (appendBundle(nullptr) == nullptr)
            return;
        m_last = nullptr;
        m_readOffset = 0;
    }

    char const *source = static_cast<char const *>(data);
    int remaining = len;
    BufferBundle *current = m_last != nullptr ? m_last : m_first;
    while (remaining > 0) {
        int end = current->count + (current == m_first ? m_readOffset : 0);
        int room = current->size - end;
        if (room <= 0) {
            BufferBundle *fresh = appendBundle(current);
            if (fresh == nullptr)
                break;
            m_last = fresh;
            current = fresh;
            continue;
        }
        int step = std::min(remaining, room);
        std::memcpy(current->data() + end, source, static_cast<size_t>(step));
        current->count += step;
        m_byteCount += step;
        source += step;
        remaining -= step;
    }
}

bool CFifoBuffer::appendWholeSlow(void const *head, int headLen, void const *body, int bodyLen)
{
    if (headLen < 0 || bodyLen < 0 || static_cast<int64_t>(headLen) + bodyLen > INT32_MAX - m_byteCount)
        return false;
    int const before = m_byteCount;
    if (headLen > 0)
        append(head, headLen);
    if (bodyLen > 0)
        append(body, bodyLen);
    if (m_byteCount - before == headLen + bodyLen)
        return true;
    dropTail(m_byteCount - before);
    return false;
}

void CFifoBuffer::dropTail(int n)
{
    if (n <= 0 || m_first == nullptr)
        return;
    int const keep = m_byteCount - std::min(n, m_byteCount);
    if (keep == 0) {
        clear();
        return;
    }
    // The bundle that holds the last kept byte ends the chain.
    BufferBundle *end = m_first;
    int before = 0;
    while (before + end->count < keep) {
        before += end->count;
        end = end->next;
    }
    end->count = keep - before;
    BufferBundle *rest = end->next;
    end->next = nullptr;
    while (rest != nullptr) {
        BufferBundle *next = rest->next;
        CBundleManager::getInstance()->returnBundle(rest);
        --m_bundleCount;
        rest = next;
    }
    m_last = end == m_first ? nullptr : end;
    m_byteCount = keep;
}

void CFifoBuffer::getFirstBundle(char const **data, int *len) const
{
    char const *first = nullptr;
    int count = 0;
    if (m_first != nullptr) {
        first = m_first->data() + m_readOffset;
        count = m_first->count;
    }
    if (data != nullptr)
        *data = first;
    if (len != nullptr)
        *len = count;
}

void CFifoBuffer::clearBytes(int n)
{
    if (n <= 0 || m_first == nullptr)
        return;
    n = std::min(n, m_byteCount);

    if (m_first->count > n) {
        m_first->count -= n;
        m_readOffset += n;
    } else {
        int rest = n;
        while (m_first != nullptr) {
            if (m_first->count > rest) {
                m_first->count -= rest;
                m_readOffset = rest;
                break;
            }
            rest -= m_first->count;
            recycleFirstBundle();
        }
        if (m_first == nullptr) {
            m_readOffset = 0;
            m_last = nullptr;
        } else if (m_first->next == nullptr) {
            m_last = nullptr;
        }
    }
    m_byteCount -= n;
}

void CFifoBuffer::clear()
{
    while (m_first != nullptr)
        recycleFirstBundle();
    m_last = nullptr;
    m_readOffset = 0;
    m_byteCount = 0;
}

int CFifoBuffer::getBundleCount() const
{
    int count = 0;
    for (BufferBundle const *bundle = m_first; bundle != nullptr; bundle = bundle->next)
        ++count;
    return count;
}

BufferBundle *CFifoBuffer::appendBundle(BufferBundle *after)
{
    if (m_bundleSize <= 0)
        return nullptr;
    BufferBundle *bundle = CBundleManager::getInstance()->getBundle(m_bundleSize);
    if (bundle == nullptr)
        return nullptr;
    if (after == nullptr)
        m_first = bundle;
    else
        after->next = bundle;
    ++m_bundleCount;
    return bundle;
}

void CFifoBuffer::recycleFirstBundle()
{
    BufferBundle *bundle = m_first;
    if (bundle == nullptr)
        return;
    m_first = bundle->next;
    CBundleManager::getInstance()->returnBundle(bundle);
    --m_bundleCount;
}
