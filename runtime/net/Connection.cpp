// The connection's life: construction, start-up, errors and closing.
#include "Connection.h"

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/Clock.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "../util/Clock.h"
#include "SocketHelpers.h"

namespace {

constexpr size_t kInboundBufferSize = 20000;
constexpr int32_t kStreamEvents = platform::FD_READ | platform::FD_WRITE | platform::FD_CONNECT | platform::FD_CLOSE;

}  // namespace

CConnection::CConnection()
    : m_state(Idle),
      m_error(0),
      m_inboundOffset(0),
      m_inboundCount(0),
      m_socket(platform::INVALID_SOCKET),
      m_event(nullptr),
      m_remoteAddress(0),
      m_remotePort(0),
      m_localPort(0),
      m_bytesReceived(0),
      m_bytesSent(0),
      m_messagesReceived(0),
      m_messagesSent(0),
      m_messagesPerPacket(0),
      m_connectTime(0),
      m_handler(nullptr),
      m_inbound(kInboundBufferSize, 0),
      m_sourceUdpIp(0),
      m_sourceUdpPort(0),
      m_pulseCount(0),
      m_updateLag(false),
      m_pingStart(0),
      m_processTime(0),
      m_readTime(0),
      m_totalReadTime(0),
      m_writeTime(0),
      m_maxReadEventsPerFrame(0),
      m_lag(0),
      m_delay(0),
      m_blockedSince(0),
      m_blockedBufferSize(0),
      m_allowedProcessingTime(INT64_MAX),
      m_failedFrameCounter(0),
      m_failedFrameLogInterval(10),
      m_ignorePackets(false),
      m_udpPacket(nullptr),
      m_liveness(new Liveness{0, true})
{
    m_outbound.setConn(this);
    if (s_timerFreq == 0) {
        int64_t frequency = 0;
        platform::QueryPerformanceFrequency(&frequency);
        s_timerFreq = static_cast<uint64_t>(frequency) / 1000;
    }
}

CConnection::~CConnection()
{
    Cleanup();
    if (m_liveness->scopes == 0)
        delete m_liveness;
    else
        m_liveness->alive = false;
}

void CConnection::addElapsedMs(uint32_t &total, int64_t from, int64_t to)
{
    if (to <= from)
        return;  // a counter that did not move adds nothing
    uint64_t ticksPerMs = s_timerFreq != 0 ? s_timerFreq : 1;
    auto elapsed = static_cast<uint64_t>(to - from);
    if (elapsed >= ticksPerMs)  // most calls take under a millisecond: no division
        total += static_cast<uint32_t>(elapsed / ticksPerMs);
}

const char *CConnection::GetHandlerName() const
{
    return m_handler != nullptr ? m_handler->GetHandlerName() : "Unhandled";
}

void CConnection::OnConnect(bool connected)
{
    if (m_handler != nullptr) {
        m_handler->OnConnect(this, connected);
        return;
    }
    SHAREDLIB_LOG(LogSev_Info, Log_Network,
                  "%s to %s:%d: Unable to handle connect because there is no message handler.", GetHandlerName(),
                  GetIpAsString().c_str(), m_remotePort);
}

void CConnection::SetError(int code, const char *operation, const char *where, bool isError)
{
    LogItemSeverityLevel severity = isError ? LogSev_Error : LogSev_Info;
    SHAREDLIB_LOG(severity, Log_Network, "%s to %s:%d: %s failed with error code %d in %s", GetHandlerName(),
                  GetIpAsString().c_str(), m_remotePort, operation, code, where);
    m_error = code;
    m_state = Error;
}

void CConnection::InitStream(const std::string &address)
{
    uint32_t ip = 0;
    uint16_t port = 0;
    if (!ConvertAddressString(address, &ip, &port)) {
        SetError(platform::WSAEADDRNOTAVAIL, "ConvertAddressString", "CConnection::InitStream", true);
        return;
    }
    InitStream(ip, port);
}

void CConnection::InitStream(uint32_t ip, uint16_t port)
{
    static const char *const where = "CConnection::InitStream";
    platform::SOCKET s = openBoundSocket(platform::SOCK_STREAM_, 0, where, false);
    if (s == platform::INVALID_SOCKET)
        return;
    uint16_t localPort = 0;
    if (platform::GetSocketName(s, nullptr, &localPort) != 0) {
        int error = static_cast<int>(platform::WSAGetLastError());
        platform::closesocket(s);
        SetError(error, "getsockname", where, true);
        return;
    }
    m_localPort = localPort;
    if (platform::ConnectSocket(s, ip, port) != 0 && platform::WSAGetLastError() != platform::WSAEWOULDBLOCK) {
        SetError(static_cast<int>(platform::WSAGetLastError()), "connect", where, true);
        platform::closesocket(s);
        return;
    }
    attachStreamSocket(s, "stream", "CConnection::InitStream");
    m_socket = s;
    m_remotePort = port;
    m_remoteAddress = ip;
    m_state = Connecting;
}

