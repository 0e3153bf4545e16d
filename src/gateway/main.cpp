// The gateway program. The web server starts it for a form submission (standard CGI, or Windows
// CGI with a profile file); started without a CGI environment, or by a server-mode request, it is
// the site's resident request server instead.
//
// How a request flows: main builds the form (its components and their settings), and the
// engine's adapter serves: TGeneralHttpEngine::RunAdapter picks the adapter's
// path from the start-up tests (one request on standard input, the request server's loop, or a
// hand-over to a running server) and every request goes through THttpEngine::ProcessRequest to
// the form's GeneralHttpEngine1ExecRequest. When the adapter returns, the process ends here.
#include <memory>

#include "engine/end_http_process.h"
#include "engine/general_http_engine.h"
#include "gateway/send_mail_form.h"

int main() {
  {
    TForm1 form;
    form.GeneralHttpEngine1->RunAdapter();
  }
  EndHttpProcess();
}
