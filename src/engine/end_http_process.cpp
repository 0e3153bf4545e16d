#include "engine/end_http_process.h"

#include <unistd.h>

#include "engine/http_cgi_engine.h"
#include "engine/watchdog.h"
#include "platform/process_end.h"

void EndHttpProcess() {
  TRequestContext& context = RequestContext();
  THttpEngine* current = context.Engine;
  try {
    if (current != nullptr && context.OutputStream) current->SendResponse();
    auto* cgi = dynamic_cast<THttpCGIEngine*>(current);
    if (current != nullptr && (kRunsAsLibrary || (cgi != nullptr && !cgi->CGIAutoTerminate()))) {
      current->FinishRequest();
    }
  } catch (...) {
    // The process ends whatever happened to the last answer.
  }
  // Whatever path led here, the request's uploads do not outlive it.
  if (context.TempFiles) {
    for (const std::string& path : *context.TempFiles) unlink(path.c_str());
  }
  watchdog::Stop();
  EndProcess(0);
}
