// Dispatch cost of CRpcMgr::CallFunction against its floor, a plain virtual
// call of the same body through a CRpc pointer. A logger is installed with
// the RPC and Pulse channels quieter than info, as on a production server, so
// neither the arrival line nor the slow-call counter builds anything. Calls
// cycle through the registered identifiers in a shuffled order, so the
// look-up is not the same path every time; the floor cycles through the
// same RPC objects in the same order.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/Logger.h>
#include <SharedLib/log/PerfCounter.h>
#include <SharedLib/rpc/RpcMgr.h>
#include <SharedLib/serialize/PackedData.h>

namespace {

class BenchRpc : public CRpc {
public:
    explicit BenchRpc(uint32_t id) : m_id(id) {}
    ~BenchRpc() override = default;

    void Reserved() override {}
    uint32_t GetID() const override { return m_id; }
    char const *GetName() const override { return "BenchRpc"; }
    void Invoke(Kest::Orv::orvContextObj *, int64_t value, CPackedData &message) const override
    {
        benchmark::DoNotOptimize(value);
        benchmark::DoNotOptimize(message.size());
    }
    void OnRegister() override {}

    static void ForgetStaticList() { s_head = nullptr; }

private:
    uint32_t m_id;
};

// A table of `count` RPCs with scattered identifiers and the call order.
struct Table {
    std::vector<std::unique_ptr<BenchRpc>> rpcs;
    std::vector<uint32_t> ids;        // shuffled
    std::vector<CRpc *> inCallOrder;  // the same order, as objects
    std::unique_ptr<Logger> logger;
    CRpcMgr *manager = nullptr;

    explicit Table(int count)
    {
        logger = std::make_unique<Logger>("RpcBench", nullptr);
        logger->setLogLocationMask(0);
        logger->SetConditional(Log_RPC, LogSev_Warning);
        logger->SetConditional(Log_Pulse, LogSev_Warning);
        theLogger = logger.get();

        CRpcMgr::Cleanup();
        BenchRpc::ForgetStaticList();
        std::mt19937 random(12345);
        for (int i = 0; i < count; ++i) {
            uint32_t id = static_cast<uint32_t>(i + 1) * 2654435761u;  // distinct, scattered
            rpcs.push_back(std::make_unique<BenchRpc>(id));
            rpcs.back()->AddToStaticList();
            ids.push_back(id);
        }
        manager = CRpcMgr::GetInstance();
        std::shuffle(ids.begin(), ids.end(), random);
        for (uint32_t id : ids)
            inCallOrder.push_back(manager->FindRpc(id));
    }
    ~Table()
    {
        CRpcMgr::Cleanup();
        BenchRpc::ForgetStaticList();
        theLogger = nullptr;
    }
};

char const kPayload[24] = {0};

void BM_VirtualCallBody(benchmark::State &state)
{
    Table table(static_cast<int>(state.range(0)));
    CPackedData message(kPayload, sizeof kPayload);
    size_t next = 0;
    for (auto _ : state) {
        CRpc *rpc = table.inCallOrder[next];
        benchmark::DoNotOptimize(rpc);
        rpc->CallBody(nullptr, message);
        if (++next == table.inCallOrder.size())
            next = 0;
    }
}

void BM_CallFunction(benchmark::State &state)
{
    Table table(static_cast<int>(state.range(0)));
    CPackedData message(kPayload, sizeof kPayload);
    size_t next = 0;
    for (auto _ : state) {
        table.manager->CallFunction(nullptr, nullptr, message, table.ids[next]);
        if (++next == table.ids.size())
            next = 0;
    }
    benchmark::DoNotOptimize(table.manager->getRpcTypeCountByIndex(0));
}

// The same dispatch with no logger at all (theLogger null).
void BM_CallFunctionNoLogger(benchmark::State &state)
{
    Table table(static_cast<int>(state.range(0)));
    theLogger = nullptr;
    CPackedData message(kPayload, sizeof kPayload);
    size_t next = 0;
    for (auto _ : state) {
        table.manager->CallFunction(nullptr, nullptr, message, table.ids[next]);
        if (++next == table.ids.size())
            next = 0;
    }
}

// One part of the dispatch on its own: the body timer (two counter reads).
void BM_PrecisionPerfCounter(benchmark::State &state)
{
    uint32_t total = 0;
    for (auto _ : state) {
        PrecisionPerfCounter timer(total, false);
        benchmark::DoNotOptimize(&total);
    }
    benchmark::DoNotOptimize(total);
}

// The tick-count pair that every SendMsg takes for its write time.
void BM_PerfCounter(benchmark::State &state)
{
    uint32_t total = 0;
    for (auto _ : state) {
        PerfCounter timer(total);
        benchmark::DoNotOptimize(&total);
    }
    benchmark::DoNotOptimize(total);
}

}  // namespace

BENCHMARK(BM_PerfCounter);
BENCHMARK(BM_PrecisionPerfCounter);
BENCHMARK(BM_VirtualCallBody)->Arg(16)->Arg(256)->Arg(2048);
BENCHMARK(BM_CallFunction)->Arg(16)->Arg(256)->Arg(2048);
BENCHMARK(BM_CallFunctionNoLogger)->Arg(16)->Arg(256)->Arg(2048);
