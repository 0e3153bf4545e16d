#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/folder_watch.h"
#include "platform/process.h"

// The files through which the request server and its forwarders hand requests over (see
// engine/adapters/request_server.h for the stages), and the waiting on them.
//
// Every function here works on full paths and never throws; failures are reported as false,
// -1 or an empty result.

namespace spool {

using Clock = TMonotonicClock;

// Stage suffixes, appended to a request base (which ends without "_").
inline constexpr const char* kRequestStage = "_req";    // complete request, not yet taken
inline constexpr const char* kTakenStage = "_cnf";      // taken by the server
inline constexpr const char* kAnswerStage = "_ind";     // answer being written
inline constexpr const char* kResponseStage = "_rsp";   // complete answer
inline constexpr const char* kWritingStage = "_new";    // request still being written
inline constexpr const char* kTakenBackStage = "_bak";  // taken back by its own forwarder
// Written by the server once the request's main mail was accepted (handover_journal.h).
inline constexpr const char* kMailAcceptedStage = "_snt";

// Timing of the hand-over.
inline constexpr std::chrono::seconds kMarkerRefresh{5};
inline constexpr std::chrono::seconds kAliveWindow{30};
// A forwarder that writes nothing to its request file for this long is ended by its watchdog.
inline constexpr std::chrono::seconds kWriteLimit{30};
inline constexpr std::chrono::milliseconds kTakeRetryPause{50};
inline constexpr std::chrono::milliseconds kAnswerRetryPause{20};
inline constexpr int kRenameTries = 10;
inline constexpr std::chrono::minutes kStaleAge{15};
// The count of waiting requests at which a new client is refused.
inline constexpr int kMaxClients = 10;
// The longest a forwarder waits for its answer; an answer older than that has nobody to collect
// it (its forwarder was ended by the web server, e.g. when the visitor went away).
inline constexpr std::chrono::seconds kAnswerWait{180};
// The pattern of the spool folder's files that the stale clean-up considers.
inline constexpr const char* kStalePattern = "*.*_*";

// <program dir>Temp/
std::string SpoolDir();
// Creates SpoolDir() (one level, owner-only) when missing; true when it may be used afterwards:
// a folder of this user's (one with wider rights is narrowed), never a link or another user's
// folder (platform/private_folder.h), which is logged and refused.
bool EnsureSpoolDir();

// Creates `path` exclusively, owner-only, for reading and writing. Returns the descriptor
// (close-on-exec), or -1 when it exists already or cannot be created.
int CreateSpoolFile(const std::string& path);

// Renames `from` to `to`, up to `tries` times with `pause` between the tries.
bool RenameWithRetries(const std::string& from, const std::string& to, int tries,
                       std::chrono::milliseconds pause);

// The full paths of the files whose full path starts with `prefix` (a folder plus the start
// of a file name), sorted.
std::vector<std::string> FilesStartingWith(const std::string& prefix);
// Deletes them; returns how many were deleted.
int DeleteFilesStartingWith(const std::string& prefix);
// True when `text` ends with `end` (a stage suffix, say).
bool EndsWith(const std::string& text, const std::string& end);
// Deletes the complete answers that nobody collected within kAnswerWait.
void DeleteOrphanedAnswers();

// Deletes the files of `dir` (with its trailing "/") whose names match `name_pattern`
// (fnmatch) and whose modification time lies before `before`, each with up to 11 tries 50 ms
// apart. A `before` in the future deletes every match.
void DeleteFilesOlderThan(const std::string& dir, const std::string& name_pattern,
                          TWallTime before);

// The client-address part of a request base: every "." becomes "-", and every byte outside
// [0-9A-Za-z:-] too, so that no address can lead a name out of the spool folder.
std::string ClientAddressPart(const std::string& address);
// A new request base: SpoolBase() + ClientAddressPart(address) + "_" + random hex below
// 0xFFFFFFF with at least 5 digits, drawn again while any file starts with it.
std::string NewRequestBase(const std::string& address);

// The process id written in the marker file; 0 when the marker is missing or holds none.
TProcessId ServerPidFromMarker();
// True while a process with this id exists; false for 0 (platform/process.h).
using ::ProcessExists;

// Waits for changes in the spool folder, plus any extra descriptors (a signal pipe, a pidfd):
// platform/folder_watch.h on SpoolDir(). Callers re-check their condition after each Wait.
class TSpoolWatch : public TFolderWatch {
 public:
  TSpoolWatch() : TFolderWatch(SpoolDir()) {}
};

}  // namespace spool
