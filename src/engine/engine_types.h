#pragma once

#include <functional>
#include <string>

#include "common/exception.h"

class THttpEngine;
class TStream;
class TStringList;
class TKestrinFileUpload;

// How requests are served: one process per request (NormalMode), or a resident request server
// serving requests one after the other (ServerMode) or one thread each (ServerThreadMode).
enum TCGIMode { NormalMode, ServerMode, ServerThreadMode };

// NoDebug: no capture. DebugException: an escaping exception turns the answer into the
// plain-text debug page. DebugAlways: every answer is the debug page.
enum TDebugMode { NoDebug, DebugException, DebugAlways };

// The engine's events; the sending engine comes first.
using TExecRequestEvent = std::function<void(THttpEngine* sender)>;
using TFirstExecRequestEvent = std::function<void(THttpEngine* sender)>;
using TLastExecRequestEvent = std::function<void(THttpEngine* sender)>;
using TPrepareRequestEvent = std::function<void(THttpEngine* sender)>;
using TRequestErrorEvent = std::function<void(THttpEngine* sender, const Exception& error_reason)>;
using TRemoveSessionObjectEvent =
    std::function<void(THttpEngine* sender, const std::string& class_name, void* value)>;

// Called for every uploaded file part before its bytes are written: the handler may set
// out_stream (and free_out_stream when the decoder should free it), or cancel the upload.
using TUploadPrepareFileEvent =
    std::function<void(TKestrinFileUpload* sender, TStringList& content_info, TStream*& out_stream,
                       bool& free_out_stream, bool& cancel_upload)>;

// A critical section handed out by THttpEngine::CreateLock. Owned by whoever created it until
// FreeLock.
using TLockHandle = struct TEngineLock*;

// The gateway is never a console build: the branches for that run mode are decided here once.
constexpr bool kIsConsoleBuild = false;

// True once the shared library's entry code has said so (MarkRunsAsLibrary, before its form
// exists); false all the time in the program. A library serves requests from the web server's
// threads: no watchdog, no process end, no request server of its own.
bool RunsAsLibrary();
void MarkRunsAsLibrary();
