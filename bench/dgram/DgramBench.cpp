// Datagram throughput over 127.0.0.1: bursts of 32 datagrams of 1024 bytes,
// each carrying 16 messages of 62 bytes (with their 2-byte lengths, exactly
// 1024 bytes), from one endpoint to another, with one thread driving both.
//
// SharedLib, two ways: the sender builds a CCharVectorList of 512 messages
// per burst and calls SendMultiMsg until it returns false (one datagram per
// call); or it packs each datagram itself into a reused CCharVector and calls
// SendDgramMessageRaw. The receiver's Pulse reads and delivers, its handler
// counts the messages.
//
// ENet, unsequenced (unreliable) packets, two ways: the same 16 messages
// packed by the caller into one 1024-byte packet per datagram (32 queued,
// then one flush; the receiver walks the lengths and counts the messages as
// the SharedLib handler does), and 16 packets of 62 bytes per flush, which
// ENet bundles into one datagram itself. The receiving host is serviced
// until it has the burst.
//
// items_per_second is datagrams received per second; "lost" counts messages
// that never arrived (expected 0 on loopback).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <SharedLib/net/Connection.h>
#include <SharedLib/serialize/CharVector.h>

#ifdef HAVE_ENET
#include <enet/enet.h>
#endif

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kMessagesPerDatagram = 16;
constexpr int kMessageSize = 62;
constexpr int kDatagramSize = kMessagesPerDatagram * (kMessageSize + 2);  // 1024
// Below the 50 datagrams one receive call delivers.
constexpr int kBurst = 32;
constexpr int kMessagesPerBurst = kBurst * kMessagesPerDatagram;
// Receive passes that find nothing before the burst's remainder counts as lost.
constexpr int kIdleLimit = 20000;
constexpr int kSocketBuffer = 256 * 1024;

static_assert(kDatagramSize == 1024, "16 messages of 62 bytes fill a 1024-byte datagram");

const std::vector<char> &Payload()
{
    static const std::vector<char> bytes = [] {
        std::vector<char> b(kMessageSize);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<char>('a' + i % 26);
        return b;
    }();
    return bytes;
}

// What both receivers do with a message: count it and look at its bytes.
struct Tally {
    uint64_t messages = 0;
    uint64_t checksum = 0;
    void Add(const void *data, uint32_t size)
    {
        ++messages;
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        checksum += bytes[0] + bytes[size - 1] + size;
    }
};

class CountingHandler : public CMessageHandler {
public:
    void HandleMessage(CConnection *, const void *data, uint32_t size) override { tally.Add(data, size); }
    void OnConnect(CConnection *, bool) override {}
    void OnError(CConnection *, Error, int) override {}
    Tally tally;
};

void Report(benchmark::State &state, Tally const &tally, uint64_t expected)
{
    state.SetItemsProcessed(static_cast<int64_t>(tally.messages / kMessagesPerDatagram));
    state.SetBytesProcessed(static_cast<int64_t>(tally.messages / kMessagesPerDatagram * kDatagramSize));
    state.counters["lost"] = static_cast<double>(expected - tally.messages);
    benchmark::DoNotOptimize(tally.checksum);
}

void BM_SharedLib_SendMultiMsg(benchmark::State &state)
{
    CountingHandler handler;
    CConnection sender;
    CConnection receiver;
    sender.InitDatagramListen(0);
    receiver.SetMessageHandler(&handler);
    receiver.InitDatagramListen(0);
    if (sender.GetState() != CConnection::Datagram || receiver.GetState() != CConnection::Datagram) {
        state.SkipWithError("cannot bind the datagram sockets");
        return;
    }
    sender.SetSendBufferSize(kSocketBuffer);
    receiver.SetRecvBufferSize(kSocketBuffer);
    const std::vector<char> &payload = Payload();
    // The messages of a burst are queued as they are produced; the list is
    // then sent until SendMultiMsg says nothing remains.
    CCharVectorList list;
    uint64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kMessagesPerBurst; ++i)
            list.emplace_back(payload.begin(), payload.end());
        while (sender.SendMultiMsg(&list, kLoopback, receiver.GetLocalPort())) {
        }
        expected += kMessagesPerBurst;
        for (int idle = 0; handler.tally.messages < expected && idle < kIdleLimit;) {
            uint64_t before = handler.tally.messages;
            receiver.Pulse();
            idle = handler.tally.messages == before ? idle + 1 : 0;
        }
    }
    Report(state, handler.tally, expected);
}
BENCHMARK(BM_SharedLib_SendMultiMsg);

