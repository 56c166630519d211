#include <cstddef>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../log/FrameEventLog.h"
#include "../platform/Clock.h"
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
    // One look-up gives the RPC and its statistics record.
    int index = indexOf(id);
    if (index < 0) {
        SHAREDLIB_LOG(LogSev_Error, Log_RPC, "Unable to find RPC with ID 0x%X", id);
        return;
    }
    CRpc *rpc = m_rpcs[static_cast<size_t>(index)];
    // The name is only wanted by the two lines.
    auto nameOf = [rpc] {
        char const *name = rpc->GetName();
        return name != nullptr ? name : "";
    };

    if (Logger *logger = LoggerFor(Log_RPC, LogSev_Info)) {
        if (connection != nullptr)
            logger->debuglog(LogSev_Info, Log_RPC, "%s to %s:%d: Receiving RPC %s (%d bytes)",
                             connection->GetHandlerName(), connection->GetIpAsString().c_str(),
                             static_cast<int>(connection->GetRemotePort()), nameOf(), message.size());
        else
            logger->debuglog(LogSev_Info, Log_RPC, "%s to %s:%d: Receiving RPC %s (%d bytes)", "UNKNOWN", "UNKNOWN",
                             -1, nameOf(), message.size());
    }

    // The body's timer and the slow-call timer share their two readings;
    // the slow-call line is only possible while Pulse is at info.
    bool slowCallsLogged = LoggerFor(Log_Pulse, LogSev_Info) != nullptr;
    RpcStatistics &record = m_stats.at(static_cast<size_t>(index));
    uint64_t divisor = FrameEventLogger::millisecondDivisor();
    int64_t start = 0;
    platform::QueryPerformanceCounter(&start);
    record.size += static_cast<uint32_t>(message.size());
    ++record.count;

    rpc->SetConnection(connection);
    rpc->CallBody(context, message);

    int64_t end = 0;
    platform::QueryPerformanceCounter(&end);
    auto elapsed = static_cast<uint64_t>(end) - static_cast<uint64_t>(start);
    // Below one millisecond (or a counter that did not move or ran
    // backwards) adds nothing and logs nothing: no division needed.
    if (static_cast<int64_t>(elapsed) <= 0 || elapsed < divisor)
        return;
    uint64_t milliseconds = elapsed / divisor;
    record.time += static_cast<uint32_t>(milliseconds);
    if (slowCallsLogged && milliseconds >= kSlowCallMs)
        SHAREDLIB_DEBUGLOG(LogSev_Info, Log_Pulse, "%s time=%.4lf ms", nameOf(),
                           static_cast<double>(elapsed) / static_cast<double>(divisor));
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
