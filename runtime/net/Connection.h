#pragma once

/// \file
/// CConnection: one TCP stream or UDP socket, driven by the host's frame.

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"
#include "../platform/SocketEvents.h"
#include "../serialize/CharVector.h"
#include "ConnFifoBuffer.h"
#include "MessageHandler.h"

class CPackedData;

/// One network endpoint of a game program: an outgoing TCP stream, a stream
/// accepted by a listener, or a bound UDP socket. It never blocks and has no
/// thread: every frame the host calls Preprocess, waits on the event handles,
/// calls HandleEvent on the signalled connections and Pulse on all of them.
class SHAREDLIB_API CConnection {
public:
    /// Where a connection is in its life; see the state diagram of the host-program guide.
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

    /** \name Start-up */
    ///@{

    /// Starts a non-blocking connect to ip:port (host byte order); the stream is Connecting until the connect event.
    void InitStream(uint32_t ip, uint16_t port);
    /// Starts a connect to "host:port" (a name or a dotted address); an address that does not resolve is an error.
    void InitStream(const std::string &address);
    /// Takes over a socket a listener accepted from ip:port; the stream is Connected at once.
    void InitAccepted(unsigned int socket, uint32_t ip, uint16_t port);
    /// A UDP socket bound to any local address (port 0: the system chooses).
    void InitDatagramListen(uint16_t port);
    /// The same, trying port + 1, port + 2, ... on failure: tries + 1 attempts.
    void InitDatagramListen(uint16_t port, uint32_t tries);
    ///@}

    /** \name Sending
     *  A message is framed and queued; the queue is written as the socket allows. */
    ///@{

    /// Frames size bytes of data (short or long form) and queues them.
    void SendMsg(uint32_t size, const char *data);
    /// Frames the bytes of a packet and queues them.
    void SendMsg(const CPackedData &message);
    /// Raw bytes that the caller has framed already.
    void FillBufferDangerous(uint32_t size, const char *data);
    /// Writes as much of the queue as the socket takes now.
    void WriteOutboundData() { HandleWriteEvent(0); }
    /// Bytes queued and not yet written.
    int GetOutboundByteCount() const { return m_outbound.getByteCount(); }
    ///@}

    /** \name Datagrams
     *  Sent at once to an explicit address and port (host byte order), never
     *  queued. A datagram is a run of messages, each a 16-bit little-endian
     *  length and the bytes, at most s_maxUDPPacketSize long. */
    ///@{

    /// Starts assembling a new datagram (empty, with room for s_maxUDPPacketSize bytes).
    void initUDPPacketBuffer();
    /// Appends one message to the datagram being assembled; false (and nothing
    /// appended) when it does not fit.
    bool AddDataToDgramPacket(unsigned short size, const char *data);
    /// One message in a datagram of its own.
    void SendMsg(unsigned short size, const char *data, uint32_t ip, uint16_t port);
    /// The bytes of a packet in a datagram of their own.
    void SendMsg(const CPackedData &message, uint32_t ip, uint16_t port);
    /// Packs messages from the front of the list into one datagram, sends it
    /// and removes them; true when messages remain for another call.
    bool SendMultiMsg(CCharVectorList *messages, uint32_t ip, uint16_t port);
    /// Sends bytes already laid out as a datagram, unchanged.
    void SendDgramMessageRaw(CCharVector *packet, uint32_t ip, uint16_t port);
    /// The most messages found in one received datagram since the last call.
    uint32_t getMessagesPerPacket()
    {
        uint32_t most = m_messagesPerPacket;
        m_messagesPerPacket = 0;
        return most;
    }
    ///@}

    /** \name The inbound buffer */
    ///@{

    /// Moves the unprocessed input to the front of the inbound buffer.
    void PackInboundBuffer();
    /// False when the buffer could not be grown.
    bool ResizeInboundBuffer(uint32_t size);
    /// The size of the inbound buffer in bytes.
    size_t GetInboundBufferSize() const { return m_inbound.size(); }
    ///@}

    /** \name Per-frame driving */
    ///@{

