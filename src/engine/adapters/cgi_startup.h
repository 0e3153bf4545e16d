#pragma once

#include <memory>
#include <string>

#include "common/string_list.h"

// The start-up decisions of a CGI program, evaluated on demand from the environment and the
// command line (never cached).
//
// A process started by a web server (GATEWAY_INTERFACE present, or a SERVER_SOFTWARE that
// counts as set) is a standard CGI run whatever its parameters: a server passes a query string
// without "=" as parameters, so the parameters must never make a visitor's request a request
// server or a Windows CGI run with a file of the visitor's choosing.

// GATEWAY_INTERFACE or REQUEST_METHOD is present, or SERVER_SOFTWARE is set (a "ZB" value counts
// as not set). A server that passes only REQUEST_METHOD still gets a CGI answer.
bool StartedByWebServer();
// Not started by a web server, and either no parameters at all or exactly two parameters whose
// first, trimmed, is "$$START_SERVER".
bool IsServerProcess();
// Inside the request-server loop, or the request server's marker file exists, was refreshed
// within the last 30 seconds, and a process holds the server lock (spool_owners.h).
bool IsServerAlive();
// Started by a web server; or a server process while CGI_VERSION holds no "WIN".
bool IsStandardCGI();
// Never when started by a web server. Otherwise a server process, or a first parameter naming
// an existing file while CGI_VERSION is empty or contains "WIN".
bool IsWindowsCGI();
// The request server's marker file (engine/adapters/request_server.h): <program
// dir>Temp/<program>_s.
std::string ServerMarkerFile();
// A new sorted list of NAME=value items, one per environment string; owned by the caller.
std::unique_ptr<TStringList> BuildEnvironmentList();
