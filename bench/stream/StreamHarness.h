#pragma once

// One client and one server stream over 127.0.0.1, both driven by a single
// loop on the calling thread. Each implementation (the library's
// CConnection, a plain epoll program, asio) frames messages the same way: a
// 16-bit little-endian length and the bytes, 0xFFFD and a 32-bit length for
// 65533 bytes and more.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace streambench {

constexpr uint32_t kLoopback = 0x7F000001;
// The longest message any benchmark sends.
constexpr uint32_t kMaxMessage = 4096;
// How long the loop may go without reaching its goal before the run fails.
constexpr int kStallMs = 5000;
// How long one pass of a loop waits for an event when nothing is ready.
constexpr int kWaitMs = 10;

// The message bytes every sender sends (kMaxMessage bytes, a fixed pattern).
const char *Payload();

// Appends the frame of one message (prefix and bytes) to a byte vector at
// `end`, which must have room; returns the new end.
inline char *WriteFrame(char *end, const char *data, uint32_t size)
{
    if (size < 65533) {
        *end++ = static_cast<char>(size & 0xFF);
        *end++ = static_cast<char>(size >> 8);
    } else {
        *end++ = static_cast<char>(0xFD);
        *end++ = static_cast<char>(0xFF);
        for (int shift = 0; shift < 32; shift += 8)
            *end++ = static_cast<char>((size >> shift) & 0xFF);
    }
    std::memcpy(end, data, size);
    return end + size;
}

inline uint32_t FrameSize(uint32_t size)
{
    return size + (size < 65533 ? 2 : 6);
}

// What the two ends have seen; the receivers fill it in.
struct Tally {
    uint64_t serverReceived = 0;
    uint64_t clientReceived = 0;
    uint64_t checksum = 0;  // the first byte of every message, summed
    bool wrongSize = false;
    bool failed = false;  // a connection was lost or reported an error

    void Count(uint64_t &received, const void *data, uint32_t size, uint32_t expected)
    {
        ++received;
        if (size != expected)
            wrongSize = true;
        else if (size != 0)
            checksum += static_cast<const unsigned char *>(data)[0];
    }
};

class StreamHarness {
public:
    virtual ~StreamHarness() = default;

    // Empty when the pair is connected and ready; the reason otherwise.
    virtual std::string SetupError() const = 0;
    // The server echoes every message it receives back to the client.
    void SetEcho(bool echo) { m_echo = echo; }
    // Queues `count` messages on the client for the server. Nothing is
    // written until the loop runs.
    virtual void QueueFromClient(int count) = 0;
    // One pass of the loop: flush, wait (at most kWaitMs) and handle what is
    // ready. False when a connection failed.
    virtual bool Pass() = 0;

    Tally const &GetTally() const { return m_tally; }

protected:
    explicit StreamHarness(uint32_t messageSize) : m_messageSize(messageSize) {}

    uint32_t m_messageSize;
    bool m_echo = false;
    Tally m_tally;
};

std::unique_ptr<StreamHarness> MakeSharedLibHarness(uint32_t messageSize);
std::unique_ptr<StreamHarness> MakeSharedLibBigBuffersHarness(uint32_t messageSize);
std::unique_ptr<StreamHarness> MakeEpollHarness(uint32_t messageSize);
#ifdef HAVE_ASIO
std::unique_ptr<StreamHarness> MakeAsioHarness(uint32_t messageSize);
#endif

}  // namespace streambench