    /// Flushes the queue and delivers input left from a frame that ran out of time (then sets *processed); returns the event handle to wait on, or null when there is nothing to wait for.
    void *Preprocess(bool *processed);
    /// Handles the signalled event: connect, reads (frames delivered to the handler), writes and close.
    void HandleEvent();
    /// Once per frame (every delay-th frame after setDelay): probes a pending
    /// connect; on a stream reads what is waiting, writes the queue and sends a
    /// lag ping when asked; on a datagram socket reads the waiting datagrams.
    void Pulse();
    /// The event handle, null when there is none.
    void *GetEventHandle() const { return m_event; }
    ///@}

    /** \name Shutdown and errors */
    ///@{

    /// Closes the socket and the event and returns to Idle; queued output is dropped.
    void Cleanup();
    /// The same as Cleanup.
    void Reset() { Cleanup(); }
    /// Logs a failed operation on Network (an error, or info when isError is false), records the code and enters Error.
    void SetError(int code, const char *operation, const char *where, bool isError);
    /// The code recorded by the last SetError, 0 when none.
    int GetError() const { return m_error; }
    /// The state.
    State GetState() const { return m_state; }
    /// True for a Connected stream or a bound datagram socket.
    bool IsConnected() const { return m_state == Connected || m_state == Datagram; }
    /// True while the connection is active and not ignoring packets.
    bool ShouldHandleEvents() const { return m_state != Idle && m_state != Error && !m_ignorePackets; }
    ///@}

    /** \name Handler and packets */
    ///@{

    /// Sets the handler that receives the connection's messages and events (not owned).
    void SetMessageHandler(CMessageHandler *handler) { m_handler = handler; }
    /// The handler, or null.
    CMessageHandler *GetMessageHandler() const { return m_handler; }
    /// The handler's name for log lines, "Unhandled" without a handler.
    const char *GetHandlerName() const;
    /// Reports a connect or a loss to the handler (logged when there is none).
    void OnConnect(bool connected);
    /// Stops handling events for good: the connection delivers nothing more.
    void IgnorePackets() { m_ignorePackets = true; }
    /// True after IgnorePackets.
    bool GetIgnorePackets() const { return m_ignorePackets; }
    /// Asks for the lag to be measured: a ping goes out after the next s_pulseRate pulses.
    void SetUpdateLag()
    {
        m_updateLag = true;
        m_pulseCount = 0;
    }
    ///@}

    /** \name Tuning */
    ///@{

    /// Pulses only every delay-th frame (0: every frame).
    void setDelay(int delay) { m_delay = delay; }
    /// The longest a frame may spend delivering input; the rest waits for the next frame.
    void setAllowedProcessingTime(float seconds);
    /// Sets the socket's send buffer size (SO_SNDBUF).
    void SetSendBufferSize(int bytes);
    /// Sets the socket's receive buffer size (SO_RCVBUF).
    void SetRecvBufferSize(int bytes);
    /// Zeroes the read, write and process times and the most read events per frame.
    void resetTimers();
    ///@}

    /** \name Read accessors */
    ///@{

