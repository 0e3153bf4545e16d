// The gateway as a shared library (brevix.so) inside a web server: the exported ISAPI, WSAPI
// and NSAPI entry points. The first call of any of them creates the gateway's one form (with
// the in-process adapters); every request then runs on the calling server thread with its own
// request state. Nothing here ends the process or starts a thread: the process is the server's.
//
// brevix.ini, the data files and log/brevix.Log are found beside brevix.so.
#include <memory>
#include <mutex>

#include "engine/adapters/isapi_engine.h"
#include "engine/adapters/nsapi_engine.h"
#include "engine/adapters/wsapi_engine.h"
#include "engine/engine_types.h"
#include "engine/http_log.h"
#include "gateway/send_mail_form.h"

#define BREVIX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::once_flag form_once;
std::unique_ptr<TForm1> library_form;

// The form exists once the first entry call has come through here; a form that could not be
// built is tried again by the next call (and every call until then fails).
bool EnsureForm() {
  try {
    std::call_once(form_once, [] {
      MarkRunsAsLibrary();
      library_form = std::make_unique<TForm1>();
    });
    return library_form != nullptr;
  } catch (const std::exception& error) {
    WriteHttpLog(std::string("Gateway form not created: ") + error.what());
  } catch (...) {
    WriteHttpLog("Gateway form not created");
  }
  return false;
}

}  // namespace

BREVIX_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  return EnsureForm() ? IsapiGetExtensionVersion(pVer) : 0;
}

BREVIX_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  return EnsureForm() ? IsapiHttpExtensionProc(pECB) : HSE_STATUS_ERROR;
}

BREVIX_EXPORT BOOL TerminateExtension(DWORD dwFlags) {
  return EnsureForm() ? IsapiTerminateExtension(dwFlags) : 1;
}

BREVIX_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  return EnsureForm() ? IsapiGetFilterVersion(pVer) : 0;
}

BREVIX_EXPORT DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType,
                                   void* pvNotification) {
  return EnsureForm() ? IsapiHttpFilterProc(pfc, NotificationType, pvNotification)
                      : SF_STATUS_REQ_ERROR;
}

BREVIX_EXPORT int Process(WSAPI_CONTEXT* context) {
  return EnsureForm() && WsapiProcess(context) ? 1 : 0;
}

BREVIX_EXPORT int brevix_service(pblock* pb, Session* sn, Request* rq) {
  return EnsureForm() ? NsapiService(pb, sn, rq) : REQ_ABORTED;
}
