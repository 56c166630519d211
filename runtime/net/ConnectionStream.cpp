// The stream read path: one recv per call into the inbound buffer, then the
// frames that are complete are cut out and delivered in place.
//
// Frames: a 16-bit little-endian length L (0 to 65532) and L bytes; 0xFFFD, a
// 32-bit length and the bytes for longer messages; 0xFFFF a ping request and
// 0xFFFE a ping reply, each alone.
#include <cinttypes>
#include <cstring>
#include <new>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/Clock.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "../platform/SocketEvents.h"
#include "Connection.h"

namespace {

constexpr uint16_t kPingRequest = 0xFFFF;
constexpr uint16_t kPingReply = 0xFFFE;
constexpr uint16_t kLongForm = 0xFFFD;
constexpr unsigned char kPingReplyBytes[2] = {0xFE, 0xFF};
// While only the long-form marker has arrived, the frame is taken to be this
// long, so the buffer makes room for the header and more.
constexpr uint64_t kUnknownLongLength = 65536;

uint16_t readUint16(const char *p)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8));
}

uint32_t readUint32(const char *p)
{
    uint32_t value;
    std::memcpy(&value, p, sizeof value);  // the wire and this host are little-endian
    return value;
}

int64_t counterNow()
{
    int64_t now = 0;
    platform::QueryPerformanceCounter(&now);
    return now;
}

}  // namespace

void CConnection::HandleStreamReadEvent(int)
{
    if (m_state != Connected)
        return;
    CallScope scope(this);
    // Readings that are adjacent serve twice: the call's start is the recv's,
    // the recv's end opens the pass, and the pass's last reading ends the call.
    int64_t callStart = counterNow();
    int64_t readEnd = callStart;
    uint32_t freeSpace = static_cast<uint32_t>(m_inbound.size()) - m_inboundOffset - m_inboundCount;
    if (freeSpace > 0) {
        int received = platform::recv(m_socket, m_inbound.data() + m_inboundOffset + m_inboundCount,
                                      static_cast<int>(freeSpace), 0);
        readEnd = counterNow();
        addElapsedMs(m_readTime, callStart, readEnd);
        if (received >= 0)
            SHAREDLIB_LOG(LogSev_Detail, Log_Network, "Attempting to read up to %d and read %d",
                          static_cast<int>(freeSpace), received);
        if (received < 0) {
            int error = static_cast<int>(platform::WSAGetLastError());
            if (error != static_cast<int>(platform::WSAEWOULDBLOCK)) {
                SHAREDLIB_LOG(LogSev_Info, Log_Network, "Closing connection because of error %d attempting to read %d",
                              error, static_cast<int>(freeSpace));
                Cleanup();
                SetError(error, "recv", "CConnection::HandleStreamReadEvent", true);
                addElapsedMs(m_totalReadTime, callStart, counterNow());
                OnConnect(false);
                return;
            }
        } else if (received == 0) {
            SHAREDLIB_LOG(LogSev_Info, Log_Network, "Closing connection gracefully attempting to read %d",
                          static_cast<int>(freeSpace));
            Cleanup();
            addElapsedMs(m_totalReadTime, callStart, counterNow());
            OnConnect(false);
            return;
        } else {
            SHAREDLIB_LOG(LogSev_Detail, Log_Network, "Read %d bytes into buffer", received);
            m_inboundCount += static_cast<uint32_t>(received);
        }
    }
    int64_t passEnd = processInbound(readEnd);
    if (!scope.gone())
        addElapsedMs(m_totalReadTime, callStart, passEnd);
}

void CConnection::pollStream()
{
    if (platform::MayHaveInput(m_socket)) {
        HandleStreamReadEvent(0);
        return;
    }
    // The recv would only block, and the wait reports new input: what is
    // buffered is processed as after a would-block read.
    processInbound(m_inboundCount >= 2 ? counterNow() : 0);
}

void CConnection::DiscardInbound()
{
    m_inboundOffset = 0;
    m_inboundCount = 0;
}

void CConnection::ProcessInboundData()
{
    processInbound(counterNow());
}

