#pragma once

// The envelope every message of the zone demo uses: a CPackedData whose
// first value is the Msg type (PutUint16). An RPC call is Msg RpcCallFunction,
// then the RPC identifier (PutUint32), then the RPC's arguments.

#include <cstdint>

#include <SharedLib/SharedLib.h>

namespace zone {

// Starts an RPC call message.
//! [envelope]
inline void BeginRpc(CPackedData &message, uint32_t rpcId)
{
    message.PutUint16(static_cast<uint16_t>(Msg_RpcCallFunction));
    message.PutUint32(rpcId);
}
//! [envelope]

// The registered send function: hands a message to its connection.
//! [send function]
inline void SendToConnection(CConnection *connection, CPackedData &message)
{
    if (connection != nullptr)
        connection->SendMsg(message);
}
//! [send function]

// The port `zone_demo demo` listens on when it is free (and the port a capture
// tool claims by default).
constexpr uint16_t kDefaultPort = 7460;

// The largest message (its bytes, not counting the length prefix) either
// side accepts unless told otherwise.
constexpr uint32_t kDefaultMaxMessage = 1024 * 1024;

// A size check is asked about whole frames: the message and its prefix, six
// bytes for the long form that every message above 65532 bytes uses.
inline uint32_t MessageSizeOfFrame(uint32_t frameSize)
{
    return frameSize <= 65534 ? frameSize - 2 : frameSize - 6;
}

}  // namespace zone
