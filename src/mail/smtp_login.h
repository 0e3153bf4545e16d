#pragma once

#include <string>
#include <string_view>

#include "platform/network_address.h"

// The pieces of the extended SMTP dialogue that need no socket: what an EHLO reply offers, the
// AUTH PLAIN and LOGIN tokens, and the rule for when a password may be sent.

// What a server announced in its EHLO reply (RFC 5321 keywords, without regard to case).
struct TEhloOffer {
  bool StartTls = false;
  bool AuthPlain = false;
  bool AuthLogin = false;
};

// Reads the keyword lines of a whole EHLO reply ("250-STARTTLS", "250 AUTH LOGIN PLAIN", also the
// old "250-AUTH=LOGIN" form). The first line is the server's greeting and is not a keyword.
TEhloOffer ParseEhloOffer(std::string_view reply);

// The initial response of AUTH PLAIN: base64 of NUL user NUL password (RFC 4616).
std::string AuthPlainToken(std::string_view user, std::string_view password);

// True for an address of the loopback interface: 127.0.0.0/8, ::1 and IPv4-mapped 127.x.
// `address` may be null or of another family (false).
bool IsLoopbackAddress(const sockaddr* address);

// A password travels only encrypted, or to a server on the loopback interface, where nobody
// between the two ends can read it.
bool PasswordMayTravel(bool encrypted, const sockaddr* peer);

// The failure texts of the extended dialogue, one place for the sender and its tests.
inline constexpr const char* kPlainPasswordRefused =
    "Refusing to send the password over an unencrypted connection to a non-loopback server";
inline constexpr const char* kNoStartTls = "Server does not offer STARTTLS";
inline constexpr const char* kNoLoginMethod =
    "Server offers neither AUTH PLAIN nor AUTH LOGIN; the login was not sent";
inline constexpr const char* kAuthenticationRequired = "Server requires authentication: ";
inline constexpr const char* kTlsHandshakeFailed = "TLS handshake failed: ";
// A port that speaks TLS from the first byte, reached without SMTP_Security=tls: it waits for a
// handshake and never greets.
inline constexpr const char* kNoGreetingTls =
    "No greeting from the mail server: does this port expect SMTP_Security=tls?";
inline constexpr const char* kNoGreeting =
    "No greeting from the mail server within 10 seconds (SMTP_Server, SMTP_Port)";
// SMTP_Security=tls on a plain SMTP port: the handshake gets the server's plain greeting.
inline constexpr const char* kPlainTextAnswer =
    "this port expects SMTP_Security=starttls or none, not tls";
