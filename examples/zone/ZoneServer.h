#pragma once

// The zone server of the demo: accepts clients, sends each the RPC table,
// answers their RPCs, bounces Test messages, and streams state updates over
// UDP to the port each client announces.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <SharedLib/SharedLib.h>

#include "HostLoop.h"
#include "ZoneProtocol.h"
#include "ZoneRpcs.h"

namespace zone {

struct ServerStatistics {
    uint32_t accepted = 0;
    uint32_t logins = 0;
    uint32_t moves = 0;
    uint32_t sealedNotes = 0;
    uint32_t badSeals = 0;
    uint32_t refused = 0;
    uint32_t bounced = 0;
    uint32_t updatesSent = 0;
    uint32_t lost = 0;
};

class ZoneServer : public ZoneEvents, public CListenHandler, public CMessageHandler {
public:
    ZoneServer();
    ~ZoneServer();

    // 0, or the Winsock error that kept the listener from opening.
    int Open(uint16_t port, bool tryNextPorts);
    // The largest message a client may send; a client that sends a larger
    // one is disconnected.
    void SetMaxMessage(uint32_t bytes) { m_maxMessage = bytes; }
    uint16_t Port() const { return m_listener.GetPort(); }
    // One frame of the host loop.
    void Frame(uint32_t waitMs);
    // Closes every connection, in the order a host shuts down.
    void Close();
    size_t ClientCount() const { return m_clients.size(); }
    ServerStatistics const &Statistics() const { return m_statistics; }
    // The connection statistics summed over every client served.
    std::string ConnectionSummary() const;
    // Optional: all work also reachable from another loop.
    HostLoop &Loop() { return m_loop; }

    // CListenHandler
    void OnAccept(CListener *listener, CConnection *connection) override;
    void OnListenError(CListener *listener, int error) override;
    // CMessageHandler
    void HandleMessage(CConnection *connection, const void *data, uint32_t size) override;
    void OnConnect(CConnection *connection, bool connected) override;
    bool CheckMessageSize(uint32_t size) override;
    void OnError(CConnection *connection, Error code, int detail) override;
    const char *GetHandlerName() const override { return "ZoneServer"; }
    // ZoneEvents
    void OnLogin(CConnection *client, std::string const &name, uint32_t version) override;
    void OnMove(CConnection *client, int32_t sequence, float x, float y) override;
    void OnSealedNote(CConnection *client, CPackedData const &sealed) override;

private:
    // Each client's connection has a handler of its own, so that a refused
    // size is known to be that connection's.
    class ClientLink : public CMessageHandler {
    public:
        ClientLink(ZoneServer &server, CConnection &connection) : m_server(server), m_connection(connection) {}
        void HandleMessage(CConnection *connection, const void *data, uint32_t size) override
        {
            m_server.HandleMessage(connection, data, size);
        }
        void OnConnect(CConnection *connection, bool connected) override { m_server.OnConnect(connection, connected); }
        bool CheckMessageSize(uint32_t size) override { return m_server.acceptFrame(m_connection, size); }
        void OnError(CConnection *connection, Error code, int detail) override
        {
            m_server.OnError(connection, code, detail);
        }
        const char *GetHandlerName() const override { return m_server.GetHandlerName(); }

    private:
        ZoneServer &m_server;
        CConnection &m_connection;
    };
    struct Client {
        std::unique_ptr<CConnection> connection;
        std::unique_ptr<ClientLink> link;
        uint32_t id = 0;
        uint16_t udpPort = 0;
    };
    // Whether a frame of this size may be read; a refused one closes the
    // connection, since the rest of its stream can no longer be framed.
    bool acceptFrame(CConnection &connection, uint32_t frameSize);
    void sendStateUpdates();
    void releaseClosed();

    CListener m_listener;
    CConnection m_udp;
    HostLoop m_loop;
    std::map<CConnection *, Client> m_clients;
    std::set<CConnection *> m_closed;
    ServerStatistics m_statistics;
    uint64_t m_totalBytesIn = 0, m_totalBytesOut = 0, m_totalMessagesIn = 0, m_totalMessagesOut = 0;
    uint32_t m_nextClientId = 1;
    uint32_t m_frame = 0;
    uint32_t m_maxMessage = kDefaultMaxMessage;
};

}  // namespace zone
