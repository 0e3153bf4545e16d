#include "gateway/guards/pow_guard.h"

#include <utility>

#include "common/guard_settings.h"
#include "common/text_compare.h"
#include "gateway/gateway_files.h"
#include "gateway/guards/used_challenges.h"
#include "mail/crypto_library.h"

namespace {

// A visitor's value in a log line is cut to this many bytes.
constexpr size_t kMaxLoggedValue = 254;

TPowParams ParamsOf(const TGuardSettings& guards) {
  TPowParams params;
  params.key = guards.PoWKey;
  params.max_number = static_cast<std::uint32_t>(guards.PoWMaxNumber);
  params.expires = guards.PoWExpires;
  return params;
}

}  // namespace

TPowGuard::TPowGuard(const TGuardSettings& guards, TUsedChallengeStore& used, std::string client,
                     std::int64_t now, TLog log)
    : guards_(guards), used_(used), client_(std::move(client)), now_(now), log_(std::move(log)) {}

bool TPowGuard::On() const {
  return !guards_.PoWKey.empty();
}

bool IsPowField(const TGuardSettings& guards, const std::string& name) {
  return !guards.PoWKey.empty() && SameText(name, guards.PoWField);
}

std::string PowChallenge(const TGuardSettings& guards, int protocol, std::int64_t now,
                         const TPowGuard::TLog& log) {
  std::string error;
  const TCrypto* crypto = LoadCrypto(error);
  const std::string challenge = crypto == nullptr
                                    ? std::string()
                                    : PowChallengeJson(*crypto, ParamsOf(guards), protocol, now);
  if (challenge.empty()) {
    log("Brevix BX Reports: Unable to make an anti-spam challenge" +
        (error.empty() ? std::string() : ": " + error));
  }
  return challenge;
}

TPowFailure TPowGuard::Check(std::string_view solution) const {
  if (!On()) return TPowFailure::kNone;
  std::string error;
  const TCrypto* crypto = LoadCrypto(error);
  if (crypto == nullptr) {
    // Without the library no solution can be checked; refusing keeps the guard's promise.
    log_("Brevix BX Reports: Unable to check the anti-spam solution: " + error);
    return Refused(TPowFailure::kMalformed);
  }
  const TPowCheck check = CheckPowSolution(*crypto, guards_.PoWKey, solution, now_);
  if (check.failure != TPowFailure::kNone) return Refused(check.failure);
  switch (used_.MarkUsed(check.id, check.expires, now_)) {
    case TUseResult::kFirstUse:
      return TPowFailure::kNone;
    case TUseResult::kUnavailable:
      log_(std::string("Brevix BX Reports: Unable to update ") + kUsedChallengesFile);
      return TPowFailure::kNone;
    case TUseResult::kReused:
      break;
  }
  return Refused(TPowFailure::kReused);
}

TPowFailure TPowGuard::Refused(TPowFailure failure) const {
  log_("Brevix BX Reports: Anti-spam check failed (" + std::string(PowFailureName(failure)) +
       ") from " + client_.substr(0, kMaxLoggedValue));
  return failure;
}
