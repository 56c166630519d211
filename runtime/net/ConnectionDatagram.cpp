// The datagram path of a connection: a bound UDP socket that serves many
// peers. Small messages share datagrams; sending is immediate, receiving
// reads a bounded number of datagrams per call.
//
// A datagram is a run of messages, each a 16-bit little-endian length L and
// L bytes, nothing else. A sender writes only 16-bit lengths; a receiver also
// takes 0xFFFD followed by a 32-bit length, which only passes the size check
// when the maximum datagram size is above 65533.
#include <cstring>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/Clock.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "../serialize/PackedData.h"
#include "../util/Clock.h"
#include "Connection.h"
#include "SocketHelpers.h"

namespace {

constexpr int32_t kDatagramEvents = platform::FD_READ | platform::FD_WRITE;
constexpr uint16_t kLongForm = 0xFFFD;
// One call reads at most this many datagrams and delivers at most the first
// kMaxDelivered of them; the rest are read and thrown away, so a flood can
// neither stall the frame nor pile up in the socket.
constexpr int kMaxReads = 200;
constexpr int kMaxDelivered = 50;
// Largest message a datagram can carry: its length field is 16 bits.
constexpr uint32_t kLargestMessage = 65535;

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

// Sizes in the drop line are 32-bit, as on the original target.
uint32_t clampedSize(size_t size) { return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size); }

void logOversized(size_t datagramSize)
{
    // The text prints the number followed by the letter d.
    SHAREDLIB_LOG(LogSev_Warning, Log_Network, "Tried to send a UDP packet that was %u" "d bytes. Dropped.",
                  clampedSize(datagramSize));
}

}  // namespace

void CConnection::InitDatagramListen(uint16_t port, uint32_t tries)
{
    // tries 0 is a single attempt; the port wraps like the 16-bit value it is.
    uint64_t attempts = static_cast<uint64_t>(tries) + 1;
    for (uint64_t attempt = 0; attempt < attempts; ++attempt) {
        InitDatagramListen(static_cast<uint16_t>(port + attempt));
        if (m_state == Datagram)
            return;
    }
}

void CConnection::InitDatagramListen(uint16_t port)
{
    static const char *const where = "CConnection::InitDatagramListen";
    // A busy port is common (the caller may try the next one): info only.
    platform::SOCKET s = openBoundSocket(platform::SOCK_DGRAM_, port, where, true);
    if (s == platform::INVALID_SOCKET)
        return;
    uint16_t localPort = port;
    if (port == 0 && platform::GetSocketName(s, nullptr, &localPort) != 0) {
        int error = static_cast<int>(platform::WSAGetLastError());
        platform::closesocket(s);
        SetError(error, "getsockname", where, true);
        return;
    }
    m_localPort = localPort;

    // An event left over from an earlier use is replaced.
    if (m_event != nullptr)
        platform::WSACloseEvent(m_event);
    m_event = platform::WSACreateEvent();
    int selected = platform::WSAEventSelect(s, m_event, kDatagramEvents);
    if (selected != 0)
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to create connection event: %d", selected);
    if (m_socket != platform::INVALID_SOCKET) {
        SHAREDLIB_LOG(LogSev_Error, Log_Connections,
                      "%s to %s:%d: Overwriting open socket %d in state %d with listening dgram socket",
                      GetHandlerName(), GetIpAsString().c_str(), m_remotePort, static_cast<int>(m_socket),
                      static_cast<int>(m_state));
        // The old socket's event is gone; the socket itself would only leak.
        platform::closesocket(m_socket);
    }
    SHAREDLIB_LOG(LogSev_Info, Log_Connections, "%s to %s:%d: Setting socket to %d in CConnection::InitDatagramListen",
                  GetHandlerName(), GetIpAsString().c_str(), m_remotePort, static_cast<int>(s));
    m_socket = s;
    m_state = Datagram;
    m_connectTime = GetSecondsSinceEpoch();
}

void CConnection::initUDPPacketBuffer()
{
    if (m_udpPacket == nullptr)
        m_udpPacket = new CCharVector;
    m_udpPacket->clear();
    // Allocated once; later datagrams reuse the room.
    m_udpPacket->reserve(s_maxUDPPacketSize);
}

bool CConnection::AddDataToDgramPacket(unsigned short size, const char *data)
{
    if (m_udpPacket == nullptr)
        initUDPPacketBuffer();
    if (m_udpPacket->size() + size + 2 > s_maxUDPPacketSize || (data == nullptr && size > 0))
        return false;
    const char prefix[2] = {static_cast<char>(size & 0xFF), static_cast<char>(size >> 8)};
    m_udpPacket->insert(m_udpPacket->end(), prefix, prefix + 2);
    if (size > 0)
        m_udpPacket->insert(m_udpPacket->end(), data, data + size);
    return true;
}

void CConnection::SendMsg(unsigned short size, const char *data, uint32_t ip, uint16_t port)
{
    initUDPPacketBuffer();
    if (!AddDataToDgramPacket(size, data)) {
        logOversized(static_cast<size_t>(size) + 2);
        return;
    }
    SendDgramMessageRaw(m_udpPacket, ip, port);
    ++m_messagesSent;
}

void CConnection::SendMsg(const CPackedData &message, uint32_t ip, uint16_t port)
{
    size_t size = message.size();
    if (size > kLargestMessage) {
        SHAREDLIB_LOG(LogSev_Assert, Log_Network, "Tried to send too much data, ignoring: %d bytes",
                      static_cast<int>(size));
        return;
    }
    SendMsg(static_cast<unsigned short>(size), message.readData(), ip, port);
}

