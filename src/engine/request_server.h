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
//   <base> + "_req"                        a complete request, waiting for the server
//   <base> + "_cnf"                        taken by the server
//   <base> + "_ind"                        the answer being written
//   <base> + "_rsp"                        the complete answer, waiting for the forwarder
// A file only ever appears under a stage name when it is complete (it is written under another
// name and renamed), so neither side reads a half-written file.

// <program dir>Temp/<program file name>_
std::string SpoolBase();
// SpoolBase() + "s".
std::string ServerMarkerFile();

// Runs the request server until it is told to stop (its marker deleted, SIGTERM, SIGINT or
// SIGHUP): serves each spooled request through adapter.Run(input, output, variables), one after
// the other in ServerMode and each on its own thread in ServerThreadMode. Returns once the
// spool is cleared; the caller ends the process.
void RunServerLoop(THttpCGIEngine& adapter);

// Starts a request server for this program: a detached copy of the program itself with the
// parameters "$$START_SERVER X", in a new session, standard handles on /dev/null, and a clean
// environment (no CGI variables). Returns at once.
void StartRequestServer();

// Hands one request (its variables and CONTENT_LENGTH bytes of `input`) to the live request
// server and copies the answer to `output`. Returns when the answer is copied or the wait was
// given up; the caller then ends the process.
void ForwardToServer(std::unique_ptr<TStream> input, std::unique_ptr<TStream> output,
                     std::unique_ptr<TStringList> variables);
