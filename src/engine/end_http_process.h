#pragma once

// Ends a CGI process after its request: sends what the current request still buffers, finishes
// the request when the CGI engine does not terminate on its own, deletes the request's upload
// files, stops the watchdog, runs the process-end handlers (platform/process_end.h) and ends
// the process with exit code 0. Does not return.
[[noreturn]] void EndHttpProcess();