// The caller packs the 16 messages into its own datagram (a reused
// CCharVector) and hands it to SendDgramMessageRaw: the like-for-like
// counterpart of the packed ENet packet below.
void BM_SharedLib_PackedRaw(benchmark::State &state)
{
    CountingHandler handler;
    CConnection sender;
    CConnection receiver;
    sender.InitDatagramListen(0);
    receiver.SetMessageHandler(&handler);
    receiver.InitDatagramListen(0);
    if (sender.GetState() != CConnection::Datagram || receiver.GetState() != CConnection::Datagram) {
        state.SkipWithError("cannot bind the datagram sockets");
        return;
    }
    sender.SetSendBufferSize(kSocketBuffer);
    receiver.SetRecvBufferSize(kSocketBuffer);
    const std::vector<char> &payload = Payload();
    CCharVector packet(kDatagramSize);
    uint64_t expected = 0;
    for (auto _ : state) {
        for (int d = 0; d < kBurst; ++d) {
            char *out = packet.data();
            for (int m = 0; m < kMessagesPerDatagram; ++m) {
                out[0] = static_cast<char>(kMessageSize & 0xFF);
                out[1] = static_cast<char>(kMessageSize >> 8);
                std::memcpy(out + 2, payload.data(), kMessageSize);
                out += kMessageSize + 2;
            }
            sender.SendDgramMessageRaw(&packet, kLoopback, receiver.GetLocalPort());
        }
        expected += kMessagesPerBurst;
        for (int idle = 0; handler.tally.messages < expected && idle < kIdleLimit;) {
            uint64_t before = handler.tally.messages;
            receiver.Pulse();
            idle = handler.tally.messages == before ? idle + 1 : 0;
        }
    }
    Report(state, handler.tally, expected);
}
BENCHMARK(BM_SharedLib_PackedRaw);

#ifdef HAVE_ENET

struct EnetLibrary {
    EnetLibrary() { ok = enet_initialize() == 0; }
    ~EnetLibrary() { enet_deinitialize(); }
    bool ok;
};

bool EnetReady()
{
    static EnetLibrary library;
    return library.ok;
}

// A connected pair of ENet hosts on loopback, one peer each way.
class EnetPair {
public:
    EnetPair()
    {
        if (!EnetReady())
            return;
        ENetAddress address{};
        enet_address_set_host(&address, "127.0.0.1");
        address.port = 0;
        server = enet_host_create(&address, 1, 1, 0, 0);
        client = enet_host_create(nullptr, 1, 1, 0, 0);
        if (server == nullptr || client == nullptr)
            return;
        ENetAddress bound{};
        enet_socket_get_address(server->socket, &bound);
        address.port = bound.port;
        peer = enet_host_connect(client, &address, 1, 0);
        bool clientUp = false;
        bool serverUp = false;
        ENetEvent event;
        for (int i = 0; i < 2000 && peer != nullptr && !(clientUp && serverUp); ++i) {
            while (enet_host_service(client, &event, 1) > 0)
                clientUp = clientUp || event.type == ENET_EVENT_TYPE_CONNECT;
            while (enet_host_service(server, &event, 1) > 0)
                serverUp = serverUp || event.type == ENET_EVENT_TYPE_CONNECT;
        }
        up = clientUp && serverUp;
    }
    ~EnetPair()
    {
        if (peer != nullptr)
            enet_peer_reset(peer);
        if (client != nullptr)
            enet_host_destroy(client);
        if (server != nullptr)
            enet_host_destroy(server);
    }

