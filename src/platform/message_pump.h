#pragma once

#include <functional>

// The per-thread message pump that stands in for WinSock's WSAAsyncSelect and the hidden
// window of each socket-owning thread.
//
// A socket registers the events it wants with AsyncSelect on the thread that owns it. Code that
// waits on the network calls ProcessMessages, which waits in poll() on the calling thread's
// registered sockets for at most `timeout_ms` and dispatches the events that happened to their
// handlers, on the calling thread. Nothing is ever dispatched on another thread.
//
// Events are level-triggered: FD_READ is reported on every ProcessMessages call while unread
// bytes are waiting, so a handler must read them (or drop FD_READ from its wanted events).
// FD_CONNECT is reported once when a non-blocking connect finishes (with its error, 0 on
// success); FD_CLOSE once when the peer closed the connection or the socket failed.

// WinSock's event bits.
constexpr unsigned FD_READ = 0x01;
constexpr unsigned FD_WRITE = 0x02;
constexpr unsigned FD_CONNECT = 0x10;
constexpr unsigned FD_CLOSE = 0x20;

// Called with the socket, one event bit and an errno value (0 when the event carries no error).
using SocketEventHandler = std::function<void(int fd, unsigned event, int error)>;

// Registers (or replaces) the wanted events of `fd` on the calling thread; events == 0 removes
// the socket. Removing is safe from inside a handler.
void AsyncSelect(int fd, unsigned events, SocketEventHandler handler);

// Waits up to `timeout_ms` (0: only look) for events on the calling thread's sockets and
// dispatches them; returns how many events were dispatched. Returns at once when the thread has
// no registered socket: there is nothing to wait for, and a blind sleep would only add delay.
int ProcessMessages(int timeout_ms = 0);

// Number of sockets registered on the calling thread.
int RegisteredSocketCount();
