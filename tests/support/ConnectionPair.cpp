#include "ConnectionPair.h"

#include <chrono>
#include <thread>

#include <SharedLib/net/SocketHelpers.h>
#include <SharedLib/platform/SocketEvents.h>

static constexpr uint32_t kLoopback = 0x7F000001;

void RecordingHandler::HandleMessage(CConnection *, const void *data, uint32_t size)
{
    messages.emplace_back(static_cast<const char *>(data), size);
}

bool RecordingHandler::CheckMessageSize(uint32_t size)
{
    sizesAsked.push_back(size);
    return size <= sizeLimit;
}

std::string Frame(std::string const &message)
{
    auto size = static_cast<uint32_t>(message.size());
    if (size < 65533)
        return std::string{static_cast<char>(size & 0xFF), static_cast<char>(size >> 8)} + message;
    char header[6] = {'\xFD', '\xFF', static_cast<char>(size), static_cast<char>(size >> 8),
                      static_cast<char>(size >> 16), static_cast<char>(size >> 24)};
    return std::string(header, 6) + message;
}

void WaitAndHandle(CConnection &conn)
{
    void *event = conn.GetEventHandle();
    if (event != nullptr && platform::WaitForMultipleEvents(1, &event, 10) == platform::WAIT_OBJECT_0)
        conn.HandleEvent();
}

bool DriveUntil(std::function<void()> const &step, std::function<bool()> const &done, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        step();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

RawListener::RawListener() : m_socket(platform::CreateSocket(platform::SOCK_STREAM_))
{
    SetSocketBlockingFlag(m_socket, false);
    platform::BindSocket(m_socket, kLoopback, 0);
    platform::ListenSocket(m_socket, 64);
    platform::GetSocketName(m_socket, nullptr, &m_port);
}

RawListener::~RawListener() { platform::closesocket(m_socket); }

platform::SOCKET RawListener::accept()
{
    platform::SOCKET accepted = platform::INVALID_SOCKET;
    DriveUntil([] {},
               [&] {
                   accepted = platform::AcceptSocket(m_socket, nullptr, nullptr);
                   return accepted != platform::INVALID_SOCKET;
               });
    if (accepted != platform::INVALID_SOCKET) {
        SetSocketBlockingFlag(accepted, false);
        // Test peers send small pieces on purpose: no Nagle delays.
        int on = 1;
        platform::setsockopt(accepted, platform::IPPROTO_TCP_, platform::TCP_NODELAY_, &on, sizeof on);
    }
    return accepted;
}

RawPeerConnection::RawPeerConnection()
{
    client.SetMessageHandler(&handler);
    client.InitStream(kLoopback, listener.port());
    peer = listener.accept();
    DriveUntil([&] { client.Pulse(); }, [&] { return client.GetState() != CConnection::Connecting; });
}

RawPeerConnection::~RawPeerConnection()
{
    if (peer != platform::INVALID_SOCKET)
        platform::closesocket(peer);
}

std::string RawPeerConnection::peerReads(int timeoutMs)
{
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        client.Pulse();
        int n = platform::recv(peer, buffer, sizeof buffer, 0);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    return got;
}

void RawPeerConnection::peerSends(std::string const &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = platform::send(peer, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n > 0)
            sent += static_cast<size_t>(n);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}
