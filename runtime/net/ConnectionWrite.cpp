// The outbound path: messages are framed into the queue and the queue is
// written as the socket takes it, within the time budget, reporting a
// blocked peer and an oversized queue to the handler.
#include <cinttypes>
#include <cstring>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/Clock.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "../serialize/PackedData.h"
#include "../util/Clock.h"
#include "Connection.h"

namespace {

constexpr uint32_t kLongFormThreshold = 65533;  // lengths from here on use the 0xFFFD form
constexpr int kLargeWrite = 5000;

}  // namespace

void CConnection::SendMsg(uint32_t size, const char *data)
{
    if (m_ignorePackets) {
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "%s to %s:%d: Refusing message because of IgnorePackets().",
                      GetHandlerName(), GetIpAsString().c_str(), m_remotePort);
        return;
    }
    uint32_t started = platform::GetTickCount();
    SHAREDLIB_LOG(LogSev_Detail, Log_Network, "Queuing %d bytes for %s", static_cast<int>(size),
                  m_state == Connected ? "TCP" : "UDP");
    if (m_state == Connected) {
        // The prefix and the bytes are written straight into the queue's tail.
        unsigned char prefix[6] = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8)};
        int prefixLength = 2;
        if (size >= kLongFormThreshold) {
            prefix[0] = 0xFD;
            prefix[1] = 0xFF;
            prefix[2] = static_cast<unsigned char>(size);
            prefix[3] = static_cast<unsigned char>(size >> 8);
            prefix[4] = static_cast<unsigned char>(size >> 16);
            prefix[5] = static_cast<unsigned char>(size >> 24);
            prefixLength = 6;
        }
        queueWhole(prefix, prefixLength, data, size, started);
        return;
    }
    if (m_state == Datagram) {
        // A datagram length field has 16 bits: a longer message is refused
        // rather than cut short.
        if (size >= 65536)
            SHAREDLIB_LOG(LogSev_Assert, Log_Network, "Tried to send too much data, ignoring: %d bytes",
                          static_cast<int>(size));
        else
            SendMsg(static_cast<unsigned short>(size), data, m_remoteAddress, m_remotePort);
    }
    m_writeTime += platform::GetTickCount() - started;
}

void CConnection::SendMsg(const CPackedData &message)
{
    SendMsg(static_cast<uint32_t>(message.size()), message.readData());
}

void CConnection::FillBufferDangerous(uint32_t size, const char *data)
{
    uint32_t started = platform::GetTickCount();
    if (m_state == Connected) {
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "Queuing %d bytes dangerously", static_cast<int>(size));
        queueWhole(nullptr, 0, data, size, started);
        return;
    }
    m_writeTime += platform::GetTickCount() - started;
}

void CConnection::queueWhole(const void *prefix, int prefixLength, const char *data, uint32_t size, uint32_t started)
{
    // A message goes into the queue whole or not at all: a frame cut short
    // would break the peer's framing for the rest of the stream.
    bool queued = size <= static_cast<uint32_t>(INT32_MAX) &&
                  m_outbound.appendWhole(prefix, prefixLength, data, static_cast<int>(size));
    if (queued) {
        m_bytesSent += static_cast<uint32_t>(prefixLength) + size;
        ++m_messagesSent;
    }
    m_writeTime += platform::GetTickCount() - started;
    if (queued)
        return;
    int held = m_outbound.getByteCount();
    SHAREDLIB_LOG(LogSev_Error, Log_Network, "%s to %s:%d: Unable to queue a message of %u bytes. Buffer size %d",
                  GetHandlerName(), GetIpAsString().c_str(), m_remotePort, size, held);
    if (m_handler != nullptr)
        m_handler->OnError(this, Error_ConnectWriteQueueLimit, held);
}

