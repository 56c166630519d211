// The floor: a plain single-threaded epoll program with the same framing.
// Non-blocking sockets; each end has an outbound byte buffer (written at the
// start of every pass, and on EPOLLOUT while the kernel pushes back) and an
// inbound buffer that one recv per readiness fills and that is cut into
// frames in place. Level-triggered, EPOLLOUT registered only while blocked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "StreamHarness.h"

namespace streambench {
namespace {

constexpr size_t kInboundSize = 65536;

struct Endpoint {
    int fd = -1;
    bool server = false;
    bool watchingOut = false;
    std::vector<char> out;  // bytes [outHead, outTail) wait to be sent
    size_t outHead = 0;
    size_t outTail = 0;
    std::vector<char> in;  // bytes [inHead, inTail) wait to be cut
    size_t inHead = 0;
    size_t inTail = 0;

    Endpoint() : out(1 << 20), in(kInboundSize) {}

    void Queue(const char *data, uint32_t size)
    {
        size_t need = FrameSize(size);
        if (outTail + need > out.size()) {
            if (outHead != 0) {
                std::memmove(out.data(), out.data() + outHead, outTail - outHead);
                outTail -= outHead;
                outHead = 0;
            }
            if (outTail + need > out.size())
                out.resize((outTail + need) * 2);
        }
        outTail = static_cast<size_t>(WriteFrame(out.data() + outTail, data, size) - out.data());
    }
};

class EpollHarness : public StreamHarness {
public:
    explicit EpollHarness(uint32_t messageSize);
    ~EpollHarness() override;

    std::string SetupError() const override { return m_setupError; }
    void QueueFromClient(int count) override
    {
        for (int i = 0; i < count; ++i)
            m_client.Queue(Payload(), m_messageSize);
    }
    bool Pass() override;

private:
    bool Flush(Endpoint &end);
    bool Read(Endpoint &end);
    void Cut(Endpoint &end);
    void Watch(Endpoint &end, bool out);
    static void Compact(Endpoint &end)
    {
        std::memmove(end.in.data(), end.in.data() + end.inHead, end.inTail - end.inHead);
        end.inTail -= end.inHead;
        end.inHead = 0;
    }

    int m_epoll = -1;
    Endpoint m_client;
    Endpoint m_server;
    std::string m_setupError;
};

EpollHarness::EpollHarness(uint32_t messageSize) : StreamHarness(messageSize)
{
    m_server.server = true;
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        m_setupError = "listen failed";
        ::close(listener);
        return;
    }
    m_client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(m_client.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        m_setupError = "connect failed";
        ::close(listener);
        return;
    }
    m_server.fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    ::close(listener);
    if (m_server.fd < 0) {
        m_setupError = "accept failed";
        return;
    }
    int on = 1;
    ::ioctl(m_client.fd, FIONBIO, &on);
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (Endpoint *end : {&m_client, &m_server}) {
        epoll_event add{};
        add.events = EPOLLIN | EPOLLRDHUP;
        add.data.ptr = end;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, end->fd, &add);
    }
}

EpollHarness::~EpollHarness()
{
    for (int fd : {m_client.fd, m_server.fd, m_epoll})
        if (fd >= 0)
            ::close(fd);
}

void EpollHarness::Watch(Endpoint &end, bool out)
{
    if (end.watchingOut == out)
        return;
    end.watchingOut = out;
    epoll_event change{};
    change.events = EPOLLIN | EPOLLRDHUP | (out ? EPOLLOUT : 0u);
    change.data.ptr = &end;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, end.fd, &change);
}

bool EpollHarness::Flush(Endpoint &end)
{
    while (end.outHead < end.outTail) {
        ssize_t sent = ::send(end.fd, end.out.data() + end.outHead, end.outTail - end.outHead, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                Watch(end, true);
                return true;
            }
            return false;
        }
        end.outHead += static_cast<size_t>(sent);
    }
    end.outHead = end.outTail = 0;
    Watch(end, false);
    return true;
}

// Reads until a recv comes back short (the socket is drained) and cuts the
// frames after each one.
bool EpollHarness::Read(Endpoint &end)
{
    for (;;) {
        if (end.inTail == end.in.size())
            Compact(end);
        size_t space = end.in.size() - end.inTail;
        ssize_t received = ::recv(end.fd, end.in.data() + end.inTail, space, 0);
        if (received <= 0)
            return received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        end.inTail += static_cast<size_t>(received);
        Cut(end);
        if (static_cast<size_t>(received) < space)
            return true;
    }
}

void EpollHarness::Cut(Endpoint &end)
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
        if (header + length > available) {
            if (header + length > end.in.size()) {
                Compact(end);
                end.in.resize(header + length);
            }
            break;
        }
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
    // A partial frame moves to the front once less than half the buffer is
    // left behind it.
    if (end.inHead == end.inTail)
        end.inHead = end.inTail = 0;
    else if (end.in.size() - end.inTail < end.in.size() / 2)
        Compact(end);
}

bool EpollHarness::Pass()
{
    if (!Flush(m_client) || !Flush(m_server))
        return false;
    epoll_event ready[8];
    int count = ::epoll_wait(m_epoll, ready, 8, kWaitMs);
    for (int i = 0; i < count; ++i) {
        Endpoint &end = *static_cast<Endpoint *>(ready[i].data.ptr);
        if (ready[i].events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP))
            return false;
        if ((ready[i].events & EPOLLIN) && !Read(end))
            return false;
        if ((ready[i].events & EPOLLOUT) && !Flush(end))
            return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<StreamHarness> MakeEpollHarness(uint32_t messageSize)
{
    return std::make_unique<EpollHarness>(messageSize);
}

}  // namespace streambench
