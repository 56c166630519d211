#include "../SocketEvents.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "../LastError.h"
#include "ErrorTranslation.h"
#include "SocketRecords.h"

namespace platform {

struct SocketEvent;

namespace {

// One socket's record of network events.
struct SocketRecord {
    int fd = -1;
    bool stream = true;
    bool listening = false;
    bool connectPending = false;
    bool connectFailed = false;
    // A stream reports reads, writes and its close only once connected or
    // accepted: an unconnected socket looks hung up to the kernel.
    bool established = false;
    bool closeRecorded = false;
    // A closed stream has nothing more to report, and the kernel would
    // report its hang-up forever: it leaves the wait sets.
    bool leftPolling = false;
    // Whether FD_READ / FD_ACCEPT and FD_WRITE may be recorded now. Read
    // without the lock by recv and send, which only ever re-arm.
    std::atomic<bool> inputArmed{true};
    std::atomic<bool> writeArmed{false};
    // The last read found the socket empty, and no input has been reported
    // since; `watched`: a wait set would report input. Both together let a
    // poll skip a read that would only block. Read without the lock.
    std::atomic<bool> drained{false};
    std::atomic<bool> watched{false};
    uint32_t interest = 0;  // epoll interest registered in the wait sets
    SocketEvent *event = nullptr;
    int32_t selected = 0;
    int32_t recorded = 0;
    int32_t errors[FD_MAX_EVENTS] = {};
};

}  // namespace

// An event object: signalled while a socket selected on it holds events.
struct SocketEvent {
    bool signalled = false;
    std::vector<int> sockets;
    struct Membership {
        EventWaitSet *set;
        size_t readyIndex;  // position in the set's ready list, or npos
    };
    std::vector<Membership> sets;
};

// Everything behind the lock: records by descriptor, live events, and the
// bookkeeping of the wait sets.
struct EventRegistry {
    static constexpr size_t kChunk = 1024;
    static constexpr size_t npos = ~size_t{0};

    std::mutex lock;
    std::array<std::atomic<SocketRecord *> *, 4096> chunks{};
    std::unordered_set<SocketEvent *> events;

    SocketRecord *find(int fd)
    {
        if (fd < 0 || static_cast<size_t>(fd) >= kChunk * chunks.size())
            return nullptr;
        std::atomic<SocketRecord *> *chunk = chunks[static_cast<size_t>(fd) / kChunk];
        return chunk != nullptr ? chunk[static_cast<size_t>(fd) % kChunk].load(std::memory_order_acquire) : nullptr;
    }

    void store(int fd, SocketRecord *record)
    {
        if (fd < 0 || static_cast<size_t>(fd) >= kChunk * chunks.size())
            return;
        auto &chunk = chunks[static_cast<size_t>(fd) / kChunk];
        if (chunk == nullptr)
            chunk = new std::atomic<SocketRecord *>[kChunk]();
        chunk[static_cast<size_t>(fd) % kChunk].store(record, std::memory_order_release);
    }

    SocketEvent *liveEvent(WSAEVENT handle)
    {
        auto *event = static_cast<SocketEvent *>(handle);
        return events.count(event) != 0 ? event : nullptr;
    }

    // The epoll interest a record needs now: input while an input event may
    // be recorded, output while a connect or a blocked send waits. A reset
    // is reported whatever the interest.
    static uint32_t desiredInterest(SocketRecord const &record)
    {
        uint32_t interest = 0;
        if (record.inputArmed.load(std::memory_order_relaxed))
            interest |= EPOLLIN | EPOLLRDHUP;
        if (record.connectPending || record.writeArmed.load(std::memory_order_relaxed))
            interest |= EPOLLOUT;
        return interest;
    }

    // Whether the record's socket is in a wait set now.
    static void rewatch(SocketRecord &record)
    {
        bool watched = record.event != nullptr && !record.leftPolling && !record.event->sets.empty();
        record.watched.store(watched, std::memory_order_relaxed);
    }

    void rewatchAll(SocketEvent *event)
    {
        for (int fd : event->sockets)
            if (SocketRecord *record = find(fd))
                rewatch(*record);
    }

