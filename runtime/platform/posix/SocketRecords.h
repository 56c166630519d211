#pragma once

// The per-socket records behind event objects, shared by the socket calls
// (which re-arm events) and the event calls (which record and report them).
namespace platform::posix {

// accepted: a stream that is connected from the start.
void NoteSocketCreated(int fd, bool stream, bool accepted);
void NoteSocketClosing(int fd);
void NoteConnectStarted(int fd);
void NoteListening(int fd);
// What is known of a stream's connect, for the connect probe: the kernel
// tells a refused connect only once.
enum class ConnectOutcome { Unknown, Established, Failed };
ConnectOutcome ConnectState(int fd);
void NoteConnected(int fd);
void NoteConnectFailed(int fd);
// recv / recvfrom re-arm FD_READ, accept re-arms FD_ACCEPT. drained: the
// call found nothing more waiting (a short read, or would-block).
void NoteInputConsumed(int fd, bool drained);
// A send that would block re-arms FD_WRITE.
void NoteSendBlocked(int fd);

}  // namespace platform::posix
