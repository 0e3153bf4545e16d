// The proof-of-work guard of a request: the challenge endpoint and the check of a solution.
#include <chrono>

#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "gateway/gateway_files.h"
#include "gateway/guards/proof_of_work.h"
#include "gateway/guards/used_challenges.h"
#include "gateway/json_answer.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"
#include "mail/crypto_library.h"
#include "platform/clock.h"

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

bool TForm1::IsPowChallengeRequest() const {
  const std::string method = UpperCase(HttpServerVar("REQUEST_METHOD"));
  return (method == "GET" || method == "HEAD") && HttpFormVar("pow", "") == "challenge";
}

void TForm1::AnswerPowChallenge() {
  const TGatewayRequest& request = Request();
  THttpEngine* engine = CurrentHttpEngine();
  // A challenge is good for one submission: no cache may hand it to a second visitor.
  if (engine != nullptr) engine->AddHeader("Cache-Control", "no-store");
  if (request.Guards.PoWKey.empty()) {
    WriteJsonAnswer(404, "{\"status\":\"error\",\"error\":\"No anti-spam check is set up\"}");
    return;
  }
  std::string error;
  const TCrypto* crypto = LoadCrypto(error);
  const std::string challenge =
      crypto == nullptr
          ? std::string()
          : PowChallengeJson(*crypto, ParamsOf(request.Guards),
                             HttpFormVar("protocol", "") == "1" ? 1 : 2, WallClockSeconds());
  if (challenge.empty()) {
    LogError("Brevix BX Reports: Unable to make an anti-spam challenge" +
             (error.empty() ? std::string() : ": " + error));
    WriteJsonAnswer(500, "{\"status\":\"error\",\"error\":\"Unexpected error\"}");
    return;
  }
  WriteJsonAnswer(200, challenge);
}

bool TForm1::IsPowField(const std::string& name) const {
  const TGuardSettings& guards = Request().Guards;
  return !guards.PoWKey.empty() && SameText(name, guards.PoWField);
}

bool TForm1::PowSolved() {
  TGatewayRequest& request = Request();
  const TGuardSettings& guards = request.Guards;
  if (guards.PoWKey.empty()) return true;
  std::string error;
  const TCrypto* crypto = LoadCrypto(error);
  const std::int64_t now = WallClockSeconds();
  TPowCheck check;
  if (crypto == nullptr) {
    // Without the library no solution can be checked; refusing keeps the guard's promise.
    LogError("Brevix BX Reports: Unable to check the anti-spam solution: " + error);
  } else {
    check = CheckPowSolution(*crypto, guards.PoWKey, HttpFormVar(guards.PoWField, ""), now);
  }
  if (check.failure == TPowFailure::kNone) {
    switch (RequestStore().MarkUsed(check.id, check.expires, now)) {
      case TUseResult::kFirstUse:
        return true;
      case TUseResult::kUnavailable:
        // As the hourly limits do: a full disk must not take the form down.
        LogError(std::string("Brevix BX Reports: Unable to update ") + kUsedChallengesFile);
        return true;
      case TUseResult::kReused:
        check.failure = TPowFailure::kReused;
        break;
    }
  }
  request.Refused = true;
  request.RefusalCode = "pow";
  request.LastMailError = kPowFailed;
  LogError("Brevix BX Reports: Anti-spam check failed (" +
           std::string(PowFailureName(check.failure)) + ") from " +
           HttpServerVar("remote addr").substr(0, kMaxLoggedValue));
  THttpEngine* engine = CurrentHttpEngine();
  if (!request.Json && engine != nullptr) engine->AddHeader(StatusLine(403), "");
  return false;
}
