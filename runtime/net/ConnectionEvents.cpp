// Driving a connection from the host loop: Preprocess, event dispatch and
// the pulse.
#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/Clock.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "../platform/SocketEvents.h"
#include "Connection.h"

namespace {

// The ping request marker: 0xFFFF, little-endian.
constexpr unsigned char kPingRequest[2] = {0xFF, 0xFF};

const char *const kEventNames[platform::FD_MAX_EVENTS] = {
    "FD_READ",  "FD_WRITE", "FD_OOB",       "FD_ACCEPT",
    "FD_CONNECT", "FD_CLOSE", "FD_QOS",     "FD_GROUP_QOS",
    "FD_ROUTING_INTERFACE_CHANGE", "FD_ADDRESS_LIST_CHANGE",
};

}  // namespace

void *CConnection::Preprocess(bool *processed)
{
    CallScope scope(this);
    HandleWriteEvent(0);
    if (scope.gone() || !ShouldHandleEvents())
        return nullptr;
    if (m_failedFrameCounter != 0) {
        ProcessInboundData();
        if (processed != nullptr)
            *processed = true;
        if (scope.gone())
            return nullptr;
    }
    return ShouldHandleEvents() ? m_event : nullptr;
}

void CConnection::LogSocketEventError(platform::WSANETWORKEVENTS const &events)
{
    uint32_t error = platform::WSAGetLastError();
    if (error == 0)
        return;
    const char *text = nullptr;
    switch (error) {
    case platform::WSAEINVAL:
        text = "WSAEnumNetworkEvents() returned Err = WSAEINVAL (Indicates that one of the specified parameters was "
               "invalid) ";
        break;
    case platform::WSAEINPROGRESS:
        text = "WSAEnumNetworkEvents() returned Err = WSAEINPROGRESS (A blocking Windows Sockets 1.1 call is in "
               "progress, or the service provider is still processing a callback function) ";
        break;
    case platform::WSAENOTSOCK:
        text = "WSAEnumNetworkEvents() returned Err = WSAENOTSOCK (The descriptor is not a socket) ";
        break;
    case platform::WSAENETDOWN:
        text = "WSAEnumNetworkEvents() returned Err = WSAENETDOWN (The network subsystem has failed) ";
        break;
    case platform::WSAECONNABORTED:
        text = "WSAEnumNetworkEvents() returned Err = WSAECONNABORTED (Software caused connection abort) ";
        break;
    case 10093:
        text = "WSAEnumNetworkEvents() returned Err = WSANOTINITIALISED (successful WSAStartup call must occur before "
               "using this function) ";
        break;
    case platform::WSAEFAULT:
        text = "WSAEnumNetworkEvents() returned Err = WSAEFAULT (The network events structure is not in a valid part "
               "of the user address space) ";
        break;
    case platform::WSAECONNRESET:
        text = "WSAEnumNetworkEvents() returned Err = WSAECONNRESET (Connection reset by peer) ";
        break;
    default:
        break;
    }
    if (text != nullptr)
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "%s", text);
    else
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "WSAEnumNetworkEvents() returned unknown error code %d",
                      static_cast<int>(error));
    for (int bit = 0; bit < platform::FD_MAX_EVENTS; ++bit)
        if (events.iErrorCode[bit] != 0)
            SHAREDLIB_LOG(LogSev_Error, Log_Network, "WSAEnumNetworkEvents() - return error code 0x%X for event %s",
                          static_cast<unsigned int>(events.iErrorCode[bit]), kEventNames[bit]);
}