bool CConnection::SendMultiMsg(CCharVectorList *messages, uint32_t ip, uint16_t port)
{
    if (messages == nullptr || messages->empty())
        return false;
    if (m_udpPacket == nullptr)
        initUDPPacketBuffer();
    // The messages are laid out as AddDataToDgramPacket would append them,
    // written straight over the whole room (only bytes never used before
    // are zeroed first); the datagram is cut to its length before sending.
    CCharVector &packet = *m_udpPacket;
    const size_t room = s_maxUDPPacketSize;
    packet.resize(room);
    char *out = packet.data();
    size_t used = 0;
    bool remaining = false;
    auto stop = messages->begin();
    for (; stop != messages->end(); ++stop) {
        size_t length = stop->size();
        if (length + 2 > room) {
            // Never fits any datagram: passed over, and removed with the sent ones.
            logOversized(length + 2);
            continue;
        }
        if (used + length + 2 > room) {
            remaining = true;
            break;
        }
        out[used] = static_cast<char>(length & 0xFF);
        out[used + 1] = static_cast<char>(length >> 8);
        if (length > 0)
            std::memcpy(out + used + 2, stop->data(), length);
        used += length + 2;
    }
    packet.resize(used);
    // Sent even when empty, every message having been passed over.
    SendDgramMessageRaw(&packet, ip, port);
    messages->erase(messages->begin(), stop);
    return remaining;
}

void CConnection::SendDgramMessageRaw(CCharVector *packet, uint32_t ip, uint16_t port)
{
    if (packet == nullptr)
        return;
    int length = static_cast<int>(packet->size());
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "Sending %d bytes over UDP", length);
    int sent;
    if (m_state == Connecting || m_state == Connected) {
        // A stream socket would take the bytes into its stream, ignoring the
        // address, and break the framing there.
        platform::WSASetLastError(platform::WSAEOPNOTSUPP);
        sent = platform::SOCKET_ERROR;
    } else {
        sent = platform::SendTo(m_socket, packet->data(), length, ip, port);
    }
    if (sent == platform::SOCKET_ERROR)
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to send DGram: %d",
                      static_cast<int>(platform::WSAGetLastError()));
    m_bytesSent += static_cast<uint32_t>(length);
}

void CConnection::HandleDgramReadEvent(int)
{
    if (m_state != Datagram)
        return;
    int reads = 0;
    while (reads < kMaxReads) {
        uint32_t ip = 0;
        uint16_t port = 0;
        int received = platform::RecvFrom(m_socket, m_inbound.data(), static_cast<int>(m_inbound.size()), &ip, &port);
        if (received == platform::SOCKET_ERROR) {
            int error = static_cast<int>(platform::WSAGetLastError());
            // Would-block: nothing more waits. Reset: an earlier datagram of
            // ours was refused by its peer. Anything else (a datagram larger
            // than the buffer among them) ends the socket.
            // The error is recorded and the socket kept: the host decides.
            if (error != static_cast<int>(platform::WSAEWOULDBLOCK) &&
                error != static_cast<int>(platform::WSAECONNRESET))
                SetError(error, "recvfrom", "CConnection::HandleDgramReadEvent", true);
            break;
        }
        ++reads;
        if (received == 0 || reads > kMaxDelivered)
            continue;
        CallScope scope(this);
        DeliverDatagram(static_cast<size_t>(received), ip, port);
        // The handler may have closed or even deleted the connection.
        if (scope.gone())
            return;
        if (m_state != Datagram)
            break;
    }
    if (reads > kMaxDelivered)
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "Dropping %d UDP packets", reads - kMaxDelivered);
}

void CConnection::DeliverDatagram(size_t size, uint32_t ip, uint16_t port)
{
    if (size > m_inbound.size())
        size = m_inbound.size();
    m_sourceUdpIp = ip;
    m_sourceUdpPort = port;
    uint32_t delivered = 0;
    size_t offset = 0;
    CallScope scope(this);
    // Positions, not pointers: the handler may grow the inbound buffer.
    while (offset < size) {
        size_t left = size - offset;
        uint32_t length = left >= 2 ? readUint16(m_inbound.data() + offset)
                                    : static_cast<unsigned char>(m_inbound[offset]);
        size_t header = 2;
        bool bad = left < 2 || length == 0 || length >= s_maxUDPPacketSize;
        if (!bad && length == kLongForm) {
            header = 6;
            bad = left < header;
            if (!bad) {
                length = readUint32(m_inbound.data() + offset + 2);
                bad = length == 0 || length >= s_maxUDPPacketSize;
            }
        }
        if (!bad && length > left - header)
            bad = true;
        if (bad) {
            SHAREDLIB_LOG(LogSev_Warning, Log_Network, "Received bad UDP packet from %s (size %d, max %d), dropping.",
                          GetIpAsString(ip).c_str(), static_cast<int>(length), static_cast<int>(s_maxUDPPacketSize));
            break;
        }
        int64_t ended = 0;
        deliver(m_inbound.data() + offset + header, length, ended);
        if (scope.gone())
            return;
        m_bytesReceived += length;
        ++m_messagesReceived;
        ++delivered;
        offset += header + length;
        // The handler may have closed the connection: the rest is dropped.
        if (m_state != Datagram)
            break;
    }
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "Processed %d messages (%d bytes) over UDP from %s:%d",
                  static_cast<int>(delivered), static_cast<int>(size), GetIpAsString(ip).c_str(),
                  static_cast<int>(port));
    if (delivered > m_messagesPerPacket)
        m_messagesPerPacket = delivered;
}
