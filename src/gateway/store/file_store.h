#pragma once

#include <functional>
#include <string>

#include "gateway/store/gateway_store.h"

// The shared state in the gateway's own files, the embedded default of one machine:
//  - the counters in a file of key=count lines ("BX-RefNumbers.txt", CR LF, keys compared without
//    regard to case), each draw a read-modify-write under an exclusive lock;
//  - the hourly counts in "BX-Guards.txt" (guard_state.h), the used challenges in "BX-PoW.txt"
//    (used_challenges.h);
//  - each results record appended to its results file in one write under an exclusive lock, so
//    concurrent records never interleave.
// File trouble is never an error: a counter file that cannot be read counts as empty, one that
// cannot be written keeps its old content (the number drawn is then not stored and cannot be
// given back), a guard file that cannot be used reports kUnavailable. A lock not had within
// kFileLockWait counts as such trouble; OnLockTimeout hears of it with the file's name.
class TFileStore : public TGatewayStore {
 public:
  TFileStore(std::string numbers_file, std::string guards_file, std::string challenges_file);
  TFileStore(const TFileStore&) = delete;
  TFileStore& operator=(const TFileStore&) = delete;

  void Open() override {}
  void DrawNumber(std::string_view key, TNumberDraw& draw) override;
  void ReadNumbers(TStringList& table) override;
  void GiveBackNumber(const std::string& key, const std::string& drawn,
                      const std::string& previous) override;
  TGuardResult RecordEvents(const std::vector<TGuardKey>& keys, std::int64_t now,
                            size_t* full_key) override;
  std::unique_ptr<TResultsAppender> OpenResults(const std::string& name,
                                                const std::string& path) override;
  TUseResult MarkUsed(std::string_view id, std::int64_t expires, std::int64_t now) override {
    return TUsedChallengeFile(challenges_file_).MarkUsed(id, expires, now);
  }

  std::function<void(const std::string& file_name)> OnLockTimeout;

 private:
  std::string numbers_file_;
  std::string guards_file_;
  std::string challenges_file_;
};