    void setInterest(SocketRecord &record, uint32_t interest)
    {
        if (record.stream && record.closeRecorded && !record.leftPolling && record.event != nullptr) {
            record.leftPolling = true;
            rewatch(record);
            for (auto &membership : record.event->sets)
                ::epoll_ctl(membership.set->m_poll, EPOLL_CTL_DEL, record.fd, nullptr);
        }
        if (interest == record.interest || record.event == nullptr || record.leftPolling)
            return;
        record.interest = interest;
        for (auto &membership : record.event->sets) {
            epoll_event change{};
            change.events = interest;
            change.data.fd = record.fd;
            ::epoll_ctl(membership.set->m_poll, EPOLL_CTL_MOD, record.fd, &change);
        }
    }

    // Interest grows at once when an event is re-armed. It shrinks only
    // after the kernel reported something that could not be recorded, so a
    // host that reads promptly costs no interest changes at all.
    void growInterest(SocketRecord &record) { setInterest(record, record.interest | desiredInterest(record)); }
    void shrinkInterest(SocketRecord &record) { setInterest(record, desiredInterest(record)); }

    void signal(SocketEvent *event)
    {
        if (event == nullptr || event->signalled)
            return;
        event->signalled = true;
        for (auto &membership : event->sets) {
            membership.readyIndex = membership.set->m_ready.size();
            membership.set->m_ready.push_back(event);
        }
    }

    void removeFromReady(SocketEvent *event, SocketEvent::Membership &membership)
    {
        if (membership.readyIndex == npos)
            return;
        auto &ready = membership.set->m_ready;
        size_t index = membership.readyIndex;
        SocketEvent *moved = static_cast<SocketEvent *>(ready.back());
        ready[index] = moved;
        ready.pop_back();
        if (moved != event)
            for (auto &other : moved->sets)
                if (other.set == membership.set)
                    other.readyIndex = index;
        membership.readyIndex = npos;
    }

    void reset(SocketEvent *event)
    {
        if (!event->signalled)
            return;
        event->signalled = false;
        for (auto &membership : event->sets)
            removeFromReady(event, membership);
    }

    void record(SocketRecord &record, int32_t bit, int index, int32_t error)
    {
        if ((record.selected & bit) == 0)
            return;
        record.recorded |= bit;
        record.errors[index] = error;
        signal(record.event);
    }

    // Turns what poll or epoll reported for a socket into recorded events.
    // A probe (a look without waiting) never narrows the interest: only the
    // wait sets' own reports do.
    void refresh(SocketRecord &record, uint32_t ready, bool fromWaitSet = true)
    {
        bool input = (ready & (POLLIN | POLLRDHUP)) != 0;
        bool output = (ready & POLLOUT) != 0;
        bool failed = (ready & (POLLERR | POLLHUP)) != 0;
        if (input || failed)
            record.drained.store(false, std::memory_order_relaxed);
        bool usedInput = false;
        bool usedOutput = false;
        if (record.listening) {
            if (input && record.inputArmed.exchange(false)) {
                this->record(record, FD_ACCEPT, 3, 0);
                usedInput = true;
            }
        } else if (!record.stream) {
            if (input && record.inputArmed.exchange(false)) {
                this->record(record, FD_READ, 0, 0);
                usedInput = true;
            }
            if (output && record.writeArmed.exchange(false)) {
                this->record(record, FD_WRITE, 1, 0);
                usedOutput = true;
            }
        } else {
            refreshStream(record, ready, input, output, failed, usedInput, usedOutput);
        }
        if (fromWaitSet && ((input && !usedInput) || (output && !usedOutput) || record.closeRecorded))
            shrinkInterest(record);
        else if (record.closeRecorded)
            setInterest(record, record.interest);  // leaves the wait sets
    }

