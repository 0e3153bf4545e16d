#pragma once

#include <string>

// Who is alive behind the spool: the one request server, and the forwarder behind each request
// file. Both are told by file locks (flock), which the kernel drops when their holder ends
// however it ends (kill -9 included), so a dead process is never taken for a live one, whatever
// process ids are reused and whatever files it left.
//
//   The server lock: an exclusive lock on the program file itself, held by the request server
//   for its whole life. There is one program file per gateway, never deleted by the spool's
//   clean-ups, so at most one server per program ever runs.
//   A forwarder's lock: an exclusive lock on its request file, held from the file's creation
//   (under "_new") until the forwarder ends. The file keeps the lock through its renames.
//   The server's mark on a request it took: a read lock of its own kind (an open file
//   description lock, which neither conflicts with the forwarder's nor goes when another
//   descriptor of the file is closed), taken before the request is renamed to "_cnf" and held
//   until its answer is complete. A forwarder whose server ended can so tell a request that the
//   ended server took (nobody will answer it) from one that a new server took (it will).
//
// Nothing here throws.

namespace spool {

// A descriptor holding the server lock, or -1 when another process holds it (or the program
// file cannot be opened). Tries for at most one second, since processes that only look whether
// the lock is held hold it for a moment. The descriptor is close-on-exec; closing it (or the
// process's end) releases the lock.
int AcquireServerLock();
// True while some process (this one included) holds the server lock.
bool ServerLockHeld();

// Creates the request file `path` exclusively, owner-only, readable and writable, and takes its
// forwarder's lock. Returns the descriptor (close-on-exec), or -1.
int CreateLockedRequestFile(const std::string& path);
// True when the process that created the request file `path` has ended (nobody holds its lock).
// A file that cannot be opened counts as not abandoned (there is nothing to clear).
bool RequestWriterGone(const std::string& path);

// Takes the waiting request <base>_req for this server: marks it, then renames it to
// <base>_cnf (a few tries). Returns the descriptor that holds the mark, to be closed once the
// answer is complete; -1 when the request was not taken (its forwarder took it back).
int TakeRequest(const std::string& base);
// True while a live process (a server) holds its mark on the request file open as `fd`.
bool TakenByLiveServer(int fd);

// Deletes what nobody will ever finish: requests still being written ("_new") whose forwarder
// ended or that have not changed for longer than the forwarder's write limit, and requests that
// a forwarder took back ("_bak") and did not finish. With `at_server_start` (a server that has
// taken nothing yet) also every other request whose forwarder ended: those waiting ("_req")
// are left over from a crash, and those an earlier server took ("_cnf", with their "_ind" and
// "_snt") may have been sent already. Returns how many requests were cleared.
int DeleteAbandonedRequests(bool at_server_start);

// The requests that occupy the server: written ("_req"), taken ("_cnf"), and still being written
// ("_new") by a live forwarder. Complete answers, abandoned files and the marker do not count.
int WaitingRequestCount();

}  // namespace spool
