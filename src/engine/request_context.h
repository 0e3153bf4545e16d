#pragma once

#include <array>
#include <chrono>
#include <memory>

#include "common/streams.h"
#include "common/string_list.h"
#include "platform/clock.h"

class THttpEngine;

// One open IF/ELSEIF/ELSE level of the page template language.
struct TConditionLevel {
  bool Output = false;   // the current branch of this level is being written
  bool Pending = false;  // no branch of this level has been taken yet
};

// The state of the request being served on the calling thread. One instance per thread
// (thread_local), so that one engine object can serve requests on several threads.
//
// Everything held by unique_ptr is owned by the record: ProcessRequest creates or adopts it and
// FinishRequest frees it. Outside a request Body is null, so Write does nothing.
struct TRequestContext {
  // The calling thread's current engine; set by an engine's constructor, by ProcessRequest and
  // by THttpEngine::BindThread. Not owned.
  THttpEngine* Engine = nullptr;

  std::unique_ptr<TStream> InputStream;          // raw request body; null when none
  std::unique_ptr<TStream> OutputStream;         // raw answer stream; null outside a request
  std::unique_ptr<TStringList> ServerVariables;  // NAME=value entries
  std::unique_ptr<TStringList> Fields;           // sorted name=value field table
  std::unique_ptr<TStringList> TempFiles;        // files deleted when the request ends
  std::unique_ptr<TStringList> Headers;          // queued answer headers, in queue order
  std::unique_ptr<TMemoryStream> Body;           // the buffered answer body

  bool HeadersSent = false;  // the header block has been emitted
  bool BodySent = false;     // body bytes have reached OutputStream at least once
  bool DebugActive = false;  // the answer is the plain-text debug page
  int RequestNumber = 0;     // 0..9999, written in every engine log line
  // The largest CONTENT_LENGTH this request accepts (above 0; otherwise none): the engine's
  // AutoReadLimit, unless OnPrepareRequest set another one for this request alone.
  int ReadLimit = 0;
  // While ReadFormInput reads the body: the moment by which the whole body must have arrived
  // (kBodyTimeLimit after the reading began); time_point{} otherwise.
  TMonotonicTime BodyDeadline{};

  // Debug capture; present only while the engine's DebugMode is not NoDebug.
  std::unique_ptr<TMemoryStream> DebugInput;
  std::unique_ptr<TMemoryStream> DebugLog;

  // What the owner's OnPrepareRequest keeps for its OnExecRequest of the same request (the
  // gateway: brevix.ini as it read it); the engine only clears it when a request starts or ends.
  std::shared_ptr<void> OwnerState;

  // Template state of the page components.
  int ConditionDepth = 0;
  std::array<TConditionLevel, 32> ConditionLevels{};
};

// The longest a request body may take to arrive, however steadily its bytes trickle in: past
// it ReadInput fails the request with kBodyTimeoutMessage.
inline constexpr std::chrono::seconds kBodyTimeLimit{60};
inline constexpr const char* kBodyTimeoutMessage = "Request body not received in time";
// The start of the message that refuses a body announcing more than the read limit (followed by
// ": <length> bytes sent, <limit> allowed").
inline constexpr const char* kBodyOverLimitMessage = "Content length exceeds allowed limit";
// The start of the message that refuses a JSON body the form cannot take (json_form_decoder.h),
// followed by ": " and the reason; the gateway answers it as the client's fault.
inline constexpr const char* kJsonBodyRefusedMessage = "JSON body refused";
// The start of the message that fails a request whose body ended (or whose connection failed)
// before CONTENT_LENGTH bytes arrived; the gateway answers it as the client's fault.
inline constexpr const char* kBodyIncompleteMessage = "Request body incomplete";

// The calling thread's request record.
TRequestContext& RequestContext();