    void refreshStream(SocketRecord &record, uint32_t ready, bool input, bool output, bool failed, bool &usedInput,
                       bool &usedOutput)
    {
        if (record.connectPending) {
            if (!output && !failed)
                return;
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(record.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            record.connectPending = false;
            usedOutput = true;
            this->record(record, FD_CONNECT, 4, static_cast<int32_t>(posix::SocketErrorFromErrno(error)));
            if (error != 0) {
                record.connectFailed = true;
                record.closeRecorded = true;
                usedInput = true;
                return;
            }
            record.established = true;
            record.writeArmed.store(true);
            output = true;
            failed = false;
        }
        if (!record.established) {
            usedInput = usedOutput = true;
            return;
        }
        if (record.closeRecorded) {
            usedInput = usedInput || !input;
        } else if (ready & POLLERR) {
            // A reset: reported at once, with any data still unread.
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(record.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (input && record.inputArmed.exchange(false))
                this->record(record, FD_READ, 0, 0);
            record.closeRecorded = true;
            usedInput = true;
            this->record(record, FD_CLOSE, 5,
                         static_cast<int32_t>(error != 0 ? posix::SocketErrorFromErrno(error) : WSAECONNRESET));
        } else if (input) {
            int waiting = 0;
            bool peerClosed = (ready & (POLLRDHUP | POLLHUP)) != 0;
            if (peerClosed && ::ioctl(record.fd, FIONREAD, &waiting) == 0 && waiting == 0) {
                // A graceful close, once every byte has been read.
                record.closeRecorded = true;
                usedInput = true;
                this->record(record, FD_CLOSE, 5, 0);
            } else if (record.inputArmed.exchange(false)) {
                usedInput = true;
                this->record(record, FD_READ, 0, 0);
            }
        }
        if (output && !record.closeRecorded && record.writeArmed.exchange(false)) {
            usedOutput = true;
            this->record(record, FD_WRITE, 1, 0);
        }
    }

    // A zero-timeout look at one socket, for callers that did not wait.
    void poll(SocketRecord &record)
    {
        pollfd probe{record.fd, static_cast<short>(POLLIN | POLLOUT | POLLRDHUP), 0};
        if (::poll(&probe, 1, 0) > 0)
            refresh(record, static_cast<uint32_t>(probe.revents), false);
    }

    void addToSets(SocketRecord &record)
    {
        if (record.leftPolling)
            return;
        for (auto &membership : record.event->sets) {
            epoll_event add{};
            add.events = record.interest;
            add.data.fd = record.fd;
            ::epoll_ctl(membership.set->m_poll, EPOLL_CTL_ADD, record.fd, &add);
        }
    }

    void detach(SocketRecord &record)
    {
        SocketEvent *event = record.event;
        if (event == nullptr)
            return;
        for (auto &membership : event->sets)
            ::epoll_ctl(membership.set->m_poll, EPOLL_CTL_DEL, record.fd, nullptr);
        event->sockets.erase(std::remove(event->sockets.begin(), event->sockets.end(), record.fd),
                             event->sockets.end());
        record.event = nullptr;
        record.selected = 0;
        record.recorded = 0;
        record.interest = 0;
        rewatch(record);
    }
};

namespace {

EventRegistry &registry()
{
    static EventRegistry instance;
    return instance;
}

}  // namespace

namespace posix {
namespace {

// Runs change on the descriptor's record, if it has one, under the lock.
template <typename Change>
void changeRecord(int fd, Change change)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (SocketRecord *record = r.find(fd))
        change(r, *record);
}

}  // namespace

void NoteSocketCreated(int fd, bool stream, bool accepted)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    delete r.find(fd);
    auto *record = new SocketRecord;
    record->fd = fd;
    record->stream = stream;
    record->established = accepted;
    // Datagram sockets and accepted streams can be written at once.
    record->writeArmed.store(accepted || !stream);
    r.store(fd, record);
}

void NoteSocketClosing(int fd)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketRecord *record = r.find(fd);
    if (record == nullptr)
        return;
    r.detach(*record);
    r.store(fd, nullptr);
    delete record;
}

void NoteConnectStarted(int fd)
{
    changeRecord(fd, [](EventRegistry &r, SocketRecord &record) {
        record.connectPending = true;
        r.growInterest(record);
    });
}

ConnectOutcome ConnectState(int fd)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketRecord *record = r.find(fd);
    if (record == nullptr)
        return ConnectOutcome::Unknown;
    if (record->connectFailed)
        return ConnectOutcome::Failed;
    return record->established ? ConnectOutcome::Established : ConnectOutcome::Unknown;
}

void NoteConnected(int fd)
{
    changeRecord(fd, [](EventRegistry &, SocketRecord &record) { record.established = true; });
}

void NoteConnectFailed(int fd)
{
    changeRecord(fd, [](EventRegistry &, SocketRecord &record) { record.connectFailed = true; });
}

