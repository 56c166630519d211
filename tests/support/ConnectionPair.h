#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <SharedLib/net/Connection.h>
#include <SharedLib/platform/Socket.h>

// A handler that keeps copies of what it is given.
class RecordingHandler : public CMessageHandler {
public:
    explicit RecordingHandler(const char *name = "Zone") : m_name(name) {}
    void HandleMessage(CConnection *, const void *data, uint32_t size) override;
    void OnConnect(CConnection *, bool connected) override { ++(connected ? connects : losses); }
    bool CheckMessageSize(uint32_t size) override;
    void OnError(CConnection *, Error code, int detail) override { errors.push_back({code, detail}); }
    const char *GetHandlerName() const override { return m_name; }

    std::vector<std::string> messages;
    std::vector<uint32_t> sizesAsked;
    std::vector<std::pair<Error, int>> errors;
    uint32_t sizeLimit = UINT32_MAX;
    int connects = 0;
    int losses = 0;

private:
    const char *m_name;
};

// Several values to compare at once.
template <class... Values>
std::tuple<Values...> T(Values... values)
{
    return {values...};
}

// A message framed for the wire: a 16-bit little-endian length, or from
// 65533 bytes on 0xFFFD and a 32-bit length.
std::string Frame(std::string const &message);

// The host loop's event path: a short wait on the event, then HandleEvent.
void WaitAndHandle(CConnection &conn);

// Calls step until done holds or the time is up.
bool DriveUntil(std::function<void()> const &step, std::function<bool()> const &done, int timeoutMs = 3000);

// A loopback listening socket that tests accept from by hand.
class RawListener {
public:
    RawListener();
    ~RawListener();
    platform::SOCKET accept();  // non-blocking socket, or INVALID_SOCKET after a while
    uint16_t port() const { return m_port; }

private:
    platform::SOCKET m_socket;
    uint16_t m_port = 0;
};

// A client connection and a raw peer socket on the other end.
struct RawPeerConnection {
    RawPeerConnection();
    ~RawPeerConnection();
    // Reads whatever the peer has been sent so far (after pulsing the client).
    std::string peerReads(int timeoutMs = 200);
    void peerSends(std::string const &bytes);

    RawListener listener;
    RecordingHandler handler;
    CConnection client;
    platform::SOCKET peer = platform::INVALID_SOCKET;
};
