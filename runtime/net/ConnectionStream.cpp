// The stream read and write paths in their plain form: bytes are read into
// the inbound buffer and the outbound queue is written as the socket allows.
#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "Connection.h"

void CConnection::HandleStreamReadEvent(int)
{
    if (m_state != Connected)
        return;
    size_t end = m_inboundOffset + m_inboundCount;
    if (end == m_inbound.size() && m_inboundOffset > 0) {
        std::copy(m_inbound.begin() + m_inboundOffset, m_inbound.begin() + static_cast<long>(end), m_inbound.begin());
        m_inboundOffset = 0;
        end = m_inboundCount;
    }
    size_t room = m_inbound.size() - end;
    if (room == 0)
        return;
    int received = platform::recv(m_socket, m_inbound.data() + end, static_cast<int>(room), 0);
    if (received == 0) {
        Cleanup();
        OnConnect(false);
        return;
    }
    if (received < 0) {
        uint32_t error = platform::WSAGetLastError();
        if (error == platform::WSAEWOULDBLOCK)
            return;
        Cleanup();
        SetError(static_cast<int>(error), "recv", "CConnection::HandleStreamReadEvent", true);
        OnConnect(false);
        return;
    }
    m_inboundCount += static_cast<uint32_t>(received);
    m_bytesReceived += static_cast<uint32_t>(received);
    ProcessInboundData();
}

void CConnection::ProcessInboundData()
{
    // Frames are cut and delivered by the framing layer.
}

void CConnection::HandleWriteEvent(int)
{
    while (m_state == Connected && !m_outbound.isEmpty()) {
        const char *data = nullptr;
        int length = 0;
        m_outbound.getFirstBundle(&data, &length);
        if (length <= 0)
            return;
        int sent = platform::send(m_socket, data, length, 0);
        if (sent < 0) {
            uint32_t error = platform::WSAGetLastError();
            if (error == platform::WSAEWOULDBLOCK)
                return;
            Cleanup();
            SetError(static_cast<int>(error), "send", "CConnection::HandleWriteEvent", true);
            OnConnect(false);
            return;
        }
        m_outbound.clearBytes(sent);
        if (sent < length)
            return;
    }
}

void CConnection::HandleDgramReadEvent(int)
{
    // Datagrams are read by the datagram path.
}
