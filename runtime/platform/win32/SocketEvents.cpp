#include "WindowsApi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "../SocketEvents.h"
#include "SocketRecords.h"

// Winsock's own event objects (WSAEventSelect, WSAEnumNetworkEvents): the
// system records the network events and signals the events. What this file
// adds is waiting on more event objects than the system's wait functions
// take (64): the events are probed 64 at a time without waiting, and the
// wait itself is one readiness call (WSAPoll) over the sockets selected on
// them. For that, each socket keeps a small record of what it is selected
// for and of the conditions that, though the socket shows them, the system
// will not record again until a call re-enables them (a read for FD_READ, a
// send that would block for FD_WRITE): such a condition is left out of the
// readiness call until then, so a wait never spins on it.
namespace platform {

namespace {

constexpr uint8_t kQuietInput = 1;   // readable, but no FD_READ / FD_ACCEPT will come
constexpr uint8_t kQuietOutput = 2;  // writable, but no FD_WRITE will come
constexpr uint8_t kQuietAll = 4;     // hung up or failed, and nothing selected reports it

constexpr size_t kChunk = 1024;
constexpr size_t kChunks = 4096;
constexpr DWORD kGroup = MAXIMUM_WAIT_OBJECTS;
// The longest a wait over many events sleeps in one readiness call, so that
// an event signalled for a reason no socket shows is seen soon all the same.
constexpr DWORD kLongestSlice = 100;

struct SocketRecord {
    uintptr_t socket = 0;
    bool connectPending = false;
    bool closeReported = false;
    std::atomic<uint8_t> quiet{0};
    // A read found the socket empty, and no input has been reported since.
    std::atomic<bool> drained{false};
    HANDLE event = nullptr;
    int32_t selected = 0;
};

// The sockets of one event object in a readiness call.
struct Probe {
    WSAPOLLFD poll;
    HANDLE event;
};

}  // namespace

// Records by socket, the sockets of each event object and the live wait
// sets (whose m_ready lists their member events), behind one lock.
struct EventRegistry {
    std::mutex lock;
    std::array<std::atomic<std::atomic<SocketRecord *> *>, kChunks> chunks{};
    std::unordered_map<uintptr_t, SocketRecord *> overflow;
    std::unordered_map<HANDLE, std::vector<uintptr_t>> eventSockets;
    std::vector<EventWaitSet *> sets;
    std::unordered_map<WSAEVENT, int> watchers;  // how many wait sets hold each event

    // Socket handles are multiples of four.
    static size_t slotOf(uintptr_t s) { return static_cast<size_t>(s / 4); }

    // Without the lock for the common handles; null when there is no record
    // or the handle is beyond the table (then look again under the lock).
    SocketRecord *findFast(uintptr_t s)
    {
        size_t slot = slotOf(s);
        if (slot >= kChunk * kChunks)
            return nullptr;
        std::atomic<SocketRecord *> *chunk = chunks[slot / kChunk].load(std::memory_order_acquire);
        return chunk != nullptr ? chunk[slot % kChunk].load(std::memory_order_acquire) : nullptr;
    }

    SocketRecord *find(uintptr_t s)
    {
        if (slotOf(s) < kChunk * kChunks)
            return findFast(s);
        auto found = overflow.find(s);
        return found != overflow.end() ? found->second : nullptr;
    }

    void store(uintptr_t s, SocketRecord *record)
    {
        size_t slot = slotOf(s);
        if (slot >= kChunk * kChunks) {
            if (record != nullptr)
                overflow[s] = record;
            else
                overflow.erase(s);
            return;
        }
        std::atomic<SocketRecord *> *chunk = chunks[slot / kChunk].load(std::memory_order_acquire);
        if (chunk == nullptr) {
            chunk = new std::atomic<SocketRecord *>[kChunk]();
            chunks[slot / kChunk].store(chunk, std::memory_order_release);
        }
        chunk[slot % kChunk].store(record, std::memory_order_release);
    }

    void detach(SocketRecord &record)
    {
        if (record.event != nullptr) {
            auto found = eventSockets.find(record.event);
            if (found != eventSockets.end()) {
                auto &sockets = found->second;
                sockets.erase(std::remove(sockets.begin(), sockets.end(), record.socket), sockets.end());
                if (sockets.empty())
                    eventSockets.erase(found);
            }
        }
        record.event = nullptr;
        record.selected = 0;
    }