void CConnection::InitAccepted(unsigned int socket, uint32_t ip, uint16_t port)
{
    m_remoteAddress = ip;
    m_remotePort = port;
    attachStreamSocket(socket, "accepted", "CConnection::InitAccepted");
    m_state = Connected;
    m_socket = socket;
    m_connectTime = GetSecondsSinceEpoch();
}

unsigned int CConnection::openBoundSocket(int type, uint16_t port, const char *where, bool busyPortIsInfo)
{
    platform::SOCKET s = platform::CreateSocket(type);
    if (s == platform::INVALID_SOCKET) {
        SetError(static_cast<int>(platform::WSAGetLastError()), "socket", where, true);
        return platform::INVALID_SOCKET;
    }
    if (!SetSocketBlockingFlag(s, false)) {
        platform::closesocket(s);
        SetError(platform::WSAEOPNOTSUPP, "SetSocketBlockingFlag", where, true);
        return platform::INVALID_SOCKET;
    }
    if (platform::BindSocket(s, 0, port) != 0) {
        int error = static_cast<int>(platform::WSAGetLastError());
        platform::closesocket(s);
        bool quiet = busyPortIsInfo && error == static_cast<int>(platform::WSAEADDRINUSE);
        SetError(error, "bind", where, !quiet);
        return platform::INVALID_SOCKET;
    }
    return s;
}

void CConnection::attachStreamSocket(unsigned int socket, const char *kind, const char *where)
{
    // An event left over from an earlier use is replaced.
    if (m_event != nullptr)
        platform::WSACloseEvent(m_event);
    m_event = platform::WSACreateEvent();
    int selected = platform::WSAEventSelect(socket, m_event, kStreamEvents);
    if (selected != 0)
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to create connection event: %d", selected);
    if (m_socket != platform::INVALID_SOCKET)
        SHAREDLIB_LOG(LogSev_Error, Log_Connections, "%s to %s:%d: Overwriting open socket %d in state %d with %s socket",
                      GetHandlerName(), GetIpAsString().c_str(), m_remotePort, static_cast<int>(m_socket),
                      static_cast<int>(m_state), kind);
    SHAREDLIB_LOG(LogSev_Info, Log_Connections, "%s to %s:%d: Setting socket to %d in %s", GetHandlerName(),
                  GetIpAsString().c_str(), m_remotePort, static_cast<int>(socket), where);
}

void CConnection::HandleConnectEvent(int error)
{
    if (error == 0) {
        m_state = Connected;
        CallScope scope(this);
        OnConnect(true);
        if (!scope.gone())
            m_connectTime = GetSecondsSinceEpoch();
        return;
    }
    SHAREDLIB_LOG(LogSev_Error, Log_Network, "%s to %s:%d: received a connect event with error %d", GetHandlerName(),
                  GetIpAsString().c_str(), m_remotePort, error);
    Cleanup();
    OnConnect(false);
}

void CConnection::Cleanup()
{
    SHAREDLIB_LOG(LogSev_Info, Log_Connections, "%s to %s:%d: Cleanup() on connection (socket %d) while in state %d",
                  GetHandlerName(), GetIpAsString().c_str(), m_remotePort, static_cast<int>(m_socket),
                  static_cast<int>(m_state));
    if (m_state == Connecting || m_state == Connected || m_state == Datagram) {
        if (m_event != nullptr)
            platform::WSACloseEvent(m_event);
        m_event = nullptr;
        SHAREDLIB_LOG(LogSev_Info, Log_Connections,
                      "%s to %s:%d: Shutting down and closing socket %d in CConnection::Cleanup()", GetHandlerName(),
                      GetIpAsString().c_str(), m_remotePort, static_cast<int>(m_socket));
        platform::shutdown(m_socket, platform::SD_BOTH);
        platform::closesocket(m_socket);
    } else {
        // What an error left open (the event after a failed connect probe,
        // the socket after a datagram read error) is released here.
        if (m_event != nullptr)
            platform::WSACloseEvent(m_event);
        m_event = nullptr;
        if (m_socket != platform::INVALID_SOCKET)
            platform::closesocket(m_socket);
    }
    m_state = Idle;
    m_socket = platform::INVALID_SOCKET;
    m_inboundOffset = 0;
    m_inboundCount = 0;
    m_outbound.clear();
    delete m_udpPacket;
    m_udpPacket = nullptr;
}

void CConnection::setAllowedProcessingTime(float seconds)
{
    int64_t frequency = 0;
    platform::QueryPerformanceFrequency(&frequency);
    m_allowedProcessingTime = static_cast<int64_t>(static_cast<double>(frequency) * seconds);
}

void CConnection::SetSendBufferSize(int bytes)
{
    platform::setsockopt(m_socket, platform::SOL_SOCKET_, platform::SO_SNDBUF_, &bytes, sizeof bytes);
}

void CConnection::SetRecvBufferSize(int bytes)
{
    platform::setsockopt(m_socket, platform::SOL_SOCKET_, platform::SO_RCVBUF_, &bytes, sizeof bytes);
}

void CConnection::resetTimers()
{
    m_writeTime = 0;
    m_readTime = 0;
    m_processTime = 0;
    m_totalReadTime = 0;
    m_maxReadEventsPerFrame = 0;
}
