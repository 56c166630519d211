#include "SocketHelpers.h"

#include "../platform/Clock.h"
#include "../platform/Socket.h"

bool SetSocketBlockingFlag(unsigned int socket, bool blocking)
{
    uint32_t nonBlocking = blocking ? 0 : 1;
    return platform::ioctlsocket(socket, platform::FIONBIO_, &nonBlocking) == 0;
}

void MsgSleep(uint32_t milliseconds)
{
    platform::Sleep(milliseconds);
}
