#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/FrameEventLog.h>
#include <SharedLib/net/Connection.h>
#include <SharedLib/platform/Clock.h>
#include <SharedLib/rpc/RpcHooks.h>
#include <SharedLib/rpc/RpcMgr.h>
#include <SharedLib/serialize/PackedData.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

constexpr int64_t kTicksPerMs = 1000000;  // the counter runs in nanoseconds here

// The pinned performance counter; bodies move it forward.
int64_t g_now = 0;
void advance(int64_t ticks)
{
    g_now += ticks;
    platform::PinPerformanceCounter(g_now);
}

// debuglog lines reach the DB target, not the console.
struct DbLine {
    int channel;
    std::string text;
};
std::vector<DbLine> g_dbLines;
void dbLine(LogItemSeverityLevel, int channel, char const *text, int, char const *)
{
    g_dbLines.push_back(DbLine{channel, text});
}
std::vector<std::string> dbTexts(int channel)
{
    std::vector<std::string> result;
    for (auto const &line : g_dbLines)
        if (line.channel == channel)
            result.push_back(line.text);
    return result;
}

class CallRpc : public CRpc {
public:
    CallRpc(uint32_t id, char const *name, int processType = 0, int validFor = -1, bool internal = false)
        : m_id(id), m_name(name), m_processType(processType), m_validFor(validFor), m_internal(internal)
    {
    }
    ~CallRpc() override = default;

    void Reserved() override {}
    uint32_t GetID() const override { return m_id; }
    char const *GetName() const override { return m_name; }
    void Invoke(Kest::Orv::orvContextObj *context, int64_t value, CPackedData &message) const override
    {
        ++calls;
        lastContext = context;
        lastValue = value;
        lastMessage = &message;
        connectionSeen = GetConnection();
        advance(bodyTicks);
    }
    void OnRegister() override {}
    bool isValidServer(int processType) const override { return processType == m_validFor; }
    bool isInternal() const override { return m_internal; }
    int GetProcessType() const override { return m_processType; }

    static void ForgetStaticList() { s_head = nullptr; }

    int64_t bodyTicks = 0;
    mutable int calls = 0;
    mutable Kest::Orv::orvContextObj *lastContext = nullptr;
    mutable int64_t lastValue = -1;
    mutable CPackedData *lastMessage = nullptr;
    mutable CConnection *connectionSeen = nullptr;

private:
    uint32_t m_id;
    char const *m_name;
    int m_processType;
    int m_validFor;
    bool m_internal;
};

class RpcCallTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        g_dbLines.clear();
        logger().setLogLocationMask(LogLocation_Console | LogLocation_DB);
        logger().setDBLogFunction(dbLine);
        logger().SetConditional(Log_RPC, LogSev_Warning);
        logger().SetConditional(Log_Pulse, LogSev_Warning);
        FrameEventLogger::init();
        ASSERT_EQ(FrameEventLogger::sm_uDivisor, static_cast<uint64_t>(kTicksPerMs));
        g_now = 1000;
        platform::PinPerformanceCounter(g_now);
    }
    void TearDown() override
    {
        CRpcMgr::Cleanup();
        CallRpc::ForgetStaticList();
        CRpcMgr::RegisterSendMessage(nullptr);
        CRpcMgr::RegisterDispatchMessage(nullptr);
        platform::ReleasePerformanceCounter();
        LogCaptureTest::TearDown();
    }

    CRpcMgr *build(std::initializer_list<CallRpc *> rpcs)
    {
        CRpcMgr::Cleanup();
        CallRpc::ForgetStaticList();
        for (CallRpc *rpc : rpcs)
            rpc->AddToStaticList();
        return CRpcMgr::GetInstance();
    }

    // A message of exactly `size` bytes.
    static CPackedData messageOf(int size)
    {
        CPackedData message(size);
        std::vector<char> bytes(static_cast<size_t>(size - 1), 'x');
        message.PutData(bytes.data(), size - 1);  // plus the header byte
        return message;
    }

    void call(CRpcMgr *manager, CallRpc &rpc, int64_t ticks, int size, CConnection *connection = nullptr)
    {
        CPackedData message = messageOf(size);
        rpc.bodyTicks = ticks;
        manager->CallFunction(nullptr, connection, message, rpc.GetID());
    }
};

