#pragma once

#include <cstdint>

// What the socket calls tell the event calls about a socket, so that a wait
// over many event objects knows which sockets can have news: a socket's
// record says which conditions the system may still record for it.
namespace platform::win32 {

// accepted: a stream that is connected from the start.
void NoteSocketCreated(uintptr_t s, bool stream, bool accepted);
void NoteSocketClosing(uintptr_t s);
void NoteConnectStarted(uintptr_t s);
void NoteConnected(uintptr_t s);
void NoteListening(uintptr_t s);
// recv / recvfrom re-enable FD_READ, accept FD_ACCEPT. drained: the call
// found nothing more waiting (a short read, or would-block).
void NoteInputConsumed(uintptr_t s, bool drained);
// A send that would block re-enables FD_WRITE.
void NoteSendBlocked(uintptr_t s);

}  // namespace platform::win32