    /// The socket.
    unsigned int GetSocket() const { return m_socket; }
    /// The peer's address (host byte order).
    uint32_t GetConnectedIp() const { return m_remoteAddress; }
    /// The peer's address (host byte order).
    uint32_t GetRemoteAddress() const { return m_remoteAddress; }
    /// The peer's port.
    uint16_t GetRemotePort() const { return m_remotePort; }
    /// The local port the socket is bound to.
    uint16_t GetLocalPort() const { return m_localPort; }
    /// The sender's address of the last datagram received.
    uint32_t GetSourceUdpIp() const { return m_sourceUdpIp; }
    /// The sender's port of the last datagram received.
    uint16_t GetSourceUdpPort() const { return m_sourceUdpPort; }
    /// The lag measured by the last ping, in milliseconds (half the round trip, at most s_maxLag).
    uint32_t GetLag() const { return m_lag; }
    /// Bytes received since the connection started.
    uint32_t getBytesReceived() const { return m_bytesReceived; }
    /// Bytes sent since the connection started.
    uint32_t getBytesSent() const { return m_bytesSent; }
    /// Messages delivered since the connection started.
    uint32_t getMessagesReceived() const { return m_messagesReceived; }
    /// Messages sent since the connection started.
    uint32_t getMessagesSent() const { return m_messagesSent; }
    /// When the connection started, in seconds since 1970.
    int64_t getConnectTime() const { return m_connectTime; }
    /// Milliseconds spent writing since resetTimers.
    uint32_t getWriteTime() const { return m_writeTime; }
    /// Milliseconds spent reading since resetTimers.
    uint32_t getReadTime() const { return m_readTime; }
    /// Milliseconds spent in the handler since resetTimers.
    uint32_t getProcessTime() const { return m_processTime; }
    /// Milliseconds spent reading and delivering since resetTimers.
    uint32_t getTotalReadTime() const { return m_totalReadTime; }
    /// The most messages delivered in one frame since resetTimers.
    uint32_t getMaxReadEventsPerFrame() const { return m_maxReadEventsPerFrame; }
    /// Consecutive frames that ran out of processing time with input left over.
    uint32_t getFailedFrameCounter() const { return m_failedFrameCounter; }
    ///@}

    /** \name Addresses
     *  Host byte order throughout. */
    ///@{

    /// Resolves a host name or dotted address into *ip; false when it does not resolve.
    static bool ConvertAddress(const std::string &host, uint32_t *ip);
    /// Splits "host:port" and resolves the host; false for a malformed text or an unknown host.
    static bool ConvertAddressString(const std::string &text, uint32_t *ip, uint16_t *port);
    /// The dotted form of an address.
    static std::string GetIpAsString(uint32_t ip);
    /// The dotted form of the peer's address.
    std::string GetIpAsString() const { return GetIpAsString(m_remoteAddress); }
    /// Fills up to max entries with this machine's addresses.
    static void GetAllLocalIPAddresses(uint32_t *addresses, unsigned char max);
    /// This machine's first address inside network/mask, or 0.
    static uint32_t GetLocalIPAddress(uint32_t network, uint32_t mask);
    ///@}

    /** \name Process-wide tuning values */
    ///@{

    /// Sets the size of the bundles outbound queues grow by.
    static void setOutBufferExpandSize(int bytes) { s_outboundBundleSize = bytes; }
    /// Sets the queued size above which a growing queue is logged.
    static void setOutboundSizeWarning(int bytes) { s_outboundSizeWarning = bytes; }
    /// Sets how long a queue may stay blocked before the handler hears ConnectWriteTimeout.
    static void setOutboundTimeout(int seconds) { s_outboundTimeout = seconds; }
    /// Sets the fraction of the blocked size a queue must drain to below to stop the timeout clock.
    static void setOutboundTimerOffFactor(float factor) { s_outboundTimerOffFactor = factor; }
    /// Sets the queued size above which sends are refused with ConnectWriteQueueLimit.
    static void setOutboundSizeLimit(int bytes) { s_outboundSizeLimit = bytes; }
    /// Sets the largest datagram assembled or received.
    static void setMaxUDPPacketSize(uint16_t bytes) { s_maxUDPPacketSize = bytes; }

    /// Pulses between lag pings.
    static uint16_t s_pulseRate;
    /// The largest lag reported, in milliseconds.
    static uint16_t s_maxLag;
    /// A measured lag above this many milliseconds is logged as a warning.
    static uint16_t s_absurdLag;
    /// The size of the bundles outbound queues grow by (setOutBufferExpandSize).
    static int s_outboundBundleSize;
    /// The queued size above which a growing queue is logged (setOutboundSizeWarning).
    static int s_outboundSizeWarning;
    /// Seconds a queue may stay blocked before ConnectWriteTimeout (setOutboundTimeout).
    static int s_outboundTimeout;
    /// The drain fraction that stops the timeout clock (setOutboundTimerOffFactor).
    static float s_outboundTimerOffFactor;
    /// The queued size above which sends are refused (setOutboundSizeLimit).
    static int s_outboundSizeLimit;
    /// The largest datagram assembled or received (setMaxUDPPacketSize).
    static uint16_t s_maxUDPPacketSize;
    /// Ticks per millisecond of the performance counter, measured once.
    static uint64_t s_timerFreq;
    ///@}