TEST_F(RpcCallTest, CallsCountBytesAndWholeMilliseconds)
{
    CallRpc login(0x30, "Login"), move(0x10, "Move");
    CRpcMgr *manager = build({&login, &move});

    CPackedData message = messageOf(5);
    ASSERT_EQ(message.size(), 5);
    auto *context = reinterpret_cast<Kest::Orv::orvContextObj *>(&g_now);  // passed through, never read
    CConnection connection;
    move.bodyTicks = 6 * kTicksPerMs / 10;  // 0.6 ms
    manager->CallFunction(context, &connection, message, 0x10);

    EXPECT_EQ(move.calls, 1);
    EXPECT_EQ(move.lastContext, context);
    EXPECT_EQ(move.lastValue, 0);
    EXPECT_EQ(move.lastMessage, &message);
    EXPECT_EQ(move.connectionSeen, &connection);
    EXPECT_EQ(move.GetConnection(), &connection);  // kept after the call
    EXPECT_EQ(manager->getRpcTypeCountByIndex(0), 1u);
    EXPECT_EQ(manager->getRpcTypeSizeByIndex(0), 5u);
    EXPECT_EQ(manager->getRpcTypeTimeByIndex(0), 0u);

    call(manager, move, 25 * kTicksPerMs / 10, 40);  // 2.5 ms
    call(manager, login, 3 * kTicksPerMs - 1, 2);     // just under 3 ms
    EXPECT_EQ(move.GetConnection(), nullptr);
    EXPECT_EQ(manager->getRpcTypeCountByIndex(0), 2u);
    EXPECT_EQ(manager->getRpcTypeSizeByIndex(0), 45u);
    EXPECT_EQ(manager->getRpcTypeTimeByIndex(0), 2u);
    EXPECT_EQ(manager->getRpcTypeCountByIndex(1), 1u);
    EXPECT_EQ(manager->getRpcTypeSizeByIndex(1), 2u);
    EXPECT_EQ(manager->getRpcTypeTimeByIndex(1), 2u);
    EXPECT_TRUE(g_dbLines.empty());  // RPC and Pulse are quieter than info
}

TEST_F(RpcCallTest, SlowCallsAreLoggedOnPulseAtInfo)
{
    CallRpc move(0x10, "Move");
    CRpcMgr *manager = build({&move});

    call(manager, move, 8 * kTicksPerMs, 3);  // Pulse quiet: no line
    logger().SetConditional(Log_Pulse, LogSev_Info);
    call(manager, move, 49 * kTicksPerMs / 10, 3);
    call(manager, move, 5 * kTicksPerMs, 3);
    call(manager, move, 12345678, 3);
    EXPECT_EQ(dbTexts(Log_Pulse),
              (std::vector<std::string>{"Pulse: Move time=5.0000 ms", "Pulse: Move time=12.3457 ms"}));
    EXPECT_EQ(manager->getRpcTypeTimeByIndex(0), 8u + 4u + 5u + 12u);
    EXPECT_EQ(manager->getRpcTypeCountByIndex(0), 4u);
}

TEST_F(RpcCallTest, ArrivalLineNamesTheConnection)
{
    CallRpc move(0x10, "Move");
    CRpcMgr *manager = build({&move});
    logger().SetConditional(Log_RPC, LogSev_Info);

    RecordingHandler handler("Zone");
    CConnection unhandled, handled;
    handled.SetMessageHandler(&handler);
    call(manager, move, 0, 5);
    call(manager, move, 0, 7, &unhandled);
    call(manager, move, 0, 1, &handled);
    std::string loopbackLine;
    {
        RawPeerConnection loopback;
        ASSERT_EQ(loopback.client.GetState(), CConnection::Connected);
        ASSERT_NE(loopback.listener.port(), 0);
        call(manager, move, 0, 9, &loopback.client);
        loopbackLine =
            "RPC: Zone to 127.0.0.1:" + std::to_string(loopback.listener.port()) + ": Receiving RPC Move (9 bytes)";
    }
    EXPECT_EQ(dbTexts(Log_RPC), (std::vector<std::string>{
                                    "RPC: UNKNOWN to UNKNOWN:-1: Receiving RPC Move (5 bytes)",
                                    "RPC: Unhandled to 0.0.0.0:0: Receiving RPC Move (7 bytes)",
                                    "RPC: Zone to 0.0.0.0:0: Receiving RPC Move (1 bytes)",
                                    loopbackLine,
                                }));

    g_dbLines.clear();
    logger().SetConditional(Log_RPC, LogSev_Warning);
    call(manager, move, 0, 5);
    logger().SetConditional(Log_RPC, LogSev_Info);
    logger().setBSquelchLogger(true);
    call(manager, move, 0, 5);
    logger().setBSquelchLogger(false);
    EXPECT_TRUE(dbTexts(Log_RPC).empty());
    EXPECT_EQ(move.calls, 6);
}

