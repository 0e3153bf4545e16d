#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/exception.h"
#include "common/string_list.h"
#include "gateway/guard_state.h"
#include "gateway/guards/used_challenges.h"

// The state that every submission of a site shares: the reference-number counters, the results
// records, the guards' hourly counts and the proof-of-work challenges already used. One machine
// keeps them in the gateway's own files (file_store.h, the default); several gateway hosts behind
// one load balancer keep them in one PostgreSQL database (pg_store.h, brevix.ini's Database), so
// numbers stay unique, records land in one place and a limit holds over every host. The entry log
// and the error log are not shared state: they stay files on each host.
//
// A store serves one request on one thread and is dropped with it.
//
// Failures: the file store never fails a request (file trouble is logged and the request goes
// on, as it always did). A database store that cannot be reached, or does not answer within its
// time-out, throws TStoreUnavailable carrying the client library's reason; the request is then
// answered kStoreUnavailable before anything is sent (TForm1::AnswerStoreUnavailable).

// The answer of a submission whose shared state cannot be stored.
inline constexpr const char* kStoreUnavailable = "Submissions cannot be stored right now";

class TStoreUnavailable : public Exception {
 public:
  using Exception::Exception;
};

// What a first draw of a request found and left: the whole counter table with the drawn key
// advanced, the key's count before (empty when the key was new), and whether the advance was
// stored (only a stored number can be given back).
struct TNumberDraw {
  TStringList table;
  std::string previous;
  bool stored = false;
};

// One results record: the text exactly as the results file receives it, and what a database
// keeps beside it.
struct TResultsRecord {
  std::string text;
  std::string heading;     // written before `text` only into results that hold nothing yet
  std::string ref_number;  // empty when the request drew none
  std::string client;      // REMOTE_ADDR
  std::vector<std::pair<std::string, std::string>> fields;  // the form's fields, in order
};

enum class TAppendResult { kWritten, kLockTimedOut, kFailed };

// A results file opened for one record. Opened before the record is expanded (a reference number
// drawn while expanding belongs to the same step as the record), appended once, then dropped.
// Dropping it unappended stores nothing.
class TResultsAppender {
 public:
  virtual ~TResultsAppender() = default;
  virtual TAppendResult Append(const TResultsRecord& record) = 0;
};

// The used proof-of-work challenges come in through TUsedChallengeStore::MarkUsed: in a file
// beside the hourly counts, or in the database, so that a solution is taken once over every host.
// A database store throws TStoreUnavailable rather than answer kUnavailable.
class TGatewayStore : public TUsedChallengeStore {
 public:
  // Checks that the store can be used before a submission is counted, numbered or sent. The
  // file store always can; the database store connects (or reuses the thread's connection) and
  // creates its tables on first use. Throws TStoreUnavailable.
  virtual void Open() = 0;

  // ---- Reference numbers (ref_numbers.h) ----
  // Advances the counter of `key` by one (from 1 when new; from 1 again past 2147483647) and
  // reads every counter, in one step that no other request of any host interleaves.
  virtual void DrawNumber(std::string_view key, TNumberDraw& draw) = 0;
  // Reads every counter as it stands.
  virtual void ReadNumbers(TStringList& table) = 0;
  // Sets `key` back to `previous` (removes it when empty) only when it still holds `drawn`.
  virtual void GiveBackNumber(const std::string& key, const std::string& drawn,
                              const std::string& previous) = 0;

  // ---- Hourly counts (guard_state.h) ----
  // Checks and records one event per key in one step, as RecordGuardEvents does.
  virtual TGuardResult RecordEvents(const std::vector<TGuardKey>& keys, std::int64_t now,
                                    size_t* full_key) = 0;

  // ---- Results records ----
  // `name` is the Results_File value (the form's key to its records), `path` the file it names.
  // Null when the file store cannot open the file.
  virtual std::unique_ptr<TResultsAppender> OpenResults(const std::string& name,
                                                        const std::string& path) = 0;
};
