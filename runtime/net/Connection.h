#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"
#include "../platform/SocketEvents.h"
#include "../serialize/CharVector.h"
#include "ConnFifoBuffer.h"
#include "MessageHandler.h"

// One network endpoint of a game program: an outgoing TCP stream, a stream
// accepted by a listener, or a bound UDP socket. It never blocks and has no
// thread: every frame the host calls Preprocess, waits on the event handles,
// calls HandleEvent on the signalled connections and Pulse on all of them.
class CPackedData;

class SHAREDLIB_API CConnection {
public:
    enum State : int32_t {
        Idle = 0,
        Connecting = 1,
        Connected = 2,
        Datagram = 3,
        Error = 4,
    };

    CConnection();
    virtual ~CConnection();
    CConnection(CConnection const &) = delete;
    CConnection &operator=(CConnection const &) = delete;

    // Start-up.
    void InitStream(uint32_t ip, uint16_t port);
    void InitStream(const std::string &address);
    void InitAccepted(unsigned int socket, uint32_t ip, uint16_t port);
    // A UDP socket bound to any local address (port 0: the system chooses).
    void InitDatagramListen(uint16_t port);
    // The same, trying port + 1, port + 2, ... on failure: tries + 1 attempts.
    void InitDatagramListen(uint16_t port, uint32_t tries);

    // Sending: a message is framed and queued; the queue is written as the
    // socket allows.
    void SendMsg(uint32_t size, const char *data);
    void SendMsg(const CPackedData &message);
    // Raw bytes that the caller has framed already.
    void FillBufferDangerous(uint32_t size, const char *data);
    void WriteOutboundData() { HandleWriteEvent(0); }
    int GetOutboundByteCount() const { return m_outbound.getByteCount(); }

    // Datagrams: sent at once to an explicit address and port (host byte
    // order), never queued. A datagram is a run of messages, each a 16-bit
    // little-endian length and the bytes, at most s_maxUDPPacketSize long.
    void initUDPPacketBuffer();
    // Appends one message to the datagram being assembled; false (and nothing
    // appended) when it does not fit.
    bool AddDataToDgramPacket(unsigned short size, const char *data);
    // One message in a datagram of its own.
    void SendMsg(unsigned short size, const char *data, uint32_t ip, uint16_t port);
    void SendMsg(const CPackedData &message, uint32_t ip, uint16_t port);
    // Packs messages from the front of the list into one datagram, sends it
    // and removes them; true when messages remain for another call.
    bool SendMultiMsg(CCharVectorList *messages, uint32_t ip, uint16_t port);
    void SendDgramMessageRaw(CCharVector *packet, uint32_t ip, uint16_t port);
    // The most messages found in one received datagram since the last call.
    uint32_t getMessagesPerPacket()
    {
        uint32_t most = m_messagesPerPacket;
        m_messagesPerPacket = 0;
        return most;
    }

    // The inbound buffer.
    void PackInboundBuffer();
    // False when the buffer could not be grown.
    bool ResizeInboundBuffer(uint32_t size);
    size_t GetInboundBufferSize() const { return m_inbound.size(); }

    // Per-frame driving.
    void *Preprocess(bool *processed);
    void HandleEvent();
    void Pulse();
    void *GetEventHandle() const { return m_event; }

    // Shutdown and errors.
    void Cleanup();
    void Reset() { Cleanup(); }
    void SetError(int code, const char *operation, const char *where, bool isError);
    int GetError() const { return m_error; }
    State GetState() const { return m_state; }
    bool IsConnected() const { return m_state == Connected || m_state == Datagram; }
    bool ShouldHandleEvents() const { return m_state != Idle && m_state != Error && !m_ignorePackets; }

    // Handler and packets.
    void SetMessageHandler(CMessageHandler *handler) { m_handler = handler; }
    CMessageHandler *GetMessageHandler() const { return m_handler; }
    const char *GetHandlerName() const;
    void OnConnect(bool connected);
    void IgnorePackets() { m_ignorePackets = true; }
    bool GetIgnorePackets() const { return m_ignorePackets; }
    void SetUpdateLag()
    {
        m_updateLag = true;
        m_pulseCount = 0;
    }

