#include "engine/end_http_process.h"

#include "engine/http_engine.h"
#include "engine/watchdog.h"
#include "platform/process_end.h"

void EndHttpProcess() {
  TRequestContext& context = RequestContext();
  // A request still open here was cut short by its owner: it is finished like any other, and
  // FinishRequest never throws.
  if (context.Engine != nullptr && context.OutputStream) context.Engine->FinishRequest();
  watchdog::Stop();
  EndProcess(ExitCode());
}