void NoteListening(int fd)
{
    changeRecord(fd, [](EventRegistry &r, SocketRecord &record) {
        record.listening = true;
        r.growInterest(record);
    });
}

void NoteInputConsumed(int fd, bool drained)
{
    EventRegistry &r = registry();
    SocketRecord *record = r.find(fd);
    if (record != nullptr)
        record->drained.store(drained, std::memory_order_relaxed);
    // Already armed is the common case: no lock, no system call.
    if (record == nullptr || record->inputArmed.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> guard(r.lock);
    if ((record = r.find(fd)) != nullptr) {
        record->inputArmed.store(true);
        r.growInterest(*record);
    }
}

void NoteSendBlocked(int fd)
{
    changeRecord(fd, [](EventRegistry &r, SocketRecord &record) {
        record.writeArmed.store(true);
        r.growInterest(record);
    });
}

}  // namespace posix

WSAEVENT WSACreateEvent()
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto *event = new SocketEvent;
    r.events.insert(event);
    return event;
}

bool WSACloseEvent(WSAEVENT handle)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketEvent *event = r.liveEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    for (int fd : std::vector<int>(event->sockets))
        if (SocketRecord *record = r.find(fd))
            r.detach(*record);
    r.reset(event);
    for (auto &membership : event->sets)
        membership.set = nullptr;
    r.events.erase(event);
    delete event;
    return true;
}

bool WSAResetEvent(WSAEVENT handle)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketEvent *event = r.liveEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    r.reset(event);
    return true;
}

int WSAEventSelect(SOCKET s, WSAEVENT handle, int32_t networkEvents)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketRecord *record = r.find(static_cast<int>(s));
    SocketEvent *event = r.liveEvent(handle);
    if (record == nullptr) {
        SetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (event == nullptr && networkEvents != 0) {
        SetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    r.detach(*record);
    if (networkEvents == 0)
        return 0;
    int flags = ::fcntl(record->fd, F_GETFL);
    ::fcntl(record->fd, F_SETFL, flags | O_NONBLOCK);
    record->event = event;
    record->selected = networkEvents;
    event->sockets.push_back(record->fd);
    record->interest = EventRegistry::desiredInterest(*record);
    r.addToSets(*record);
    EventRegistry::rewatch(*record);
    // Conditions that already hold are recorded at once.
    r.poll(*record);
    return 0;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT handle, WSANETWORKEVENTS *networkEvents)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketRecord *record = r.find(static_cast<int>(s));
    if (record == nullptr || networkEvents == nullptr) {
        SetLastError(record == nullptr ? WSAENOTSOCK : WSAEFAULT);
        return SOCKET_ERROR;
    }
    // Events recorded by a wait are answered as they are; a caller that did
    // not wait gets a fresh look at the socket.
    if (record->event != nullptr && record->recorded == 0)
        r.poll(*record);
    networkEvents->lNetworkEvents = record->recorded;
    for (int i = 0; i < FD_MAX_EVENTS; ++i)
        networkEvents->iErrorCode[i] = (record->recorded & (1 << i)) ? record->errors[i] : 0;
    record->recorded = 0;
    if (SocketEvent *event = r.liveEvent(handle))
        r.reset(event);
    return 0;
}

uint32_t WaitForMultipleEvents(uint32_t count, WSAEVENT const *events, uint32_t timeoutMs)
{
    EventRegistry &r = registry();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<pollfd> probes;
    for (;;) {
        probes.clear();
        // The kernel is asked even when an event is signalled already, so
        // that the lowest index signalled now is the answer.
        bool alreadySignalled = false;
        {
            std::lock_guard<std::mutex> guard(r.lock);
            for (uint32_t i = 0; i < count; ++i) {
                SocketEvent *event = r.liveEvent(events[i]);
                if (event == nullptr) {
                    SetLastError(ERROR_INVALID_HANDLE);
                    return WAIT_FAILED;
                }
                alreadySignalled = alreadySignalled || event->signalled;
                for (int fd : event->sockets)
                    if (SocketRecord *record = r.find(fd))
                        probes.push_back(pollfd{fd, static_cast<short>(EventRegistry::desiredInterest(*record)), 0});
            }
        }
        int wait = -1;
        if (alreadySignalled) {
            wait = 0;
        } else if (timeoutMs != INFINITE) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        int ready = ::poll(probes.data(), probes.size(), wait);
        if (ready < 0 && errno != EINTR) {
            posix::SetLastSystemError(errno);
            return WAIT_FAILED;
        }
        {
            std::lock_guard<std::mutex> guard(r.lock);
            for (pollfd const &probe : probes)
                if (probe.revents != 0)
                    if (SocketRecord *record = r.find(probe.fd))
                        r.refresh(*record, static_cast<uint32_t>(probe.revents), false);
            for (uint32_t i = 0; i < count; ++i) {
                SocketEvent *event = r.liveEvent(events[i]);
                if (event != nullptr && event->signalled)
                    return WAIT_OBJECT_0 + i;
            }
        }
        if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline)
            return WAIT_TIMEOUT;
    }
}

