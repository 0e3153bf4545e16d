#include "engine/request_context.h"

TRequestContext& RequestContext() {
  thread_local TRequestContext context;
  return context;
}
