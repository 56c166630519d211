// RPC round trips per second over loopback: one client calls Move and waits
// for the server's MoveAck (an RPC back) before the next call, through the
// whole road of an RPC: packed data, send hook, framing, queue, socket, host
// loop, CallFunction, the body, and back. Server and client are driven by one
// loop in one thread, as in the load test.
#include <benchmark/benchmark.h>

#include <SharedLib/SharedLib.h>

#include "HostLoop.h"
#include "ZoneClient.h"
#include "ZoneRouter.h"
#include "ZoneServer.h"

namespace {

// A client side that answers nothing and counts acknowledgements.
class Caller : public zone::ZoneEvents, public CMessageHandler {
public:
    void HandleMessage(CConnection *connection, const void *data, uint32_t size) override
    {
        CPackedData message(data, static_cast<int>(size));
        if (message.GetUint16() == Msg_RpcCallFunction) {
            uint32_t id = message.GetUint32();
            CRpcMgr::GetInstance()->CallFunction(nullptr, connection, message, id);
        }
    }
    void OnConnect(CConnection *, bool) override {}
    void OnError(CConnection *, Error, int) override {}
    void OnMoveAck(CConnection *, int32_t, float) override { ++acks; }
    int acks = 0;
};

void RpcRoundTrip(benchmark::State &state)
{
    Logger *logger = zone::InitZoneHost("Bench", "z:\\tmp", {}, false);
    theLogger->SetConditional(Log_Generic, LogSev_Warning);
    {
        zone::ZoneServer server;
        zone::Router().SetServer(&server);
        server.Open(0, false);
        Caller caller;
        CConnection client;
        client.SetMessageHandler(&caller);
        zone::Router().AddClient(&client, &caller);
        client.InitStream(0x7F000001, server.Port());
        zone::HostLoop loop;
        loop.Add(&client);
        while (client.GetState() == CConnection::Connecting || server.ClientCount() == 0) {
            server.Frame(0);
            loop.Frame(1);
        }
        int32_t sequence = 0;
        for (auto _ : state) {
            int expected = caller.acks + 1;
            zone::CallMove(&client, sequence++, 1.0f, 2.0f);
            while (caller.acks < expected) {
                server.Frame(0);
                loop.Frame(0);
            }
        }
        state.SetItemsProcessed(state.iterations());
        zone::Router().RemoveClient(&client);
        client.Cleanup();
        server.Close();
        zone::Router().SetServer(nullptr);
    }
    zone::ShutdownZoneHost(logger);
}
BENCHMARK(RpcRoundTrip)->UseRealTime();

}  // namespace
