// The honeypot, the hourly submission limit and the receipt limits of a request.
#include "gateway/guards/submission_limits.h"

#include <utility>
#include <vector>

#include "common/text_compare.h"
#include "gateway/gateway_files.h"
#include "gateway/guard_state.h"
#include "gateway/guards/client_network.h"
#include "gateway/store/gateway_store.h"
#include "mail/address_list.h"

namespace {

// A visitor's value in a log line is cut to this many bytes.
constexpr size_t kMaxLoggedValue = 254;

std::string ForLog(std::string_view value) {
  return std::string(value.substr(0, kMaxLoggedValue));
}

}  // namespace

TSubmissionLimits::TSubmissionLimits(const TGuardSettings& guards, TGatewayStore& store,
                                     std::string client_address, std::int64_t now, TLog log)
    : guards_(guards),
      store_(store),
      client_address_(std::move(client_address)),
      now_(now),
      log_(std::move(log)) {}

std::string TSubmissionLimits::ClientKey() const {
  return ClientNetworkKey(client_address_, guards_.LimitIPv6Prefix);
}

// Counts one event for each key in the store. False when a key is at its limit (its index in
// `full`); true when counted, and when the state file cannot be used (logged): the limits then
// give way rather than take the form down. A database that cannot be reached throws
// TStoreUnavailable before the mail went (the submission is refused whole); after it (a
// receipt), the receipt is refused and the reason logged.
bool TSubmissionLimits::WithinLimits(const std::vector<TGuardKey>& keys, bool mail_sent,
                                     size_t* full) const {
  TGuardResult result;
  try {
    result = store_.RecordEvents(keys, now_, full);
  } catch (const TStoreUnavailable& error) {
    if (!mail_sent) throw;
    log_("Brevix BX Reports: Receipt not sent, database unavailable: " + error.Message());
    if (full != nullptr) *full = keys.size();
    return false;
  }
  switch (result) {
    case TGuardResult::kRecorded:
      return true;
    case TGuardResult::kUnavailable:
      log_(std::string("Brevix BX Reports: Unable to update ") + kGuardStateFile);
      return true;
    case TGuardResult::kFull:
      break;
  }
  return false;
}

bool TSubmissionLimits::HoneypotFilled(std::string_view honeypot_value) const {
  const std::string& field = guards_.HoneypotField;
  if (field.empty() || honeypot_value.empty()) return false;
  log_("Brevix BX Reports: Honeypot field " + ForLog(field) + " filled by " +
       ForLog(client_address_) + ", nothing sent");
  return true;
}

bool TSubmissionLimits::SubmissionAllowed() const {
  const long long limit = guards_.MaxPerHour;
  if (limit <= 0) return true;
  const std::string client = ClientKey();
  if (WithinLimits({{TGuardKind::kSubmit, client, limit}}, false, nullptr)) return true;
  log_("Brevix BX Reports: " + std::string(kTooManySubmissions) + " from " + ForLog(client) +
       " (Max_Per_Hour " + std::to_string(limit) + ")");
  return false;
}

bool TSubmissionLimits::ReceiptAllowed(const std::string& receipt_to, bool mail_sent) const {
  const std::string address = SingleMailAddress(receipt_to);
  if (address.empty()) {
    log_("Brevix BX Reports: Receipt not sent, not one address: " + ForLog(receipt_to));
    return false;
  }
  const long long limit = guards_.MaxReceiptsPerHour;
  if (limit <= 0) return true;
  const std::string client = ClientKey();
  size_t full = 0;
  if (WithinLimits(
          {{TGuardKind::kReceiptTo, address, limit}, {TGuardKind::kReceiptClient, client, limit}},
          mail_sent, &full)) {
    return true;
  }
  if (full >= 2) return false;  // the database failed; logged
  log_("Brevix BX Reports: Receipt not sent, Max_Receipts_Per_Hour " + std::to_string(limit) +
       " reached for " + (full == 0 ? LowerCase(address) : "client " + ForLog(client)));
  return false;
}
