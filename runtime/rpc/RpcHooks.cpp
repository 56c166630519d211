#include "RpcHooks.h"

#include "RpcMgr.h"

RpcSendMessageFunction fptr_SendMessageFunction = nullptr;
RpcDispatchMessageFunction fptr_DispatchMessageFunction = nullptr;

void CRpcMgr::RegisterSendMessage(RpcSendMessageFunction function)
{
    fptr_SendMessageFunction = function;
}

void CRpcMgr::RegisterDispatchMessage(RpcDispatchMessageFunction function)
{
    fptr_DispatchMessageFunction = function;
}

void Rpc_SendMessageFunction(CConnection *connection, CPackedData &message)
{
    if (fptr_SendMessageFunction != nullptr)
        fptr_SendMessageFunction(connection, message);
}

void Rpc_DispatchMessageFunction(int64_t target, uint32_t id, CPackedData *message)
{
    if (fptr_DispatchMessageFunction != nullptr)
        fptr_DispatchMessageFunction(target, id, message);
}
