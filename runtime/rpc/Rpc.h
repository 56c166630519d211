#pragma once

#include <cstdint>

#include "../Export.h"

class CConnection;
class CPackedData;
namespace Kest::Orv {
class orvContextObj;  // the host's call context; the library only passes it on
}

// One remote procedure: a class of the host program with one long-lived
// instance, linked into the static list before the RPC manager is created.
// The virtual operations keep the order every program's RPC classes share.
class SHAREDLIB_API CRpc {
public:
    CRpc(CRpc const &other) = default;
    CRpc &operator=(CRpc const &other) = default;

    // Links this RPC at the head of the static list.
    void AddToStaticList();
    void SetConnection(CConnection *connection) { m_connection = connection; }
    CConnection *GetConnection() const { return m_connection; }
    CRpc *GetNext() const { return m_next; }
    static CRpc *GetStaticListHead() { return s_head; }

protected:
    CRpc() = default;
    virtual ~CRpc();

public:
    // Kept for the shape shared with existing RPC classes; never called here.
    virtual void Reserved() = 0;
    virtual uint32_t GetID() const = 0;
    virtual char const *GetName() const = 0;
    // The call as the manager makes it: the body with the value 0.
    virtual void CallBody(Kest::Orv::orvContextObj *context, CPackedData &message) const;
    virtual void Invoke(Kest::Orv::orvContextObj *context, int64_t value, CPackedData &message) const = 0;
    virtual void SetObject(unsigned short object);
    virtual void OnRegister() = 0;
    virtual bool isValidServer(int processType) const;
    // Internal RPCs are left out of the table digest.
    virtual bool isInternal() const;
    virtual int GetProcessType() const;
    virtual char const *GetSignature() const;
    virtual char const *GetPrivilege() const;
    virtual int GetExpiration() const;

protected:
    static CRpc *s_head;

private:
    CConnection *m_connection = nullptr;
    CRpc *m_next = nullptr;
};
