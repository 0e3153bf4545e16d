#pragma once

#include <cstddef>

#include "platform/clock.h"
#include "platform/file_descriptor.h"
#include "platform/network_address.h"

// Stream sockets: opening and connecting them, sending and receiving without blocking, and
// waiting until one is ready. The functions that take an `int fd` work on a socket someone else
// owns (a TFileDescriptor, the message pump's registration, a library's connection) and never
// close it. Failures are errno values (see <cerrno>), returned or stored in `error`; a signal
// never shows as a failure: the call is made again.

enum class TSocketWait { kReadable, kWritable };
enum class TWaitResult { kReady, kTimedOut, kFailed };

// A new non-blocking, close-on-exec stream socket of `family`; a closed descriptor with `error`
// set when it cannot be made.
TFileDescriptor OpenStreamSocket(int family, int& error);

// Urgent data inline (SO_OOBINLINE) and, on TCP, no Nagle delay (TCP_NODELAY): every write of the
// caller is a complete unit. 0, or the errno value of the option that failed.
int SetInlineUrgentNoDelay(int fd, bool tcp);

// Makes `fd` non-blocking.
void SetNonBlocking(int fd);

// Starts connecting `fd` to `address`: 0 when the connect finished or is under way (a
// non-blocking socket), else the errno value of the failure.
int StartConnect(int fd, const TNetworkAddress& address);

// The pending error of `fd` (SO_ERROR), which ends a non-blocking connect: 0 when it succeeded.
int PendingSocketError(int fd);

// One send of at most `size` bytes without waiting and without SIGPIPE: the count sent, or -1
// with `error` (EAGAIN when the send buffer is full).
long SendSome(int fd, const char* data, size_t size, int& error);

// One receive of at most `size` bytes without waiting: the count received, 0 when the peer has
// closed, or -1 with `error` (EAGAIN when nothing is waiting).
long ReceiveSome(int fd, char* buffer, size_t size, int& error);

// True when nothing is waiting to be read on `fd` and the peer has not closed: a receive would
// block.
bool NothingToReceive(int fd);

// Shuts down the sending side of `fd`: 0, or the errno value.
int ShutdownSending(int fd);

// The address of `fd`'s peer; false when it is not known (not connected).
bool PeerAddress(int fd, TNetworkAddress& peer);

// True when `fd` is a socket that listens for connections.
bool IsListeningSocket(int fd);

// Waits at most `timeout_ms` (0: only looks; -1: no limit) until `fd` is ready for `what` (or
// has failed or hung up, which the next call on it reports). A signal restarts the wait with the
// same time. kFailed sets `error` when given.
TWaitResult WaitForSocket(int fd, TSocketWait what, int timeout_ms, int* error = nullptr);

// As WaitForSocket, until `deadline`; a signal resumes the wait with the time left.
TWaitResult WaitForSocketUntil(int fd, TSocketWait what, TMonotonicTime deadline,
                               int* error = nullptr);

// Waits at most `timeout_ms` (-1: no limit) until `fd` or `other` (left out when negative) is
// readable. kReady when `fd` is; kTimedOut when the time ran out or only `other` is ready;
// kFailed with `error` when the wait failed, a signal included (EINTR), so that the caller can
// look at what the signal asked for.
TWaitResult WaitForEitherReadable(int fd, int other, int timeout_ms, int& error);

// A write to a socket or pipe whose reader has gone fails (EPIPE) instead of ending the process
// with SIGPIPE, for the rest of the process's life.
void IgnoreBrokenPipeSignal();

// The most descriptors this process may have open, as the process found it first.
int OpenDescriptorLimit();
