#include "Rpc.h"

CRpc *CRpc::s_head = nullptr;

CRpc::~CRpc() = default;

void CRpc::AddToStaticList()
{
    m_next = s_head;
    s_head = this;
}

void CRpc::CallBody(Kest::Orv::orvContextObj *context, CPackedData &message) const
{
    Invoke(context, 0, message);
}

void CRpc::SetObject(unsigned short) {}
bool CRpc::isValidServer(int) const { return false; }
bool CRpc::isInternal() const { return false; }
int CRpc::GetProcessType() const { return 0; }
char const *CRpc::GetSignature() const { return ""; }
char const *CRpc::GetPrivilege() const { return ""; }
int CRpc::GetExpiration() const { return -1; }
