#include <cinttypes>
#include <string>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "PackedData.h"

void DumpMemory(const void *data, int length)
{
    // Raw bytes are never written to the log.
    (void)data;
    (void)length;
}

void CPackedData::dump() const
{
    // The walk only produces lines: skip it when none would be written.
    if (LoggerFor(Log_Generic, LogSev_Info) == nullptr)
        return;
    SHAREDLIB_LOG(LogSev_Info, Log_Generic, "CPackedData - %d bytes avail; %d bytes used; GetFrom %d; PutTo %d",
                  static_cast<int>(m_capacity), static_cast<int>(m_size), static_cast<int>(m_getIndex),
                  static_cast<int>(m_putIndex));
    if (!m_debug) {
        // No types to go by.
        DumpMemory(m_data, static_cast<int>(m_size));
        return;
    }
    uint32_t saved = m_getIndex;
    m_getIndex = 1;
    // Every item consumes at least its tag byte, so the walk ends.
    while (m_getIndex < m_size)
        GetAndDisplayType(GetType());
    m_getIndex = saved;
}

void CPackedData::GetAndDisplayType(int tag) const
{
    switch (tag) {
    case TAG_BOOL: {
        bool value = GetBoolNoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (bool): %s", static_cast<int>(m_getIndex),
                      value ? "true" : "false");
        break;
    }
    case TAG_UINT8: {
        unsigned char value = GetUint8NoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (byte): %d", static_cast<int>(m_getIndex),
                      static_cast<int>(value));
        break;
    }
    case TAG_INT8: {
        char value = getValue<char>();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (char): %d (%c)", static_cast<int>(m_getIndex),
                      static_cast<int>(value), value);
        break;
    }
    case TAG_INT16: {
        short value = GetInt16NoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (word): %d", static_cast<int>(m_getIndex),
                      static_cast<int>(value));
        break;
    }
    case TAG_INT32: {
        int value = GetInt32NoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (long): %d", static_cast<int>(m_getIndex), value);
        break;
    }
    case TAG_INT64: {
        int64_t value = GetInt64NoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (int64): %" PRId64, static_cast<int>(m_getIndex), value);
        break;
    }
    case TAG_FLOAT: {
        float value = GetFloatNoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (float): %f", static_cast<int>(m_getIndex),
                      static_cast<double>(value));
        break;
    }
    case TAG_DATA: {
        // The length is unsigned here: a block can never run backwards.
        uint32_t length = GetUint32NoDebug();
        uint32_t start = m_getIndex;
        uint32_t remaining = start < m_size ? m_size - start : 0;
        if (length <= remaining) {
            SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (data): %d bytes", static_cast<int>(start),
                          static_cast<int>(length));
            DumpMemory(m_data + (start < m_size ? start : m_size), static_cast<int>(length));
            m_getIndex = start + length;
        } else {
            SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (data): %d too large. CPackedData is probably corrupt",
                          static_cast<int>(start), static_cast<int>(length));
        }
        break;
    }
    case TAG_STRING: {
        std::string value = GetStringNoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (string): %s", static_cast<int>(m_getIndex), value.c_str());
        break;
    }
    case TAG_MAGIC: {
        short value = GetInt16NoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (magic): %x (%x expected)", static_cast<int>(m_getIndex),
                      static_cast<unsigned int>(static_cast<int>(value)), static_cast<unsigned int>(MAGIC_VALUE));
        break;
    }
    case TAG_DOUBLE: {
        double value = GetDoubleNoDebug();
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (double): %f", static_cast<int>(m_getIndex), value);
        break;
    }
    default:
        SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%5d (Unknown: %d): CPackedData is probably corrupt",
                      static_cast<int>(m_getIndex), tag);
        break;
    }
}
