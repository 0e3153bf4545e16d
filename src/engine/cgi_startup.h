#pragma once

#include <memory>
#include <string>

#include "common/string_list.h"

// The start-up decisions of a CGI program, evaluated on demand from the environment and the
// command line (never cached).

// No CGI environment (SERVER_SOFTWARE empty, no parameters), or exactly two parameters whose
// first, trimmed, is "$$START_SERVER".
bool IsServerProcess();
// The request server's marker file exists and was refreshed within the last 30 seconds.
bool IsServerAlive();
// SERVER_SOFTWARE set (or a server process) and CGI_VERSION without "WIN".
bool IsStandardCGI();
// A server process, or a first parameter naming an existing file while CGI_VERSION is empty or
// contains "WIN".
bool IsWindowsCGI();
// The request server's marker file: <program dir>temp/<program file name>_s.
std::string ServerMarkerFile();
// A new sorted list of NAME=value items, one per environment string; owned by the caller.
std::unique_ptr<TStringList> BuildEnvironmentList();
