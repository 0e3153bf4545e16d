#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The guards' hourly counters, shared by every process of the gateway through one small file in
// the program folder ("BX-Guards.txt").
//
// File format: one line per counter, ended by CR LF:
//     <kind> <key> <time> <time> ...
// <kind> is one of "submit", "receipt-to", "receipt-client"; <key> is the client network
// (client_network.h) or the receipt address, cut to a bound, lower-cased and with every byte
// outside "!".."~" and every "%" written as "%XX", so no value can add a blank, a line or a field;
// <time> is a moment in whole seconds since 1970, oldest first. The key "%overflow" (which no
// value encodes to) is the overflow counter of its kind, below. Lines that do not read this way
// are dropped, so a damaged file costs its counts, never the request.
//
// Only the last hour counts. Times older than an hour, or more than an hour ahead of the clock (a
// clock set back), are dropped whenever the file is read. A line keeps at most its limit's number
// of times (that many within the hour already means "full"), a line never more than
// kMaxTimesPerKey.
//
// The table cannot be flushed. Each kind keeps at most kMaxKeysPerKind keys of its own, and a
// count is never dropped before its hour is over. When a kind is full, every key it does not
// hold yet shares that kind's one overflow counter, with the same limit, until lines of the kind
// expire and make room. So whoever commands many addresses (a rented /48 holds 65,536 /64
// networks) gets at most (kMaxKeysPerKind + 1) times the limit in an hour, and a visitor who was
// refused stays refused however many others post. The price, chosen over forgetting counts: while
// a flood keeps a kind full, visitors new to the table share the overflow's few events (a form
// under such a flood is better answered "Too many submissions" than turned into a mail cannon);
// visitors already counted keep their own limit. Keeping each kind apart means a flood of
// receipts to strangers never fills the submissions' table. (Refusing unknown keys outright was
// the other choice; sharing one counter lets some newcomers through and is bounded the same.)
// A file larger than kMaxFileBytes is read only up to that size: full tables of the longest
// keys reach it only with limits above about a hundred. IPv6 counts written before networks
// were counted stay under their exact address until they expire.

enum class TGuardKind { kSubmit, kReceiptTo, kReceiptClient };

// The kind's name as the state file and the database keep it ("submit", "receipt-to",
// "receipt-client").
const char* GuardKindName(TGuardKind kind);

// One counter an event counts against, with the number of events allowed in the last hour.
struct TGuardKey {
  TGuardKind kind;
  std::string key;  // as received; encoded by the table
  long long limit;  // > 0
};

// The counters in memory: the parsing, pruning and formatting of the file's text.
class TGuardTable {
 public:
  static constexpr long long kWindowSeconds = 3600;
  static constexpr size_t kMaxKeysPerKind = 1000;
  static constexpr long long kMaxTimesPerKey = 1000;
  // Keys are cut to this many bytes before encoding (an address has at most 254).
  static constexpr size_t kMaxKeyBytes = 254;
  // The most of a file that is read; the rest is dropped.
  static constexpr size_t kMaxFileBytes = 4 << 20;

  // Reads `text` as of the moment `now`, dropping what is malformed or outside the hour.
  void Parse(std::string_view text, std::int64_t now);
  // The events of `key` within the hour before `now`.
  long long Count(const TGuardKey& key) const;
  // Records one event of `key` at `now`, trimming its line to its limit.
  void Add(const TGuardKey& key, std::int64_t now);
  // The file's text.
  std::string Text() const;
  size_t Size() const { return lines_.size(); }

  // How `raw` appears as a key in the file (cut, lower-cased, escaped).
  static std::string EncodeKey(std::string_view raw);
  // The key of a kind's overflow counter.
  static constexpr const char* kOverflowKey = "%overflow";

 private:
  struct Line {
    std::string kind;
    std::string key;
    std::vector<std::int64_t> times;
  };
  Line* Find(const std::string& kind, const std::string& key);
  const Line* Find(const std::string& kind, const std::string& key) const;
  // The line `key` counts on: its own, or the kind's overflow line when the kind is full.
  // Creates the line when `create`; otherwise nullptr when there is none yet.
  Line* Target(const std::string& kind, const std::string& key, bool create);
  Line& Append(const std::string& kind, const std::string& key);

  std::vector<Line> lines_;
  // "kind key" -> index in lines_: a full table is thousands of lines, looked up per line read.
  std::unordered_map<std::string, size_t> index_;
  // Lines of each kind other than its overflow line.
  std::unordered_map<std::string, size_t> own_keys_;
};

enum class TGuardResult {
  kRecorded,     // every key had room; one event was recorded for each
  kFull,         // a key had used its limit; nothing was recorded
  kUnavailable,  // the file could not be locked, read or replaced; nothing was recorded
};

// Checks and records in one step under an exclusive lock on the state file: either every key of
// `keys` has fewer than its limit's events in the last hour and each gets one more, or nothing
// changes. A limit above kMaxTimesPerKey counts as kMaxTimesPerKey. Concurrent processes therefore
// never pass a limit together. On kFull, `*full_key` (when given) is the index of the first key
// that had no room. The file is replaced whole (written beside and renamed), so a reader never
// meets half a file; the lock is taken again when the name turned out to hold a newer file than the
// one locked. Never throws.
TGuardResult RecordGuardEvents(const std::string& file_name, const std::vector<TGuardKey>& keys,
                               std::int64_t now, size_t* full_key = nullptr);
