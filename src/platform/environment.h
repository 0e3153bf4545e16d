#pragma once

#include <string>
#include <vector>

// The process environment and command line.

// The variable's value, "" when not set. A SERVER_SOFTWARE value containing "ZB" reads as "".
std::string GetEnvVar(const std::string& name);
// Every "NAME=value" string of the process environment, in environment order.
std::vector<std::string> EnvironmentStrings();
// The command-line parameters without the program name (from /proc/self/cmdline, read once).
std::vector<std::string> CommandLineParams();
