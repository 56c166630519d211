#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/rpc/RpcMgr.h>
#include <SharedLib/serialize/Md5.h>
#include <SharedLib/serialize/PackedData.h>

#include "support/LogCapture.h"

namespace {

class TestRpc : public CRpc {
public:
    TestRpc(uint32_t id, char const *name, bool internal = false) : m_id(id), m_name(name), m_internal(internal) {}
    ~TestRpc() override = default;

    void Reserved() override {}
    uint32_t GetID() const override { return m_id; }
    char const *GetName() const override { return m_name; }
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &) const override {}
    void OnRegister() override { ++registered; }
    bool isInternal() const override { return m_internal; }

    // Empties the process-wide list between tests.
    static void ForgetStaticList() { s_head = nullptr; }

    int registered = 0;

private:
    uint32_t m_id;
    char const *m_name;
    bool m_internal;
};

class RpcTableTest : public LogCaptureTest {
protected:
    void TearDown() override
    {
        CRpcMgr::Cleanup();
        TestRpc::ForgetStaticList();
        LogCaptureTest::TearDown();
    }

    // Builds a manager from these RPCs, added to the list in this order.
    CRpcMgr *build(std::initializer_list<TestRpc *> rpcs)
    {
        CRpcMgr::Cleanup();
        TestRpc::ForgetStaticList();
        for (TestRpc *rpc : rpcs)
            rpc->AddToStaticList();
        return CRpcMgr::GetInstance();
    }

    std::vector<unsigned char> digest(CRpcMgr *manager)
    {
        return std::vector<unsigned char>(manager->GetHash(), manager->GetHash() + 16);
    }
};

std::vector<unsigned char> md5Of(std::vector<uint32_t> const &ids)
{
    md5_state_s state;
    md5_init(&state);
    for (uint32_t id : ids) {
        uint8_t bytes[4];
        std::memcpy(bytes, &id, 4);  // little-endian host
        md5_append(&state, bytes, 4);
    }
    uint8_t out[16];
    md5_finish(&state, out);
    return std::vector<unsigned char>(out, out + 16);
}

TEST_F(RpcTableTest, DigestCoversSortedIdentifiersWhateverTheOrderOfRegistration)
{
    TestRpc login(0x30, "Login"), move(0x10, "Move"), chat(0x20, "Chat");
    auto first = digest(build({&login, &move, &chat}));
    EXPECT_EQ(first, md5Of({0x10, 0x20, 0x30}));
    auto second = digest(build({&chat, &login, &move}));
    EXPECT_EQ(first, second);
    EXPECT_EQ(login.registered, 2);  // once per manager

    CRpcMgr *manager = CRpcMgr::GetInstance();
    ASSERT_EQ(manager->getRpcTypeCount(), 3);
    EXPECT_STREQ(manager->getRpcTypeNameByIndex(0), "Move");
    EXPECT_STREQ(manager->getRpcTypeNameByIndex(2), "Login");
}

TEST_F(RpcTableTest, InternalRpcsStayOutOfTheDigestButCanBeFound)
{
    logger().SetConditional(Log_RPC, LogSev_Detail);
    TestRpc login(0x30, "Login"), move(0x10, "Move"), ping(0x15, "Ping", true);
    CRpcMgr *manager = build({&login, &move, &ping});
    EXPECT_EQ(digest(manager), md5Of({0x10, 0x30}));
    EXPECT_EQ(texts(), (std::vector<std::string>{"RPC: In hash: 0x00000010 Move", "RPC: In hash: 0x00000030 Login"}));
    EXPECT_EQ(manager->FindRpc(0x15u), &ping);
    EXPECT_EQ(manager->FindRpc("Ping"), &ping);
}

TEST_F(RpcTableTest, AnEmptyTableHasTheDigestOfNoBytes)
{
    CRpcMgr *manager = build({});
    EXPECT_EQ(manager->getRpcTypeCount(), 0);
    EXPECT_EQ(digest(manager), md5Of({}));
    EXPECT_EQ(manager->FindRpc(1u), nullptr);
}

TEST_F(RpcTableTest, LookUpsByIdentifierAndName)
{
    std::vector<std::unique_ptr<TestRpc>> rpcs;
    CRpcMgr::Cleanup();
    TestRpc::ForgetStaticList();
    for (uint32_t id = 1; id <= 50; ++id) {
        rpcs.push_back(std::make_unique<TestRpc>(id * 7, "Rpc"));
        rpcs.back()->AddToStaticList();
    }
    CRpcMgr *manager = CRpcMgr::GetInstance();
    for (auto const &rpc : rpcs)
        EXPECT_EQ(manager->FindRpc(rpc->GetID()), rpc.get());
    EXPECT_TRUE(texts().empty());

    EXPECT_EQ(manager->FindRpc(351u), nullptr);  // one above the largest
    EXPECT_EQ(manager->FindRpc(8u), nullptr);
    EXPECT_EQ(manager->getRpcTypeName(9u), nullptr);
    EXPECT_STREQ(manager->getRpcTypeName(14u), "Rpc");
    EXPECT_STREQ(manager->FindRpcPrivilege(14u), "");
    EXPECT_EQ(manager->FindRpc("rpc"), nullptr);  // case counts
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR RPC: Unable to find RPC with ID 0x15F", "ERROR RPC: Unable to find RPC with ID 0x8",
                           "ERROR RPC: Unable to find RPC with ID 0x9", "ERROR RPC: Unable to find RPC with name rpc"}));
}

TEST_F(RpcTableTest, TableMessagesAreComparedByteForByte)
{
    TestRpc login(0x30, "Login"), move(0x10, "Move");
    CRpcMgr *manager = build({&login, &move});

    CPackedData message;
    manager->BuildTable(message);
    ASSERT_EQ(message.size(), 17);  // header byte and the 16 digest bytes
    EXPECT_EQ(std::memcmp(message.readData() + 1, manager->GetHash(), 16), 0);
    CPackedData received(message.readData(), message.size());
    EXPECT_TRUE(manager->ParseTable(received));

    // A debug-typed table carries the data tag and the length 16.
    CPackedData debug;
    debug.setDebug(true);
    manager->BuildTable(debug);
    ASSERT_EQ(debug.size(), 1 + 1 + 4 + 16);
    EXPECT_EQ(debug.readData()[1], 'h');
    CPackedData debugReceived(debug.readData(), debug.size());
    EXPECT_TRUE(manager->ParseTable(debugReceived));

    // A peer built with one identifier more.
    TestRpc extra(0x40, "Extra");
    CPackedData theirs;
    build({&login, &move, &extra})->BuildTable(theirs);
    manager = build({&login, &move});
    CPackedData theirsReceived(theirs.readData(), theirs.size());
    EXPECT_FALSE(manager->ParseTable(theirsReceived));
    EXPECT_EQ(texts(), std::vector<std::string>{"ERROR Network: Rpc table from server does not match ours"});
}

}  // namespace
