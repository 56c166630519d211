// Arbitrary bytes as an inbound TCP stream: the framing must deliver only
// whole frames inside the buffer, answer pings, and never read or write out
// of bounds, however the bytes are cut into reads.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <SharedLib/net/Connection.h>

namespace {

class Handler : public CMessageHandler {
public:
    void HandleMessage(CConnection *, const void *data, uint32_t size) override
    {
        // Touch every byte, so a message reaching outside the buffer shows.
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        for (uint32_t i = 0; i < size; ++i)
            checksum += bytes[i];
    }
    void OnConnect(CConnection *, bool) override {}
    bool CheckMessageSize(uint32_t size) override { return size <= limit; }
    void OnError(CConnection *, Error, int) override {}
    uint32_t limit = 0;
    uint32_t checksum = 0;
};

// A connection fed through its inbound buffer instead of a socket.
class FedConnection : public CConnection {
public:
    FedConnection() { m_state = Connected; }
    ~FedConnection() override { m_state = Idle; }

    void feed(const uint8_t *data, size_t size, size_t chunk)
    {
        while (size > 0) {
            size_t freeSpace = m_inbound.size() - m_inboundOffset - m_inboundCount;
            size_t take = chunk < size ? chunk : size;
            if (take > freeSpace)
                take = freeSpace;
            if (take == 0) {
                // The stream wants more than the buffer holds: as a reader
                // would, process and see whether room appears.
                ProcessInboundData();
                if (m_inbound.size() - m_inboundOffset - m_inboundCount == 0)
                    return;
                continue;
            }
            std::memcpy(m_inbound.data() + m_inboundOffset + m_inboundCount, data, take);
            m_inboundCount += static_cast<uint32_t>(take);
            data += take;
            size -= take;
            ProcessInboundData();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const size_t kChunks[] = {1, 2, 3, 7, 64, 1000, 20000, 100000};
    size_t chunk = kChunks[data[0] % 8];
    Handler handler;
    handler.limit = (data[1] & 1) ? (1u << 20) : (1u << ((data[1] >> 3) % 25));  // at most 16 MiB
    FedConnection connection;
    connection.SetMessageHandler(&handler);
    if (data[1] & 2)
        connection.setAllowedProcessingTime(0.0f);
    connection.feed(data + 2, size - 2, chunk);
    for (int i = 0; i < 4 && connection.getFailedFrameCounter() != 0; ++i)
        connection.Preprocess(nullptr);
    return 0;
}