    // Tuning.
    void setDelay(int delay) { m_delay = delay; }
    void setAllowedProcessingTime(float seconds);
    void SetSendBufferSize(int bytes);
    void SetRecvBufferSize(int bytes);
    void resetTimers();

    // Read accessors.
    unsigned int GetSocket() const { return m_socket; }
    uint32_t GetConnectedIp() const { return m_remoteAddress; }
    uint32_t GetRemoteAddress() const { return m_remoteAddress; }
    uint16_t GetRemotePort() const { return m_remotePort; }
    uint16_t GetLocalPort() const { return m_localPort; }
    uint32_t GetSourceUdpIp() const { return m_sourceUdpIp; }
    uint16_t GetSourceUdpPort() const { return m_sourceUdpPort; }
    uint32_t GetLag() const { return m_lag; }
    uint32_t getBytesReceived() const { return m_bytesReceived; }
    uint32_t getBytesSent() const { return m_bytesSent; }
    uint32_t getMessagesReceived() const { return m_messagesReceived; }
    uint32_t getMessagesSent() const { return m_messagesSent; }
    int64_t getConnectTime() const { return m_connectTime; }
    uint32_t getWriteTime() const { return m_writeTime; }
    uint32_t getReadTime() const { return m_readTime; }
    uint32_t getProcessTime() const { return m_processTime; }
    uint32_t getTotalReadTime() const { return m_totalReadTime; }
    uint32_t getMaxReadEventsPerFrame() const { return m_maxReadEventsPerFrame; }
    uint32_t getFailedFrameCounter() const { return m_failedFrameCounter; }

    // Addresses (host byte order throughout).
    static bool ConvertAddress(const std::string &host, uint32_t *ip);
    static bool ConvertAddressString(const std::string &text, uint32_t *ip, uint16_t *port);
    static std::string GetIpAsString(uint32_t ip);
    std::string GetIpAsString() const { return GetIpAsString(m_remoteAddress); }
    static void GetAllLocalIPAddresses(uint32_t *addresses, unsigned char max);
    static uint32_t GetLocalIPAddress(uint32_t network, uint32_t mask);

    // Process-wide tuning values.
    static void setOutBufferExpandSize(int bytes) { s_outboundBundleSize = bytes; }
    static void setOutboundSizeWarning(int bytes) { s_outboundSizeWarning = bytes; }
    static void setOutboundTimeout(int seconds) { s_outboundTimeout = seconds; }
    static void setOutboundTimerOffFactor(float factor) { s_outboundTimerOffFactor = factor; }
    static void setOutboundSizeLimit(int bytes) { s_outboundSizeLimit = bytes; }
    static void setMaxUDPPacketSize(uint16_t bytes) { s_maxUDPPacketSize = bytes; }

    static uint16_t s_pulseRate;
    static uint16_t s_maxLag;
    static uint16_t s_absurdLag;
    static int s_outboundBundleSize;
    static int s_outboundSizeWarning;
    static int s_outboundTimeout;
    static float s_outboundTimerOffFactor;
    static int s_outboundSizeLimit;
    static uint16_t s_maxUDPPacketSize;
    static uint64_t s_timerFreq;

