#pragma once

// Sends each RPC body to the side it is for: the server's calls to the
// server, a client's calls to the client that owns the connection. One
// process may hold a server and many clients (the load test does).

#include <map>
#include <string>
#include <vector>

#include "ZoneRpcs.h"

namespace zone {

class ZoneRouter : public ZoneEvents {
public:
    void SetServer(ZoneEvents *server) { m_server = server; }
    void AddClient(CConnection *connection, ZoneEvents *client) { m_clients[connection] = client; }
    void RemoveClient(CConnection *connection) { m_clients.erase(connection); }

    void OnLogin(CConnection *c, std::string const &name, uint32_t version) override
    {
        if (m_server != nullptr)
            m_server->OnLogin(c, name, version);
    }
    void OnMove(CConnection *c, int32_t sequence, float x, float y) override
    {
        if (m_server != nullptr)
            m_server->OnMove(c, sequence, x, y);
    }
    void OnSealedNote(CConnection *c, CPackedData const &sealed) override
    {
        if (m_server != nullptr)
            m_server->OnSealedNote(c, sealed);
    }
    void OnWelcome(CConnection *c, std::string const &greeting, uint32_t clientId) override
    {
        if (ZoneEvents *client = find(c))
            client->OnWelcome(c, greeting, clientId);
    }
    void OnMoveAck(CConnection *c, int32_t sequence, float distance) override
    {
        if (ZoneEvents *client = find(c))
            client->OnMoveAck(c, sequence, distance);
    }
    void OnSealedNoteResult(CConnection *c, bool valid, std::string const &text) override
    {
        if (ZoneEvents *client = find(c))
            client->OnSealedNoteResult(c, valid, text);
    }

private:
    ZoneEvents *find(CConnection *connection)
    {
        auto found = m_clients.find(connection);
        return found != m_clients.end() ? found->second : nullptr;
    }

    ZoneEvents *m_server = nullptr;
    std::map<CConnection *, ZoneEvents *> m_clients;
};

// The process's router, installed by InitZoneHost.
ZoneRouter &Router();

// Start-up shared by every host of the demo, in the order a game program
// does it: game path, logger with numbered files, channel levels, RPC objects
// linked, the RPC manager (table and digest), the send function.
// levels: "Channel=severity" settings, e.g. "Network=info".
Logger *InitZoneHost(char const *filePrefix, char const *logDirectory, std::vector<std::string> const &levels,
                     bool echoToConsole);
// Shutdown in the reverse order: RPC table, clock, logger.
void ShutdownZoneHost(Logger *logger);

}  // namespace zone
