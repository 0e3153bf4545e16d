#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/guard_settings.h"
#include "gateway/guard_state.h"

class TGatewayStore;

// The site owner's limits on what one visitor, or one bot, can make the gateway do (the keys of
// TGuardSettings), checked by TSubmissionLimits before anything is written, numbered or sent:
//  - Honeypot_Field: a field a person never fills. When it arrives filled in a complete
//    submission, the visitor is answered with the response page as if the mail had gone, and
//    nothing is sent, recorded or numbered (an incomplete one gets the missing-information page,
//    as anyone's does).
//  - Max_Per_Hour: complete submissions per client network (REMOTE_ADDR: an IPv4 address, or
//    its IPv6 network of Limit_IPv6_Prefix bits, client_network.h). The one over it gets the
//    error page with the error text kTooManySubmissions, and nothing is sent, recorded or
//    numbered. Incomplete submissions do not count: they cost nothing and a visitor who forgot a
//    field must not use up the limit.
//  - Max_Receipts_Per_Hour: receipts per receipt address (lower-cased, whichever client asks)
//    and per client network; a receipt must go to exactly one well-formed address. A receipt
//    refused goes unsent; the main mail and the answer page are not affected.
// Counts live in "BX-Guards.txt" (guard_state.h), which forgets no count before its hour is over:
// when it holds as many networks or addresses as it keeps, newcomers share one overflow count.
// When that file cannot be used, the limits are not enforced for that request and a log line
// says so: a full disk must not take the form down.
// Every refusal writes one error-log line.

// The error text of a submission refused by Max_Per_Hour.
inline constexpr const char* kTooManySubmissions = "Too many submissions";

// The limits of one request. Refusals are told to `log`, one line each; the counts go to the
// request's store (files or database).
class TSubmissionLimits {
 public:
  using TLog = std::function<void(const std::string& line)>;

  // `client_address`: REMOTE_ADDR; `now`: seconds since the epoch, the time the counts are at.
  TSubmissionLimits(const TGuardSettings& guards, TGatewayStore& store, std::string client_address,
                    std::int64_t now, TLog log);

  // True when the honeypot field arrived filled (`honeypot_value`, the field's value); logged.
  bool HoneypotFilled(std::string_view honeypot_value) const;
  // Counts this submission against Max_Per_Hour for the client's network. False when it is over
  // the limit (logged). A database that cannot be reached throws TStoreUnavailable.
  bool SubmissionAllowed() const;
  // True when a receipt may go to `receipt_to`: exactly one well-formed address, and
  // Max_Receipts_Per_Hour not reached for it or for the client's network (one receipt is then
  // counted for both). A refusal is logged. `mail_sent`: the main mail went already, so a
  // database that cannot be reached refuses the receipt (logged) instead of throwing.
  bool ReceiptAllowed(const std::string& receipt_to, bool mail_sent) const;

 private:
  // What the hourly limits count the client as: its IPv4 address or its IPv6 network.
  std::string ClientKey() const;
  bool WithinLimits(const std::vector<TGuardKey>& keys, bool mail_sent, size_t* full) const;

  const TGuardSettings& guards_;
  TGatewayStore& store_;
  std::string client_address_;
  std::int64_t now_;
  TLog log_;
};
