#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <SharedLib/SharedLib.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/ConnectionPair.h"
#include "support/LogCapture.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int64_t kTicksPerMs = 1000000;  // the counter runs in nanoseconds here

// The pinned performance counter; bodies move it forward.
int64_t g_now = 0;

class CallRpc : public CRpc {
public:
    CallRpc(uint32_t id, char const *name, int processType = 0, int validFor = -1, bool internal = false)
        : m_id(id), m_name(name), m_processType(processType), m_validFor(validFor), m_internal(internal)
    {
    }
    void Reserved() override {}
    uint32_t GetID() const override { return m_id; }
    char const *GetName() const override { return m_name; }
    void Invoke(Kest::Orv::orvContextObj *context, int64_t value, CPackedData &message) const override
    {
        ++calls;
        last = {context, value, &message, GetConnection()};
        platform::PinPerformanceCounter(g_now += bodyTicks);
    }
    void OnRegister() override { ++registered; }
    bool isValidServer(int processType) const override { return processType == m_validFor; }
    bool isInternal() const override { return m_internal; }
    int GetProcessType() const override { return m_processType; }
    static void ForgetStaticList() { s_head = nullptr; }

    int64_t bodyTicks = 0;
    int registered = 0;
    mutable int calls = 0;
    // What the last call was given, and the connection it saw.
    mutable std::tuple<Kest::Orv::orvContextObj *, int64_t, CPackedData *, CConnection *> last;
    uint32_t m_id;
    char const *m_name;
    int m_processType, m_validFor;
    bool m_internal;
};

class RpcMgrTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        logger().setLogLocationMask(LogLocation_Console | LogLocation_DB);  // debuglog reaches the DB target
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

    CRpcMgr *build(std::vector<CallRpc *> const &rpcs)
    {
        CRpcMgr::Cleanup();
        CallRpc::ForgetStaticList();
        for (CallRpc *rpc : rpcs)
            rpc->AddToStaticList();
        return m_manager = CRpcMgr::GetInstance();
    }

    // A message of exactly `size` bytes: the header byte and size - 1 more.
    static CPackedData messageOf(int size)
    {
        CPackedData message(size);
        std::string bytes(static_cast<size_t>(size - 1), 'x');
        message.PutData(bytes.data(), size - 1);
        return message;
    }

    void call(CallRpc &rpc, int64_t ticks, int size, CConnection *connection = nullptr)
    {
        CPackedData message = messageOf(size);
        rpc.bodyTicks = ticks;
        m_manager->CallFunction(nullptr, connection, message, rpc.GetID());
    }

    // count, size and time of every record, in table order.
    std::vector<std::vector<uint32_t>> stats()
    {
        std::vector<std::vector<uint32_t>> result;
        for (int i = 0; i < m_manager->getRpcTypeCount(); ++i)
            result.push_back({m_manager->getRpcTypeCountByIndex(i), m_manager->getRpcTypeSizeByIndex(i),
                              m_manager->getRpcTypeTimeByIndex(i)});
        return result;
    }

    std::string digest()
    {
        char text[33];
        for (int i = 0; i < 16; ++i)
            std::snprintf(text + 2 * i, 3, "%02x", m_manager->GetHash()[i]);
        return text;
    }

    CRpcMgr *m_manager = nullptr;
};

using Stats = std::vector<std::vector<uint32_t>>;

// The digest is what two programs compare when they connect, so its value is
// fixed: MD5 of the identifiers in ascending order, four bytes each, least
// significant first (78 56 34 12 F0 DE BC 9A here), internal ones left out.
TEST_F(RpcMgrTest, DigestOfAKnownTableIsGolden)
{
    logger().SetConditional(Log_RPC, LogSev_Detail);
    CallRpc high(0x9ABCDEF0, "High"), low(0x12345678, "Low"), ping(0x0BADF00D, "Ping", 0, -1, true);
    build({&high, &ping, &low});
    EXPECT_EQ(digest(), "02087462e20391760033524bac7fa23a");
    EXPECT_EQ(texts(), (Lines{"RPC: In hash: 0x12345678 Low", "RPC: In hash: 0x9ABCDEF0 High"}));
    build({&low, &high, &ping});
    ASSERT_EQ(T(digest(), low.registered, m_manager->getRpcTypeCount()),  // registered once per manager
              T(std::string("02087462e20391760033524bac7fa23a"), 2, 3));
    EXPECT_EQ(std::string(m_manager->getRpcTypeNameByIndex(0)) + "," + m_manager->getRpcTypeNameByIndex(2),
              "Ping,High");
    EXPECT_EQ(m_manager->FindRpc(0x0BADF00Du), &ping);  // internal, but in the table

    build({});
    EXPECT_EQ(T(m_manager->getRpcTypeCount(), digest(), m_manager->FindRpc(1u)),
              (T<int, std::string, CRpc *>(0, "d41d8cd98f00b204e9800998ecf8427e", nullptr)));
}

