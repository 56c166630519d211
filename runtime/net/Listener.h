#pragma once

/// \file
/// CListener and CListenHandler: accepting TCP connections.

#include <cstdint>

#include "../Export.h"

class CConnection;
class CListener;

/// The host's callbacks for a listener.
class SHAREDLIB_API CListenHandler {
public:
    /// A connection was accepted, already Connected. The handler owns it from
    /// now on: it gives it a message handler and deletes it when done.
    virtual void OnAccept(CListener *listener, CConnection *connection) = 0;
    /// Accepting failed with this Winsock error; the listener is already
    /// cleaned up.
    virtual void OnListenError(CListener *listener, int error) = 0;

protected:
    /// Handlers are never deleted through this interface.
    ~CListenHandler() = default;
};

/// A non-blocking listening TCP socket whose event is signalled when
/// connections arrive. The host waits on GetEventHandle, calls HandleEvent when
/// it is signalled, and may call Pulse at any time; every pending connection is
/// accepted as a new CConnection and handed to the handler.
class SHAREDLIB_API CListener {
public:
    CListener();
    virtual ~CListener();
    CListener(CListener const &) = delete;
    CListener &operator=(CListener const &) = delete;

    /// Opens the listener on ip:port (host byte order; ip 0 is any local
    /// address). With tryNextPorts, a port in use moves on to the next one, up
    /// to port + 999. Returns 0, or the Winsock error of the failing step
    /// (10045 when the socket cannot be made non-blocking).
    int Init(CListenHandler *handler, uint32_t ip, uint16_t port, bool tryNextPorts);
    /// The event was signalled: clears it and accepts what is pending.
    void HandleEvent();
    ///@{

    /// Accepts every pending connection.
    void Pulse();
    /// Closes the socket and the event.
    void Cleanup();
    /// The same as Cleanup.
    void Reset() { Cleanup(); }
    ///@}

    /// This machine's first address by its host name (host byte order).
    uint32_t GetAddress() const { return m_address; }
    ///@{

    /// The port actually bound.
    uint16_t GetPort() const { return m_port; }
    /// The event handle to wait on, or null before Init.
    void *GetEventHandle() { return m_event; }
    ///@}
    /// Connections accepted since Init.
    uint32_t GetAcceptedCount() const { return m_acceptedCount; }

protected:
    ///@{

    /// The listener's state for derived classes: socket, event, handler, address, port and accepted count.
    unsigned int m_socket;
    void *m_event;
    CListenHandler *m_handler;
    uint32_t m_address;
    uint16_t m_port;
    uint32_t m_acceptedCount;
    ///@}
};
