#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "gateway/guards/proof_of_work.h"

struct TGuardSettings;
class TUsedChallengeStore;

// The error text of a submission without a good proof-of-work solution.
inline constexpr const char* kPowFailed = "The anti-spam check failed, please try again";

// The proof-of-work guard of one submission, built from what it checks: the site owner's guard
// settings (PoW_Key, PoW_Field, PoW_Max_Number, PoW_Expires), the store of used challenges, the
// client's address (for the log), the time now (seconds since 1970) and the error log.
//
// The guard is off while PoW_Key is empty. The references must outlive the guard.
class TPowGuard {
 public:
  using TLog = std::function<void(const std::string& line)>;

  TPowGuard(const TGuardSettings& guards, TUsedChallengeStore& used, std::string client,
            std::int64_t now, TLog log);

  // True while PoW_Key is set.
  bool On() const;

  // Checks `solution` (the PoW_Field value). kNone when the guard is off, or the solution is
  // good and used for the first time (then recorded as used; a store that cannot record it lets
  // it pass with one log line, as the hourly limits do: a full disk must not take the form
  // down). Otherwise the reason, with one log line "Anti-spam check failed (<reason>) from
  // <client>". Without the crypto library no solution can be checked: kMalformed, logged.
  // A database store's TStoreUnavailable passes through.
  TPowFailure Check(std::string_view solution) const;

 private:
  TPowFailure Refused(TPowFailure failure) const;

  const TGuardSettings& guards_;
  TUsedChallengeStore& used_;
  std::string client_;
  std::int64_t now_;
  TLog log_;
};

// A new challenge signed with PoW_Key, of `protocol` (1 or 2), as of `now`, as JSON; empty when
// none could be made (then logged with `log`). PoW_Key must be set.
std::string PowChallenge(const TGuardSettings& guards, int protocol, std::int64_t now,
                         const TPowGuard::TLog& log);

// True for the field that carries the solution while the guard is on: machinery, not the
// visitor's words, so the automatic message and results layouts leave it out.
bool IsPowField(const TGuardSettings& guards, const std::string& name);