int64_t CConnection::processInbound(int64_t start)
{
    CallScope scope(this);
    int64_t now = start;  // the latest counter reading of this pass
    uint32_t delivered = 0;
    bool frameSeen = false;
    bool cutShort = false;
    int64_t elapsed = 0;
    while (m_inboundCount >= 2) {
        const char *frame = m_inbound.data() + m_inboundOffset;
        uint16_t prefix = readUint16(frame);
        if (prefix == kPingRequest) {
            frameSeen = true;
            SHAREDLIB_LOG(LogSev_Info, Log_Network, "Received MSG_PingSend");
            m_outbound.append(kPingReplyBytes, sizeof kPingReplyBytes);
            m_inboundOffset += 2;
            m_inboundCount -= 2;
            continue;
        }
        if (prefix == kPingReply) {
            frameSeen = true;
            SHAREDLIB_LOG(LogSev_Info, Log_Network, "Received MSG_PingRecieved");
            uint64_t ticksPerMs = s_timerFreq != 0 ? s_timerFreq : 1;
            now = counterNow();
            m_lag = static_cast<uint32_t>(static_cast<uint64_t>(now - m_pingStart) / (2 * ticksPerMs));
            if (m_lag > s_absurdLag)
                SHAREDLIB_LOG(LogSev_Warning, Log_Network, "connection %s has a ginormous lag of %u",
                              GetIpAsString().c_str(), m_lag);
            if (m_lag > s_maxLag)
                m_lag = s_maxLag;
            m_inboundOffset += 2;
            m_inboundCount -= 2;
            m_pingStart = 0;
            continue;
        }
        uint32_t header = prefix == kLongForm ? 6 : 2;
        uint64_t length = prefix == kLongForm ? (m_inboundCount >= 6 ? readUint32(frame + 2) : kUnknownLongLength)
                                              : prefix;
        uint64_t frameSize = length + header;
        // A frame the handler refuses, or one no 32-bit size can describe,
        // drops everything buffered; the connection stays open.
        uint32_t askedSize = frameSize > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(frameSize);
        bool accepted = CheckMessageSize(askedSize);
        if (scope.gone())
            return now;
        if (!accepted || frameSize > UINT32_MAX) {
            DiscardInbound();
            break;
        }
        if (frameSize > m_inboundCount) {
            SHAREDLIB_LOG(LogSev_Info, Log_Network, "Want to process %d byte message, but only have %d bytes after size",
                          static_cast<int>(frameSize), static_cast<int>(m_inboundCount));
            if (frameSize > m_inbound.size()) {
                if (!ResizeInboundBuffer(static_cast<uint32_t>(frameSize)))
                    DiscardInbound();
            } else if (m_inboundOffset + frameSize > m_inbound.size()) {
                PackInboundBuffer();
            }
            break;
        }
        frameSeen = true;
        SHAREDLIB_LOG(LogSev_Detail, Log_Network, "Processing %d byte message", static_cast<int>(length));
        bool timed = deliver(frame + header, static_cast<uint32_t>(length), now);
        if (scope.gone())
            return now;
        // The handler may have closed the connection, which drops the input.
        if (m_inboundCount < frameSize)
            break;
        m_inboundOffset += static_cast<uint32_t>(frameSize);
        m_inboundCount -= static_cast<uint32_t>(frameSize);
        m_bytesReceived += static_cast<uint32_t>(frameSize);
        ++m_messagesReceived;
        ++delivered;
        // The default budget (the largest value) can never be exceeded: no
        // reading is needed for it.
        if (m_allowedProcessingTime != INT64_MAX) {
            if (!timed)
                now = counterNow();
            elapsed = now - start;
            if (elapsed > m_allowedProcessingTime) {
                cutShort = true;
                break;
            }
        }
    }
    if (!cutShort) {
        m_failedFrameCounter = 0;
    } else {
        SHAREDLIB_LOG(LogSev_Info, Log_Network,
                      "we've used %" PRId64 " which is more than our alotted time of %" PRId64
                      " while reading network frames",
                      elapsed, m_allowedProcessingTime);
        ++m_failedFrameCounter;
        if (m_failedFrameLogInterval != 0 && m_failedFrameCounter % m_failedFrameLogInterval == 0)
            SHAREDLIB_LOG(LogSev_Warning, Log_Network, "we've failed to finishing processing reads for the past %u frames",
                          m_failedFrameCounter);
    }
    if (delivered > m_maxReadEventsPerFrame)
        m_maxReadEventsPerFrame = delivered;
    if (m_inboundCount == 0) {
        m_inboundOffset = 0;
        if (frameSeen)
            SHAREDLIB_LOG(LogSev_Detail, Log_Network, "Ran out of information in buffer");
    } else if (m_inboundCount == 1) {
        PackInboundBuffer();
    }
    return now;
}

void CConnection::HandleMessage(const void *data, uint32_t size)
{
    int64_t ignored = 0;
    deliver(data, size, ignored);
}

bool CConnection::deliver(const void *data, uint32_t size, int64_t &now)
{
    // The handler's call alone is timed, into whole milliseconds.
    if (m_ignorePackets)
        return false;
    int64_t before = counterNow();
    if (m_handler != nullptr) {
        CallScope scope(this);
        m_handler->HandleMessage(this, data, size);
        if (scope.gone())
            return false;
    }
    now = counterNow();
    addElapsedMs(m_processTime, before, now);
    return true;
}

bool CConnection::CheckMessageSize(uint32_t size)
{
    return m_handler == nullptr || m_handler->CheckMessageSize(size);
}

void CConnection::PackInboundBuffer()
{
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "Packing inbound buffer");
    if (m_inboundOffset == 0)
        return;
    std::memmove(m_inbound.data(), m_inbound.data() + m_inboundOffset, m_inboundCount);
    SHAREDLIB_LOG(LogSev_Detail, Log_Network, "inbound data has too much data to handle, moving from %u bytes, processed %u",
                  m_inboundCount, m_inboundOffset);
    m_inboundOffset = 0;
}

bool CConnection::ResizeInboundBuffer(uint32_t size)
{
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "Resizing inbound buffer from %d to %d", static_cast<int>(m_inbound.size()),
                  static_cast<int>(size));
    if (size <= m_inbound.size())
        return true;
    PackInboundBuffer();
    try {
        m_inbound.resize(size, 0);
    } catch (std::bad_alloc const &) {
        return false;  // a frame larger than memory is dropped like a refused one
    }
    return true;
}