TEST_F(RpcCallTest, UnknownIdentifierIsLoggedOnceAndCountsNothing)
{
    CallRpc move(0x10, "Move"), chat(0x20, "Chat");
    CRpcMgr *manager = build({&move, &chat});
    logger().SetConditional(Log_RPC, LogSev_Info);
    logger().SetConditional(Log_Pulse, LogSev_Info);

    CPackedData message = messageOf(5);
    manager->CallFunction(nullptr, nullptr, message, 0x5);  // below the first: lower bound is index 0
    manager->CallFunction(nullptr, nullptr, message, 0x15);
    EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR RPC: Unable to find RPC with ID 0x5",
                                                 "ERROR RPC: Unable to find RPC with ID 0x15"}));
    EXPECT_EQ(dbTexts(Log_RPC).size(), 2u);  // the same two error lines, no arrival line
    EXPECT_TRUE(dbTexts(Log_Pulse).empty());
    EXPECT_EQ(move.calls + chat.calls, 0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(manager->getRpcTypeCountByIndex(i), 0u);
        EXPECT_EQ(manager->getRpcTypeSizeByIndex(i), 0u);
    }
}

TEST_F(RpcCallTest, RpcStatsReportTheIntervalAndKeepSizes)
{
    CallRpc move(0x10, "Move"), chat(0x20, "Chat"), login(0x30, "Login");
    CRpcMgr *manager = build({&move, &chat, &login});
    call(manager, move, 3 * kTicksPerMs, 10);
    call(manager, move, 4 * kTicksPerMs, 10);  // 7 ms over 2 calls: 3.5 on average
    for (int i = 0; i < 3; ++i)
        call(manager, chat, 12 * kTicksPerMs / 10, 100);  // 1 ms each
    EXPECT_EQ(manager->getMaxTimeRpcTypeIndex(), 0);
    EXPECT_EQ(manager->getMaxSizeRpcTypeIndex(), 1);

    std::string slowest, busiest;
    float average = 0.0f;
    int32_t count = 0;
    manager->getRPCStats(slowest, average, busiest, count);
    EXPECT_EQ(slowest, "Move");
    EXPECT_FLOAT_EQ(average, 3.5f);
    EXPECT_EQ(busiest, "Chat");
    EXPECT_EQ(count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(manager->getRpcTypeCountByIndex(i), 0u);
        EXPECT_EQ(manager->getRpcTypeTimeByIndex(i), 0u);
    }
    EXPECT_EQ(manager->getRpcTypeSizeByIndex(0), 20u);
    EXPECT_EQ(manager->getRpcTypeSizeByIndex(1), 300u);
    EXPECT_EQ(manager->getMaxTimeRpcTypeIndex(), -1);
    EXPECT_EQ(manager->getMaxSizeRpcTypeIndex(), 1);

    // The next interval finds nothing and leaves the maxima it is given.
    manager->getRPCStats(slowest, average, busiest, count);
    EXPECT_EQ(slowest, "Move");
    EXPECT_FLOAT_EQ(average, 3.5f);
    EXPECT_EQ(busiest, "Chat");
    EXPECT_EQ(count, 3);

    // Maxima passed in are only raised; a negative count is a huge unsigned one.
    call(manager, login, 9 * kTicksPerMs, 1);
    call(manager, move, 1 * kTicksPerMs, 1);
    slowest = busiest = "caller";
    average = 20.0f;
    count = -1;
    manager->getRPCStats(slowest, average, busiest, count);
    EXPECT_EQ(slowest, "caller");
    EXPECT_EQ(average, 20.0f);
    EXPECT_EQ(busiest, "caller");
    EXPECT_EQ(count, -1);
    EXPECT_EQ(manager->getRpcTypeCountByIndex(2), 0u);

    // Equal counts: the first record wins.
    call(manager, login, 2 * kTicksPerMs, 1);
    call(manager, chat, 1 * kTicksPerMs, 1);
    call(manager, move, 1 * kTicksPerMs, 1);
    slowest = busiest = "";
    average = 0.0f;
    count = 0;
    manager->getRPCStats(slowest, average, busiest, count);
    EXPECT_EQ(slowest, "Login");
    EXPECT_EQ(busiest, "Move");

    manager->ResetStats();
    EXPECT_EQ(manager->getMaxSizeRpcTypeIndex(), -1);
}

