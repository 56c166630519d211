#include "ZoneServer.h"

#include <cstdio>

#include "ZoneProtocol.h"

namespace zone {

ZoneServer::ZoneServer()
{
    m_udp.SetMessageHandler(this);
}

ZoneServer::~ZoneServer()
{
    Close();
}

int ZoneServer::Open(uint16_t port, bool tryNextPorts)
{
    int result = m_listener.Init(this, 0x7F000001, port, tryNextPorts);
    if (result != 0)
        return result;
    m_loop.AddListener(&m_listener);
    // State updates leave from a datagram socket of their own.
    m_udp.InitDatagramListen(0);
    m_loop.Add(&m_udp);
    return 0;
}

//! [accept]
void ZoneServer::OnAccept(CListener *, CConnection *connection)
{
    Client &client = m_clients[connection];
    client.connection.reset(connection);
    client.link = std::make_unique<ClientLink>(*this, *connection);
    connection->SetMessageHandler(client.link.get());
    client.id = m_nextClientId++;
    m_loop.Add(connection);
    ++m_statistics.accepted;
    // Every new client first learns the server's RPC table.
    CPackedData table;
    table.PutUint16(static_cast<uint16_t>(Msg_RpcTable));
    CRpcMgr::GetInstance()->BuildTable(table);
    connection->SendMsg(table);
}
//! [accept]

void ZoneServer::OnListenError(CListener *, int error)
{
    SHAREDLIB_LOG(LogSev_Error, Log_Network, "ZoneServer: the listener failed with error %d", error);
}

//! [dispatch]
void ZoneServer::HandleMessage(CConnection *connection, const void *data, uint32_t size)
{
    CPackedData message(data, static_cast<int>(size));
    uint16_t type = message.GetUint16();
    switch (type) {
    case Msg_RpcCallFunction: {
        uint32_t id = message.GetUint32();
        CRpcMgr::GetInstance()->CallFunction(nullptr, connection, message, id);
        break;
    }
    case Msg_Test:
        ++m_statistics.bounced;
        connection->SendMsg(size, static_cast<const char *>(data));
        break;
    case Msg_UDPAnnouncement: {
        auto found = m_clients.find(connection);
        if (found != m_clients.end())
            found->second.udpPort = message.GetUint16();
        break;
    }
    default:
        SHAREDLIB_LOG(LogSev_Warning, Log_Network, "ZoneServer: ignoring a message of type %d from %s", type,
                      connection->GetIpAsString().c_str());
        break;
    }
}
//! [dispatch]

void ZoneServer::OnConnect(CConnection *connection, bool connected)
{
    if (connected)
        return;
    // The connection is inside its own call now: it is released after the frame.
    if (m_clients.count(connection) != 0) {
        ++m_statistics.lost;
        m_closed.insert(connection);
    }
}

bool ZoneServer::CheckMessageSize(uint32_t size)
{
    return MessageSizeOfFrame(size) <= m_maxMessage;
}

bool ZoneServer::acceptFrame(CConnection &connection, uint32_t frameSize)
{
    uint32_t message = MessageSizeOfFrame(frameSize);
    if (message <= m_maxMessage)
        return true;
    SHAREDLIB_LOG(LogSev_Warning, Log_Network,
                  "ZoneServer: closing the connection from %s:%d: a message of %u bytes is above the limit of %u",
                  connection.GetIpAsString().c_str(), connection.GetRemotePort(), message, m_maxMessage);
    ++m_statistics.refused;
    connection.Cleanup();
    if (m_clients.count(&connection) != 0)
        m_closed.insert(&connection);
    return false;
}

void ZoneServer::OnError(CConnection *connection, Error code, int detail)
{
    SHAREDLIB_LOG(LogSev_Warning, Log_Network, "ZoneServer: %s (%d) on %s", Error_ValueToName(code), detail,
                  connection->GetIpAsString().c_str());
}

void ZoneServer::OnLogin(CConnection *client, std::string const &name, uint32_t version)
{
    ++m_statistics.logins;
    auto found = m_clients.find(client);
    uint32_t id = found != m_clients.end() ? found->second.id : 0;
    SHAREDLIB_LOG(LogSev_Info, Log_Login, "%s logged in with version %u as client %u", name.c_str(), version, id);
    CallWelcome(client, "Welcome to the harbor, " + name, id);
}

void ZoneServer::OnMove(CConnection *client, int32_t sequence, float x, float y)
{
    ++m_statistics.moves;
    CallMoveAck(client, sequence, x * x + y * y);
}

void ZoneServer::OnSealedNote(CConnection *client, CPackedData const &sealed)
{
    ++m_statistics.sealedNotes;
    sealed.ReadHeader();
    bool valid = sealed.size() > 0 && sealed.hasMD5Checksum() && sealed.ValidateMD5Checksum();
    if (!valid)
        ++m_statistics.badSeals;
    std::string text = valid ? sealed.GetString() : std::string();
    CallSealedNoteResult(client, valid, text);
}

void ZoneServer::sendStateUpdates()
{
    // Every client that announced a UDP port gets a batch of small updates,
    // packed several to a datagram.
    for (auto &[connection, client] : m_clients) {
        if (client.udpPort == 0 || m_closed.count(connection) != 0)
            continue;
        CCharVectorList updates;
        for (uint32_t object = 0; object < 24; ++object) {
            CPackedData update;
            update.PutUint16(static_cast<uint16_t>(Msg_UpdateObject));
            update.PutUint32(object);
            update.PutUint32(m_frame);
            update.PutFloat(static_cast<float>(object) * 1.5f);
            CCharVector bytes;
            bytes.assign(update.readData(), update.readData() + update.size());
            updates.push_back(bytes);
        }
        while (m_udp.SendMultiMsg(&updates, connection->GetRemoteAddress(), client.udpPort)) {
        }
        m_statistics.updatesSent += 24;
    }
}

void ZoneServer::releaseClosed()
{
    for (CConnection *connection : m_closed) {
        auto found = m_clients.find(connection);
        if (found == m_clients.end())
            continue;
        m_totalBytesIn += connection->getBytesReceived();
        m_totalBytesOut += connection->getBytesSent();
        m_totalMessagesIn += connection->getMessagesReceived();
        m_totalMessagesOut += connection->getMessagesSent();
        m_loop.Remove(connection);
        m_clients.erase(found);  // deletes the connection
    }
    m_closed.clear();
}

void ZoneServer::Frame(uint32_t waitMs)
{
    m_loop.Frame(waitMs);
    if (++m_frame % 10 == 0)
        sendStateUpdates();
    releaseClosed();
}

void ZoneServer::Close()
{
    for (auto &[connection, client] : m_clients) {
        connection->Cleanup();
        m_closed.insert(connection);
    }
    releaseClosed();
    m_listener.Cleanup();
    m_udp.Cleanup();
}

std::string ZoneServer::ConnectionSummary() const
{
    uint64_t bytesIn = m_totalBytesIn, bytesOut = m_totalBytesOut;
    uint64_t messagesIn = m_totalMessagesIn, messagesOut = m_totalMessagesOut;
    for (auto const &[connection, client] : m_clients) {
        bytesIn += connection->getBytesReceived();
        bytesOut += connection->getBytesSent();
        messagesIn += connection->getMessagesReceived();
        messagesOut += connection->getMessagesSent();
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "%llu messages (%llu bytes) in, %llu messages (%llu bytes) out over TCP; %u datagram bytes out",
                  static_cast<unsigned long long>(messagesIn), static_cast<unsigned long long>(bytesIn),
                  static_cast<unsigned long long>(messagesOut), static_cast<unsigned long long>(bytesOut),
                  m_udp.getBytesSent());
    return text;
}

}  // namespace zone
