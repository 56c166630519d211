#include "ZoneClient.h"

#include <chrono>

#include "ZoneProtocol.h"
#include "ZoneRouter.h"

namespace zone {
namespace {

constexpr uint32_t kClientVersion = 21239;
constexpr int kMovesInFlight = 64;

}  // namespace

ZoneClient::ZoneClient(std::string name, int moves) : m_name(std::move(name)), m_moves(moves)
{
    m_server.SetMessageHandler(this);
    m_udp.SetMessageHandler(this);
    m_testPayload = "test payload from " + m_name;
}

ZoneClient::~ZoneClient()
{
    Stop();
}

void ZoneClient::Start(std::string const &endpoint, HostLoop &loop)
{
    m_loop = &loop;
    Router().AddClient(&m_server, this);
    m_udp.InitDatagramListen(0);
    m_server.InitStream(endpoint);
    if (m_server.GetState() == CConnection::Error) {
        fail(Error_ConnectErrorTCP, "cannot connect to " + endpoint);
        return;
    }
    loop.Add(&m_server);
    loop.Add(&m_udp);
}

ZoneClient::Outcome ZoneClient::Run(std::string const &endpoint, uint32_t timeoutMs)
{
    Start(endpoint, m_ownLoop);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Check() == Outcome::Running) {
        if (std::chrono::steady_clock::now() > deadline) {
            fail(Error_RequestTimeout, "the session did not finish in time");
            break;
        }
        m_ownLoop.Frame(10);
    }
    return m_outcome;
}

void ZoneClient::Stop()
{
    Router().RemoveClient(&m_server);
    if (m_loop != nullptr) {
        m_loop->Remove(&m_server);
        m_loop->Remove(&m_udp);
        m_loop = nullptr;
    }
    m_server.Cleanup();
    m_udp.Cleanup();
}

ZoneClient::Outcome ZoneClient::Check()
{
    if (m_outcome != Outcome::Running)
        return m_outcome;
    if (m_server.GetState() == CConnection::Error)
        fail(Error_ConnectErrorFailed, "connection error " + std::to_string(m_server.GetError()));
    else if (m_welcomed && m_acks == m_moves && m_bounced && m_sealChecked && m_updates > 0)
        m_outcome = Outcome::Succeeded;
    return m_outcome;
}

void ZoneClient::fail(Error code, std::string const &why)
{
    if (m_outcome != Outcome::Running)
        return;
    m_outcome = Outcome::Failed;
    m_failure = std::string(Error_ValueToName(code)) + ": " + why;
}

void ZoneClient::OnConnect(CConnection *connection, bool connected)
{
    if (connection != &m_server || connected)
        return;
    if (m_outcome == Outcome::Running)
        fail(m_tableChecked ? Error_ConnectErrorLost : Error_ServerNotResponding, "the server went away");
}

bool ZoneClient::CheckMessageSize(uint32_t size)
{
    return MessageSizeOfFrame(size) <= kDefaultMaxMessage;
}

void ZoneClient::OnError(CConnection *, Error code, int detail)
{
    fail(code, "outbound trouble (" + std::to_string(detail) + ")");
}

void ZoneClient::HandleMessage(CConnection *connection, const void *data, uint32_t size)
{
    CPackedData message(data, static_cast<int>(size));
    if (connection == &m_udp) {
        handleDatagram(message);
        return;
    }
    uint16_t type = message.GetUint16();
    switch (type) {
    //! [check table]
    case Msg_RpcTable:
        if (!CRpcMgr::GetInstance()->ParseTable(message)) {
            fail(Error_RpcTable, Error_ValueToDescription(Error_RpcTable));
            m_server.Cleanup();
            return;
        }
        m_tableChecked = true;
        {
            CPackedData announcement;
            announcement.PutUint16(static_cast<uint16_t>(Msg_UDPAnnouncement));
            announcement.PutUint16(m_udp.GetLocalPort());
            m_server.SendMsg(announcement);
        }
        CallLogin(&m_server, m_name, kClientVersion);
        break;
    //! [check table]
    case Msg_RpcCallFunction: {
        uint32_t id = message.GetUint32();
        CRpcMgr::GetInstance()->CallFunction(nullptr, &m_server, message, id);
        break;
    }
    case Msg_Test: {
        std::string echoed = message.GetString();
        if (echoed != m_testPayload)
            fail(Error_BadClientPacketInvalid, "the Test message came back changed");
        m_bounced = true;
        break;
    }
    default:
        fail(Error_BadClientPacketInvalid, "unexpected message type " + std::to_string(type));
        break;
    }
}

void ZoneClient::handleDatagram(CPackedData &message)
{
    if (message.GetUint16() == Msg_UpdateObject)
        ++m_updates;
}

void ZoneClient::OnWelcome(CConnection *, std::string const &greeting, uint32_t)
{
    if (greeting.find(m_name) == std::string::npos)
        fail(Error_Login, "a welcome for somebody else");
    m_welcomed = true;
    sendMoves();
    CPackedData test;
    test.PutUint16(static_cast<uint16_t>(Msg_Test));
    test.PutString(m_testPayload);
    m_server.SendMsg(test);
    CallSealedNote(&m_server, "sealed note from " + m_name);
}

void ZoneClient::sendMoves()
{
    // A window of calls in flight; each answer lets one more go.
    while (m_movesSent < m_moves && m_movesSent - m_acks < kMovesInFlight) {
        CallMove(&m_server, m_movesSent, static_cast<float>(m_movesSent), 2.0f);
        ++m_movesSent;
    }
}

void ZoneClient::OnMoveAck(CConnection *, int32_t sequence, float distance)
{
    // Answers come in the order the calls were made.
    float x = static_cast<float>(m_acks);
    if (sequence != m_acks || distance != x * x + 4.0f) {
        fail(Error_BadClientRPCArgs, "move " + std::to_string(m_acks) + " answered as " + std::to_string(sequence));
        return;
    }
    ++m_acks;
    sendMoves();
}

void ZoneClient::OnSealedNoteResult(CConnection *, bool valid, std::string const &text)
{
    if (!valid || text != "sealed note from " + m_name)
        fail(Error_BadClientPacketInvalid, "the sealed note was refused");
    m_sealChecked = true;
}

}  // namespace zone
