#pragma once

// The demo's remote procedures. Server and client link the same classes, so
// their RPC tables match; each RPC's body runs on the side that receives it
// and reports to that side's ZoneEvents.

#include <cstdint>
#include <string>

#include <SharedLib/SharedLib.h>

namespace zone {

// What the receiving side does with each call; the server and the client
// each implement the calls meant for them.
class ZoneEvents {
public:
    virtual void OnLogin(CConnection *, std::string const &name, uint32_t version) { (void)name, (void)version; }
    virtual void OnWelcome(CConnection *, std::string const &greeting, uint32_t clientId)
    {
        (void)greeting, (void)clientId;
    }
    virtual void OnMove(CConnection *, int32_t sequence, float x, float y) { (void)sequence, (void)x, (void)y; }
    virtual void OnMoveAck(CConnection *, int32_t sequence, float distance) { (void)sequence, (void)distance; }
    virtual void OnSealedNote(CConnection *, CPackedData const &sealed) { (void)sealed; }
    virtual void OnSealedNoteResult(CConnection *, bool valid, std::string const &text) { (void)valid, (void)text; }

protected:
    ~ZoneEvents() = default;
};

// The side of this process; set before the RPC manager is created.
void SetZoneEvents(ZoneEvents *events);
// Links every RPC object into the static list (once per process).
void RegisterZoneRpcs();

// Client to server.
void CallLogin(CConnection *server, std::string const &name, uint32_t version);
void CallMove(CConnection *server, int32_t sequence, float x, float y);
// The note travels in a packet of its own with an MD5 checksum.
void CallSealedNote(CConnection *server, std::string const &text);
// Server to client.
void CallWelcome(CConnection *client, std::string const &greeting, uint32_t clientId);
void CallMoveAck(CConnection *client, int32_t sequence, float distance);
void CallSealedNoteResult(CConnection *client, bool valid, std::string const &text);

}  // namespace zone
