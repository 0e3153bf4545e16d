// A CGI program for the engine's process-level tests: a form object owning a
// TGeneralHttpEngine, whose request handler does what TEST_CGI_ACTION (or the query field
// "action") asks. Engine settings come from TEST_CGI_* variables; the defaults are those of the
// gateway's form (NoCache, a read limit of 100000, every method allowed).

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "engine/adapters/handover_journal.h"
#include "engine/adapters/request_server.h"
#include "engine/end_http_process.h"
#include "engine/general_http_engine.h"
#include "engine/http_log.h"

namespace {

std::string Env(const char* name, const std::string& def) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : def;
}

void Act(THttpEngine* engine, const std::string& action) {
  if (action == "html") {
    HttpWrite("<p>Hello</p>");
  } else if (action == "nothing") {
  } else if (action == "fields") {
    // Every field as name=value, values with CR LF shown as "|".
    std::unique_ptr<TStringList> names = HttpFieldNames();
    for (const std::string& entry : *HttpFields()) {
      std::string shown;
      for (size_t at = 0; at < entry.size(); ++at) {
        const bool line_break = entry.compare(at, 2, "\r\n") == 0;
        shown += line_break ? '|' : entry[at];
        if (line_break) ++at;
      }
      HttpWriteLn(shown);
    }
    HttpWriteLn("count=" + std::to_string(names->Count()));
  } else if (action == "location") {
    engine->AddHeader("location", "http://127.0.0.1/done.html");
    HttpWrite("moved");
  } else if (action == "raise") {
    HttpWrite("<p>written before the failure</p>");
    throw Exception("Handler failed <here>");
  } else if (action == "twice") {
    HttpWrite("first part;");
    engine->SendResponse();
    HttpWrite("second part");
  } else if (action == "status") {
    engine->AddHeader("HTTP/1.0 404 Not Found", "");
    HttpWrite("not here");
  } else if (action == "badheader") {
    engine->AddHeader("Document Expires", "never");
    engine->AddHeader("X-Good", "line\r\nX-Injected: yes");
    HttpWrite("body");
  } else if (action == "attachment") {
    engine->AddAttachmentHeaders(" ", "C:\\some\\folder\\report.txt");
    HttpWrite("data");
  } else if (action == "upload") {
    std::string path = HttpFormVar("FILE_FILENAME", "");
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    HttpWriteLn("FILE=" + HttpFormVar("FILE", ""));
    HttpWriteLn("FILE_FILENAME=" + path);
    HttpWriteLn("FILE_CONTENT_TYPE=" + HttpFormVar("FILE_CONTENT_TYPE", ""));
    HttpWriteLn(std::string("EXISTS=") + (in.is_open() ? "1" : "0"));
    // The access rights of the file and of its folder, in octal (the upload holds a visitor's
    // bytes: only the program's owner may read them).
    struct stat file_info {};
    struct stat dir_info {};
    const std::string dir = path.substr(0, path.rfind('/'));
    if (stat(path.c_str(), &file_info) == 0 && stat(dir.c_str(), &dir_info) == 0) {
      char modes[64];
      std::snprintf(modes, sizeof modes, "MODES=%o %o", file_info.st_mode & 0777,
                    dir_info.st_mode & 0777);
      HttpWriteLn(modes);
    }
    HttpWrite("CONTENT=" + content.str());
  } else if (action == "upload_raise") {
    // Fails after the upload was stored: the temporary file must still go.
    HttpWriteLn("FILE_FILENAME=" + HttpFormVar("FILE_FILENAME", ""));
    throw Exception("Failed after upload");
  } else if (action == "hang_in_server") {
    // Stands for a request that a request server is killed in the middle of.
    if (InsideServerLoop()) std::this_thread::sleep_for(std::chrono::seconds(60));
    HttpWrite("<p>Hello</p>");
  } else if (action == "send_then_hang_in_server") {
    // Stands for a submission whose mail went out just before its server was killed.
    if (const std::optional<std::string> earlier = MailAcceptedEarlier()) {
      HttpWrite("sent earlier " + *earlier);
      return;
    }
    RecordMailAccepted("detail 7");
    if (InsideServerLoop()) std::this_thread::sleep_for(std::chrono::seconds(60));
    HttpWrite("sent now");
  } else if (action == "log") {
    WriteHttpLog("handler line " + HttpFormVar("tag", ""));
    HttpWrite("logged");
  } else {
    HttpWrite("unknown action " + action);
  }
}

class TTestForm {
 public:
  TTestForm() {
    engine_ = std::make_unique<TGeneralHttpEngine>();
    engine_->SetNoCache(Env("TEST_CGI_NOCACHE", "1") == "1");
    engine_->SetAutoReadLimit(std::atoi(Env("TEST_CGI_READ_LIMIT", "100000").c_str()));
    engine_->AllowedMethods().SetGet(Env("TEST_CGI_GET", "1") == "1");
    engine_->AllowedMethods().SetPost(Env("TEST_CGI_POST", "1") == "1");
    engine_->AllowedMethods().SetPut(Env("TEST_CGI_PUT", "1") == "1");
    engine_->SetDebugMode(static_cast<TDebugMode>(std::atoi(Env("TEST_CGI_DEBUG", "0").c_str())));
    engine_->SetCGIAutoTerminate(Env("TEST_CGI_AUTOTERMINATE", "1") == "1");
    engine_->SetSessionName("DefaultSession");
    engine_->SetTempDir(Env("TEST_CGI_TEMPDIR", "Temp"));
    // 0 NormalMode, 1 ServerMode, 2 ServerThreadMode.
    const int mode = std::atoi(Env("TEST_CGI_MODE", "0").c_str());
    engine_->SetCGIMode(mode == 1 ? ServerMode : mode == 2 ? ServerThreadMode : NormalMode);
    engine_->SetOnExecRequest([](THttpEngine* sender) {
      std::fprintf(stderr, "request runs\n");
      Act(sender, Env("TEST_CGI_ACTION", HttpFormVar("action", "html")));
    });
    engine_->Loaded();
  }

  TGeneralHttpEngine& Engine() { return *engine_; }

 private:
  std::unique_ptr<TGeneralHttpEngine> engine_;
};

}  // namespace

int main() {
  bool end_after_request = true;
  {
    TTestForm form;
    form.Engine().RunAdapter();
    end_after_request = form.Engine().CGIAutoTerminate();
  }
  if (!end_after_request) {
    std::fprintf(stderr, "process outlived the request\n");
    return 3;
  }
  EndHttpProcess();
}