TEST_F(RpcCallTest, MaxIndexGettersAndOutOfRange)
{
    CRpcMgr *empty = build({});
    EXPECT_EQ(empty->getMaxTimeRpcTypeIndex(), -1);
    EXPECT_EQ(empty->getMaxSizeRpcTypeIndex(), -1);
    EXPECT_THROW(empty->getRpcTypeTimeByIndex(0), std::out_of_range);

    CallRpc move(0x10, "Move"), chat(0x20, "Chat"), login(0x30, "Login");
    CRpcMgr *manager = build({&move, &chat, &login});
    EXPECT_EQ(manager->getMaxTimeRpcTypeIndex(), -1);
    EXPECT_EQ(manager->getMaxSizeRpcTypeIndex(), -1);
    call(manager, chat, 2 * kTicksPerMs, 8);
    call(manager, login, 2 * kTicksPerMs, 8);
    EXPECT_EQ(manager->getMaxTimeRpcTypeIndex(), 1);
    EXPECT_EQ(manager->getMaxSizeRpcTypeIndex(), 1);
    call(manager, login, 0, 1);
    EXPECT_EQ(manager->getMaxTimeRpcTypeIndex(), 1);
    EXPECT_EQ(manager->getMaxSizeRpcTypeIndex(), 2);

    for (int index : {-1, 3, 1000}) {
        EXPECT_THROW(manager->getRpcTypeTimeByIndex(index), std::out_of_range);
        EXPECT_THROW(manager->getRpcTypeSizeByIndex(index), std::out_of_range);
        EXPECT_THROW(manager->getRpcTypeCountByIndex(index), std::out_of_range);
    }
    EXPECT_EQ(manager->getRpcTypeCountByIndex(2), 2u);
}

TEST_F(RpcCallTest, IsValidServerReportsTheRpc)
{
    CallRpc move(0x10, "Move", 4, 4, true), chat(0x20, "Chat", 3, 7);
    CRpcMgr *manager = build({&move, &chat});

    int processType = 99;
    bool internal = true;
    EXPECT_FALSE(manager->IsValidServer(4, 0x11, processType, internal));
    EXPECT_EQ(processType, 99);
    EXPECT_TRUE(internal);
    EXPECT_EQ(texts(), std::vector<std::string>{"ERROR RPC: Unable to find RPC with ID 0x11"});

    EXPECT_FALSE(manager->IsValidServer(4, 0x20, processType, internal));
    EXPECT_EQ(processType, 3);
    EXPECT_FALSE(internal);
    EXPECT_TRUE(manager->IsValidServer(7, 0x20, processType, internal));
    EXPECT_TRUE(manager->IsValidServer(4, 0x10, processType, internal));
    EXPECT_EQ(processType, 4);
    EXPECT_TRUE(internal);
}

struct HookCalls {
    CConnection *connection = nullptr;
    CPackedData *message = nullptr;
    int64_t target = 0;
    uint32_t id = 0;
    int sends = 0;
    int dispatches = 0;
} g_hooks;

void sendHook(CConnection *connection, CPackedData &message)
{
    ++g_hooks.sends;
    g_hooks.connection = connection;
    g_hooks.message = &message;
}

void dispatchHook(int64_t target, uint32_t id, CPackedData *message)
{
    ++g_hooks.dispatches;
    g_hooks.target = target;
    g_hooks.id = id;
    g_hooks.message = message;
}

TEST_F(RpcCallTest, HooksForwardOnlyWhenRegistered)
{
    g_hooks = HookCalls{};
    CPackedData message;
    CConnection connection;
    EXPECT_EQ(fptr_SendMessageFunction, nullptr);
    EXPECT_EQ(fptr_DispatchMessageFunction, nullptr);
    Rpc_SendMessageFunction(&connection, message);
    Rpc_DispatchMessageFunction(1, 2, &message);
    EXPECT_EQ(g_hooks.sends + g_hooks.dispatches, 0);

    CRpcMgr::RegisterSendMessage(sendHook);
    CRpcMgr::RegisterDispatchMessage(dispatchHook);
    EXPECT_EQ(fptr_SendMessageFunction, &sendHook);
    Rpc_SendMessageFunction(&connection, message);
    EXPECT_EQ(g_hooks.sends, 1);
    EXPECT_EQ(g_hooks.connection, &connection);
    EXPECT_EQ(g_hooks.message, &message);

    Rpc_DispatchMessageFunction(INT64_C(0x123456789A), 0xFFFFFFF0u, nullptr);
    EXPECT_EQ(g_hooks.dispatches, 1);
    EXPECT_EQ(g_hooks.target, INT64_C(0x123456789A));
    EXPECT_EQ(g_hooks.id, 0xFFFFFFF0u);
    EXPECT_EQ(g_hooks.message, nullptr);

    CRpcMgr::RegisterSendMessage(nullptr);
    CRpcMgr::RegisterDispatchMessage(nullptr);
    Rpc_SendMessageFunction(nullptr, message);
    Rpc_DispatchMessageFunction(0, 0, &message);
    EXPECT_EQ(g_hooks.sends, 1);
    EXPECT_EQ(g_hooks.dispatches, 1);
    EXPECT_TRUE(texts().empty());
}

}  // namespace
