#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Network addresses as the other layers see them: an IP address without a port (TIpAddress), a
// socket address with one (TNetworkAddress), and the resolver and services database that give
// them. Nothing here opens a socket.

// An IPv4 or IPv6 address. It remembers its family; Bytes() gives the IPv6 form, where an IPv4
// address is IPv4-mapped (::ffff:a.b.c.d), so that an IPv4 address and its mapped form compare
// equal there.
class TIpAddress {
 public:
  // Longest text Parse reads as an address (INET6_ADDRSTRLEN with its terminator).
  static constexpr size_t kMaxTextLength = 46;

  // A numeric IPv4 ("192.0.2.1") or IPv6 ("2001:db8::1") address, without a look-up; nothing for
  // any other text and for text of kMaxTextLength characters or more. The text is read up to a
  // NUL, as the C library reads it.
  static std::optional<TIpAddress> Parse(std::string_view text);
  // The address of an AF_INET or AF_INET6 socket address; nothing for another family or null.
  static std::optional<TIpAddress> Of(const sockaddr* address);

  bool IsIpv4() const { return ipv4_; }
  // An IPv6 address of the form ::ffff:a.b.c.d.
  bool IsIpv4Mapped() const;
  // The IPv4 address inside an IPv4-mapped one (the address itself otherwise).
  TIpAddress Unmapped() const;
  // 127.0.0.0/8, ::1 and the IPv4-mapped 127.x.
  bool IsLoopback() const;
  const std::array<unsigned char, 16>& Bytes() const { return bytes_; }

  // Clears every bit of the IPv6 form after the first `prefix` (clamped to 0..128).
  void KeepPrefix(int prefix);

  // The address as the C library writes it: IPv4 dotted, IPv6 compressed ("::ffff:1.2.3.4" for a
  // mapped one).
  std::string Text() const;

 private:
  std::array<unsigned char, 16> bytes_{};
  bool ipv4_ = false;
};

// A socket address of any family (IPv4, IPv6 or a unix socket's), as the kernel takes it.
struct TNetworkAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  int Family() const { return storage.ss_family; }
  // Sets the port of an IPv4 or IPv6 address (host order); other families are left alone.
  void SetPort(uint16_t port);
};

// Why a name could not be resolved, sorted as the resolver reports it.
enum class TResolveFailure {
  kNone,
  kNoName,    // no such host
  kTryAgain,  // a temporary failure of the name service
  kFail,      // a permanent failure of the name service
  kNoData,    // the host has no address (of the family asked for)
  kFamily,    // the family is not supported
  kMemory,    // out of memory
  kSystem,    // a system error: see system_error (an errno value, 0 when unknown)
  kOther,
};

struct TResolveError {
  TResolveFailure failure = TResolveFailure::kNone;
  int system_error = 0;
};

// Every address of `host` for a stream socket, IPv6 and IPv4 in the resolver's order (a numeric
// address of either family without a look-up), ports 0; `ipv4_only` asks for IPv4 only. An empty
// host is an unknown one. Addresses of other families are skipped, so `found` may be empty after
// a success. False with `error` when the resolver failed or gave nothing (kNoName).
bool ResolveHost(const std::string& host, bool ipv4_only, std::vector<TNetworkAddress>& found,
                 TResolveError& error);

// The IPv4 address that `host` writes in the old dotted forms ("127.0.0.1", also "127.1"),
// without a look-up; nothing for other text and for 255.255.255.255.
std::optional<in_addr> DottedIpv4(const std::string& host);

// The name of protocol number `protocol` in the protocols database ("tcp" for 6, "udp" for 17,
// "ip" for 0 without a look-up); empty when it is unknown.
std::string ProtocolName(int protocol);

// The port of service `service` for `protocol` ("smtp", "tcp" gives 25) from the services
// database; -1 when it is not there.
int ServicePort(const std::string& service, const std::string& protocol);

// This machine's host name and the canonical name the resolver gives for it (AI_CANONNAME);
// each empty when it is not known (no canonical name is looked up without a host name).
struct TMachineNames {
  std::string host;
  std::string canonical;
};
TMachineNames LookUpMachineNames();
// This machine's host name alone (gethostname), without a lookup; empty when it is not known.
std::string HostName();