void CConnection::HandleWriteEvent(int)
{
    // Nothing queued: no clock reading either; nor with the default budget
    // (the largest value), which no write can exceed.
    if (m_outbound.isEmpty() || m_socket == platform::INVALID_SOCKET)
        return;
    bool budgeted = m_allowedProcessingTime != INT64_MAX;
    int64_t start = 0;
    if (budgeted)
        platform::QueryPerformanceCounter(&start);
    for (;;) {
        int queued = m_outbound.getByteCount();
        if (queued > s_outboundSizeLimit) {
            SHAREDLIB_LOG(LogSev_Warning, Log_Network, "%s to %s:%d: Size limit %d exceeded on %s. Buffer size %d",
                          GetHandlerName(), GetIpAsString().c_str(), m_remotePort, s_outboundSizeLimit,
                          GetHandlerName(), queued);
            if (m_handler != nullptr)
                m_handler->OnError(this, Error_ConnectWriteQueueLimit, queued);
            return;
        }
        const char *data = nullptr;
        int length = 0;
        m_outbound.getFirstBundle(&data, &length);
        if (length > kLargeWrite)
            SHAREDLIB_LOG(LogSev_Info, Log_Network, "%s to %s:%d: Attempting write of %d bytes", GetHandlerName(),
                          GetIpAsString().c_str(), m_remotePort, length);
        int sent = platform::send(m_socket, data, length, 0);
        if (sent < 0) {
            int error = static_cast<int>(platform::WSAGetLastError());
            if (error == static_cast<int>(platform::WSAEWOULDBLOCK)) {
                int64_t now = GetSecondsSinceEpoch();
                if (m_blockedSince == 0) {
                    m_blockedSince = now;
                    m_blockedBufferSize = queued;
                    SHAREDLIB_LOG(LogSev_Info, Log_Network,
                                  "%s to %s:%d: Write blocked. Start timeout %d seconds. buffer size %d.",
                                  GetHandlerName(), GetIpAsString().c_str(), m_remotePort, s_outboundTimeout,
                                  m_blockedBufferSize);
                    return;
                }
                int waited = static_cast<int>(now - m_blockedSince);
                if (waited < s_outboundTimeout)
                    return;
                SHAREDLIB_LOG(LogSev_Warning, Log_Network,
                              "%s to %s:%d: Timeout. Blocked writing. Waited %d seconds. Wrote %" PRId64
                              " bytes in that time.",
                              GetHandlerName(), GetIpAsString().c_str(), m_remotePort, waited, int64_t{0});
                m_blockedSince = 0;
                if (m_handler != nullptr)
                    m_handler->OnError(this, Error_ConnectWriteTimeout, waited);
                return;
            }
            SHAREDLIB_LOG(LogSev_Warning, Log_Network, "%s to %s:%d: Got a socket error %d on writing %d bytes",
                          GetHandlerName(), GetIpAsString().c_str(), m_remotePort, error, length);
            Cleanup();
            SetError(error, "send", "CConnection::HandleWriteEvent", true);
            OnConnect(false);
            return;
        }
        SHAREDLIB_LOG(LogSev_Detail, Log_Network, "%s to %s:%d: Sent %d of %d bytes", GetHandlerName(),
                      GetIpAsString().c_str(), m_remotePort, sent, length);
        m_outbound.clearBytes(sent);
        if (m_blockedSince != 0 && sent > 0) {
            m_blockedSince = 0;
            m_blockedBufferSize = 0;
            SHAREDLIB_LOG(LogSev_Info, Log_Network, "End write-blocked timeout on %s to %s:%d. Buffer size %d.",
                          GetHandlerName(), GetIpAsString().c_str(), m_remotePort, m_outbound.getByteCount());
        }
        int64_t now = 0;
        if (budgeted)
            platform::QueryPerformanceCounter(&now);
        if (budgeted && now - start > m_allowedProcessingTime) {
            SHAREDLIB_LOG(LogSev_Info, Log_Network,
                          "we've used %" PRId64 " which is more than our alotted time of %" PRId64
                          " while writing network frames",
                          now - start, m_allowedProcessingTime);
            return;
        }
        if (m_outbound.isEmpty())
            return;
    }
}
