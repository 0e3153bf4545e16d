#pragma once

#include <string>
#include <string_view>

// The network a client address stands for, as the hourly limits count it (guard_state.h).
//
// One household, office or rented server holds one IPv4 address but a whole IPv6 network: a
// provider hands out a /64 (often a /56 or /48), and every address in it is the same visitor's
// to choose. Counting each IPv6 address alone would let one visitor pass any limit by changing
// addresses, so:
//  - an IPv4 address counts alone, written as inet_ntop writes it ("192.0.2.7");
//  - an IPv4-mapped IPv6 address ("::ffff:192.0.2.7", as a dual-stack server reports IPv4
//    clients) is that IPv4 address;
//  - any other IPv6 address counts by its first `ipv6_prefix` bits (0 to 128), written as the
//    network with its length: "2001:db8:1:2::/64";
//  - a value that is no address at all (a server that reports none, or a name) counts as it is.
std::string ClientNetworkKey(std::string_view client_address, int ipv6_prefix);