    // The readiness call's entries for these events. Lock held.
    void probesFor(std::vector<WSAEVENT> const &events, std::vector<Probe> &probes)
    {
        probes.clear();
        for (WSAEVENT handle : events) {
            auto found = eventSockets.find(static_cast<HANDLE>(handle));
            if (found == eventSockets.end())
                continue;
            for (uintptr_t s : found->second) {
                SocketRecord *record = find(s);
                if (record == nullptr || record->closeReported)
                    continue;
                uint8_t quiet = record->quiet.load(std::memory_order_relaxed);
                if (quiet & kQuietAll)
                    continue;
                short interest = 0;
                if ((record->selected & (FD_READ | FD_ACCEPT | FD_OOB)) && !(quiet & kQuietInput))
                    interest |= POLLRDNORM;
                if ((record->selected & (FD_WRITE | FD_CONNECT)) && (record->connectPending || !(quiet & kQuietOutput)))
                    interest |= POLLWRNORM;
                probes.push_back(Probe{WSAPOLLFD{static_cast<::SOCKET>(s), interest, 0}, found->first});
            }
        }
    }

    // A closed event leaves every wait set. Lock held.
    void leaveSets(WSAEVENT event)
    {
        for (EventWaitSet *set : sets)
            set->m_ready.erase(std::remove(set->m_ready.begin(), set->m_ready.end(), event), set->m_ready.end());
        watchers.erase(event);
    }

    void unwatch(WSAEVENT event)
    {
        auto found = watchers.find(event);
        if (found != watchers.end() && --found->second <= 0)
            watchers.erase(found);
    }

    // A socket showed conditions its event object will not report: they
    // stay out of later readiness calls until a call re-enables them.
    void quieten(Probe const &probe)
    {
        std::lock_guard<std::mutex> guard(lock);
        SocketRecord *record = find(static_cast<uintptr_t>(probe.poll.fd));
        if (record == nullptr)
            return;
        uint8_t bits = 0;
        if (probe.poll.revents & (POLLHUP | POLLERR | POLLNVAL))
            bits |= kQuietAll;
        if (probe.poll.revents & POLLRDNORM)
            bits |= kQuietInput;
        if (probe.poll.revents & POLLWRNORM)
            bits |= kQuietOutput;
        record->quiet.fetch_or(bits, std::memory_order_relaxed);
    }
};

namespace {

EventRegistry &registry()
{
    static EventRegistry instance;
    return instance;
}

// Clears quiet bits without the lock when the record is in the table.
void wake(uintptr_t s, uint8_t bits)
{
    EventRegistry &r = registry();
    SocketRecord *record = r.findFast(s);
    if (record == nullptr) {
        std::lock_guard<std::mutex> guard(r.lock);
        record = r.find(s);
        if (record == nullptr)
            return;
    }
    if (record->quiet.load(std::memory_order_relaxed) & bits)
        record->quiet.fetch_and(static_cast<uint8_t>(~bits), std::memory_order_relaxed);
}

template <typename Change>
void changeRecord(uintptr_t s, Change change)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (SocketRecord *record = r.find(s))
        change(*record);
}

bool signalled(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// The indices of the signalled events from start on, found 64 at a time
// without waiting; only the first when firstOnly.
void collectSignalled(WSAEVENT const *events, size_t count, size_t start, bool firstOnly,
                      std::vector<size_t> &found)
{
    while (start < count) {
        DWORD group = static_cast<DWORD>(std::min<size_t>(kGroup, count - start));
        DWORD result = ::WaitForMultipleObjects(group, events + start, FALSE, 0);
        if (result >= group) {  // none of this group (or a stale handle in it)
            start += group;
            continue;
        }
        found.push_back(start + result);
        if (firstOnly)
            return;
        start += result + 1;
    }
}

// Blocks until one of many events may have been signalled, or for at most
// the slice: one readiness call over their sockets.
void blockOn(std::vector<WSAEVENT> const &events, DWORD slice)
{
    EventRegistry &r = registry();
    std::vector<Probe> probes;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        r.probesFor(events, probes);
    }
    slice = std::min(slice, kLongestSlice);
    if (probes.empty()) {
        ::WaitForMultipleObjects(static_cast<DWORD>(std::min<size_t>(kGroup, events.size())), events.data(), FALSE,
                                 slice);
        return;
    }
    std::vector<WSAPOLLFD> polls;
    polls.reserve(probes.size());
    for (Probe const &probe : probes)
        polls.push_back(probe.poll);
    int ready = ::WSAPoll(polls.data(), static_cast<ULONG>(polls.size()), static_cast<INT>(slice));
    if (ready <= 0) {
        if (ready < 0)
            ::Sleep(1);  // a socket closed under the wait; the caller looks again
        return;
    }
    std::vector<Probe> unhelpful;
    for (size_t i = 0; i < probes.size(); ++i) {
        if (polls[i].revents == 0)
            continue;
        if (signalled(probes[i].event))
            return;
        probes[i].poll.revents = polls[i].revents;
        unhelpful.push_back(probes[i]);
    }
    // Nothing that showed ready was signalled. The system may signal an
    // event a moment after its socket shows ready: give it that moment.
    std::vector<HANDLE> pending;
    for (Probe const &probe : unhelpful)
        if (pending.size() < kGroup && std::find(pending.begin(), pending.end(), probe.event) == pending.end())
            pending.push_back(probe.event);
    if (!pending.empty() &&
        ::WaitForMultipleObjects(static_cast<DWORD>(pending.size()), pending.data(), FALSE, 1) < pending.size())
        return;
    for (Probe const &probe : unhelpful)
        if (!signalled(probe.event))
            r.quieten(probe);
}

// The wait over many events: probe, block, probe again.
void waitMany(std::vector<WSAEVENT> const &events, uint32_t timeoutMs, bool firstOnly, std::vector<size_t> &found)
{
    DWORD const started = ::GetTickCount();
    for (;;) {
        collectSignalled(events.data(), events.size(), 0, firstOnly, found);
        if (!found.empty() || timeoutMs == 0)
            return;
        DWORD slice = kLongestSlice;
        if (timeoutMs != INFINITE) {
            DWORD elapsed = ::GetTickCount() - started;
            if (elapsed >= timeoutMs)
                return;
            slice = std::min<DWORD>(slice, timeoutMs - elapsed);
        }
        blockOn(events, slice);
    }
}

}  // namespace

