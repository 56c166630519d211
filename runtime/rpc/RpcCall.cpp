#include <cstddef>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../log/PerfCounter.h"
#include "../net/Connection.h"
#include "../serialize/PackedData.h"
#include "RpcMgr.h"

namespace {

// Calls that take this long are logged on Pulse.
constexpr uint32_t kSlowCallMs = 5;

}  // namespace

void CRpcMgr::CallFunction(Kest::Orv::orvContextObj *context, CConnection *connection, CPackedData &message,
                           uint32_t id)
{
    CRpc *rpc = FindRpc(id);
    if (rpc == nullptr)
        return;

    char const *name = rpc->GetName();
    if (name == nullptr)
        name = "";

    if (Logger *logger = LoggerFor(Log_RPC, LogSev_Info)) {
        if (connection != nullptr)
            logger->debuglog(LogSev_Info, Log_RPC, "%s to %s:%d: Receiving RPC %s (%d bytes)",
                             connection->GetHandlerName(), connection->GetIpAsString().c_str(),
                             static_cast<int>(connection->GetRemotePort()), name, message.size());
        else
            logger->debuglog(LogSev_Info, Log_RPC, "%s to %s:%d: Receiving RPC %s (%d bytes)", "UNKNOWN", "UNKNOWN",
                             -1, name, message.size());
    }

    // Destroyed in reverse order: the body's time is added to the record
    // before a slow call is logged.
    PerfLogCounter slowCall(name, Log_Pulse, kSlowCallMs);
    RpcStatistics &record = m_stats.at(static_cast<size_t>(FindRpcIndex(id)));
    PrecisionPerfCounter bodyTime(record.time, false);
    record.size += static_cast<uint32_t>(message.size());
    ++record.count;

    rpc->SetConnection(connection);
    rpc->CallBody(context, message);
}

bool CRpcMgr::IsValidServer(int processType, uint32_t id, int &outProcessType, bool &outInternal)
{
    CRpc *rpc = FindRpc(id);
    if (rpc == nullptr)
        return false;
    outProcessType = rpc->GetProcessType();
    outInternal = rpc->isInternal();
    return rpc->isValidServer(processType);
}
