#include "PackedData.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "../enums/Log.h"
#include "../log/LogStatement.h"

std::atomic<int32_t> CPackedData::s_packetCount{0};

CPackedData::CPackedData(int size)
    : Buffer(static_cast<unsigned int>(std::max(size, 0))), m_putIndex(0), m_getIndex(0), m_size(0), m_debug(false),
      m_useMD5(false), m_readError(false)
{
    s_packetCount.fetch_add(1, std::memory_order_relaxed);
}

CPackedData::CPackedData(const void *data, int size)
    : Buffer(data, static_cast<unsigned int>(std::max(size, 0))), m_putIndex(0), m_getIndex(0), m_size(m_capacity),
      m_debug(false), m_useMD5(false), m_readError(false)
{
    s_packetCount.fetch_add(1, std::memory_order_relaxed);
}

CPackedData::CPackedData(const CPackedData &other)
    : Buffer(static_cast<unsigned int>(other.m_size)), m_putIndex(0), m_getIndex(0), m_size(0), m_debug(false),
      m_useMD5(false), m_readError(false)
{
    s_packetCount.fetch_add(1, std::memory_order_relaxed);
    copy(other);
}

CPackedData &CPackedData::operator=(const CPackedData &other)
{
    if (this != &other)
        copy(other);
    return *this;
}

CPackedData::~CPackedData()
{
    s_packetCount.fetch_sub(1, std::memory_order_relaxed);
}

void CPackedData::copy(const CPackedData &other)
{
    uint32_t length = other.m_size;
    if (!checkSize(length)) {
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to expand packed data to %d bytes in copy",
                      static_cast<int>(length));
        return;
    }
    empty();
    // The source may be this packet, or a view of the same bytes.
    if (length > 0 && m_data != other.m_data)
        std::memmove(m_data, other.m_data, length);
    m_size = length;
}

bool CPackedData::growFixed(uint32_t width)
{
    // One step of 1024 bytes. A put index so far out that the step would not
    // reach it gets no room at all, and the storage stays as it is.
    uint64_t wanted = static_cast<uint64_t>(m_capacity) + GROWTH_STEP;
    if (static_cast<uint64_t>(m_putIndex) + width > wanted || wanted > std::numeric_limits<uint32_t>::max() ||
        !checkSize(static_cast<uint32_t>(wanted)))
        return false;
    return true;
}

bool CPackedData::growBlock(uint32_t n)
{
    uint64_t wanted = static_cast<uint64_t>(m_capacity) + (n <= GROWTH_STEP ? GROWTH_STEP : n);
    if (static_cast<uint64_t>(m_putIndex) + n > wanted || wanted > std::numeric_limits<uint32_t>::max() ||
        !checkSize(static_cast<uint32_t>(wanted)))
        return false;
    return true;
}

void CPackedData::putSizeAtOffset(uint32_t offset)
{
    if (m_owner == 0) {
        logReadWriteMismatch();
        return;
    }
    uint32_t put = m_putIndex;
    uint32_t size = m_size;
    uint32_t tagWidth = m_debug ? 1 : 0;
    setPutIndex(offset);
    PutUint32(put - offset - 4 - tagWidth);
    if (m_putIndex == offset) {
        // No room could be made at that offset: nothing was written.
        setPutIndex(put);
        m_size = size;
        return;
    }
    m_putIndex = std::max(put, m_putIndex);
    m_size = std::max(size, m_size);
}

void CPackedData::GetData(CPackedData &destination, int n)
{
    // As on the 32-bit target, a negative count is an enormous unsigned size
    // that no destination can take.
    uint32_t length = static_cast<uint32_t>(n);
    if (!destination.checkSize(length)) {
        SHAREDLIB_LOG(LogSev_Assert, Log_Generic, "CPackedData::GetData: Capacity too small");
        return;
    }
    beginGet(TAG_DATA);
    if (m_debug)
        m_getIndex += 4;
    if (length > 0 && hasBytes(length)) {
        // The destination may be this packet.
        std::memmove(destination.m_data, m_data + m_getIndex, length);
        m_getIndex += length;
    }
    destination.m_size = length;
}

void CPackedData::malformedHeader() const
{
    SHAREDLIB_LOG(LogSev_Error, Log_Generic, "Malformed header in packet");
    if (firstReadError())
        dump();
}

void CPackedData::logReadError(int got, int expected) const
{
    SHAREDLIB_LOG(LogSev_Error, Log_Generic, "Parse error reading packet at GetIndex=%d (Expected %x, got %x)",
                  static_cast<int>(m_getIndex), static_cast<unsigned int>(expected), static_cast<unsigned int>(got));
    if (firstReadError())
        dump();
}

void CPackedData::logMagicMismatch() const
{
    SHAREDLIB_LOG(LogSev_Error, Log_Generic, "Magic error reading packet at GetIndex=%d", static_cast<int>(m_getIndex));
    if (firstReadError())
        dump();
}

void CPackedData::logReadWriteMismatch() const
{
    SHAREDLIB_LOG(LogSev_Assert, Log_Network, "Attempt to write to read-only packet packet at PutIndex=%d",
                  static_cast<int>(m_putIndex));
}

void CPackedData::putDataSlow(const void *bytes, int n)
{
    if (beginPut(TAG_DATA)) {
        if (m_debug)
            putValue(static_cast<int32_t>(n));
        PutDataNoDebug(bytes, n);
    }
    refreshPutLimit();
}

void CPackedData::putTextSlow(const char *text, int16_t length)
{
    if (beginPut(TAG_STRING)) {
        testPutGrowth(length + 2);
        putValue(length);
        if (text != nullptr && length > 0)
            putBytes(text, static_cast<uint32_t>(length));
    }
    refreshPutLimit();
}
