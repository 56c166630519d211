#include "Buffer.h"

#include <cstdlib>
#include <cstring>

namespace {

// A 32-bit process has at most 2 GiB of address space for its own data: a
// block of that size or more can never be allocated there (it is what a
// negative count turns into as an unsigned size), and is refused here too.
constexpr uint32_t kLargestBlock = 0x7FFFFFFFu;

}  // namespace

Buffer::Buffer(unsigned int size) : m_data(nullptr), m_capacity(0), m_owner(1)
{
    if (size > 0 && size <= kLargestBlock) {
        m_data = static_cast<char *>(std::malloc(size));
        if (m_data != nullptr)
            m_capacity = size;
    }
}

Buffer::Buffer(const void *data, unsigned int size)
    : m_data(static_cast<char *>(const_cast<void *>(data))), m_capacity(data != nullptr ? size : 0), m_owner(0)
{
}

Buffer::Buffer(const Buffer &other) : Buffer(other.m_capacity)
{
    if (m_capacity > 0)
        std::memcpy(m_data, other.m_data, m_capacity);
}

Buffer &Buffer::operator=(const Buffer &other)
{
    if (this != &other && checkSize(other.m_capacity) && other.m_capacity > 0)
        std::memmove(m_data, other.m_data, other.m_capacity);
    return *this;
}

Buffer::~Buffer()
{
    if (m_owner != 0)
        std::free(m_data);
    m_data = nullptr;
    m_capacity = 0;
}

bool Buffer::grow(uint32_t size)
{
    if (m_owner == 0 || size > kLargestBlock)
        return false;
    // realloc keeps the whole old capacity, exactly as a fresh block plus a copy.
    char *bigger = static_cast<char *>(std::realloc(m_data, size));
    if (bigger == nullptr)
        return false;
    m_data = bigger;
    m_capacity = size;
    return true;
}