namespace win32 {

void NoteSocketCreated(uintptr_t s, bool, bool)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (SocketRecord *old = r.find(s)) {
        r.detach(*old);
        delete old;
    }
    auto *record = new SocketRecord;
    record->socket = s;
    r.store(s, record);
}

void NoteSocketClosing(uintptr_t s)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    SocketRecord *record = r.find(s);
    if (record == nullptr)
        return;
    r.detach(*record);
    r.store(s, nullptr);
    delete record;
}

void NoteConnectStarted(uintptr_t s)
{
    changeRecord(s, [](SocketRecord &record) {
        record.connectPending = true;
        record.closeReported = false;
        record.quiet.store(0, std::memory_order_relaxed);
    });
}

void NoteConnected(uintptr_t s)
{
    changeRecord(s, [](SocketRecord &record) { record.connectPending = false; });
}

void NoteListening(uintptr_t s) { wake(s, kQuietInput | kQuietAll); }

void NoteInputConsumed(uintptr_t s, bool drained)
{
    wake(s, kQuietInput | kQuietAll);
    EventRegistry &r = registry();
    SocketRecord *record = r.findFast(s);
    if (record != nullptr && record->drained.load(std::memory_order_relaxed) != drained)
        record->drained.store(drained, std::memory_order_relaxed);
}

void NoteSendBlocked(uintptr_t s) { wake(s, kQuietOutput | kQuietAll); }

}  // namespace win32

WSAEVENT WSACreateEvent()
{
    HANDLE event = ::WSACreateEvent();
    if (event == nullptr)
        win32::SetLastFromWinsock();
    return event;
}

bool WSACloseEvent(WSAEVENT handle)
{
    EventRegistry &r = registry();
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto found = r.eventSockets.find(static_cast<HANDLE>(handle));
        if (found != r.eventSockets.end()) {
            for (uintptr_t s : std::vector<uintptr_t>(found->second))
                if (SocketRecord *record = r.find(s))
                    r.detach(*record);
        }
        r.leaveSets(handle);
    }
    if (::WSACloseEvent(static_cast<HANDLE>(handle)))
        return true;
    win32::SetLastFromWinsock();
    return false;
}

bool WSAResetEvent(WSAEVENT handle)
{
    if (::WSAResetEvent(static_cast<HANDLE>(handle)))
        return true;
    win32::SetLastFromWinsock();
    return false;
}

