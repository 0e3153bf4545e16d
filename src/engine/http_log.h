#pragma once

#include <string>

// Appends one line to the engine log:
//   <m/d/yyyy h:nn:ss AM/PM>,  <RequestNumber> : <text> CR LF
// The log folder is $CGI_LOG_DIR when set and not empty, else "log" below the program folder
// (created when missing; the program folder itself when that fails). The file is the program's
// base name with the extension "Log" (brevix.cgi logs to brevix.Log). Lines are appended under
// an exclusive lock. While the current engine's DebugMode is not NoDebug the line is also kept
// for the debug page. Never throws; a line that cannot be written is lost silently.
void WriteHttpLog(const std::string& text);

// The log folder the environment names ($CGI_LOG_DIR), or empty when it names none. The one
// place that reads the variable: the log, the guard that keeps forms off the gateway's files,
// and the start of the request server (which hands it on) all ask here.
std::string ConfiguredLogFolder();

// The file WriteHttpLog writes to (creating the folder as described above).
std::string HttpLogFileName();
