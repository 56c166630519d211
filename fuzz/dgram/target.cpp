// Arbitrary bytes as received datagrams: delivery must hand out only
// messages that lie inside the datagram, name the sender while it does, and
// never read or write out of bounds, whatever the lengths claim and whatever
// the handler does to the connection meanwhile.
//
// Input: one configuration byte, then datagrams, each a 16-bit little-endian
// size and that many bytes (the last one takes what is left).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <SharedLib/net/Connection.h>

namespace {

constexpr uint32_t kSenderIp = 0x0A000001;
constexpr uint16_t kSenderPort = 4321;

class FedConnection;

class Handler : public CMessageHandler {
public:
    void HandleMessage(CConnection *conn, const void *data, uint32_t size) override;
    void OnConnect(CConnection *, bool) override {}
    void OnError(CConnection *, Error, int) override {}

    FedConnection *connection = nullptr;
    uint8_t config = 0;
    const char *datagramStart = nullptr;
    size_t datagramSize = 0;
    size_t bytesSeen = 0;
    uint32_t checksum = 0;
    uint32_t calls = 0;
};

// A datagram connection fed through its inbound buffer instead of a socket.
class FedConnection : public CConnection {
public:
    FedConnection() { m_state = Datagram; }
    ~FedConnection() override { m_state = Idle; }

    const char *inbound() const { return m_inbound.data(); }
    void close() { m_state = Idle; }

    // Returns false when the datagram did not fit the buffer, as recvfrom would.
    bool receive(const uint8_t *data, size_t size, Handler &handler)
    {
        if (size > m_inbound.size())
            return false;
        std::memcpy(m_inbound.data(), data, size);
        handler.datagramStart = m_inbound.data();
        handler.datagramSize = size;
        handler.bytesSeen = 0;
        DeliverDatagram(size, kSenderIp, kSenderPort);
        return true;
    }
};

void Handler::HandleMessage(CConnection *conn, const void *data, uint32_t size)
{
    if (conn->GetSourceUdpIp() != kSenderIp || conn->GetSourceUdpPort() != kSenderPort)
        std::abort();
    // Each message and its prefix lie inside the datagram, after the last one.
    const char *bytes = static_cast<const char *>(data);
    if (bytes < datagramStart + 2 || bytes + size > datagramStart + datagramSize || size == 0 ||
        size >= CConnection::s_maxUDPPacketSize)
        std::abort();
    bytesSeen += size + 2;
    if (bytesSeen > datagramSize)
        std::abort();
    for (uint32_t i = 0; i < size; ++i)
        checksum += static_cast<unsigned char>(bytes[i]);
    ++calls;
    // The handler may grow the buffer (moving it) or close the connection.
    if ((config & 0x10) && calls == 1) {
        conn->ResizeInboundBuffer(static_cast<uint32_t>(conn->GetInboundBufferSize() + 4096));
        datagramStart = connection->inbound();
    }
    if ((config & 0x20) && calls == 3)
        connection->close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const uint16_t kMaxima[] = {1024, 65535, 16, 65534, 2, 1, 65533, 3000};
    uint8_t config = data[0];
    CConnection::setMaxUDPPacketSize(kMaxima[config & 7]);
    Handler handler;
    handler.config = config;
    FedConnection connection;
    handler.connection = &connection;
    connection.SetMessageHandler(&handler);
    if (config & 0x08)
        connection.IgnorePackets();
    data += 1;
    size -= 1;
    while (size > 0 && connection.GetState() == CConnection::Datagram) {
        size_t take = size;
        if (size >= 2 && (config & 0x40)) {
            size_t claimed = static_cast<size_t>(data[0] | (data[1] << 8));
            data += 2;
            size -= 2;
            take = claimed < size ? claimed : size;
        }
        connection.receive(data, take, handler);
        data += take;
        size -= take;
    }
    connection.getMessagesPerPacket();
    CConnection::setMaxUDPPacketSize(1024);
    return 0;
}
