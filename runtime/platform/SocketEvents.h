#pragma once

#include <cstdint>
#include <vector>

#include "../Export.h"
#include "Socket.h"

/// \file
/// Winsock event objects (WSAEventSelect). A socket keeps a record of network
/// events; an event object is signalled while a record it is selected on
/// holds an event. The re-arm rules, as on Windows:
///  - FD_READ, FD_ACCEPT, FD_OOB are level-triggered: recorded when the
///    condition holds, then not again until recv (accept) is called; if data
///    remains after that call, they are recorded again.
///  - FD_WRITE is recorded when a connect completes or a socket is accepted,
///    and again, once space frees up, after a send failed with would-block.
///  - FD_CONNECT is recorded once, with its error code.
///  - FD_CLOSE is recorded once: 0 for a graceful close (after every byte
///    has been read), the reset code otherwise.
/// WSAEnumNetworkEvents returns the record with per-event error codes,
/// clears it and resets the event.
namespace platform {

/// An event object handle.
using WSAEVENT = void *;

///@{

/// Network event bits of WSAEventSelect, with their Winsock values.
constexpr int32_t FD_READ = 0x01;
constexpr int32_t FD_WRITE = 0x02;
constexpr int32_t FD_OOB = 0x04;
constexpr int32_t FD_ACCEPT = 0x08;
constexpr int32_t FD_CONNECT = 0x10;
constexpr int32_t FD_CLOSE = 0x20;
constexpr int32_t FD_QOS = 0x40;
constexpr int32_t FD_GROUP_QOS = 0x80;
constexpr int32_t FD_ROUTING_INTERFACE_CHANGE = 0x100;
constexpr int32_t FD_ADDRESS_LIST_CHANGE = 0x200;
///@}
/// Entries of WSANETWORKEVENTS::iErrorCode.
constexpr int FD_MAX_EVENTS = 10;

/// The network events recorded for a socket and their error codes (WSAEnumNetworkEvents).
struct WSANETWORKEVENTS {
    ///@{

    /// The FD_ bits that occurred, and the error code of each, indexed by bit number.
    int32_t lNetworkEvents;
    int32_t iErrorCode[FD_MAX_EVENTS];
    ///@}
};

///@{

/// Creates (null on failure), closes and resets an event object; false on failure.
SHAREDLIB_API WSAEVENT WSACreateEvent();
SHAREDLIB_API bool WSACloseEvent(WSAEVENT event);
SHAREDLIB_API bool WSAResetEvent(WSAEVENT event);
///@}
///@{

/// Associates the socket with the event for these network events (0 ends the
/// association). Makes the socket non-blocking, as Windows does.
SHAREDLIB_API int WSAEventSelect(SOCKET s, WSAEVENT event, int32_t networkEvents);
/// Returns the recorded network events and their error codes, clears the record and resets the event.
SHAREDLIB_API int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS *networkEvents);
///@}

/// False only when a read would surely find nothing: the socket's event is
/// in a wait set, and no input has been reported since a recv (recvfrom)
/// found the socket empty. A host loop's poll may skip its read then; the
/// next wait reports new input as usual.
SHAREDLIB_API bool MayHaveInput(SOCKET s);

///@{

/// Results and timeout of the wait functions, with their Windows values.
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr uint32_t INFINITE = 0xFFFFFFFF;
///@}

/// Waits until one of the events is signalled: WAIT_OBJECT_0 plus the lowest
/// signalled index, or WAIT_TIMEOUT. Any number of events (no 64 limit); the
/// cost grows with their number, so a server with many connections waits on
/// an EventWaitSet instead.
SHAREDLIB_API uint32_t WaitForMultipleEvents(uint32_t count, WSAEVENT const *events, uint32_t timeoutMs);

/// A set of events that a host waits on frame after frame, of any size. Waking
/// costs in proportion to the signalled events, not to the size of the set
/// (on Windows, beyond 64 events, a look at them 64 at a time besides).
class SHAREDLIB_API EventWaitSet {
public:
    EventWaitSet();
    ~EventWaitSet();
    EventWaitSet(EventWaitSet const &) = delete;
    EventWaitSet &operator=(EventWaitSet const &) = delete;

    ///@{

    /// Adds an event to the set (false when it cannot), or removes it.
    bool Add(WSAEVENT event);
    void Remove(WSAEVENT event);
    ///@}
    /// The events signalled now, or once one is, within the timeout; empty on
    /// time-out. Each stays signalled (and is returned again) until its
    /// network events are enumerated.
    void Wait(uint32_t timeoutMs, std::vector<WSAEVENT> &signalled);

private:
    friend struct EventRegistry;
    int m_poll;
    std::vector<void *> m_ready;
};

}  // namespace platform