TEST_F(RpcMgrTest, LookUpsByIdentifierAndName)
{
    std::vector<std::unique_ptr<CallRpc>> rpcs;
    std::vector<CallRpc *> list;
    for (uint32_t id = 1; id <= 50; ++id)
        list.push_back(rpcs.emplace_back(std::make_unique<CallRpc>(id * 7, id == 2 ? "Two" : "Rpc")).get());
    CRpcMgr *manager = build(list);
    for (auto const &rpc : rpcs)
        EXPECT_EQ(manager->FindRpc(rpc->GetID()), rpc.get());
    EXPECT_EQ(manager->FindRpc("Two"), rpcs[1].get());
    EXPECT_TRUE(texts().empty());

    // 351: one above the largest; names: case counts.
    EXPECT_TRUE(!manager->FindRpc(351u) && !manager->FindRpc(8u) && !manager->getRpcTypeName(9u));
    EXPECT_STREQ(manager->getRpcTypeName(14u), "Two");
    EXPECT_STREQ(manager->FindRpcPrivilege(14u), "");
    EXPECT_TRUE(!manager->FindRpcPrivilege(15u) && !manager->FindRpc("two"));
    // Equal identifiers keep the order of the list, and the first answers.
    CallRpc first(14, "First"), second(14, "Second");
    build({&second, &first});
    EXPECT_EQ(m_manager->FindRpc(14u), &first);
    EXPECT_STREQ(m_manager->getRpcTypeNameByIndex(1), "Second");
    EXPECT_EQ(texts(), (Lines{"ERROR RPC: Unable to find RPC with ID 0x15F", "ERROR RPC: Unable to find RPC with ID 0x8",
                              "ERROR RPC: Unable to find RPC with ID 0x9", "ERROR RPC: Unable to find RPC with ID 0xF",
                              "ERROR RPC: Unable to find RPC with name two"}));
}

TEST_F(RpcMgrTest, TableMessagesAreComparedByteForByte)
{
    CallRpc login(0x30, "Login"), move(0x10, "Move"), extra(0x40, "Extra");
    CPackedData theirs;
    build({&login, &move, &extra})->BuildTable(theirs);
    build({&login, &move});
    // Plain: the header byte and the 16 digest bytes; debug-typed: the data
    // tag and the length 16 as well. A match starts the statistics over.
    for (bool debug : {false, true}) {
        call(move, kTicksPerMs, 4);
        CPackedData message;
        message.setDebug(debug);
        m_manager->BuildTable(message);
        ASSERT_EQ(message.size(), debug ? 1 + 1 + 4 + 16 : 1 + 16);
        EXPECT_EQ(std::string(message.readData() + message.size() - 16, 16),
                  std::string(reinterpret_cast<char const *>(m_manager->GetHash()), 16));
        CPackedData received(message.readData(), message.size());
        EXPECT_TRUE(m_manager->ParseTable(received) && stats() == (Stats{{0, 0, 0}, {0, 0, 0}}));
    }
    // A peer built with one identifier more.
    call(move, kTicksPerMs, 4);
    CPackedData received(theirs.readData(), theirs.size());
    EXPECT_FALSE(m_manager->ParseTable(received));
    EXPECT_EQ(stats(), (Stats{{1, 4, 1}, {0, 0, 0}}));
    EXPECT_EQ(texts(), Lines{"ERROR Network: Rpc table from server does not match ours"});
}

