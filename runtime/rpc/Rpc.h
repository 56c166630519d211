#pragma once

/// \file
/// CRpc: the base class of every remote procedure.

#include <cstdint>

#include "../Export.h"

class CConnection;
class CPackedData;
namespace Kest::Orv {
class orvContextObj;  // the host's call context; the library only passes it on
}

/// One remote procedure: a class of the host program with one long-lived
/// instance, linked into the static list before the RPC manager is created.
/// The virtual operations keep the order every program's RPC classes share.
class SHAREDLIB_API CRpc {
public:
    ///@{

    /// RPC objects copy their fields; the copy is not linked into the list.
    CRpc(CRpc const &other) = default;
    CRpc &operator=(CRpc const &other) = default;
    ///@}

    ///@{

    /// Links this RPC at the head of the static list.
    void AddToStaticList();
    /// Sets the connection the current call came from.
    void SetConnection(CConnection *connection) { m_connection = connection; }
    /// The connection the current call came from.
    CConnection *GetConnection() const { return m_connection; }
    /// The next RPC of the static list.
    CRpc *GetNext() const { return m_next; }
    /// The first RPC of the static list.
    static CRpc *GetStaticListHead() { return s_head; }
    ///@}

protected:
    CRpc() = default;
    virtual ~CRpc();

public:
    ///@{

    /// Kept for the shape shared with existing RPC classes; never called here.
    virtual void Reserved() = 0;
    /// The RPC's fixed identifier, the same in every program.
    virtual uint32_t GetID() const = 0;
    /// The RPC's name, for logs and statistics.
    virtual char const *GetName() const = 0;
    ///@}
    ///@{

    /// The call as the manager makes it: the body with the value 0.
    virtual void CallBody(Kest::Orv::orvContextObj *context, CPackedData &message) const;
    /// The body: reads the arguments from message in the order the caller wrote them.
    virtual void Invoke(Kest::Orv::orvContextObj *context, int64_t value, CPackedData &message) const = 0;
    /// Sets the object the RPC acts on; does nothing by default.
    virtual void SetObject(unsigned short object);
    /// Called when the manager registers the RPC in its table.
    virtual void OnRegister() = 0;
    /// Whether a server of processType may run the RPC; false by default.
    virtual bool isValidServer(int processType) const;
    ///@}
    ///@{

    /// Internal RPCs are left out of the table digest.
    virtual bool isInternal() const;
    /// The kind of process the RPC is meant for; 0 by default.
    virtual int GetProcessType() const;
    /// A text describing the arguments; empty by default.
    virtual char const *GetSignature() const;
    /// The privilege a caller needs; empty by default.
    virtual char const *GetPrivilege() const;
    /// How long a queued call stays valid; -1 (no limit) by default.
    virtual int GetExpiration() const;
    ///@}

protected:
    /// The head of the static list of RPC objects.
    static CRpc *s_head;

private:
    CConnection *m_connection = nullptr;
    CRpc *m_next = nullptr;
};
