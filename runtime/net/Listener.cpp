// The listening socket: opening, accepting and closing.
#include "Listener.h"

#include <string>
#include <vector>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "../platform/SocketEvents.h"
#include "Connection.h"
#include "SocketHelpers.h"

namespace {

constexpr int kBacklog = 100;
constexpr uint32_t kPortAttempts = 1000;

int lastSocketError()
{
    return static_cast<int>(platform::WSAGetLastError());
}

}  // namespace

CListener::CListener()
    : m_socket(platform::INVALID_SOCKET),
      m_event(nullptr),
      m_handler(nullptr),
      m_address(0),
      m_port(0),
      m_acceptedCount(0)
{
}

CListener::~CListener()
{
    Cleanup();
}

int CListener::Init(CListenHandler *handler, uint32_t ip, uint16_t port, bool tryNextPorts)
{
    m_handler = handler;
    // A listener opened twice lets go of its first socket rather than leak it.
    if (m_socket != platform::INVALID_SOCKET || m_event != nullptr)
        Cleanup();

    platform::SOCKET s = platform::CreateSocket(platform::SOCK_STREAM_);
    if (s == platform::INVALID_SOCKET) {
        int error = lastSocketError();
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to create socket in CListener::Init: %d", error);
        return error;
    }
    if (!SetSocketBlockingFlag(s, false)) {
        platform::closesocket(s);
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to set nonblocking socket in CListener::Init");
        return static_cast<int>(platform::WSAEOPNOTSUPP);
    }

    // Ports above 65535 do not exist, so stepping stops there.
    uint32_t attempts = tryNextPorts ? kPortAttempts : 1;
    uint32_t tried = port;
    int bound = platform::BindSocket(s, ip, port);
    for (uint32_t attempt = 1; bound != 0 && attempt < attempts && tried < 0xFFFF; ++attempt) {
        ++tried;
        bound = platform::BindSocket(s, ip, static_cast<uint16_t>(tried));
    }
    if (bound != 0) {
        int error = lastSocketError();
        platform::closesocket(s);
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to bind socket on %s:%d in CListener::Init: %d",
                      CConnection::GetIpAsString(ip).c_str(), static_cast<int>(tried), error);
        return error;
    }

    if (platform::ListenSocket(s, kBacklog) != 0) {
        int error = lastSocketError();
        platform::closesocket(s);
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to listen on socket in CListener::Init: %d", error);
        return error;
    }

    std::string hostName;
    if (!platform::GetHostName(hostName)) {
        int error = lastSocketError();
        platform::closesocket(s);
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to gethostname in CListener::Init: %d", error);
        return error;
    }
    std::vector<uint32_t> addresses;
    if (!platform::GetHostAddresses(hostName.c_str(), addresses)) {
        int error = lastSocketError();
        platform::closesocket(s);
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to gethostbyname in CListener::Init: %d", error);
        return error;
    }
    if (addresses.empty()) {
        // A name that resolves to nothing leaves no error behind; the listener
        // is closed, so the caller must still see a failure.
        int error = lastSocketError();
        if (error == 0)
            error = static_cast<int>(platform::WSANO_DATA);
        platform::closesocket(s);
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Invalid addr in CListener::Init: %d", error);
        return error;
    }

    uint16_t boundPort = 0;
    platform::GetSocketName(s, nullptr, &boundPort);
    m_port = boundPort;
    m_address = addresses.front();
    m_socket = s;

    m_event = platform::WSACreateEvent();
    int selected = platform::WSAEventSelect(s, m_event, platform::FD_ACCEPT);
    if (selected != 0) {
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unable to create listener event: %d", selected);
        return selected;
    }
    return 0;
}

void CListener::HandleEvent()
{
    if (m_socket != platform::INVALID_SOCKET) {
        platform::WSANETWORKEVENTS events{};
        platform::WSAEnumNetworkEvents(m_socket, m_event, &events);
    }
    Pulse();
}

void CListener::Pulse()
{
    if (m_handler == nullptr)
        return;
    while (m_socket != platform::INVALID_SOCKET) {
        uint32_t peerIp = 0;
        uint16_t peerPort = 0;
        platform::SOCKET accepted = platform::AcceptSocket(m_socket, &peerIp, &peerPort);
        if (accepted == platform::INVALID_SOCKET) {
            int error = lastSocketError();
            if (error == static_cast<int>(platform::WSAEWOULDBLOCK))
                return;
            Cleanup();
            // The handler may delete this listener: nothing is touched after.
            m_handler->OnListenError(this, error);
            return;
        }
        CConnection *connection = new CConnection();
        connection->InitAccepted(accepted, peerIp, peerPort);
        m_handler->OnAccept(this, connection);
        // A handler that closed the listener from OnAccept ends the loop.
        if (m_socket == platform::INVALID_SOCKET)
            return;
        ++m_acceptedCount;
    }
}

void CListener::Cleanup()
{
    if (m_socket != platform::INVALID_SOCKET) {
        platform::closesocket(m_socket);
        m_socket = platform::INVALID_SOCKET;
    }
    if (m_event != nullptr)
        platform::WSACloseEvent(m_event);
    m_event = nullptr;
    m_acceptedCount = 0;
}
