// Forms sent by script: the JSON answers of each outcome, the cross-origin headers and the
// preflight, run as real CGI processes against a real SMTP server.
#include <strings.h>

#include <ostream>
#include <regex>
#include <string>

#include "gateway/json_answer.h"
#include "gateway_site.h"
#include "mail/scripted_smtp_server.h"

namespace gateway_test {
namespace {

const Fields kVisitor = {{"name", "Ann Visitor"}, {"mail_from", "ann@visitor.test"}};
const char* const kNotAllowed = "Form posted from a site that is not allowed";

// The values of header `name` (any case) of a CGI answer, joined by " | "; "<none>" without one.
std::string Header(const cgi_test::CgiResult& result, const std::string& name) {
  const std::string head = result.output.substr(0, result.output.find("\r\n\r\n") + 2);
  std::string values;
  for (size_t at = 0; at < head.size();) {
    const size_t end = head.find("\r\n", at);
    const std::string line = head.substr(at, end - at);
    const size_t colon = line.find(':');
    if (colon != std::string::npos &&
        strcasecmp(line.substr(0, colon).c_str(), name.c_str()) == 0) {
      if (!values.empty()) values += " | ";
      values += line.substr(colon + 1 + (line.size() > colon + 1 && line[colon + 1] == ' '));
    }
    at = end + 2;
  }
  return values.empty() ? "<none>" : values;
}

const char* const kTraceFiles[] = {"results.txt", "entries.log", "BX-RefNumbers.txt",
                                   "BX-Guards.txt", "brevix-error.txt"};

class ScriptAnswerTest : public GatewaySite {
 protected:
  void SetUp() override {
    GatewaySite::SetUp();
    ini_["Results_File"] = "results.txt";
    ini_["Results_File_Template"] = "record.txt";
    ini_["Entry_Log"] = "entries.log";
    ini_["Receipt_Text"] = "receipt.txt";
    ini_["Message_Text"] = "message.txt";
    ini_["Response_Page"] = "thanks.htm";
    ini_["Error_Page"] = "sorry.htm";
    WriteFile("record.txt", "%name%;%mail_from%");
    WriteFile("message.txt", "Order %refnum_order% from %name%\r\n");
    WriteFile("receipt.txt", "Your number is %refnum_order%.\r\n");
    WriteFile("thanks.htm", "<p>Thanks %name%, number %refnum_order%.</p>");
    WriteFile("sorry.htm", "<p>Sorry: %error_desc%</p>");
    WriteFile("plain.htm", "<p>Thanks.</p>");
  }

  // What the requests left behind in the gateway's folder, log times and counter stamps cut out.
  std::string Traces() {
    std::string traces;
    for (const char* name : kTraceFiles) traces += std::string(name) + ":" + FileText(name) + "|";
    static const std::regex kTime(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d| \d{9,}\r)");
    return std::regex_replace(traces, kTime, "TIME");
  }

  // Removes what Traces() sees, so that the next run starts from the same state.
  void ClearTraces() {
    for (const char* name : kTraceFiles) fs::remove(dir_ + name);
  }