TEST_F(RpcMgrTest, CallsCountBytesAndWholeMilliseconds)
{
    CallRpc login(0x30, "Login"), move(0x10, "Move");
    build({&login, &move});

    CPackedData message = messageOf(5);
    auto *context = reinterpret_cast<Kest::Orv::orvContextObj *>(&g_now);  // passed through, never read
    CConnection connection;
    move.bodyTicks = 6 * kTicksPerMs / 10;  // 0.6 ms
    m_manager->CallFunction(context, &connection, message, 0x10);
    EXPECT_TRUE(move.calls == 1 && move.last == std::make_tuple(context, int64_t{0}, &message, &connection));
    EXPECT_EQ(stats(), (Stats{{1, 5, 0}, {0, 0, 0}}));

    call(move, 25 * kTicksPerMs / 10, 40);  // 2.5 ms
    call(login, 3 * kTicksPerMs - 1, 2);    // just under 3 ms
    EXPECT_EQ(T(move.GetConnection(), stats()), (T<CConnection *, Stats>(nullptr, {{2, 45, 2}, {1, 2, 2}})));
    EXPECT_TRUE(dbTexts().empty());  // RPC and Pulse are quieter than info

    // A counter that stands still or runs back adds no time.
    call(login, -5 * kTicksPerMs, 1);
    EXPECT_EQ(stats()[1], (std::vector<uint32_t>{2, 3, 2}));
}

// The arrival line names the connection; calls of 5 ms and more are logged
// on Pulse. An unknown identifier is logged and counts nothing.
TEST_F(RpcMgrTest, ArrivalSlowCallAndUnknownIdentifierLines)
{
    CallRpc move(0x10, "Move"), chat(0x20, "Chat");
    build({&move, &chat});
    call(move, 8 * kTicksPerMs, 3);  // Pulse quiet: no line
    logger().SetConditional(Log_Pulse, LogSev_Info);
    call(move, 49 * kTicksPerMs / 10, 3);
    call(move, 5 * kTicksPerMs, 3);
    call(move, 12345678, 3);
    EXPECT_EQ(dbTexts(), (Lines{"Pulse: Move time=5.0000 ms", "Pulse: Move time=12.3457 ms"}));
    EXPECT_EQ(stats(), (Stats{{4, 12, 8 + 4 + 5 + 12}, {0, 0, 0}}));

    clearLines();
    logger().SetConditional(Log_RPC, LogSev_Info);
    RecordingHandler handler("Zone");
    CConnection unhandled, handled;
    handled.SetMessageHandler(&handler);
    call(chat, 0, 5);
    call(chat, 0, 7, &unhandled);
    call(chat, 0, 1, &handled);
    CPackedData message = messageOf(5);
    m_manager->CallFunction(nullptr, nullptr, message, 0x5);
    m_manager->CallFunction(nullptr, nullptr, message, 0x15);
    Lines const errors = {"ERROR RPC: Unable to find RPC with ID 0x5", "ERROR RPC: Unable to find RPC with ID 0x15"};
    EXPECT_EQ(dbTexts(), (Lines{"RPC: UNKNOWN to UNKNOWN:-1: Receiving RPC Chat (5 bytes)",
                                "RPC: Unhandled to 0.0.0.0:0: Receiving RPC Chat (7 bytes)",
                                "RPC: Zone to 0.0.0.0:0: Receiving RPC Chat (1 bytes)", errors[0], errors[1]}));
    EXPECT_EQ(T(texts(), move.calls, chat.calls, stats()), T(errors, 4, 3, Stats{{4, 12, 29}, {3, 13, 0}}));

    clearLines();
    logger().SetConditional(Log_RPC, LogSev_Warning);
    call(move, 0, 5);
    logger().SetConditional(Log_RPC, LogSev_Info), logger().setBSquelchLogger(true);
    call(move, 0, 5);
    logger().setBSquelchLogger(false);
    EXPECT_TRUE(dbTexts().empty() && move.calls == 6);
}

