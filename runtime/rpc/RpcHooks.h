#pragma once

/// \file
/// The host's send and dispatch functions for RPC messages.

#include <cstdint>

#include "../Export.h"

class CConnection;
class CPackedData;

///@{

/// The host's send and dispatch functions. The library only forwards calls to
/// them; both are null until the host registers one with
/// CRpcMgr::RegisterSendMessage or CRpcMgr::RegisterDispatchMessage.
using RpcSendMessageFunction = void (*)(CConnection *connection, CPackedData &message);
/// The host's dispatch function: a call for another object (target) of the process.
using RpcDispatchMessageFunction = void (*)(int64_t target, uint32_t id, CPackedData *message);
///@}

///@{

/// The registered send and dispatch functions, null until registered.
SHAREDLIB_API extern RpcSendMessageFunction fptr_SendMessageFunction;
SHAREDLIB_API extern RpcDispatchMessageFunction fptr_DispatchMessageFunction;
///@}

///@{

/// Forward to the registered function; without one they do nothing.
SHAREDLIB_API void Rpc_SendMessageFunction(CConnection *connection, CPackedData &message);
SHAREDLIB_API void Rpc_DispatchMessageFunction(int64_t target, uint32_t id, CPackedData *message);
///@}