  brevix_test::ScriptedSmtpServer refusing_;
};

struct JsonCase {
  const char* name;
  std::map<std::string, std::string> ini;  // over the fixture's brevix.ini
  Fields fields;
  bool refusing_server;  // the mail server refuses every recipient with a hostile text
  int posts;             // the answer of the last one counts
  int mails;             // mails the posts send (to the test's own server)
  const char* status;
  const char* body;
};

void PrintTo(const JsonCase& c, std::ostream* os) {
  *os << c.name;
}

class JsonOutcomeTest : public ScriptAnswerTest, public ::testing::WithParamInterface<JsonCase> {};

// Each outcome answered with JSON, and everything else of the request as for an HTML post: the
// same request is posted once for a page, once for JSON, and both leave the same traces.
TEST_P(JsonOutcomeTest, AnswersWithStatusAndObjectAndOtherwiseActsAsForAPage) {
  const JsonCase& c = GetParam();
  for (const auto& [key, value] : c.ini) ini_[key] = value;
  if (c.refusing_server) {
    refusing_.on_command = [](const std::string& command) -> std::string {
      if (command.rfind("RCPT", 0) == 0) return "550 <owner@site.test> no \"such\" box\r\n";
      return brevix_test::ScriptedSmtpServer::DefaultReply(command);
    };
    refusing_.Start();
    ini_["SMTP_Port"] = refusing_.PortText();
  }
  cgi_test::CgiResult page;
  for (int i = 0; i < c.posts; ++i) page = Post(c.fields);
  ASSERT_EQ(page.exit_code, 0) << page.error;
  ASSERT_EQ(Header(page, "Content-Type"), "text/html") << page.output;
  EXPECT_EQ(smtp_.WaitForMessages(c.mails), c.mails);
  const std::string page_traces = Traces();
  ClearTraces();

  headers_["HTTP_ACCEPT"] = "application/json, text/html;q=0.9";
  cgi_test::CgiResult json;
  for (int i = 0; i < c.posts; ++i) json = Post(c.fields);
  ASSERT_EQ(json.exit_code, 0) << json.error;
  EXPECT_EQ(Header(json, "Status"), c.status);
  EXPECT_EQ(Header(json, "Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(Body(json), c.body);
  // Mails, results, numbers and log lines of the JSON run repeat those of the page run.
  EXPECT_EQ(smtp_.WaitForMessages(2 * c.mails), 2 * c.mails);
  EXPECT_EQ(Traces(), page_traces);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, JsonOutcomeTest,
    ::testing::Values(
        JsonCase{"sent", {}, kVisitor, false, 1, 2, "200 OK", R"({"status":"sent","refnum":1})"},
        JsonCase{"sent_without_number",
                 {{"Receipt_Text", ""}, {"Response_Page", "plain.htm"}},
                 {{"mail_from", "a@b.test"}, {"message_text", "record.txt"}},
                 false,
                 1,
                 1,
                 "200 OK",
                 R"({"status":"sent","refnum":null})"},
        // Every gap is listed, the sender's first; the log names the first as ever.
        JsonCase{"missing",
                 {},
                 {{"namereq", ""}, {"mail_from", ""}, {"phonereq", ""}},
                 false,
                 1,
                 0,
                 "422 Unprocessable Content",
                 R"({"status":"missing","missing":["mail_from","namereq","phonereq"]})"},
        // The owner's settings are at fault, not the visitor's fields.
        JsonCase{"recipient_not_configured",
                 {{"Mail_To", ""}, {"SMTP_Server", ""}},
                 kVisitor,
                 false,
                 1,
                 0,
                 "500 Internal Server Error",
                 R"({"status":"not_configured","error":"The form's recipient is not configured"})"},
        // A bot is told what a person is told, without a number it never drew.
        JsonCase{"honeypot",
                 {{"Honeypot_Field", "website"}},
                 {{"mail_from", "bot@spam.test"}, {"website", "http://spam.test"}},
                 false,
                 1,
                 0,
                 "200 OK",
                 R"({"status":"sent","refnum":null})"},
        JsonCase{"too_many_submissions",
                 {{"Max_Per_Hour", "1"}},
                 kVisitor,
                 false,
                 2,
                 2,
                 "403 Forbidden",
                 R"({"status":"refused","error":"Too many submissions"})"},
        JsonCase{"recipient_not_allowed",
                 {},
                 {{"mail_from", "a@b.test"}, {"mail_to", "stranger@else.test"}},
                 false,
                 1,
                 0,
                 "403 Forbidden",
                 R"({"status":"refused","error":"Recipient not allowed"})"},
        // The kind of failure, never the server's text (which names the address).
        JsonCase{"failed_send",
                 {},
                 kVisitor,
                 true,
                 1,
                 0,
                 "502 Bad Gateway",
                 R"({"status":"failed","error":"The mail server refused the message"})"},
        JsonCase{"server_unreachable",
                 {{"SMTP_Port", "1"}},
                 kVisitor,
                 false,
                 1,
                 0,
                 "502 Bad Gateway",
                 R"({"status":"failed","error":"The mail server could not be reached"})"}));

// A preflight from a listed origin is answered 204 with the cross-origin headers (every case of
// the rule: cross_origin_test.cpp), without its input being read or the form run, even when it
// carries a complete submission.
TEST_F(ScriptAnswerTest, PreflightIsAnsweredWithoutRunningTheForm) {
  ini_["Allowed_Origins"] = "https://www.site.test";
  // Were the body looked at, its length alone would fail the request.
  ini_["Max_Request_Size"] = "10";
  WriteIni();
  headers_["HTTP_ORIGIN"] = "https://www.site.test";
  headers_["HTTP_ACCESS_CONTROL_REQUEST_METHOD"] = "POST";
  cgi_test::CgiRun run = PostRun(
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n\r\n"
      "upload\r\n--b--\r\n",
      "multipart/form-data; boundary=b");
  run.env["REQUEST_METHOD"] = "OPTIONS";
  run.env["QUERY_STRING"] = "mail_from=ann%40visitor.test&name=Ann";
  const cgi_test::CgiResult result = cgi_test::RunCgi(run);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_EQ(Header(result, "Status"), "204 No Content");
  EXPECT_EQ(Header(result, "Access-Control-Allow-Origin"), "https://www.site.test");
  EXPECT_EQ(Header(result, "Access-Control-Max-Age"), "600");
  EXPECT_EQ(Body(result), "");
  EXPECT_EQ(smtp_.MessageCount(), 0);
  for (const char* name : kTraceFiles) EXPECT_FALSE(Exists(name)) << name;
}

// Once origins are listed, a post from any other costs nothing and leaves one log line naming
// the origin in printable ASCII; the gateway's own site (on a Host without its port, as Debian's
// nginx passes it on) is served as ever.
TEST_F(ScriptAnswerTest, PostFromUnlistedOriginCostsNothingAndOwnSiteIsServed) {
  ini_["Allowed_Origins"] = "https://www.site.test";
  ini_["Max_Per_Hour"] = "10";
  headers_["HTTP_ACCEPT"] = "application/json";
  headers_["HTTP_ORIGIN"] = "https://e\x01\r\n\xc3\xa9" + std::string(300, 'a');
  const cgi_test::CgiResult refused = Post(kVisitor);
  EXPECT_EQ(Header(refused, "Status"), "403 Forbidden");
  EXPECT_EQ(Header(refused, "Access-Control-Allow-Origin"), "<none>");
  EXPECT_EQ(Body(refused), std::string(R"({"status":"refused","error":")") + kNotAllowed + "\"}");
  EXPECT_EQ(smtp_.MessageCount(), 0);
  // Nothing recorded, numbered or counted: one log line is all.
  EXPECT_EQ(Traces(),
            "results.txt:|entries.log:|BX-RefNumbers.txt:|BX-Guards.txt:|"
            "brevix-error.txt:http://site.test/form.html TIME Brevix BX Reports: " +
                std::string(kNotAllowed) + ": https://e?????" + std::string(186, 'a') + "...\r\n|");
  headers_["HTTP_ORIGIN"] = "https://gw.test:8443";
  headers_["HTTPS"] = "on";
  headers_["HTTP_HOST"] = "gw.test";
  headers_["SERVER_PORT"] = "8443";
  EXPECT_EQ(Body(Post(kVisitor)), R"({"status":"sent","refnum":1})");
}

// A page answer to a post refused for its origin has the same status, and shows no folder.
TEST_F(ScriptAnswerTest, PostFromOtherSiteGetsErrorPageWith403) {
  ini_["Allowed_Origins"] = "https://www.site.test";
  ini_["Error_Page"] = "/srv/no/such/folder/sorry.htm";
  headers_["HTTP_ORIGIN"] = "https://evil.test";
  const std::string page = Post(kVisitor).output;
  EXPECT_NE(page.find("Status: 403 Forbidden\r\n"), std::string::npos) << page;
  EXPECT_NE(page.find(kNotAllowed + std::string("<p>")), std::string::npos) << page;
  EXPECT_EQ(page.find("/srv/no"), std::string::npos) << page;
}

// A body over Max_Request_Size is refused by the engine before the form runs. A script that asked
// for JSON once got the HTML error page with status 200 and no cross-origin headers, which its page
// could not even read; a plain post still gets that page.
TEST_F(ScriptAnswerTest, BodyOverTheLimitIsRefusedInJsonWithTheCrossOriginHeaders) {
  ini_["Max_Request_Size"] = "10";
  ini_["Allowed_Origins"] = "https://www.site.test";
  headers_["HTTP_ORIGIN"] = "https://www.site.test";
  headers_["HTTP_ACCEPT"] = "application/json";
  const cgi_test::CgiResult json = Post(kVisitor);
  ASSERT_EQ(json.exit_code, 0) << json.error;
  EXPECT_EQ(Header(json, "Status"), "413 Content Too Large");
  EXPECT_EQ(Header(json, "Access-Control-Allow-Origin"), "https://www.site.test");
  // The size and the limit say what to change.
  const std::string refusal =
      "Content length exceeds allowed limit: 47 bytes sent, 10 allowed (Max_Request_Size)";
  EXPECT_EQ(Body(json), R"({"status":"refused","error":")" + refusal + "\"}");
  headers_["HTTP_ACCEPT"] = "text/html";
  const cgi_test::CgiResult page = Post(kVisitor);
  EXPECT_NE(Body(page).find("Unhandled Exception: " + refusal), std::string::npos) << page.output;
  EXPECT_EQ(smtp_.MessageCount(), 0);
}

// A script's JSON post gives the fields a form post gives and is answered in JSON without asking;
// a body the form cannot take is refused whole, saying why.
struct JsonBodyCase {
  const char* name;
  std::string body;
  const char* status;
  const char* answer;  // a part of the JSON answer
  const char* mail;    // a part of the mail; empty: none is sent
};

void PrintTo(const JsonBodyCase& c, std::ostream* os) {
  *os << c.name;
}

class JsonBodyTest : public ScriptAnswerTest, public ::testing::WithParamInterface<JsonBodyCase> {};

TEST_P(JsonBodyTest, JsonBodyGivesTheFormsFieldsOrIsRefused) {
  const JsonBodyCase& c = GetParam();
  ini_["Max_Request_Size"] = "200";
  ini_["Message_Text"] = "message.txt";
  WriteFile("message.txt", "N:%name%|T:%tick%|A:%age%|B:%ok%\r\n");
  const cgi_test::CgiResult result = PostBody(c.body, "Application/JSON; charset=UTF-8");
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_EQ(Header(result, "Status"), c.status) << result.output;
  EXPECT_EQ(Header(result, "Content-Type"), "application/json; charset=utf-8");
  EXPECT_NE(Body(result).find(c.answer), std::string::npos) << result.output;
  if (*c.mail) {
    EXPECT_NE(Mail(1).find(c.mail), std::string::npos) << Mail(1);
  } else {
    EXPECT_EQ(smtp_.MessageCount(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, JsonBodyTest,
    ::testing::Values(
        JsonBodyCase{
            "flat", R"( {"mail_from":"a@b.test","name":"Ann \"A\" \u00e9","age":-4.5e1,"ok":true})",
            "200 OK", R"("status":"sent")", "N:Ann \"A\" =C3=A9|T:**|A:-4.5e1|B:true"},
        JsonBodyCase{
            "arrays",
            R"({"mail_from":"a@b.test","tick":["x",2,false],"name":"\ud83d\ude00","ok":[]})",
            "200 OK", R"("status":"sent")", "N:=F0=9F=98=80|T:x\r\n2\r\nfalse|A:**|B:**"},
        JsonBodyCase{"missing", R"({"name":"Ann"})", "422 Unprocessable Content",
                     R"("missing":["mail_from"])", ""},
        JsonBodyCase{"nested", R"({"mail_from":"a@b.test","x":{"y":1}})", "400 Bad Request",
                     "JSON body refused: a nested object", ""},
        JsonBodyCase{"array_in_array", R"({"mail_from":"a@b.test","x":[[1]]})", "400 Bad Request",
                     "an array within an array at byte 29", ""},
        JsonBodyCase{"null", R"({"mail_from":null})", "400 Bad Request", "null", ""},
        JsonBodyCase{"cut", R"({"mail_from":"a@b.test",)", "400 Bad Request",
                     "a member name (a string) was expected at byte 24", ""},
        JsonBodyCase{"top_level_array", R"(["a"])", "400 Bad Request", "not a JSON object", ""},
        JsonBodyCase{"second_object", R"({"mail_from":"a@b.test"} {"name":"B"})", "400 Bad Request",
                     "text follows the object at byte 25", ""},
        JsonBodyCase{"lone_surrogate", R"({"name":"\udc00"})", "400 Bad Request",
                     "a lone surrogate", ""},
        JsonBodyCase{"raw_latin1", "{\"name\":\"\xe9\"}", "400 Bad Request", "not UTF-8", ""},
        JsonBodyCase{"over_limit", "{\"name\":\"" + std::string(200, 'x') + "\"}",
                     "413 Content Too Large", "211 bytes sent, 200 allowed", ""}),
    [](const ::testing::TestParamInfo<JsonBodyCase>& param_info) {
      return std::string(param_info.param.name);
    });

struct PreferenceCase {
  const char* accept;
  const char* format_field;
  bool json;
};

void PrintTo(const PreferenceCase& c, std::ostream* os) {
  *os << "Accept \"" << c.accept << "\" _format \"" << c.format_field << '"';
}

class JsonPreferenceTest : public ::testing::TestWithParam<PreferenceCase> {};

TEST_P(JsonPreferenceTest, JsonOnlyWhenListedBeforeHtmlOrAskedByField) {
  EXPECT_EQ(RequestPrefersJson(GetParam().accept, GetParam().format_field), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, JsonPreferenceTest,
    ::testing::Values(
        // What browsers send for a page and for a plain form post.
        PreferenceCase{"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8", "",
                       false},
        PreferenceCase{"*/*", "", false}, PreferenceCase{"", "", false},
        PreferenceCase{"text/html, application/json", "", false},
        PreferenceCase{"Application/JSON ; q=0.5, text/html", "", true},
        PreferenceCase{"application/json", "", true},
        // q=0 means "not this one".
        PreferenceCase{"application/json;q=0, text/html", "", false},
        PreferenceCase{"text/html;q=0, application/json", "", true},
        PreferenceCase{"application/json;q=nonsense", "", false},
        PreferenceCase{"application/jsonx, text/html", "", false},
        PreferenceCase{"text/html", " JSON ", true}, PreferenceCase{"", "html", false}));

struct EscapeCase {
  const char* name;
  std::string text;
  const char* json;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
  *os << c.name;
}

// The recipient is named first; without one, the mail server is what the owner must set.
TEST(JsonAnswerTest, MissingServerIsTheOwnersToSet) {
  EXPECT_EQ(MissingJsonAnswer({"smtp_server", "mail_from"}).body,
            R"({"status":"not_configured","error":"The mail server is not configured"})");
}

class JsonStringTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStringTest, EscapesToValidUtf8Json) {
  EXPECT_EQ(JsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonStringTest,
    ::testing::Values(
        EscapeCase{"plain", "Ann <b>&", R"("Ann <b>&")"},
        EscapeCase{"quote_backslash", "a\"b\\c/", R"("a\"b\\c/")"},
        EscapeCase{"controls", std::string("\r\n\t\x01\x1f\x7f", 6) + std::string(1, '\0'),
                   R"("\r\n\t\u0001\u001f\u007f\u0000")"},
        EscapeCase{"utf8_kept", "M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x98\x80",
                   "\"M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x98\x80\""},
        EscapeCase{"line_separators",
                   "a\xe2\x80\xa8"
                   "b\xe2\x80\xa9",
                   R"("a\u2028b\u2029")"},
        EscapeCase{"latin1_byte", "M\xfcller", R"("M\ufffdller")"},
        EscapeCase{"cut_short", "ab\xe2\x82", R"("ab\ufffd\ufffd")"},
        EscapeCase{"overlong_slash", "\xc0\xaf", R"("\ufffd\ufffd")"},
        EscapeCase{"surrogate", "\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},
        EscapeCase{"beyond_unicode", "\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"}));

}  // namespace
}  // namespace gateway_test
