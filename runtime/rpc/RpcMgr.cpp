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
    std::stable_sort(m_rpcs.begin(), m_rpcs.end(),
                     [](CRpc const *a, CRpc const *b) { return a->GetID() < b->GetID(); });
    buildIndex();
}

namespace {

// Identifiers may be sequential, multiples of a constant or hashes already:
// every bit is mixed into the slot (a 32-bit finaliser), so none of these
// patterns can pile up in one run of slots.
uint32_t slotOf(uint32_t id, uint32_t shift)
{
    id ^= id >> 16;
    id *= 0x85EBCA6Bu;
    id ^= id >> 13;
    id *= 0xC2B2AE35u;
    id ^= id >> 16;
    return shift >= 32 ? 0 : id >> shift;
}

}  // namespace

void CRpcMgr::buildIndex()
{
    uint32_t bits = 4;
    while ((size_t{1} << bits) < 2 * m_rpcs.size())
        ++bits;
    m_slotShift = 32 - bits;
    m_slots.assign(size_t{1} << bits, std::pair<uint32_t, int32_t>{0, 0});
    size_t mask = m_slots.size() - 1;
    for (size_t index = 0; index < m_rpcs.size(); ++index) {
        uint32_t id = m_rpcs[index]->GetID();
        size_t slot = slotOf(id, m_slotShift);
        // Equal identifiers: the first in table order answers.
        while (m_slots[slot].second != 0 && m_slots[slot].first != id)
            slot = (slot + 1) & mask;
        if (m_slots[slot].second == 0)
            m_slots[slot] = {id, static_cast<int32_t>(index + 1)};
    }
}

int CRpcMgr::indexOf(uint32_t id) const
{
    if (m_slots.empty())
        return -1;
    size_t mask = m_slots.size() - 1;
    for (size_t slot = slotOf(id, m_slotShift);; slot = (slot + 1) & mask) {
        auto [slotId, entry] = m_slots[slot];
        if (entry == 0)
            return -1;
        if (slotId == id)
            return entry - 1;
    }
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

CRpc *CRpcMgr::FindRpc(uint32_t id)
{
    int index = indexOf(id);
    if (index >= 0)
        return m_rpcs[static_cast<size_t>(index)];
    SHAREDLIB_LOG(LogSev_Error, Log_RPC, "Unable to find RPC with ID 0x%X", id);
    return nullptr;
}

int CRpcMgr::FindRpcIndex(uint32_t id)
{
    int index = indexOf(id);
    if (index >= 0)
        return index;
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
