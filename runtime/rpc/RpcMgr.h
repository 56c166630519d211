#pragma once

/// \file
/// CRpcMgr: the RPC table, its digest and the call dispatch.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "../Export.h"
#include "Rpc.h"
#include "RpcHooks.h"

/// Per-RPC figures, at the same index as the RPC in the sorted table.
struct RpcStatistics {
    uint32_t time = 0;   ///< whole milliseconds spent in the body, summed
    uint32_t size = 0;   ///< bytes of the messages handled, summed
    uint32_t count = 0;  ///< calls
};

/// The table of every registered RPC, sorted by identifier, and its 16-byte
/// digest: what client and server compare when they connect.
class SHAREDLIB_API CRpcMgr {
public:
    /// Created at the first call from the static list as it is then.
    static CRpcMgr *GetInstance();
    /// Destroys the table; the next GetInstance builds a new one.
    static void Cleanup();

    /// Writes the digest into a table message.
    void BuildTable(CPackedData &message);
    /// Reads the peer's digest: true when both sides have the same RPCs.
    bool ParseTable(CPackedData &message);

    ///@{

    /// The RPC of a name or identifier, or null.
    CRpc *FindRpc(char const *name);
    CRpc *FindRpc(uint32_t id);
    ///@}
    /// The number of RPCs in the table.
    int getRpcTypeCount() const { return static_cast<int>(m_rpcs.size()); }
    ///@{

    /// The name of the RPC at `index` of the sorted table; the index is not checked.
    char const *getRpcTypeNameByIndex(int index) const { return m_rpcs[static_cast<size_t>(index)]->GetName(); }
    /// The process type of the RPC at `index`; the index is not checked.
    int getRpcTypeProcessByIndex(int index) const { return m_rpcs[static_cast<size_t>(index)]->GetProcessType(); }
    /// The name of the RPC with the identifier, or null.
    char const *getRpcTypeName(uint32_t id);
    /// The privilege the RPC with the identifier needs, or null.
    char const *FindRpcPrivilege(uint32_t id);
    ///@}

    /// Runs one incoming call: logs its arrival, counts and times it in the
    /// RPC's statistics record, stores the connection (which may be null) in
    /// the RPC and calls its body. An unknown id is logged and ignored. No
    /// privilege or server check is made here.
    void CallFunction(Kest::Orv::orvContextObj *context, CConnection *connection, CPackedData &message, uint32_t id);
    /// Whether the RPC may be served by processType. An unknown id answers
    /// false and leaves the outputs as they were.
    bool IsValidServer(int processType, uint32_t id, int &outProcessType, bool &outInternal);

    ///@{

    /// Store the host's functions (null unregisters).
    static void RegisterSendMessage(RpcSendMessageFunction function);
    static void RegisterDispatchMessage(RpcDispatchMessageFunction function);
    ///@}

    /// One zeroed record per registered RPC.
    void ResetStats();
    ///@{

    /// The figures of one record; std::out_of_range outside the records.
    uint32_t getRpcTypeTimeByIndex(int index) const;
    uint32_t getRpcTypeSizeByIndex(int index) const;
    uint32_t getRpcTypeCountByIndex(int index) const;
    ///@}
    ///@{

    /// The index of the largest time (size); the lower index wins a tie; -1
    /// when there are no RPCs or every value is 0.
    int getMaxTimeRpcTypeIndex() const;
    int getMaxSizeRpcTypeIndex() const;
    ///@}
    ///@{

    /// Raises the running maxima passed in to the slowest average time and the
    /// largest count since the previous call, then zeroes every count and
    /// time. Sizes stay cumulative until ResetStats.
    void getRPCStats(std::string &slowestName, float &slowestAverage, std::string &busiestName,
                     int32_t &busiestCount);
    /// The 16-byte digest of the table, as BuildTable sends it.
    unsigned char const *GetHash() const { return m_hash; }
    ///@}

private:
    CRpcMgr();
    ~CRpcMgr() = default;
    CRpcMgr(CRpcMgr const &) = delete;
    CRpcMgr &operator=(CRpcMgr const &) = delete;

    void InitRpcList();
    void Register(CRpc *rpc);
    void InitClientHash();
    int FindRpcIndex(uint32_t id);
    /// The table position of the (first) RPC with this identifier, or -1:
    /// one probe of an open-addressing index, whatever the table's size.
    int indexOf(uint32_t id) const;
    void buildIndex();

    unsigned char m_hash[16];
    std::vector<CRpc *> m_rpcs;
    std::vector<RpcStatistics> m_stats;
    /// Slots by hashed identifier, each the identifier beside its table
    /// position + 1 (0: empty), so a probe reads no RPC object; a power of
    /// two at least twice the table's size.
    std::vector<std::pair<uint32_t, int32_t>> m_slots;
    uint32_t m_slotShift = 32;

    static CRpcMgr *sm_pRpcMgr;
};
