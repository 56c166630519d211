#pragma once

// A scripted game client of the demo: connects, checks the server's RPC
// table, announces its UDP port, logs in, makes its Move calls, bounces a
// Test message, sends a sealed (checksummed) note, waits for state updates
// over UDP and leaves.

#include <cstdint>
#include <string>

#include <SharedLib/SharedLib.h>

#include "HostLoop.h"
#include "ZoneRpcs.h"

namespace zone {

class ZoneClient : public ZoneEvents, public CMessageHandler {
public:
    enum class Outcome { Running, Succeeded, Failed };

    ZoneClient(std::string name, int moves);
    ~ZoneClient();

    // Starts connecting; the loop given (shared by many clients in one
    // process, or the client's own) drives it.
    void Start(std::string const &endpoint, HostLoop &loop);
    // For hosts that run one client: frames until done or the time is up.
    Outcome Run(std::string const &endpoint, uint32_t timeoutMs);
    // Checks the progress after a frame.
    Outcome Check();
    void Stop();

    std::string const &Name() const { return m_name; }
    std::string const &Failure() const { return m_failure; }
    int AcksReceived() const { return m_acks; }
    uint32_t UpdatesReceived() const { return m_updates; }
    CConnection &Connection() { return m_server; }

    // CMessageHandler
    void HandleMessage(CConnection *connection, const void *data, uint32_t size) override;
    void OnConnect(CConnection *connection, bool connected) override;
    bool CheckMessageSize(uint32_t size) override;
    void OnError(CConnection *connection, Error code, int detail) override;
    const char *GetHandlerName() const override { return m_name.c_str(); }
    // ZoneEvents
    void OnWelcome(CConnection *server, std::string const &greeting, uint32_t clientId) override;
    void OnMoveAck(CConnection *server, int32_t sequence, float distance) override;
    void OnSealedNoteResult(CConnection *server, bool valid, std::string const &text) override;

private:
    void fail(Error code, std::string const &why);
    void handleDatagram(CPackedData &message);
    void sendMoves();

    std::string m_name;
    int m_moves;
    CConnection m_server;
    CConnection m_udp;
    HostLoop *m_loop = nullptr;
    HostLoop m_ownLoop;
    Outcome m_outcome = Outcome::Running;
    std::string m_failure;
    bool m_tableChecked = false;
    bool m_welcomed = false;
    int m_movesSent = 0;
    int m_acks = 0;
    bool m_bounced = false;
    bool m_sealChecked = false;
    uint32_t m_updates = 0;
    std::string m_testPayload;
};

}  // namespace zone
