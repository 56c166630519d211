#include "RpcMgr.h"

#include <algorithm>
#include <cstring>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "../serialize/Md5.h"
#include "../serialize/PackedData.h"

CRpcMgr *CRpcMgr::sm_pRpcMgr = nullptr;

CRpcMgr *CRpcMgr::GetInstance()
{
    if (sm_pRpcMgr == nullptr)
        sm_pRpcMgr = new CRpcMgr;
    return sm_pRpcMgr;
}

void CRpcMgr::Cleanup()
{
    delete sm_pRpcMgr;
    sm_pRpcMgr = nullptr;
}

CRpcMgr::CRpcMgr() : m_hash{}
{
    InitRpcList();
    InitClientHash();
    ResetStats();
}

void CRpcMgr::InitRpcList()
{
    m_rpcs.clear();
    for (CRpc *rpc = CRpc::GetStaticListHead(); rpc != nullptr; rpc = rpc->GetNext())
        Register(rpc);
    std::sort(m_rpcs.begin(), m_rpcs.end(), [](CRpc const *a, CRpc const *b) { return a->GetID() < b->GetID(); });
}

void CRpcMgr::Register(CRpc *rpc)
{
    m_rpcs.push_back(rpc);
    rpc->OnRegister();
}

void CRpcMgr::InitClientHash()
{
    // The digest covers the identifiers in table order, each as four bytes,
    // least significant first; internal RPCs do not count.
    md5_state_s state;
    md5_init(&state);
    for (CRpc const *rpc : m_rpcs) {
        if (rpc->isInternal())
            continue;
        uint32_t id = rpc->GetID();
        SHAREDLIB_LOG(LogSev_Detail, Log_RPC, "In hash: 0x%08X %s", id, rpc->GetName());
        uint8_t bytes[4] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id >> 16),
                            static_cast<uint8_t>(id >> 24)};
        md5_append(&state, bytes, 4);
    }
    md5_finish(&state, m_hash);
}

void CRpcMgr::BuildTable(CPackedData &message)
{
    message.PutData(m_hash, sizeof m_hash);
}

bool CRpcMgr::ParseTable(CPackedData &message)
{
    unsigned char peer[sizeof m_hash] = {};
    message.GetData(peer, sizeof peer);
    if (std::memcmp(peer, m_hash, sizeof m_hash) == 0) {
        ResetStats();
        return true;
    }
    SHAREDLIB_LOG(LogSev_Error, Log_Network, "Rpc table from server does not match ours");
    return false;
}

CRpc *CRpcMgr::FindRpc(char const *name)
{
    for (CRpc *rpc : m_rpcs)
        if (name != nullptr && std::strcmp(rpc->GetName(), name) == 0)
            return rpc;
    SHAREDLIB_LOG(LogSev_Error, Log_RPC, "Unable to find RPC with name %s", name != nullptr ? name : "(null)");
    return nullptr;
}

size_t CRpcMgr::lowerBound(uint32_t id) const
{
    return static_cast<size_t>(
        std::lower_bound(m_rpcs.begin(), m_rpcs.end(), id, [](CRpc const *rpc, uint32_t value) {
            return rpc->GetID() < value;
        }) -
        m_rpcs.begin());
}

CRpc *CRpcMgr::FindRpc(uint32_t id)
{
    size_t index = lowerBound(id);
    if (index < m_rpcs.size() && m_rpcs[index]->GetID() == id)
        return m_rpcs[index];
    SHAREDLIB_LOG(LogSev_Error, Log_RPC, "Unable to find RPC with ID 0x%X", id);
    return nullptr;
}

int CRpcMgr::FindRpcIndex(uint32_t id)
{
    size_t index = lowerBound(id);
    if (index < m_rpcs.size() && m_rpcs[index]->GetID() == id)
        return static_cast<int>(index);
    SHAREDLIB_LOG(LogSev_Error, Log_RPC, "Unable to find RPC with ID 0x%X", id);
    return 0;
}

char const *CRpcMgr::getRpcTypeName(uint32_t id)
{
    CRpc *rpc = FindRpc(id);
    return rpc != nullptr ? rpc->GetName() : nullptr;
}

char const *CRpcMgr::FindRpcPrivilege(uint32_t id)
{
    CRpc *rpc = FindRpc(id);
    return rpc != nullptr ? rpc->GetPrivilege() : nullptr;
}

void CRpcMgr::ResetStats()
{
    m_stats.assign(m_rpcs.size(), RpcStatistics{});
}
