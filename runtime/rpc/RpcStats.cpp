#include <cstddef>

#include "RpcMgr.h"

uint32_t CRpcMgr::getRpcTypeTimeByIndex(int index) const
{
    return m_stats.at(static_cast<size_t>(index)).time;
}

uint32_t CRpcMgr::getRpcTypeSizeByIndex(int index) const
{
    return m_stats.at(static_cast<size_t>(index)).size;
}

uint32_t CRpcMgr::getRpcTypeCountByIndex(int index) const
{
    return m_stats.at(static_cast<size_t>(index)).count;
}

namespace {

char const *nameOf(CRpc const *rpc)
{
    char const *name = rpc->GetName();
    return name != nullptr ? name : "";
}

// The first index holding the largest non-zero value of the field, or -1.
int indexOfLargest(std::vector<RpcStatistics> const &stats, uint32_t RpcStatistics::*field)
{
    int best = -1;
    uint32_t largest = 0;
    for (size_t i = 0; i < stats.size(); ++i) {
        if (stats[i].*field > largest) {
            largest = stats[i].*field;
            best = static_cast<int>(i);
        }
    }
    return best;
}

}  // namespace

int CRpcMgr::getMaxTimeRpcTypeIndex() const
{
    return indexOfLargest(m_stats, &RpcStatistics::time);
}

int CRpcMgr::getMaxSizeRpcTypeIndex() const
{
    return indexOfLargest(m_stats, &RpcStatistics::size);
}

void CRpcMgr::getRPCStats(std::string &slowestName, float &slowestAverage, std::string &busiestName,
                          int32_t &busiestCount)
{
    // The records and the table are the same length (ResetStats); the bound
    // is taken over both all the same.
    size_t records = m_stats.size() < m_rpcs.size() ? m_stats.size() : m_rpcs.size();
    for (size_t i = 0; i < records; ++i) {
        RpcStatistics &record = m_stats[i];
        float average =
            record.count != 0 ? static_cast<float>(record.time) / static_cast<float>(record.count) : 0.0f;
        if (average > slowestAverage) {
            slowestAverage = average;
            slowestName = nameOf(m_rpcs[i]);
        }
        if (record.count > static_cast<uint32_t>(busiestCount)) {
            busiestCount = static_cast<int32_t>(record.count);
            busiestName = nameOf(m_rpcs[i]);
        }
        record.count = 0;
        record.time = 0;
    }
}
