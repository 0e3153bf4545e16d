#include "platform/network_address.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct AddressCase {
  const char* text;
  const char* written;  // Text(), of an IPv6 address after KeepPrefix(48); null: not an address
  bool loopback;
  const char* unmapped;  // Unmapped().Text()
};

class IpAddressTest : public ::testing::TestWithParam<AddressCase> {};

// The client-network key, the FastCGI client filter and the password rule all read addresses
// through this class: its family, its loopback test and its text must match the C library's.
TEST_P(IpAddressTest, ReadsWritesAndMasksAsTheCLibraryDoes) {
  const AddressCase& c = GetParam();
  std::optional<TIpAddress> address = TIpAddress::Parse(c.text);
  ASSERT_EQ(address.has_value(), c.written != nullptr) << c.text;
  if (!address) return;
  EXPECT_EQ(address->IsLoopback(), c.loopback) << c.text;
  EXPECT_EQ(address->Unmapped().Text(), c.unmapped) << c.text;
  if (!address->IsIpv4()) address->KeepPrefix(48);
  EXPECT_EQ(address->Text(), c.written) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, IpAddressTest,
    ::testing::Values(
        // An IPv4 address keeps its family; an IPv4-mapped one is IPv6 until unmapped.
        AddressCase{"192.0.2.7", "192.0.2.7", false, "192.0.2.7"},
        AddressCase{"127.8.9.10", "127.8.9.10", true, "127.8.9.10"},
        AddressCase{"::1", "::", true, "::1"},
        AddressCase{"::ffff:127.0.0.1", "::", true, "127.0.0.1"},
        AddressCase{"2001:db8:1:2:3:4:5:6", "2001:db8:1::", false, "2001:db8:1:2:3:4:5:6"},
        AddressCase{"host.example", nullptr, false, ""},
        AddressCase{"192.0.2.7/24", nullptr, false, ""},
        AddressCase{"0000000000000000000000000000000000000000000000::1", nullptr, false, ""}));

TEST(NetworkAddressTest, IpAddressOfASocketAddressIsInItsIpv6Form) {
  TNetworkAddress v4;
  auto* in = reinterpret_cast<sockaddr_in*>(&v4.storage);
  in->sin_family = AF_INET;
  in->sin_addr.s_addr = htonl(0x7f000001);
  v4.SetPort(8080);
  EXPECT_EQ(ntohs(in->sin_port), 8080);
  const std::optional<TIpAddress> ip = TIpAddress::Of(v4.Get());
  ASSERT_TRUE(ip.has_value());
  EXPECT_EQ(ip->Bytes(), TIpAddress::Parse("::ffff:127.0.0.1")->Bytes());
  EXPECT_EQ(ip->Text(), "127.0.0.1");
  TNetworkAddress unix_peer;
  unix_peer.storage.ss_family = AF_UNIX;
  EXPECT_FALSE(TIpAddress::Of(unix_peer.Get()).has_value());
}

// Numeric hosts skip getaddrinfo: the addresses found must be the ones it gives, and what it
// refuses (an IPv6 address when only IPv4 is wanted) must still be refused.
TEST(ResolveHostTest, NumericHostsGiveWhatTheResolverGives) {
  struct Case {
    const char* host;
    bool ipv4_only;
    int family;  // of the one address found; 0: the host is refused
    const char* text;
  };
  const Case cases[] = {
      {"127.0.0.1", false, AF_INET, "127.0.0.1"},
      {"127.0.0.1", true, AF_INET, "127.0.0.1"},
      {"::1", false, AF_INET6, "::1"},
      {"::1", true, 0, nullptr},
      {"127.1", true, AF_INET, "127.0.0.1"},  // an old dotted form: the resolver's own reading
  };
  for (const Case& c : cases) {
    std::vector<TNetworkAddress> found;
    TResolveError error;
    const bool resolved = ResolveHost(c.host, c.ipv4_only, found, error);
    EXPECT_EQ(resolved, c.family != 0) << c.host;
    if (!resolved) continue;
    ASSERT_EQ(found.size(), 1u) << c.host;
    EXPECT_EQ(found[0].Family(), c.family) << c.host;
    const std::optional<TIpAddress> address = TIpAddress::Of(found[0].Get());
    ASSERT_TRUE(address.has_value()) << c.host;
    EXPECT_EQ(address->Text(), c.text) << c.host;
  }
}

}  // namespace
