// The honeypot, the hourly submission limit and the receipt limits of a request.
#include "gateway/submission_limits.h"

#include <chrono>
#include <vector>

#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "gateway/client_network.h"
#include "gateway/gateway_files.h"
#include "gateway/guard_state.h"
#include "gateway/send_mail_form.h"
#include "gateway/store/gateway_store.h"
#include "mail/address_list.h"

namespace {

// A visitor's value in a log line is cut to this many bytes.
constexpr size_t kMaxLoggedValue = 254;

std::string ForLog(std::string_view value) {
  return std::string(value.substr(0, kMaxLoggedValue));
}

std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string ClientAddress() {
  return HttpServerVar("remote addr");
}

// What the hourly limits count the client as: its IPv4 address or its IPv6 network.
std::string ClientKey(const TGatewayRequest& request) {
  return ClientNetworkKey(ClientAddress(), request.Guards.LimitIPv6Prefix);
}

// Counts one event for each key in the request's store. False when a key is at its limit (its
// index in `full`); true when counted, and when the state file cannot be used (logged): the
// limits then give way rather than take the form down. A database that cannot be reached throws
// TStoreUnavailable before the mail went (the submission is refused whole); after it (a
// receipt), the receipt is refused and the reason logged.
bool WithinLimits(TForm1& form, const std::vector<TGuardKey>& keys, size_t* full = nullptr) {
  TGuardResult result;
  try {
    result = form.RequestStore().RecordEvents(keys, NowSeconds(), full);
  } catch (const TStoreUnavailable& error) {
    if (!form.Request().MailSent) throw;
    form.LogError("Brevix BX Reports: Receipt not sent, database unavailable: " + error.Message());
    if (full != nullptr) *full = keys.size();
    return false;
  }
  switch (result) {
    case TGuardResult::kRecorded:
      return true;
    case TGuardResult::kUnavailable:
      form.LogError(std::string("Brevix BX Reports: Unable to update ") + kGuardStateFile);
      return true;
    case TGuardResult::kFull:
      break;
  }
  return false;
}

}  // namespace

bool TForm1::HoneypotFilled() {
  TGatewayRequest& request = Request();
  const std::string& field = request.Guards.HoneypotField;
  if (field.empty() || HttpFormVar(field, "").empty()) return false;
  // Nothing may be numbered, not even by the answer page's macros.
  request.Refused = true;
  LogError("Brevix BX Reports: Honeypot field " + ForLog(field) + " filled by " +
           ForLog(ClientAddress()) + ", nothing sent");
  return true;
}

bool TForm1::SubmissionAllowed() {
  TGatewayRequest& request = Request();
  const long long limit = request.Guards.MaxPerHour;
  if (limit <= 0) return true;
  const std::string client = ClientKey(request);
  if (WithinLimits(*this, {{TGuardKind::kSubmit, client, limit}})) return true;
  request.Refused = true;
  request.LastMailError = kTooManySubmissions;
  LogError("Brevix BX Reports: " + std::string(kTooManySubmissions) + " from " + ForLog(client) +
           " (Max_Per_Hour " + std::to_string(limit) + ")");
  return false;
}

bool TForm1::ReceiptAllowed(const std::string& receipt_to) {
  const TGatewayRequest& request = Request();
  const std::string address = SingleMailAddress(receipt_to);
  if (address.empty()) {
    LogError("Brevix BX Reports: Receipt not sent, not one address: " + ForLog(receipt_to));
    return false;
  }
  const long long limit = request.Guards.MaxReceiptsPerHour;
  if (limit <= 0) return true;
  const std::string client = ClientKey(request);
  size_t full = 0;
  if (WithinLimits(
          *this,
          {{TGuardKind::kReceiptTo, address, limit}, {TGuardKind::kReceiptClient, client, limit}},
          &full)) {
    return true;
  }
  if (full >= 2) return false;  // the database failed; logged
  LogError("Brevix BX Reports: Receipt not sent, Max_Receipts_Per_Hour " + std::to_string(limit) +
           " reached for " + (full == 0 ? LowerCase(address) : "client " + ForLog(client)));
  return false;
}
