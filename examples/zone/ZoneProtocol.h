#pragma once

// The envelope every message of the zone demo uses: a CPackedData whose
// first value is the Msg type (PutUint16). An RPC call is Msg RpcCallFunction,
// then the RPC identifier (PutUint32), then the RPC's arguments.

#include <cstdint>

#include <SharedLib/SharedLib.h>

namespace zone {

// Starts an RPC call message.
inline void BeginRpc(CPackedData &message, uint32_t rpcId)
{
    message.PutUint16(static_cast<uint16_t>(Msg_RpcCallFunction));
    message.PutUint32(rpcId);
}

// The registered send function: hands a message to its connection.
inline void SendToConnection(CConnection *connection, CPackedData &message)
{
    if (connection != nullptr)
        connection->SendMsg(message);
}

// Messages above this size are refused by both sides.
constexpr uint32_t kMessageSizeLimit = 64 * 1024;

}  // namespace zone