bool MayHaveInput(SOCKET s)
{
    SocketRecord *record = registry().find(static_cast<int>(s));
    return record == nullptr || !record->drained.load(std::memory_order_relaxed) ||
           !record->watched.load(std::memory_order_relaxed);
}

EventWaitSet::EventWaitSet() : m_poll(::epoll_create1(EPOLL_CLOEXEC)) {}

EventWaitSet::~EventWaitSet()
{
    EventRegistry &r = registry();
    {
        std::lock_guard<std::mutex> guard(r.lock);
        for (SocketEvent *event : r.events) {
            event->sets.erase(std::remove_if(event->sets.begin(), event->sets.end(),
                                             [this](auto const &membership) { return membership.set == this; }),
                              event->sets.end());
            r.rewatchAll(event);
        }
    }
    if (m_poll >= 0)
        ::close(m_poll);
}

bool EventWaitSet::Add(WSAEVENT handle)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketEvent *event = r.liveEvent(handle);
    if (event == nullptr || m_poll < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    for (auto const &membership : event->sets)
        if (membership.set == this)
            return true;
    event->sets.push_back(SocketEvent::Membership{this, EventRegistry::npos});
    for (int fd : event->sockets) {
        SocketRecord *record = r.find(fd);
        if (record == nullptr || record->leftPolling)
            continue;
        epoll_event add{};
        add.events = record->interest;
        add.data.fd = fd;
        ::epoll_ctl(m_poll, EPOLL_CTL_ADD, fd, &add);
    }
    if (event->signalled) {
        event->sets.back().readyIndex = m_ready.size();
        m_ready.push_back(event);
    }
    r.rewatchAll(event);
    return true;
}

void EventWaitSet::Remove(WSAEVENT handle)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketEvent *event = r.liveEvent(handle);
    if (event == nullptr)
        return;
    for (size_t i = 0; i < event->sets.size(); ++i) {
        if (event->sets[i].set != this)
            continue;
        r.removeFromReady(event, event->sets[i]);
        for (int fd : event->sockets)
            ::epoll_ctl(m_poll, EPOLL_CTL_DEL, fd, nullptr);
        event->sets.erase(event->sets.begin() + static_cast<long>(i));
        r.rewatchAll(event);
        return;
    }
}

void EventWaitSet::Wait(uint32_t timeoutMs, std::vector<WSAEVENT> &signalled)
{
    signalled.clear();
    EventRegistry &r = registry();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    epoll_event ready[256];
    for (bool first = true;; first = false) {
        // Events already signalled are answered without waiting, but the
        // kernel is still asked (without waiting) so that they come with
        // everything else that is ready now.
        int wait = 0;
        {
            std::lock_guard<std::mutex> guard(r.lock);
            if (m_ready.empty() && timeoutMs != 0) {
                if (timeoutMs == INFINITE) {
                    wait = -1;
                } else {
                    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now());
                    wait = static_cast<int>(std::max<int64_t>(0, left.count()));
                }
            }
        }
        int count = ::epoll_wait(m_poll, ready, 256, wait);
        std::lock_guard<std::mutex> guard(r.lock);
        for (int i = 0; i < count; ++i)
            if (SocketRecord *record = r.find(ready[i].data.fd))
                r.refresh(*record, ready[i].events);
        if (!m_ready.empty()) {
            signalled.assign(m_ready.begin(), m_ready.end());
            return;
        }
        if (wait == 0 && !first)
            return;
        if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline)
            return;
    }
}

}  // namespace platform
