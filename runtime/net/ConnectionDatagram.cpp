// The datagram path of a connection.
#include "Connection.h"

void CConnection::HandleDgramReadEvent(int)
{
    // Datagram reading comes with the datagram listener.
}