    /** \name The read and write paths
     *  For hosts that drive them directly. */
    ///@{

    /// One recv into the inbound buffer, then the complete frames.
    void HandleStreamReadEvent(int error);
    /// Cuts and delivers the frames already buffered.
    void ProcessInboundData();
    /// One message to the handler (nothing while packets are ignored).
    void HandleMessage(const void *data, uint32_t size);
    /// The handler's verdict on a frame of `size` bytes; true without a handler.
    bool CheckMessageSize(uint32_t size);
    /// Writes as much of the queue as the socket takes.
    void HandleWriteEvent(int error);
    /// Reads and delivers the waiting datagrams.
    void HandleDgramReadEvent(int error);
    ///@}

protected:
    /// The outcome of a connect: error 0 makes the stream Connected and calls OnConnect(true); any other records the error.
    void HandleConnectEvent(int error);
    /// Delivers the messages of the datagram held in m_inbound[0, size) that
    /// came from ip:port.
    void DeliverDatagram(size_t size, uint32_t ip, uint16_t port);
    /// Pulse's read: HandleStreamReadEvent, without the recv when the
    /// platform knows it would block.
    void pollStream();
    /// One pass of inbound processing that starts at the counter reading
    /// `start`; returns the pass's last reading.
    int64_t processInbound(int64_t start);
    /// HandleMessage: false when nothing was timed (packets ignored, or the
    /// connection went away); otherwise `now` is the reading that ended it.
    bool deliver(const void *data, uint32_t size, int64_t &now);
    /// Drops all unprocessed input.
    void DiscardInbound();
    /// Logs why enumerating the socket's network events failed.
    void LogSocketEventError(platform::WSANETWORKEVENTS const &events);

    /// A non-blocking socket bound to any local address and the port; on
    /// failure the error is recorded (a busy port at info when asked) and the
    /// result is the invalid socket.
    unsigned int openBoundSocket(int type, uint16_t port, const char *where, bool busyPortIsInfo);
    /// Queues prefix and data as one unit and counts them; a refusal is logged
    /// and reported to the handler. `started` is the tick count at the call.
    void queueWhole(const void *prefix, int prefixLength, const char *data, uint32_t size, uint32_t started);
    /// Creates the event, selects the stream events and logs the takeover.
    void attachStreamSocket(unsigned int socket, const char *kind, const char *where);

    ///@{

    /// The connection's state for derived classes: state and error, buffers and offsets, socket and event, addresses, counters, timers and flags; read it through the accessors.
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
    ///@}

    /// A library call that may reach the handler opens a CallScope. A host may
    /// delete the connection inside a callback: the destructor then leaves the
    /// liveness record behind, marked dead, for the open scopes to see, so the
    /// calls on the stack return without touching the freed object. The last
    /// scope to close frees the record.
    struct Liveness {
        /// Open scopes.
        uint32_t scopes;
        /// False once the connection has been destroyed.
        bool alive;
    };
    /// Guards a call that may reach the handler (see Liveness).
    class CallScope {
    public:
        /// Opens a scope on the connection.
        explicit CallScope(CConnection *conn) : m_liveness(conn->m_liveness) { ++m_liveness->scopes; }
        ~CallScope()
        {
            if (--m_liveness->scopes == 0 && !m_liveness->alive)
                delete m_liveness;
        }
        CallScope(CallScope const &) = delete;
        CallScope &operator=(CallScope const &) = delete;
        /// True once the connection has been destroyed.
        bool gone() const { return !m_liveness->alive; }

    private:
        Liveness *m_liveness;
    };
    /// The connection's liveness record.
    Liveness *m_liveness;

    /// Adds the milliseconds between two performance-counter readings.
    static void addElapsedMs(uint32_t &total, int64_t from, int64_t to);
};
