#include "ZoneRpcs.h"

#include "ZoneProtocol.h"

namespace zone {
namespace {

ZoneEvents *g_events = nullptr;

// The common part of the demo's RPC classes: a fixed identifier and name.
//! [rpc base]
class ZoneRpc : public CRpc {
public:
    ZoneRpc(uint32_t id, char const *name) : m_id(id), m_name(name) {}
    void Reserved() override {}
    uint32_t GetID() const override { return m_id; }
    char const *GetName() const override { return m_name; }
    void OnRegister() override {}

private:
    uint32_t m_id;
    char const *m_name;
};
//! [rpc base]

enum RpcId : uint32_t {
    kLogin = 0x5A000001,
    kWelcome = 0x5A000002,
    kMove = 0x5A000003,
    kMoveAck = 0x5A000004,
    kSealedNote = 0x5A000005,
    kSealedNoteResult = 0x5A000006,
};

//! [rpc class]
class LoginRpc : public ZoneRpc {
public:
    LoginRpc() : ZoneRpc(kLogin, "Login") {}
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &message) const override
    {
        std::string name = message.GetString();
        uint32_t version = message.GetUint32();
        g_events->OnLogin(GetConnection(), name, version);
    }
};
//! [rpc class]

class WelcomeRpc : public ZoneRpc {
public:
    WelcomeRpc() : ZoneRpc(kWelcome, "Welcome") {}
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &message) const override
    {
        std::string greeting = message.GetString();
        uint32_t clientId = message.GetUint32();
        g_events->OnWelcome(GetConnection(), greeting, clientId);
    }
};

class MoveRpc : public ZoneRpc {
public:
    MoveRpc() : ZoneRpc(kMove, "Move") {}
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &message) const override
    {
        int32_t sequence = message.GetInt32();
        float x = message.GetFloat();
        float y = message.GetFloat();
        g_events->OnMove(GetConnection(), sequence, x, y);
    }
};

class MoveAckRpc : public ZoneRpc {
public:
    MoveAckRpc() : ZoneRpc(kMoveAck, "MoveAck") {}
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &message) const override
    {
        int32_t sequence = message.GetInt32();
        float distance = message.GetFloat();
        g_events->OnMoveAck(GetConnection(), sequence, distance);
    }
};

class SealedNoteRpc : public ZoneRpc {
public:
    SealedNoteRpc() : ZoneRpc(kSealedNote, "SealedNote") {}
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &message) const override
    {
        // The sealed packet travels as a length and its bytes.
        uint32_t length = message.GetUint32();
        if (!message.checkBounds(static_cast<int>(length)) || length > kDefaultMaxMessage) {
            g_events->OnSealedNote(GetConnection(), CPackedData(0));
            return;
        }
        CPackedData sealed(message.readData() + message.GetGetIndex(), static_cast<int>(length));
        g_events->OnSealedNote(GetConnection(), sealed);
    }
};

class SealedNoteResultRpc : public ZoneRpc {
public:
    SealedNoteResultRpc() : ZoneRpc(kSealedNoteResult, "SealedNoteResult") {}
    void Invoke(Kest::Orv::orvContextObj *, int64_t, CPackedData &message) const override
    {
        bool valid = message.GetBool();
        std::string text = message.GetString();
        g_events->OnSealedNoteResult(GetConnection(), valid, text);
    }
};

}  // namespace

void SetZoneEvents(ZoneEvents *events)
{
    g_events = events;
}

//! [register]
void RegisterZoneRpcs()
{
    static LoginRpc login;
    static WelcomeRpc welcome;
    static MoveRpc move;
    static MoveAckRpc moveAck;
    static SealedNoteRpc sealedNote;
    static SealedNoteResultRpc sealedNoteResult;
    static bool linked = false;
    if (linked)
        return;
    linked = true;
    for (CRpc *rpc : std::initializer_list<CRpc *>{&login, &welcome, &move, &moveAck, &sealedNote, &sealedNoteResult})
        rpc->AddToStaticList();
}
//! [register]

//! [call]
void CallLogin(CConnection *server, std::string const &name, uint32_t version)
{
    CPackedData message;
    BeginRpc(message, kLogin);
    message.PutString(name);
    message.PutUint32(version);
    Rpc_SendMessageFunction(server, message);
}
//! [call]

void CallMove(CConnection *server, int32_t sequence, float x, float y)
{
    CPackedData message;
    BeginRpc(message, kMove);
    message.PutInt32(sequence);
    message.PutFloat(x);
    message.PutFloat(y);
    Rpc_SendMessageFunction(server, message);
}

void CallSealedNote(CConnection *server, std::string const &text)
{
    CPackedData sealed;
    sealed.useMD5Checksum(true);
    sealed.PutString(text);
    sealed.GenerateMD5Checksum();
    CPackedData message;
    BeginRpc(message, kSealedNote);
    message.PutUint32(static_cast<uint32_t>(sealed.size()));
    message.PutData(sealed.readData(), sealed.size());
    Rpc_SendMessageFunction(server, message);
}

void CallWelcome(CConnection *client, std::string const &greeting, uint32_t clientId)
{
    CPackedData message;
    BeginRpc(message, kWelcome);
    message.PutString(greeting);
    message.PutUint32(clientId);
    Rpc_SendMessageFunction(client, message);
}

void CallMoveAck(CConnection *client, int32_t sequence, float distance)
{
    CPackedData message;
    BeginRpc(message, kMoveAck);
    message.PutInt32(sequence);
    message.PutFloat(distance);
    Rpc_SendMessageFunction(client, message);
}

void CallSealedNoteResult(CConnection *client, bool valid, std::string const &text)
{
    CPackedData message;
    BeginRpc(message, kSealedNoteResult);
    message.PutBool(valid);
    message.PutString(text);
    Rpc_SendMessageFunction(client, message);
}

}  // namespace zone
