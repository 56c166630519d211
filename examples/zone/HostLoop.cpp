#include "HostLoop.h"

#include <algorithm>

namespace zone {

void HostLoop::Add(CConnection *connection)
{
    m_connections.push_back(connection);
    m_registered.push_back(nullptr);
}

void HostLoop::Remove(CConnection *connection)
{
    for (size_t i = 0; i < m_connections.size(); ++i) {
        if (m_connections[i] != connection)
            continue;
        if (m_registered[i] != nullptr)
            m_waitSet.Remove(m_registered[i]);
        m_connections.erase(m_connections.begin() + static_cast<long>(i));
        m_registered.erase(m_registered.begin() + static_cast<long>(i));
        return;
    }
}

void HostLoop::AddListener(CListener *listener)
{
    m_listener = listener;
    m_waitSet.Add(listener->GetEventHandle());
}

//! [frame]
void HostLoop::Frame(uint32_t waitMs)
{
    bool processed = false;
    for (size_t i = 0; i < m_connections.size(); ++i) {
        // A connection's event changes when it reconnects; keep the set current.
        void *event = m_connections[i]->Preprocess(&processed);
        if (event != m_registered[i]) {
            if (m_registered[i] != nullptr)
                m_waitSet.Remove(m_registered[i]);
            if (event != nullptr)
                m_waitSet.Add(event);
            m_registered[i] = event;
        }
    }
    m_waitSet.Wait(processed ? 0 : waitMs, m_signalled);
    for (platform::WSAEVENT event : m_signalled) {
        if (m_listener != nullptr && event == m_listener->GetEventHandle()) {
            m_listener->HandleEvent();
            continue;
        }
        for (size_t i = 0; i < m_connections.size(); ++i)
            if (m_registered[i] == event && m_connections[i]->GetEventHandle() == event) {
                m_connections[i]->HandleEvent();
                break;
            }
    }
    // HandleEvent and Pulse may add or remove connections through the
    // handlers: walk a copy.
    std::vector<CConnection *> all = m_connections;
    for (CConnection *connection : all)
        if (std::find(m_connections.begin(), m_connections.end(), connection) != m_connections.end())
            connection->Pulse();
}
//! [frame]

}  // namespace zone