    // The read and write paths, for hosts that drive them directly.
    // One recv into the inbound buffer, then the complete frames.
    void HandleStreamReadEvent(int error);
    // Cuts and delivers the frames already buffered.
    void ProcessInboundData();
    // One message to the handler (nothing while packets are ignored).
    void HandleMessage(const void *data, uint32_t size);
    // The handler's verdict on a frame of `size` bytes; true without a handler.
    bool CheckMessageSize(uint32_t size);
    // Writes as much of the queue as the socket takes.
    void HandleWriteEvent(int error);
    // Reads and delivers the waiting datagrams.
    void HandleDgramReadEvent(int error);

protected:
    void HandleConnectEvent(int error);
    // Delivers the messages of the datagram held in m_inbound[0, size) that
    // came from ip:port.
    void DeliverDatagram(size_t size, uint32_t ip, uint16_t port);
    // Pulse's read: HandleStreamReadEvent, without the recv when the
    // platform knows it would block.
    void pollStream();
    // One pass of inbound processing that starts at the counter reading
    // `start`; returns the pass's last reading.
    int64_t processInbound(int64_t start);
    // HandleMessage: false when nothing was timed (packets ignored, or the
    // connection went away); otherwise `now` is the reading that ended it.
    bool deliver(const void *data, uint32_t size, int64_t &now);
    // Drops all unprocessed input.
    void DiscardInbound();
    void LogSocketEventError(platform::WSANETWORKEVENTS const &events);

    // A non-blocking socket bound to any local address and the port; on
    // failure the error is recorded (a busy port at info when asked) and the
    // result is the invalid socket.
    unsigned int openBoundSocket(int type, uint16_t port, const char *where, bool busyPortIsInfo);
    // Queues prefix and data as one unit and counts them; a refusal is logged
    // and reported to the handler. `started` is the tick count at the call.
    void queueWhole(const void *prefix, int prefixLength, const char *data, uint32_t size, uint32_t started);
    // Creates the event, selects the stream events and logs the takeover.
    void attachStreamSocket(unsigned int socket, const char *kind, const char *where);

    State m_state;
    int m_error;
    uint32_t m_inboundOffset;
    uint32_t m_inboundCount;
    unsigned int m_socket;
    void *m_event;
    uint32_t m_remoteAddress;
    uint16_t m_remotePort;
    uint16_t m_localPort;
    uint32_t m_bytesReceived;
    uint32_t m_bytesSent;
    uint32_t m_messagesReceived;
    uint32_t m_messagesSent;
    uint32_t m_messagesPerPacket;
    int64_t m_connectTime;
    CMessageHandler *m_handler;
    CConnFifoBuffer m_outbound;
    std::vector<char> m_inbound;
    uint32_t m_sourceUdpIp;
    uint16_t m_sourceUdpPort;
    uint16_t m_pulseCount;
    bool m_updateLag;
    int64_t m_pingStart;
    uint32_t m_processTime;
    uint32_t m_readTime;
    uint32_t m_totalReadTime;
    uint32_t m_writeTime;
    uint32_t m_maxReadEventsPerFrame;
    uint32_t m_lag;
    int m_delay;
    int64_t m_blockedSince;
    int m_blockedBufferSize;
    int64_t m_allowedProcessingTime;
    uint32_t m_failedFrameCounter;
    uint32_t m_failedFrameLogInterval;
    bool m_ignorePackets;
    CCharVector *m_udpPacket;

    // A library call that may reach the handler opens a CallScope. A host may
    // delete the connection inside a callback: the destructor then leaves the
    // liveness record behind, marked dead, for the open scopes to see, so the
    // calls on the stack return without touching the freed object. The last
    // scope to close frees the record.
    struct Liveness {
        uint32_t scopes;
        bool alive;
    };
    class CallScope {
    public:
        explicit CallScope(CConnection *conn) : m_liveness(conn->m_liveness) { ++m_liveness->scopes; }
        ~CallScope()
        {
            if (--m_liveness->scopes == 0 && !m_liveness->alive)
                delete m_liveness;
        }
        CallScope(CallScope const &) = delete;
        CallScope &operator=(CallScope const &) = delete;
        // True once the connection has been destroyed.
        bool gone() const { return !m_liveness->alive; }

    private:
        Liveness *m_liveness;
    };
    Liveness *m_liveness;

    // Adds the milliseconds between two performance-counter readings.
    static void addElapsedMs(uint32_t &total, int64_t from, int64_t to);
};
