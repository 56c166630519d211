#pragma once

/// \file
/// CMessageHandler: the host's callbacks for connections.

#include <cstdint>

#include "../Export.h"
#include "../enums/Error.h"

class CConnection;

/// The host's callbacks for one or more connections.
class SHAREDLIB_API CMessageHandler {
public:
    /// One complete inbound message: the bytes after the length prefix.
    virtual void HandleMessage(CConnection *conn, const void *data, uint32_t size) = 0;
    /// true: just established; false: failed to connect or lost.
    virtual void OnConnect(CConnection *conn, bool connected) = 0;
    /// Whether a message of this many bytes (prefix included) may be accepted.
    virtual bool CheckMessageSize(uint32_t size);
    ///@{

    /// Outbound trouble: ConnectWriteTimeout with the seconds waited, or
    /// ConnectWriteQueueLimit with the bytes queued.
    virtual void OnError(CConnection *conn, Error code, int detail) = 0;
    /// The name the connection's log lines carry.
    virtual const char *GetHandlerName() const;
    ///@}

protected:
    /// Handlers are never deleted through this interface.
    ~CMessageHandler() = default;
};
