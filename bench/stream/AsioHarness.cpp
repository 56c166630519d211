// asio with the same framing, one io_context on this thread: each end keeps
// an async_read_some pending into its inbound buffer and cuts the frames out
// in place; sending appends frames to a pending buffer, and one async_write
// at a time writes it (the buffers swap when the write completes).
#include <asio.hpp>

#include <chrono>
#include <cstring>
#include <vector>

#include "StreamHarness.h"

namespace streambench {
namespace {

constexpr size_t kInboundSize = 65536;

struct AsioEnd {
    explicit AsioEnd(asio::io_context &io) : socket(io), pending(1 << 20), writing(1 << 20), in(kInboundSize) {}

    void Queue(const char *data, uint32_t size)
    {
        size_t need = FrameSize(size);
        if (pendingSize + need > pending.size())
            pending.resize((pendingSize + need) * 2);
        pendingSize = static_cast<size_t>(WriteFrame(pending.data() + pendingSize, data, size) - pending.data());
    }

    asio::ip::tcp::socket socket;
    bool server = false;
    std::vector<char> pending;
    size_t pendingSize = 0;
    std::vector<char> writing;
    bool writeBusy = false;
    std::vector<char> in;
    size_t inHead = 0;
    size_t inTail = 0;
};

class AsioHarness : public StreamHarness {
public:
    explicit AsioHarness(uint32_t messageSize);
    ~AsioHarness() override;

    std::string SetupError() const override { return m_setupError; }
    void QueueFromClient(int count) override
    {
        for (int i = 0; i < count; ++i)
            m_client.Queue(Payload(), m_messageSize);
        StartWrite(m_client);
    }
    bool Pass() override
    {
        m_io.run_one_for(std::chrono::milliseconds(kWaitMs));
        return !m_tally.failed;
    }

private:
    void StartWrite(AsioEnd &end);
    void StartRead(AsioEnd &end);
    void Cut(AsioEnd &end);

    asio::io_context m_io{1};
    AsioEnd m_client{m_io};
    AsioEnd m_server{m_io};
    std::string m_setupError;
};

AsioHarness::AsioHarness(uint32_t messageSize) : StreamHarness(messageSize)
{
    m_server.server = true;
    try {
        asio::ip::tcp::acceptor acceptor(m_io, asio::ip::tcp::endpoint(asio::ip::address_v4(kLoopback), 0));
        m_client.socket.connect(acceptor.local_endpoint());
        acceptor.accept(m_server.socket);
    } catch (std::exception const &e) {
        m_setupError = e.what();
        return;
    }
    StartRead(m_client);
    StartRead(m_server);
}

AsioHarness::~AsioHarness()
{
    asio::error_code ignored;
    m_client.socket.close(ignored);
    m_server.socket.close(ignored);
    m_io.run();  // lets the cancelled operations finish
}

void AsioHarness::StartWrite(AsioEnd &end)
{
    if (end.writeBusy || end.pendingSize == 0)
        return;
    end.pending.swap(end.writing);
    size_t size = end.pendingSize;
    end.pendingSize = 0;
    end.writeBusy = true;
    asio::async_write(end.socket, asio::buffer(end.writing.data(), size),
                      [this, &end](asio::error_code const &error, size_t) {
                          end.writeBusy = false;
                          if (error) {
                              m_tally.failed = true;
                              return;
                          }
                          StartWrite(end);
                      });
}

void AsioHarness::StartRead(AsioEnd &end)
{
    if (end.inTail == end.in.size()) {
        std::memmove(end.in.data(), end.in.data() + end.inHead, end.inTail - end.inHead);
        end.inTail -= end.inHead;
        end.inHead = 0;
    }
    end.socket.async_read_some(asio::buffer(end.in.data() + end.inTail, end.in.size() - end.inTail),
                               [this, &end](asio::error_code const &error, size_t received) {
                                   if (error) {
                                       if (error != asio::error::operation_aborted)
                                           m_tally.failed = true;
                                       return;
                                   }
                                   end.inTail += received;
                                   Cut(end);
                                   if (end.server && m_echo)
                                       StartWrite(end);
                                   StartRead(end);
                               });
}

void AsioHarness::Cut(AsioEnd &end)
{
    for (;;) {
        size_t available = end.inTail - end.inHead;
        if (available < 2)
            break;
        const unsigned char *frame = reinterpret_cast<const unsigned char *>(end.in.data() + end.inHead);
        uint32_t length = frame[0] | (frame[1] << 8);
        uint32_t header = 2;
        if (length == 0xFFFD) {
            if (available < 6)
                break;
            std::memcpy(&length, frame + 2, 4);
            header = 6;
        }
        if (header + length > available)
            break;
        const char *message = end.in.data() + end.inHead + header;
        if (end.server) {
            m_tally.Count(m_tally.serverReceived, message, length, m_messageSize);
            if (m_echo)
                m_server.Queue(message, length);
        } else {
            m_tally.Count(m_tally.clientReceived, message, length, m_messageSize);
        }
        end.inHead += header + length;
    }
    if (end.inHead == end.inTail) {
        end.inHead = end.inTail = 0;
        return;
    }
    // A partial frame moves to the front once less than half the buffer is
    // left behind it; a frame longer than the buffer grows it.
    size_t left = end.inTail - end.inHead;
    if (end.in.size() - end.inTail < end.in.size() / 2) {
        std::memmove(end.in.data(), end.in.data() + end.inHead, left);
        end.inHead = 0;
        end.inTail = left;
    }
    if (left >= 2) {
        const unsigned char *frame = reinterpret_cast<const unsigned char *>(end.in.data() + end.inHead);
        uint32_t prefix = frame[0] | (frame[1] << 8);
        uint64_t need = prefix + 2u;
        if (prefix == 0xFFFD) {
            uint32_t length = 0;
            if (left >= 6)
                std::memcpy(&length, frame + 2, 4);
            need = uint64_t{length} + 6;
        }
        if (end.inHead + need > end.in.size())
            end.in.resize(end.inHead + need);
    }
}

}  // namespace

std::unique_ptr<StreamHarness> MakeAsioHarness(uint32_t messageSize)
{
    return std::make_unique<AsioHarness>(messageSize);
}

}  // namespace streambench
