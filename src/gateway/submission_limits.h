#pragma once

#include <string>
#include <string_view>

// The site owner's limits on what one visitor, or one bot, can make the gateway do (the keys of
// TGuardSettings), checked by TForm1::HoneypotFilled, SubmissionAllowed and ReceiptAllowed
// (submission_limits.cpp) before anything is written, numbered or sent:
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
