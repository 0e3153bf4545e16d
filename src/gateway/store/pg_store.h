#pragma once

#include <string>

#include "gateway/store/gateway_store.h"

class TPgConnection;

// The shared state in one PostgreSQL database (brevix.ini's Database), for several gateway hosts
// behind one load balancer:
//  - brevix_ref_numbers (name bytea, count integer): one row per counter name, the name
//    lower-cased (names compare without regard to case, as in the file); a draw is one
//    INSERT ... ON CONFLICT DO UPDATE, which the row lock makes unique over every host;
//  - brevix_results: one row per record, in the same transaction as the number drawn while
//    the record was expanded, so a number and its record are stored together or not at all. The
//    record's bytes (bytea) are exactly what the results file would have received; its fields are
//    kept as jsonb beside them (bytes that are not UTF-8 read as U+FFFD there);
//  - brevix_pow_used (id, expires): one row per used proof-of-work challenge, taken by one
//    INSERT ... ON CONFLICT that only an expired row lets through again; expired rows are
//    deleted now and then;
//  - brevix_guard_events (kind, key, at): one row per counted event, keys as in BX-Guards.txt;
//    a check-and-record holds transaction-scoped advisory locks on its keys, so no two hosts pass
//    a limit together. The hour is the database's clock, which every host shares; events older
//    than an hour are deleted as their keys are counted, and now and then all at once.
// A number whose transaction did not commit is never given back: another host may hold it now.
class TPgStore : public TGatewayStore {
 public:
  // `conninfo`: the Database setting. Nothing connects before the first call.
  explicit TPgStore(std::string conninfo);
  ~TPgStore() override;
  TPgStore(const TPgStore&) = delete;
  TPgStore& operator=(const TPgStore&) = delete;

  void Open() override;
  void DrawNumber(std::string_view key, TNumberDraw& draw) override;
  void ReadNumbers(TStringList& table) override;
  void GiveBackNumber(const std::string& key, const std::string& drawn,
                      const std::string& previous) override;
  TGuardResult RecordEvents(const std::vector<TGuardKey>& keys, std::int64_t now,
                            size_t* full_key) override;
  std::unique_ptr<TResultsAppender> OpenResults(const std::string& name,
                                                const std::string& path) override;
  TUseResult MarkUsed(std::string_view id, std::int64_t expires, std::int64_t now) override;

  // For the appender: the step (a transaction) that a record and its number share.
  void BeginStep();
  void CommitStep();
  void AbandonStep() noexcept;
  TPgConnection& Connection();

 private:
  std::string conninfo_;
  TPgConnection* connection_ = nullptr;  // the thread's, taken at the first statement
  bool in_step_ = false;
  // A draw made in the open step: stored only when the step commits.
  bool draw_in_step_ = false;
  bool draw_lost_ = false;
};
