#include <cstring>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "Md5.h"
#include "PackedData.h"

namespace {

void digestOf(const char *bytes, uint32_t length, uint8_t digest[16])
{
    md5_state_s state;
    md5_init(&state);
    md5_append(&state, reinterpret_cast<const uint8_t *>(bytes), static_cast<int32_t>(length));
    md5_finish(&state, digest);
}

}  // namespace

bool CPackedData::GenerateMD5Checksum()
{
    if (!m_useMD5) {
        SHAREDLIB_LOG(LogSev_Assert, Log_Generic, "Called GenerateMD5Checksum() when hasMD5Checksum() = false");
        return false;
    }
    // A view is never written, the checksum no more than a value.
    if (m_owner == 0) {
        logReadWriteMismatch();
        return false;
    }
    uint8_t digest[MD5_DIGEST_SIZE];
    digestOf(m_data, m_size, digest);
    if (!reserveBlock(MD5_DIGEST_SIZE))
        return false;
    std::memcpy(m_data + m_putIndex, digest, MD5_DIGEST_SIZE);
    m_putIndex += MD5_DIGEST_SIZE;
    return true;
}

bool CPackedData::ValidateMD5Checksum() const
{
    if (!m_useMD5) {
        SHAREDLIB_LOG(LogSev_Assert, Log_Generic, "Called ValidateMD5Checksum() when hasMD5Checksum() = false");
        return false;
    }
    int64_t covered = static_cast<int64_t>(m_size) - MD5_DIGEST_SIZE;
    if (covered < 1) {
        SHAREDLIB_LOG(LogSev_Assert, Log_Generic,
                      "Called ValidateMD5Checksum() packet is too small (%d bytes) to contain a checksum",
                      static_cast<int>(m_size));
        return false;
    }
    uint8_t digest[MD5_DIGEST_SIZE];
    digestOf(m_data, static_cast<uint32_t>(covered), digest);
    return std::memcmp(digest, m_data + covered, MD5_DIGEST_SIZE) == 0;
}

bool CPackedData::GetPacketChecksum(const void *packet, int length, char checksum[16])
{
    std::memset(checksum, 0, MD5_DIGEST_SIZE);
    if (packet == nullptr || length == 0) {
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "GetPacketChecksum() - Empty packet");
        return false;
    }
    CPackedData view(packet, length);
    if (length < 0) {
        // On the 32-bit target a negative length is an enormous unsigned size:
        // the header byte is read, and the size test below then fails. Only
        // the header is ever read through the view.
        view.m_capacity = static_cast<uint32_t>(length);
        view.m_size = static_cast<uint32_t>(length);
    }
    view.ReadHeader();
    if (!view.hasMD5Checksum()) {
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "GetPacketChecksum() - Packet has no checksum");
        return false;
    }
    if (length - MD5_DIGEST_SIZE > 0) {
        std::memcpy(checksum, static_cast<const char *>(packet) + (length - MD5_DIGEST_SIZE), MD5_DIGEST_SIZE);
        return true;
    }
    SHAREDLIB_LOG(LogSev_Assert, Log_Network,
                  "GetPacketChecksum() - packet is too small (%d bytes) to contain a checksum", length);
    return false;
}