TEST_F(RpcMgrTest, StatisticsOfAnIntervalAndTheirMaxima)
{
    // The indexes of the largest time and size; the lower index wins a tie.
    auto largest = [this] {
        return std::make_pair(m_manager->getMaxTimeRpcTypeIndex(), m_manager->getMaxSizeRpcTypeIndex());
    };
    EXPECT_EQ(build({})->getRpcTypeCount(), 0);
    EXPECT_EQ(largest(), std::make_pair(-1, -1));
    CallRpc move(0x10, "Move"), chat(0x20, "Chat"), login(0x30, "Login");
    build({&move, &chat, &login});
    EXPECT_EQ(largest(), std::make_pair(-1, -1));
    call(move, kTicksPerMs, 1);  // the smallest values count
    EXPECT_EQ(largest(), std::make_pair(0, 0));
    for (int index : {-1, 3, 1000}) {
        EXPECT_THROW(m_manager->getRpcTypeTimeByIndex(index), std::out_of_range);
        EXPECT_THROW(m_manager->getRpcTypeSizeByIndex(index), std::out_of_range);
        EXPECT_THROW(m_manager->getRpcTypeCountByIndex(index), std::out_of_range);
    }
    call(chat, 2 * kTicksPerMs, 8);
    call(login, 2 * kTicksPerMs, 8);
    EXPECT_EQ(largest(), std::make_pair(1, 1));
    call(login, 0, 1);
    EXPECT_EQ(largest(), std::make_pair(1, 2));

    m_manager->ResetStats();
    call(move, 3 * kTicksPerMs, 10);
    call(move, 4 * kTicksPerMs, 10);  // 7 ms over 2 calls: 3.5 on average
    for (int i = 0; i < 3; ++i)
        call(chat, 12 * kTicksPerMs / 10, 100);  // 1 ms each
    EXPECT_EQ(largest(), std::make_pair(0, 1));
    struct Maxima {
        std::string slowest, busiest;
        float average = 0.0f;
        int32_t count = 0;
        void take(CRpcMgr *manager) { manager->getRPCStats(slowest, average, busiest, count); }
    } m;
    m.take(m_manager);
    EXPECT_EQ(m.slowest + "," + m.busiest + "," + std::to_string(m.count), "Move,Chat,3");
    EXPECT_FLOAT_EQ(m.average, 3.5f);
    // Counts and times start over; sizes stay.
    EXPECT_EQ(T(stats(), largest()), T(Stats{{0, 20, 0}, {0, 300, 0}, {0, 0, 0}}, std::make_pair(-1, 1)));
    // An empty interval leaves the maxima it is given.
    m.take(m_manager);
    EXPECT_EQ(m.slowest + "," + m.busiest + "," + std::to_string(m.count), "Move,Chat,3");

    // Maxima passed in are only raised; a negative count is a huge unsigned one.
    call(login, 9 * kTicksPerMs, 1);
    m = Maxima{"caller", "caller", 20.0f, -1};
    m.take(m_manager);
    EXPECT_EQ(m.slowest + "," + m.busiest + "," + std::to_string(m.count) + "," + std::to_string(m.average),
              "caller,caller,-1,20.000000");

    // Equal averages and counts: the first record wins.
    call(login, 2 * kTicksPerMs, 1);
    call(chat, 2 * kTicksPerMs, 1);
    call(move, 1 * kTicksPerMs, 1);
    m = Maxima{};
    m.take(m_manager);
    EXPECT_EQ(m.slowest + "," + m.busiest, "Chat,Move");
    m_manager->ResetStats();
    EXPECT_EQ(stats(), (Stats{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}));
}

TEST_F(RpcMgrTest, IsValidServerReportsTheRpc)
{
    CallRpc move(0x10, "Move", 4, 4, true), chat(0x20, "Chat", 3, 7);
    build({&move, &chat});
    int processType = 99;
    bool internal = true;
    auto valid = [&](int type, uint32_t id) {
        bool const ok = m_manager->IsValidServer(type, id, processType, internal);
        return T(ok, processType, internal);
    };
    EXPECT_EQ(valid(4, 0x11), T(false, 99, true));  // unknown: untouched
    EXPECT_EQ(texts(), Lines{"ERROR RPC: Unable to find RPC with ID 0x11"});
    EXPECT_EQ(valid(4, 0x20), T(false, 3, false));
    EXPECT_EQ(valid(7, 0x20), T(true, 3, false));
    EXPECT_EQ(valid(4, 0x10), T(true, 4, true));
}

// What the hooks were given.
std::string g_hookCalls;

TEST_F(RpcMgrTest, HooksForwardOnlyWhenRegistered)
{
    g_hookCalls.clear();
    CPackedData message = messageOf(3);
    CConnection connection;
    for (bool registered : {false, true, false}) {
        CRpcMgr::RegisterSendMessage(!registered ? nullptr : +[](CConnection *to, CPackedData &sent) {
            g_hookCalls += "send " + std::to_string(to != nullptr) + " " + std::to_string(sent.size()) + ";";
        });
        CRpcMgr::RegisterDispatchMessage(!registered ? nullptr : +[](int64_t target, uint32_t id, CPackedData *sent) {
            g_hookCalls += "dispatch " + std::to_string(target) + " " + std::to_string(id) + " " +
                           std::to_string(sent != nullptr) + ";";
        });
        Rpc_SendMessageFunction(&connection, message);
        Rpc_DispatchMessageFunction(INT64_C(0x123456789A), 0xFFFFFFF0u, registered ? nullptr : &message);
    }
    EXPECT_EQ(T(g_hookCalls, texts()), T(std::string("send 1 3;dispatch 78187493530 4294967280 0;"), Lines{}));
}

}  // namespace
