#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The proof-of-work challenges already solved, so that each solution is accepted once
// (proof_of_work.h). A challenge is kept until it expires: after that its solution fails as
// "expired" anyway.
//
// The store is bounded: it keeps at most kMaxUsedChallenges challenges. When it is full, the one
// that expires first makes room. That lets an old solution be accepted once more only after
// kMaxUsedChallenges newer ones were solved and accepted in its lifetime, so a second use always
// costs far more work than a solution of its own: single use holds for everyone who does not
// pay the work many times over anyway.

inline constexpr size_t kMaxUsedChallenges = 4096;

enum class TUseResult {
  kFirstUse,     // not seen before; now recorded
  kReused,       // recorded before and not expired: refuse
  kUnavailable,  // the store could not be read or written; nothing recorded
};

// Where the used challenges are kept. The gateway's file store is below; a store in another
// place (a database) implements the same one call.
class TUsedChallengeStore {
 public:
  virtual ~TUsedChallengeStore() = default;
  // Records challenge `id` (printable ASCII, no blanks, at most 64 bytes) as used until
  // `expires`, as of `now`, unless it is recorded already; forgets what expired before `now`.
  // Atomic across processes. Never throws.
  virtual TUseResult MarkUsed(std::string_view id, std::int64_t expires, std::int64_t now) = 0;
};

// The used challenges in memory: parsing, pruning and formatting of the file's text, one line
// per challenge ("<id> <expires>", CR LF). Lines that do not read this way are dropped.
class TUsedChallengeTable {
 public:
  // Reads `text` as of `now`, dropping what is malformed or expired. Returns the number of
  // lines read, those dropped included.
  size_t Parse(std::string_view text, std::int64_t now);
  // True when `id` is held.
  bool Contains(std::string_view id) const;
  // Adds `id`; when the table is full, the entry that expires first goes.
  void Add(std::string_view id, std::int64_t expires);
  std::string Text() const;
  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string id;
    std::int64_t expires;
  };
  std::vector<Entry> entries_;
  // The ids of entries_: a full table is thousands of lines, each looked up as it is read.
  std::unordered_set<std::string> ids_;
};

// The store as a file in the program folder (BX-PoW.txt beside BX-Guards.txt), under the same
// lock (locked_state_file.h). A new challenge is appended as one line: replacing the file at
// every submission would cost more than the rest of the check. Once the file holds
// kMaxUsedChallenges lines, expired ones included, it is replaced whole with the table, which
// drops what expired and, when still full, makes room as above; so the file never holds more
// than kMaxUsedChallenges lines.
class TUsedChallengeFile : public TUsedChallengeStore {
 public:
  explicit TUsedChallengeFile(std::string file_name) : file_name_(std::move(file_name)) {}
  TUseResult MarkUsed(std::string_view id, std::int64_t expires, std::int64_t now) override;

 private:
  std::string file_name_;
};
