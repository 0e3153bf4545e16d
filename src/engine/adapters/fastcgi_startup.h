#pragma once

#include <string>
#include <vector>

#include "engine/adapters/fastcgi_socket.h"

// How the program becomes a resident FastCGI application, and the options it takes then.
//
// The program serves FastCGI when its standard input is a listening socket (the FastCGI
// convention: a process manager or systemd socket activation hands it the socket as fd 0), or
// when it was started by hand (not by a web server) with an option:
//
//   brevix.cgi --fastcgi ADDRESS [--threads N] [--socket-group NAME] [--allow-clients LIST]
//
// ADDRESS is a unix socket path (it contains a "/") or HOST:PORT (an IPv6 host in brackets;
// engine/adapters/fastcgi_socket.h opens it); N request threads, 1 to kMaxFastCGIThreads (default
// 4); NAME the unix socket's group; LIST the TCP clients served (comma-separated addresses;
// loopback only without it). A process started by a web server (CGI environment present) never
// reads its parameters as options: a visitor's query string can reach them.

inline constexpr int kDefaultFastCGIThreads = 4;
inline constexpr int kMaxFastCGIThreads = 256;

struct TFastCGIOptions {
  std::string Address;  // empty: serve the listening socket on standard input
  int Threads = kDefaultFastCGIThreads;
  std::string SocketGroup;  // empty: the process's own group
  TClientFilter Clients;    // loopback only unless --allow-clients
};

// The one-line usage text printed with an option error.
inline constexpr const char* kFastCGIUsage =
    "usage: brevix.cgi --fastcgi ADDRESS [--threads N] [--socket-group NAME] "
    "[--allow-clients IP,IP...]   (ADDRESS: /path/to/socket or host:port)";

// True when the program is to serve FastCGI: standard input is a listening socket, or (not
// started by a web server) the first parameter is an option ("--...").
bool IsFastCGI();

// Reads the options from `params`. False with `error` set (one line, naming the offending
// parameter) for an unknown option, a missing or empty value, a thread count that is not a whole
// number within 1..kMaxFastCGIThreads, or a client list that is not a list of addresses.
bool ParseFastCGIOptions(const std::vector<std::string>& params, TFastCGIOptions& options,
                         std::string& error);
