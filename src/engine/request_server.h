#pragma once

#include <memory>
#include <string>

#include "common/streams.h"
#include "common/string_list.h"

class THttpCGIEngine;

// Server mode: one resident copy of the gateway (the request server) serves the requests that
// short-lived CGI processes (forwarders) hand over through files in the spool folder.
//
// Spool folder: <program dir>Temp/, owner-only. Every spool name starts with SpoolBase():
//   SpoolBase() + "s"                      the marker: exists while a server runs, refreshed
//                                          every 5 s, holds the server's process id
//   <base> = SpoolBase() + <client address, "." as "-"> + "_" + <random hex, 5+ digits>
//   <base> + "_new"                        a request still being written by its forwarder
//   <base> + "_req"                        a complete request, waiting for the server
//   <base> + "_cnf"                        taken by the server
//   <base> + "_ind"                        the answer being written
//   <base> + "_rsp"                        the complete answer, waiting for the forwarder
// A file only ever appears under a stage name when it is complete (it is written under another
// name and renamed), so neither side reads a half-written file.
//
// Request file: one NAME=value line per request variable, each ended by CR LF; an empty line;
// then CONTENT_LENGTH bytes of body (none without CONTENT_LENGTH). Answer file: exactly the
// bytes the engine wrote to its output stream (headers, blank line, body).
//
// The spool files are created exclusively and owner-only in an owner-only folder. Files of the
// folder matching "*.*_*" that are older than 15 minutes are deleted by the server after each
// request and by every forwarder.

// <program dir>Temp/<program file name>_
std::string SpoolBase();
// SpoolBase() + "s".
std::string ServerMarkerFile();

// True while RunServerLoop runs in this process (IsServerAlive is then true at once).
bool InsideServerLoop();

// Runs the request server until it is told to stop (its marker deleted, SIGTERM, SIGINT or
// SIGHUP): switches the adapter's CGIMode from NormalMode to ServerMode (a server mode already
// set stays), clears what an earlier server left in the spool, writes the marker and serves
// each spooled request through adapter.Run(input, output, variables), one after the other in
// ServerMode and each on its own thread in ServerThreadMode (each thread bound to the adapter).
// It waits for requests on folder events (inotify) and on the stop signals, never spinning.
// At the end: every request thread is joined, the adapter's OnLastExecRequest runs, a failure
// is logged as "Server loop: <message>", and every spool file (the marker too) is deleted.
// Returns; the caller ends the process.
void RunServerLoop(THttpCGIEngine& adapter);

// Serves one taken request: reads <base>_cnf (variables up to the blank line, then the body),
// writes the answer to <base>_ind through adapter.Run, deletes <base>_cnf and renames the answer
// to <base>_rsp, also when Run raised. A request file without its blank line is left alone. An
// exception escaping here deletes the marker (the server then stops) and is rethrown.
void ServeSpooledRequest(THttpCGIEngine& adapter, const std::string& base);

// Starts a request server for this program: a detached copy of the program itself with the
// parameters "$$START_SERVER X", in a new session, standard handles on /dev/null, no other
// descriptor inherited, and a clean environment (PATH, and CGI_LOG_DIR when set). Returns
// once its marker appeared, after 600 ms at most. A failure to start is logged.
void StartRequestServer();

// Hands one request (its variables and CONTENT_LENGTH bytes of `input`) to the live request
// server and copies the answer to `output` in blocks of 1032 bytes. Returns when the answer is
// copied or the wait was given up; the caller then ends the process. Waits at most 180 s for
// the answer, less when the marker goes or the server process ends (the whole spool is then
// cleared, as after the 180 s). With ten or more spool files besides the marker the request is
// refused: "Server mode - Too many clients" is logged and nothing is written to `output`.
// Failures are logged, never thrown. A stall of 30 s while the request is written or the
// answer copied ends the process (exit code 0) through the engine's watchdog.
void ForwardToServer(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                     std::unique_ptr<TStringList> variables);