    // Services the receiving host until the tally reaches expected or
    // nothing arrives for a long while; walk unpacks one received packet.
    template <class Walk>
    void Drain(Tally &tally, uint64_t expected, Walk walk)
    {
        ENetEvent event;
        for (int idle = 0; tally.messages < expected && idle < kIdleLimit;) {
            int got = enet_host_service(server, &event, 0);
            if (got > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) {
                walk(event.packet->data, event.packet->dataLength);
                enet_packet_destroy(event.packet);
                idle = 0;
            } else if (got <= 0) {
                ++idle;
            }
        }
        // Acknowledgements and pings keep the peer alive.
        while (enet_host_service(client, &event, 0) > 0) {
        }
    }

    ENetHost *server = nullptr;
    ENetHost *client = nullptr;
    ENetPeer *peer = nullptr;
    bool up = false;
};

// The 16 messages packed by the caller into one 1024-byte packet.
void BM_ENet_UnreliablePacked(benchmark::State &state)
{
    EnetPair pair;
    if (!pair.up) {
        state.SkipWithError("ENet peers did not connect");
        return;
    }
    const std::vector<char> &payload = Payload();
    Tally tally;
    uint64_t expected = 0;
    auto unpack = [&](const unsigned char *in, size_t left) {
        while (left >= 2) {
            uint32_t length = static_cast<uint32_t>(in[0] | (in[1] << 8));
            if (length == 0 || length > left - 2)
                break;
            tally.Add(in + 2, length);
            in += length + 2;
            left -= length + 2;
        }
    };
    std::vector<ENetPacket *> packets(kBurst);
    auto build = [&] {
        for (ENetPacket *&packet : packets) {
            packet = enet_packet_create(nullptr, kDatagramSize, ENET_PACKET_FLAG_UNSEQUENCED);
            unsigned char *out = packet->data;
            for (int m = 0; m < kMessagesPerDatagram; ++m) {
                out[0] = static_cast<unsigned char>(kMessageSize & 0xFF);
                out[1] = static_cast<unsigned char>(kMessageSize >> 8);
                std::memcpy(out + 2, payload.data(), kMessageSize);
                out += kMessageSize + 2;
            }
        }
    };
    for (auto _ : state) {
        build();
        for (ENetPacket *packet : packets)
            enet_peer_send(pair.peer, 0, packet);
        enet_host_flush(pair.client);
        expected += kMessagesPerBurst;
        pair.Drain(tally, expected, unpack);
    }
    Report(state, tally, expected);
}
BENCHMARK(BM_ENet_UnreliablePacked);

// 16 unreliable packets of 62 bytes per flush; ENet bundles them into one
// datagram (16 x 62 bytes and their command headers fit its MTU).
void BM_ENet_UnreliablePerMessage(benchmark::State &state)
{
    EnetPair pair;
    if (!pair.up) {
        state.SkipWithError("ENet peers did not connect");
        return;
    }
    const std::vector<char> &payload = Payload();
    Tally tally;
    uint64_t expected = 0;
    auto deliver = [&](const unsigned char *in, size_t size) { tally.Add(in, static_cast<uint32_t>(size)); };
    std::vector<ENetPacket *> packets(kMessagesPerBurst);
    auto build = [&] {
        for (ENetPacket *&packet : packets)
            packet = enet_packet_create(payload.data(), kMessageSize, ENET_PACKET_FLAG_UNSEQUENCED);
    };
    for (auto _ : state) {
        build();
        for (int d = 0; d < kBurst; ++d) {
            for (int m = 0; m < kMessagesPerDatagram; ++m)
                enet_peer_send(pair.peer, 0, packets[static_cast<size_t>(d * kMessagesPerDatagram + m)]);
            enet_host_flush(pair.client);
        }
        expected += kMessagesPerBurst;
        pair.Drain(tally, expected, deliver);
    }
    Report(state, tally, expected);
}
BENCHMARK(BM_ENet_UnreliablePerMessage);

#endif

}  // namespace
