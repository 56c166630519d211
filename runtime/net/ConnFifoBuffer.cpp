#include "ConnFifoBuffer.h"

#include <algorithm>
#include <cstdint>

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "Connection.h"

namespace {

char const *handlerName(CConnection const *conn)
{
    return conn != nullptr ? conn->GetHandlerName() : "Unhandled";
}

uint32_t remoteAddress(CConnection const *conn)
{
    return conn != nullptr ? conn->GetRemoteAddress() : 0;
}

int remotePort(CConnection const *conn)
{
    return conn != nullptr ? conn->GetRemotePort() : 0;
}

}  // namespace

CConnFifoBuffer::CConnFifoBuffer() : m_warnBundleCount(0), m_conn(nullptr) {}

// The base destructor recycles through the base operations: no warning lines.
CConnFifoBuffer::~CConnFifoBuffer() = default;

BufferBundle *CConnFifoBuffer::appendBundle(BufferBundle *after)
{
    if (m_bundleSize <= 0)
        m_bundleSize = CConnection::s_outboundBundleSize;
    BufferBundle *bundle = CFifoBuffer::appendBundle(after);
    if (bundle != nullptr)
        calcSizeWarning();
    return bundle;
}

void CConnFifoBuffer::recycleFirstBundle()
{
    if (m_first == nullptr)
        return;
    CFifoBuffer::recycleFirstBundle();
    calcSizeWarning();
}

void CConnFifoBuffer::calcSizeWarning()
{
    int32_t const bundles = m_bundleCount;
    // 64-bit: neither the capacity nor twice the warning count may wrap.
    int64_t const capacity = static_cast<int64_t>(m_bundleSize) * bundles;
    int const shown = static_cast<int>(std::min<int64_t>(capacity, INT32_MAX));

    if (m_warnBundleCount <= 0) {
        // An empty queue has no capacity to warn about, whatever the threshold.
        if (bundles <= 0 || capacity < CConnection::s_outboundSizeWarning)
            return;
    } else if (bundles == 0) {
        m_warnBundleCount = 0;
        SHAREDLIB_LOG(LogSev_Warning, Log_Network, "Outbound queue capacity emptied on %s to %s:%d", handlerName(m_conn),
                      CConnection::GetIpAsString(remoteAddress(m_conn)).c_str(), remotePort(m_conn));
        return;
    } else if (bundles < 2 * static_cast<int64_t>(m_warnBundleCount)) {
        return;
    }
    m_warnBundleCount = bundles;
    SHAREDLIB_LOG(LogSev_Warning, Log_Network, "Outbound queue capacity increased to %d bytes on %s to %s:%d", shown,
                  handlerName(m_conn), CConnection::GetIpAsString(remoteAddress(m_conn)).c_str(), remotePort(m_conn));
}
