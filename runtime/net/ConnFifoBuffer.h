#pragma once

/// \file
/// The outbound queue of a CConnection: a CFifoBuffer whose bundle size comes
/// from the connection tuning value CConnection::s_outboundBundleSize and which
/// logs, at warning on channel Network, as its capacity (bundles times bundle
/// size, not bytes held) grows past CConnection::s_outboundSizeWarning and
/// doubles from there, and once when it drains after such a warning.

#include <cstdint>

#include "../Export.h"
#include "FifoBuffer.h"

class CConnection;

/// The outbound queue of a connection: a CFifoBuffer of pooled bundles.
class SHAREDLIB_API CConnFifoBuffer : public CFifoBuffer {
public:
    CConnFifoBuffer();
    /// Returns the bundles to the pool without logging: the owning connection
    /// and its handler may already be gone.
    ~CConnFifoBuffer() override;

    ///@{

    /// The connection whose names the warning lines carry. Without one the
    /// lines name "Unhandled" to 0.0.0.0:0.
    void setConn(CConnection *conn) { m_conn = conn; }
    /// The connection the warning lines name, or null.
    CConnection *getConn() const { return m_conn; }
    ///@}

    /// Compares the capacity with the warning thresholds and logs; run after
    /// every bundle appended or recycled.
    void calcSizeWarning();

protected:
    /// Takes CConnection::s_outboundBundleSize as the bundle size while this
    /// queue has none (0 or less), then links the bundle and checks the warnings.
    BufferBundle *appendBundle(BufferBundle *after) override;
    void recycleFirstBundle() override;

    ///@{

    /// The bundle count at the last "increased" warning; 0 while none is active.
    int32_t m_warnBundleCount;
    /// The connection the warning lines name.
    CConnection *m_conn;
    ///@}
};
