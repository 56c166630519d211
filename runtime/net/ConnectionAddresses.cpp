// Host names, endpoint texts and this machine's own addresses. Addresses are
// IPv4 in host byte order throughout.
#include <cstdlib>
#include <vector>

#include "../platform/LastError.h"
#include "../platform/Socket.h"
#include "Connection.h"

bool CConnection::ConvertAddress(const std::string &host, uint32_t *ip)
{
    uint32_t resolved = 0;
    if (platform::ResolveIPv4(host.c_str(), &resolved) != 0)
        return false;
    *ip = resolved;
    return true;
}

bool CConnection::ConvertAddressString(const std::string &text, uint32_t *ip, uint16_t *port)
{
    size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    std::string host = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    if (host.empty() || portText.empty())
        return false;
    // Like atoi, but without overflow: only the low 16 bits are kept anyway.
    uint32_t value = 0;
    size_t i = 0;
    while (i < portText.size() && (portText[i] == ' ' || (portText[i] >= '\t' && portText[i] <= '\r')))
        ++i;
    bool negative = i < portText.size() && portText[i] == '-';
    if (i < portText.size() && (portText[i] == '-' || portText[i] == '+'))
        ++i;
    for (; i < portText.size() && portText[i] >= '0' && portText[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(portText[i] - '0');
    *port = static_cast<uint16_t>(negative ? 0u - value : value);
    return ConvertAddress(host, ip);
}

std::string CConnection::GetIpAsString(uint32_t ip)
{
    return platform::InetNtoa(ip);
}

void CConnection::GetAllLocalIPAddresses(uint32_t *addresses, unsigned char max)
{
    for (unsigned char i = 0; i < max; ++i)
        addresses[i] = 0;
    std::string name;
    std::vector<uint32_t> found;
    if (!platform::GetHostName(name) || !platform::GetHostAddresses(name.c_str(), found))
        return;
    for (size_t i = 0; i < found.size() && i < max; ++i)
        addresses[i] = found[i];
}

uint32_t CConnection::GetLocalIPAddress(uint32_t network, uint32_t mask)
{
    uint32_t addresses[10];
    GetAllLocalIPAddresses(addresses, 10);
    for (uint32_t address : addresses)
        if (address != 0 && (address & mask) == network)
            return address;
    return 0;
}