int WSAEventSelect(SOCKET s, WSAEVENT handle, int32_t networkEvents)
{
    ::SOCKET target = s == INVALID_SOCKET ? win32::kInvalidNativeSocket : static_cast<::SOCKET>(s);
    if (::WSAEventSelect(target, static_cast<HANDLE>(handle), networkEvents) != 0) {
        win32::SetLastFromWinsock();
        return SOCKET_ERROR;
    }
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (SocketRecord *record = r.find(s)) {
        r.detach(*record);
        record->quiet.store(0, std::memory_order_relaxed);
        if (networkEvents != 0 && handle != nullptr) {
            record->event = static_cast<HANDLE>(handle);
            record->selected = networkEvents;
            r.eventSockets[record->event].push_back(s);
        }
    }
    return 0;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT handle, WSANETWORKEVENTS *networkEvents)
{
    if (networkEvents == nullptr) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    ::WSANETWORKEVENTS recorded{};
    ::SOCKET target = s == INVALID_SOCKET ? win32::kInvalidNativeSocket : static_cast<::SOCKET>(s);
    if (::WSAEnumNetworkEvents(target, static_cast<HANDLE>(handle), &recorded) != 0) {
        win32::SetLastFromWinsock();
        return SOCKET_ERROR;
    }
    networkEvents->lNetworkEvents = static_cast<int32_t>(recorded.lNetworkEvents);
    for (int i = 0; i < FD_MAX_EVENTS; ++i)
        networkEvents->iErrorCode[i] = recorded.iErrorCode[i];
    int32_t events = networkEvents->lNetworkEvents;
    if (events & (FD_READ | FD_CLOSE)) {
        EventRegistry &r = registry();
        if (SocketRecord *record = r.findFast(s))
            record->drained.store(false, std::memory_order_relaxed);
    }
    if (events & (FD_CONNECT | FD_CLOSE)) {
        changeRecord(s, [&](SocketRecord &record) {
            if (events & FD_CONNECT) {
                record.connectPending = false;
                // A failed connect has nothing more to report.
                record.closeReported = record.closeReported || networkEvents->iErrorCode[4] != 0;
            }
            if (events & FD_CLOSE)
                record.closeReported = true;
        });
    }
    return 0;
}

bool MayHaveInput(SOCKET s)
{
    EventRegistry &r = registry();
    SocketRecord *record = r.findFast(s);
    if (record == nullptr || !record->drained.load(std::memory_order_relaxed))
        return true;
    // Only a host that waits on the socket's event object learns of new input.
    std::lock_guard<std::mutex> guard(r.lock);
    return record->event == nullptr || r.watchers.count(record->event) == 0;
}

uint32_t WaitForMultipleEvents(uint32_t count, WSAEVENT const *events, uint32_t timeoutMs)
{
    if (count <= kGroup) {
        DWORD result = ::WSAWaitForMultipleEvents(count, events, FALSE, timeoutMs, FALSE);
        if (result < count)
            return WAIT_OBJECT_0 + result;
        if (result == WSA_WAIT_TIMEOUT)
            return WAIT_TIMEOUT;
        win32::SetLastFromWinsock();
        return WAIT_FAILED;
    }
    std::vector<WSAEVENT> all(events, events + count);
    std::vector<size_t> found;
    waitMany(all, timeoutMs, true, found);
    return found.empty() ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<uint32_t>(found.front());
}

// Here m_ready lists the set's member events; m_poll is unused.
EventWaitSet::EventWaitSet() : m_poll(0)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.sets.push_back(this);
}

EventWaitSet::~EventWaitSet()
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.sets.erase(std::remove(r.sets.begin(), r.sets.end(), this), r.sets.end());
    for (WSAEVENT event : m_ready)
        r.unwatch(event);
}

bool EventWaitSet::Add(WSAEVENT event)
{
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (std::find(m_ready.begin(), m_ready.end(), event) == m_ready.end()) {
        m_ready.push_back(event);
        ++r.watchers[event];
    }
    return true;
}

void EventWaitSet::Remove(WSAEVENT event)
{
    EventRegistry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto member = std::find(m_ready.begin(), m_ready.end(), event);
    if (member == m_ready.end())
        return;
    m_ready.erase(member);
    r.unwatch(event);
}

void EventWaitSet::Wait(uint32_t timeoutMs, std::vector<WSAEVENT> &signalledEvents)
{
    signalledEvents.clear();
    std::vector<WSAEVENT> members;
    {
        std::lock_guard<std::mutex> guard(registry().lock);
        members = m_ready;
    }
    std::vector<size_t> found;
    if (members.empty()) {
        if (timeoutMs != 0)
            ::Sleep(timeoutMs);
        return;
    }
    if (members.size() <= kGroup) {
        // One system wait; then whatever else is signalled now.
        DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(members.size()), members.data(), FALSE, timeoutMs);
        if (result >= members.size())
            return;
        found.push_back(result);
        collectSignalled(members.data(), members.size(), result + 1, false, found);
    } else {
        waitMany(members, timeoutMs, false, found);
    }
    for (size_t index : found)
        signalledEvents.push_back(members[index]);
    // What a wait reports counts as reported input.
    if (!found.empty()) {
        EventRegistry &r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        for (WSAEVENT event : signalledEvents) {
            auto sockets = r.eventSockets.find(static_cast<HANDLE>(event));
            if (sockets == r.eventSockets.end())
                continue;
            for (uintptr_t s : sockets->second)
                if (SocketRecord *record = r.find(s))
                    record->drained.store(false, std::memory_order_relaxed);
        }
    }
}

}  // namespace platform