void CConnection::HandleEvent()
{
    CallScope scope(this);
    platform::WSANETWORKEVENTS events{};
    if (platform::WSAEnumNetworkEvents(m_socket, m_event, &events) != 0)
        LogSocketEventError(events);
    int32_t mask = events.lNetworkEvents;
    SHAREDLIB_LOG(LogSev_Detail, Log_Network, "%s to %s:%d: Handling event mask 0x%X in state %d", GetHandlerName(),
                  GetIpAsString().c_str(), m_remotePort, static_cast<unsigned int>(mask), static_cast<int>(m_state));
    switch (m_state) {
    case Idle:
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "%s to %s:%d: HandleEvent (0x%X) called on a CConnection in Idle",
                      GetHandlerName(), GetIpAsString().c_str(), m_remotePort, static_cast<unsigned int>(mask));
        break;
    case Connecting:
        SHAREDLIB_LOG(LogSev_Info, Log_Network,
                      "%s to %s:%d: HandleEvent (0x%X) called on a CConnection in Connecting state", GetHandlerName(),
                      GetIpAsString().c_str(), m_remotePort, static_cast<unsigned int>(mask));
        if (mask & platform::FD_CLOSE) {
            Cleanup();
            OnConnect(false);
            break;
        }
        if (mask & platform::FD_CONNECT)
            HandleConnectEvent(events.iErrorCode[4]);
        if (!scope.gone() && m_state == Connected && (mask & platform::FD_READ))
            HandleStreamReadEvent(events.iErrorCode[0]);
        if (!scope.gone() && m_state == Connected && (mask & platform::FD_WRITE))
            HandleWriteEvent(events.iErrorCode[1]);
        break;
    case Connected:
        if (mask & platform::FD_CLOSE) {
            // Data that came with the close is dropped.
            Cleanup();
            OnConnect(false);
            break;
        }
        if (mask & platform::FD_READ)
            HandleStreamReadEvent(events.iErrorCode[0]);
        if (!scope.gone() && m_state == Connected && (mask & platform::FD_WRITE))
            HandleWriteEvent(events.iErrorCode[1]);
        break;
    case Datagram:
        if (mask & platform::FD_READ)
            HandleDgramReadEvent(events.iErrorCode[0]);
        break;
    case Error:
        SHAREDLIB_LOG(LogSev_Warning, Log_Network,
                      "%s to %s:%d: HandleEvent (0x%X) called on a CConnection in Error state", GetHandlerName(),
                      GetIpAsString().c_str(), m_remotePort, static_cast<unsigned int>(mask));
        break;
    default:
        SHAREDLIB_LOG(LogSev_Assert, Log_Network, "Received event(s) while in unhandled state %d",
                      static_cast<int>(m_state));
        break;
    }
}

void CConnection::Pulse()
{
    ++m_pulseCount;
    if (m_delay != 0 && m_pulseCount % m_delay != 0)
        return;
    CallScope scope(this);
    switch (m_state) {
    case Connecting: {
        bool writable = false;
        bool exception = false;
        if (platform::ProbeConnect(m_socket, &writable, &exception) == platform::SOCKET_ERROR) {
            SetError(static_cast<int>(platform::WSAGetLastError()), "select", "CConnection::Pulse", true);
            SHAREDLIB_LOG(LogSev_Info, Log_Connections,
                          "%s to %s:%d: Shutting down and closing socket %d in CConnection::Pulse()", GetHandlerName(),
                          GetIpAsString().c_str(), m_remotePort, static_cast<int>(m_socket));
            platform::shutdown(m_socket, platform::SD_BOTH);
            platform::closesocket(m_socket);
            m_socket = platform::INVALID_SOCKET;
            OnConnect(false);
        } else if (writable) {
            HandleConnectEvent(0);
        } else if (exception) {
            HandleConnectEvent(-1);
        }
        break;
    }
    case Connected:
        pollStream();
        if (!scope.gone() && m_state == Connected)
            HandleWriteEvent(0);
        if (!scope.gone() && m_state == Connected && m_updateLag && m_pulseCount > s_pulseRate && m_pingStart == 0) {
            m_pulseCount = 0;
            m_outbound.append(kPingRequest, sizeof kPingRequest);
            platform::QueryPerformanceCounter(&m_pingStart);
        }
        break;
    case Datagram:
        // A read that would only block is skipped: it would change nothing.
        if (platform::MayHaveInput(m_socket))
            HandleDgramReadEvent(0);
        break;
    default:
        break;
    }
}
