#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include <SharedLib/net/Connection.h>
#include <SharedLib/serialize/Md5.h>

#include "support/ConnectionPair.h"

namespace {

// Feeds every message, length first, into a running digest.
class DigestingHandler : public RecordingHandler {
public:
    DigestingHandler() { md5_init(&state); }
    void HandleMessage(CConnection *, const void *data, uint32_t size) override
    {
        md5_append(&state, reinterpret_cast<const uint8_t *>(&size), 4);
        md5_append(&state, static_cast<const uint8_t *>(data), static_cast<int32_t>(size));
        ++count;
        bytes += size;
    }
    md5_state_s state;
    uint64_t count = 0;
    uint64_t bytes = 0;
};

// Random message sizes (0 to 200 KiB) and contents, reproducible.
struct MessageSource {
    uint64_t next()
    {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    }
    uint32_t fill(std::vector<char> &buffer)
    {
        uint32_t size = static_cast<uint32_t>(next() % (200 * 1024 + 1));
        buffer.resize(size);
        for (uint32_t i = 0; i + 8 <= size; i += 8) {
            uint64_t word = next();
            std::memcpy(buffer.data() + i, &word, 8);
        }
        for (uint32_t i = size & ~7u; i < size; ++i)
            buffer[i] = static_cast<char>(next());
        return size;
    }
    uint64_t seed = 0x9E3779B97F4A7C15ull;
};

TEST(Transfer, A256MiBStreamOfRandomMessagesArrivesWholeAndInOrder)
{
    ConnectionPair pair;
    DigestingHandler receiver;
    pair.server.SetMessageHandler(&receiver);
    // Socket buffers smaller than the largest messages, so sends are partial.
    pair.client.SetSendBufferSize(128 * 1024);
    pair.server.SetRecvBufferSize(128 * 1024);
    ASSERT_EQ(pair.client.GetState(), CConnection::Connected);

    md5_state_s sent;
    md5_init(&sent);
    MessageSource source;
    std::vector<char> message;
    uint64_t sentBytes = 0, sentCount = 0;
    constexpr uint64_t kTotal = 256ull * 1024 * 1024;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (receiver.bytes < kTotal || receiver.count < sentCount) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "stalled at " << receiver.bytes << " bytes";
        // Keep about a megabyte queued, as a busy server would.
        while (sentBytes < kTotal && pair.client.GetOutboundByteCount() < (1 << 20)) {
            uint32_t size = source.fill(message);
            md5_append(&sent, reinterpret_cast<const uint8_t *>(&size), 4);
            md5_append(&sent, reinterpret_cast<const uint8_t *>(message.data()), static_cast<int32_t>(size));
            pair.client.SendMsg(size, message.data());
            sentBytes += size;
            ++sentCount;
        }
        pair.pulseBoth();
        ASSERT_EQ(pair.client.GetState(), CConnection::Connected);
        ASSERT_EQ(pair.server.GetState(), CConnection::Connected);
    }
    EXPECT_EQ(receiver.count, sentCount);
    EXPECT_EQ(receiver.bytes, sentBytes);
    uint8_t expected[16], got[16];
    md5_finish(&sent, expected);
    md5_finish(&receiver.state, got);
    EXPECT_EQ(std::memcmp(expected, got, 16), 0);
    EXPECT_EQ(pair.server.getMessagesReceived(), static_cast<uint32_t>(sentCount));
}

}  // namespace
