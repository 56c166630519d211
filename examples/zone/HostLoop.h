#pragma once

// The frame of a host program: Preprocess every connection, wait on the
// event handles, HandleEvent on the signalled ones, Pulse them all.

#include <cstdint>
#include <vector>

#include <SharedLib/SharedLib.h>

namespace zone {

class HostLoop {
public:
    void Add(CConnection *connection);
    void Remove(CConnection *connection);
    void AddListener(CListener *listener);
    // One frame; waits at most waitMs for network events.
    void Frame(uint32_t waitMs);

private:
    std::vector<CConnection *> m_connections;
    std::vector<void *> m_registered;  // events currently in the wait set, by connection
    CListener *m_listener = nullptr;
    platform::EventWaitSet m_waitSet;
    std::vector<platform::WSAEVENT> m_signalled;
};

}  // namespace zone
