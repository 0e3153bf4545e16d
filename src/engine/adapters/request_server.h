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
//   <base> + "_snt"                        the request's main mail was accepted
//   <base> + "_bak"                        taken back by its forwarder, served there
// A file only ever appears under a stage name when it is complete (it is written under another
// name and renamed), so neither side reads a half-written file.
//
// Request file: one NAME=value line per request variable, each ended by CR LF; an empty line;
// then CONTENT_LENGTH bytes of body (none without CONTENT_LENGTH). Answer file: exactly the
// bytes the engine wrote to its output stream (headers, blank line, body).
//
// The spool files are created exclusively and owner-only in an owner-only folder. Files of the
// folder matching "*.*_*" that are older than 15 minutes are deleted by the server after each
// request and by every forwarder; requests whose forwarder has ended are cleared by the
// server's tick and by every forwarder (spool_owners.h).

// <program dir>Temp/<program file name>_
std::string SpoolBase();
// SpoolBase() + "s".
std::string ServerMarkerFile();

// True while RunServerLoop runs in this process (IsServerAlive is then true at once).
bool InsideServerLoop();

// Runs the request server until it is told to stop (its marker deleted, SIGTERM, SIGINT or
// SIGHUP): switches the adapter's CGIMode from NormalMode to ServerMode (a server mode already
// set stays), takes the server lock (when another server holds it, logs "Server mode - Server
// already running", sets exit code 1 and returns at once, touching nothing), clears what an earlier
// server and ended forwarders left in the spool (never a live forwarder's request), writes the
// marker and serves each spooled request through adapter.Run(input, output, variables), one after
// the other in ServerMode and each on its own thread in ServerThreadMode (each thread bound to the
// adapter). It waits for requests on folder events (inotify) and on the stop signals, never
// spinning. At the end: every request thread is joined, the adapter's OnLastExecRequest runs, a
// failure is logged as "Server loop: <message>", and the marker and the files of ended forwarders
// are deleted; the requests of live forwarders stay for them to take back. Returns; the caller ends
// the process.
void RunServerLoop(THttpCGIEngine& adapter);

// Serves one taken request: reads <base>_cnf (variables up to the blank line, then the body),
// writes the answer to <base>_ind through adapter.Run (recording an accepted main mail in
// <base>_snt), renames the answer to <base>_rsp, also when Run raised, and then deletes
// <base>_cnf and <base>_snt. A request file without its blank line is left alone. An
// exception escaping here deletes the marker (the server then stops) and is rethrown.
void ServeSpooledRequest(THttpCGIEngine& adapter, const std::string& base);

// Starts a request server for this program: a detached copy of the program itself with the
// parameters "$$START_SERVER X", in a new session, standard handles on /dev/null, no other
// descriptor inherited, and a clean environment (PATH, and CGI_LOG_DIR when set). Returns
// once its marker appeared, after 600 ms at most. A failure to start is logged. Several
// processes may call it at once: only one server comes up (the server lock, spool_owners.h);
// the others see it there and end.
void StartRequestServer();

// Hands one request (its variables and CONTENT_LENGTH bytes of `input`) to the live request
// server and copies its answer to `output` in blocks of 1032 bytes; or serves it in this
// process through adapter.ProcessRequest, exactly as a run without server would, whenever the
// server cannot answer it. Every request is answered one way or the other, and its mail sent at
// most once.
//
// Served here, with the reason logged, when: there is no live server (no marker, nobody holds
// the server lock, the marker's process is gone or its marker is older than two refresh
// periods): "Server mode - Server not running"; ten requests already occupy the server:
// "Server mode - Too many clients"; the spool cannot be written. Once the request is spooled,
// the forwarder watches the server (pidfd): a server that ends, drops its marker or has not
// answered within 180 s makes the forwarder take the request back and serve it at once
// ("Server mode - Server ended before answering" / "... did not answer in time"; a hung server
// is stopped first). A request the server had answered completely is copied, never run again;
// one whose main mail the server had recorded as accepted (handover_journal.h) is run here
// knowing it, so the gateway answers without sending again.
//
// A body that announces more than the adapter's AutoReadLimit, that ends early (fewer than
// CONTENT_LENGTH bytes) or that has not arrived whole within the engine's body time limit (60 s
// from the start, however it trickles) is never spooled: it is served here, where the engine
// refuses it. A stall of 30 s while the answer is copied ends the process (exit code 0) through
// the engine's watchdog. Never throws.
void ForwardToServer(THttpCGIEngine& adapter, std::unique_ptr<TStream> input,
                     std::unique_ptr<TStream> output, std::unique_ptr<TStringList> variables);
