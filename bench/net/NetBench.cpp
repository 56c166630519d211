// The per-frame costs of the host loop: one Pulse on an idle connected
// connection, and one wait over many event handles of which ten are
// signalled (the wait set, whose cost should follow the signalled handles,
// against the array wait, which looks at every handle).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <memory>
#include <thread>
#include <vector>

#include <SharedLib/net/Connection.h>
#include <SharedLib/net/SocketHelpers.h>
#include <SharedLib/platform/Socket.h>
#include <SharedLib/platform/SocketEvents.h>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

class QuietHandler : public CMessageHandler {
public:
    void HandleMessage(CConnection *, const void *, uint32_t) override {}
    void OnConnect(CConnection *, bool) override {}
    void OnError(CConnection *, Error, int) override {}
};

void raiseDescriptorLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

void Pulse_IdleConnected(benchmark::State &state)
{
    platform::SOCKET listener = platform::CreateSocket(platform::SOCK_STREAM_);
    platform::BindSocket(listener, kLoopback, 0);
    platform::ListenSocket(listener, 4);
    uint16_t port = 0;
    platform::GetSocketName(listener, nullptr, &port);
    QuietHandler handler;
    CConnection client;
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, port);
    platform::SOCKET peer = platform::AcceptSocket(listener, nullptr, nullptr);
    while (client.GetState() == CConnection::Connecting)
        client.Pulse();
    for (auto _ : state)
        client.Pulse();
    if (client.GetState() != CConnection::Connected)
        state.SkipWithError("connection lost");
    platform::closesocket(peer);
    platform::closesocket(listener);
}
BENCHMARK(Pulse_IdleConnected);

// N bound datagram sockets, each with its event; the first ten have a
// datagram waiting and stay signalled (nobody enumerates them).
struct EventField {
    explicit EventField(int count)
    {
        raiseDescriptorLimit();
        platform::SOCKET sender = platform::CreateSocket(platform::SOCK_DGRAM_);
        for (int i = 0; i < count; ++i) {
            platform::SOCKET s = platform::CreateSocket(platform::SOCK_DGRAM_);
            if (s == platform::INVALID_SOCKET || platform::BindSocket(s, kLoopback, 0) != 0) {
                ok = false;
                break;
            }
            platform::WSAEVENT event = platform::WSACreateEvent();
            platform::WSAEventSelect(s, event, platform::FD_READ);
            platform::WSANETWORKEVENTS drained{};
            platform::WSAEnumNetworkEvents(s, event, &drained);
            sockets.push_back(s);
            events.push_back(event);
            set.Add(event);
            if (i < 10) {
                uint16_t port = 0;
                platform::GetSocketName(s, nullptr, &port);
                platform::SendTo(sender, "x", 1, kLoopback, port);
            }
        }
        platform::closesocket(sender);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~EventField()
    {
        for (size_t i = 0; i < sockets.size(); ++i) {
            platform::closesocket(sockets[i]);
            platform::WSACloseEvent(events[i]);
        }
    }
    bool ok = true;
    std::vector<platform::SOCKET> sockets;
    std::vector<platform::WSAEVENT> events;
    platform::EventWaitSet set;
};

void WaitSet_TenSignalled(benchmark::State &state)
{
    EventField field(static_cast<int>(state.range(0)));
    if (!field.ok) {
        state.SkipWithError("not enough descriptors");
        return;
    }
    std::vector<platform::WSAEVENT> signalled;
    signalled.reserve(64);
    for (auto _ : state) {
        field.set.Wait(0, signalled);
        benchmark::DoNotOptimize(signalled.data());
    }
    state.counters["signalled"] = static_cast<double>(signalled.size());
}
BENCHMARK(WaitSet_TenSignalled)->Arg(1000)->Arg(10000);

void WaitForMultipleEvents_TenSignalled(benchmark::State &state)
{
    EventField field(static_cast<int>(state.range(0)));
    if (!field.ok) {
        state.SkipWithError("not enough descriptors");
        return;
    }
    for (auto _ : state) {
        uint32_t index = platform::WaitForMultipleEvents(static_cast<uint32_t>(field.events.size()),
                                                         field.events.data(), 0);
        benchmark::DoNotOptimize(index);
    }
}
BENCHMARK(WaitForMultipleEvents_TenSignalled)->Arg(1000)->Arg(10000);

}  // namespace
