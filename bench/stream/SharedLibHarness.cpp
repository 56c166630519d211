// The library's way: a CListener hands over the accepted CConnection, and
// one host loop drives the client, the server and the listener: Preprocess
// on each connection, wait on the event set, HandleEvent on what is
// signalled, Pulse on all.
#include <vector>

#include <SharedLib/net/Connection.h>
#include <SharedLib/net/Listener.h>
#include <SharedLib/platform/SocketEvents.h>

#include "StreamHarness.h"

namespace streambench {
namespace {

constexpr int kBigBuffer = 65536;

class SharedLibHarness;

class Receiver : public CMessageHandler {
public:
    Receiver(SharedLibHarness &owner, bool server) : m_owner(owner), m_server(server) {}
    void HandleMessage(CConnection *conn, const void *data, uint32_t size) override;
    void OnConnect(CConnection *, bool connected) override;
    void OnError(CConnection *, Error, int) override;
    const char *GetHandlerName() const override { return m_server ? "Server" : "Client"; }

private:
    SharedLibHarness &m_owner;
    bool m_server;
};

class SharedLibHarness : public StreamHarness, public CListenHandler {
public:
    // bigBuffers: 64 KiB inbound buffers and outbound bundles, the sizes the
    // other programs use, instead of the defaults (20000 and 10000 bytes).
    SharedLibHarness(uint32_t messageSize, bool bigBuffers);
    ~SharedLibHarness() override;

    std::string SetupError() const override { return m_setupError; }
    void QueueFromClient(int count) override
    {
        for (int i = 0; i < count; ++i)
            m_client.SendMsg(m_messageSize, Payload());
    }
    bool Pass() override;

    void OnAccept(CListener *, CConnection *connection) override
    {
        if (m_server != nullptr) {
            delete connection;
            return;
        }
        m_server = connection;
        m_server->SetMessageHandler(&m_serverReceiver);
    }
    void OnListenError(CListener *, int) override { m_tally.failed = true; }

private:
    friend class Receiver;

    void Dispatch(void *event);

    Receiver m_clientReceiver{*this, false};
    Receiver m_serverReceiver{*this, true};
    platform::EventWaitSet m_waitSet;
    std::vector<platform::WSAEVENT> m_signalled;
    CListener m_listener;
    CConnection m_client;
    CConnection *m_server = nullptr;
    void *m_clientEvent = nullptr;
    void *m_serverEvent = nullptr;
    bool m_accepting = true;
    bool m_bigBuffers;
    int m_savedBundleSize;
    std::string m_setupError;
};

void Receiver::HandleMessage(CConnection *conn, const void *data, uint32_t size)
{
    Tally &tally = m_owner.m_tally;
    if (m_server) {
        tally.Count(tally.serverReceived, data, size, m_owner.m_messageSize);
        if (m_owner.m_echo)
            conn->SendMsg(size, static_cast<const char *>(data));
    } else {
        tally.Count(tally.clientReceived, data, size, m_owner.m_messageSize);
    }
}

void Receiver::OnConnect(CConnection *, bool connected)
{
    if (!connected)
        m_owner.m_tally.failed = true;
}

void Receiver::OnError(CConnection *, Error, int)
{
    m_owner.m_tally.failed = true;
}

SharedLibHarness::SharedLibHarness(uint32_t messageSize, bool bigBuffers)
    : StreamHarness(messageSize), m_bigBuffers(bigBuffers)
{
    // A queue takes the bundle size in force when it first appends.
    m_savedBundleSize = CConnection::s_outboundBundleSize;
    if (bigBuffers)
        CConnection::setOutBufferExpandSize(kBigBuffer);
    m_signalled.reserve(8);
    int error = m_listener.Init(this, kLoopback, 0, false);
    if (error != 0) {
        m_setupError = "CListener::Init failed with " + std::to_string(error);
        return;
    }
    m_waitSet.Add(m_listener.GetEventHandle());
    m_client.SetMessageHandler(&m_clientReceiver);
    m_client.InitStream(kLoopback, m_listener.GetPort());
    m_clientEvent = m_client.GetEventHandle();
    if (m_clientEvent == nullptr) {
        m_setupError = "InitStream failed";
        return;
    }
    m_waitSet.Add(m_clientEvent);
    for (int pass = 0; pass < kStallMs / kWaitMs; ++pass) {
        if (!Pass())
            break;
        if (m_server != nullptr && m_serverEvent == nullptr) {
            m_serverEvent = m_server->GetEventHandle();
            m_waitSet.Add(m_serverEvent);
        }
        if (m_server != nullptr && m_client.GetState() == CConnection::Connected) {
            // The other programs accept once too: no listener in the timed loop.
            m_waitSet.Remove(m_listener.GetEventHandle());
            m_listener.Cleanup();
            m_accepting = false;
            if (m_bigBuffers) {
                m_client.ResizeInboundBuffer(kBigBuffer);
                m_server->ResizeInboundBuffer(kBigBuffer);
            }
            return;
        }
    }
    m_setupError = "the connection was not established";
}

SharedLibHarness::~SharedLibHarness()
{
    m_client.Cleanup();
    delete m_server;
    m_listener.Cleanup();
    CConnection::setOutBufferExpandSize(m_savedBundleSize);
}

void SharedLibHarness::Dispatch(void *event)
{
    if (event == m_serverEvent)
        m_server->HandleEvent();
    else if (event == m_clientEvent)
        m_client.HandleEvent();
    else if (m_accepting && event == m_listener.GetEventHandle())
        m_listener.HandleEvent();
}

bool SharedLibHarness::Pass()
{
    bool processed = false;
    m_client.Preprocess(&processed);
    if (m_server != nullptr)
        m_server->Preprocess(&processed);
    m_waitSet.Wait(kWaitMs, m_signalled);
    for (void *event : m_signalled)
        Dispatch(event);
    m_client.Pulse();
    if (m_server != nullptr)
        m_server->Pulse();
    if (m_accepting)
        m_listener.Pulse();
    return !m_tally.failed;
}

}  // namespace

std::unique_ptr<StreamHarness> MakeSharedLibHarness(uint32_t messageSize)
{
    return std::make_unique<SharedLibHarness>(messageSize, false);
}

std::unique_ptr<StreamHarness> MakeSharedLibBigBuffersHarness(uint32_t messageSize)
{
    return std::make_unique<SharedLibHarness>(messageSize, true);
}

}  // namespace streambench
