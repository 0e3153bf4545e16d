#include "engine/adapters/win_cgi_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/exception.h"

namespace {

namespace fs = std::filesystem;

// "@" in a fixture stands for the test's folder (with its trailing "/").
std::string Expand(const std::string& text, const std::string& dir) {
  std::string out;
  for (char c : text) {
    if (c == '@') {
      out += dir;
    } else {
      out += c;
    }
  }
  return out;
}

// Every profile names its output file; the cases add their sections around this one.
const std::string kSystem = "[System]\r\nOutput File=@out.txt\r\n";
const std::string kOutputVariable = "Output_File=@out.txt";

struct ProfileCase {
  std::string name;
  std::string profile;                       // "@" is the test folder
  std::map<std::string, std::string> files;  // further files in the test folder
  std::vector<std::string> variables;        // every variable, in order ("@" is the folder)
  std::optional<std::string> body;           // the request body; nullopt: none
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
  *os << c.name;
}

class WinCGIProfileTest : public ::testing::TestWithParam<ProfileCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevix-wincgi-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(dir_ + name, std::ios::binary) << content;
  }
  std::string Profile(const std::string& text) const {
    Write("request.ini", Expand(text, dir_));
    return dir_ + "request.ini";
  }

  static std::string ReadAll(TStream& stream) {
    std::string text;
    char buffer[4096];
    for (int n; (n = stream.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
  }

  std::string dir_;
};

TEST_P(WinCGIProfileTest, GivesTheRequestItsVariablesAndBody) {
  const ProfileCase& c = GetParam();
  for (const auto& [name, content] : c.files) Write(name, content);
  TWinCGIRequest request = ReadWinCGIProfile(Profile(c.profile));

  std::vector<std::string> variables;
  for (int i = 0; i < request.Variables->Count(); ++i) variables.push_back((*request.Variables)[i]);
  std::vector<std::string> expected;
  for (const std::string& item : c.variables) expected.push_back(Expand(item, dir_));
  EXPECT_EQ(variables, expected);

  ASSERT_EQ(request.Input != nullptr, c.body.has_value());
  if (c.body) {
    EXPECT_EQ(ReadAll(*request.Input), *c.body);
  }
  EXPECT_EQ(request.OutputPath, dir_ + "out.txt");
  ASSERT_NE(request.Output, nullptr);
}

const std::string kLong(20000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Profiles, WinCGIProfileTest,
    ::testing::Values(
        // Blanks in keys become "_", dashes stay; keys and values are trimmed; lines without
        // "=", with an empty key, and in other sections give nothing.
        ProfileCase{"sections_to_variables",
                    "[CGI]\r\nRequest Method=POST\r\n  Content Length = 12 \r\nno equals\r\n"
                    "=orphan\r\n" +
                        kSystem +
                        "[Extra Headers]\r\nAccept-Language=de, en\r\nUser Agent=Test/1\r\n"
                        "[Form Huge]\r\nbig=@x 100\r\n[Unknown]\r\nIgnored=1\r\n",
                    {},
                    {"Request_Method=POST", "Content_Length=12", kOutputVariable,
                     "Accept-Language=de, en", "User_Agent=Test/1"},
                    std::nullopt},
        // Section names compare upper-cased, trimmed, with blanks as "_".
        ProfileCase{"section_names_loosely_spelled",
                    "[ cgi ]\r\nQuery String=a=1\r\n[system]\r\nOutput File=@out.txt\r\n"
                    "[extra  headers]\r\nNot=read\r\n[extra headers ]\r\nCookie=c\r\n",
                    {},
                    {"Query_String=a=1", kOutputVariable, "Cookie=c"},
                    std::nullopt},
        // Only CR ends a line: an LF alone stays inside the value; the LF after a CR falls away
        // with the left trim.
        ProfileCase{"cr_ends_a_line",
                    kSystem + "[CGI]\r\nA=1\nB=2\r\n\n\n  C=3\r\n",
                    {},
                    {kOutputVariable, "A=1\nB=2", "C=3"},
                    std::nullopt},
        // The last line is used only when a CR ends it.
        ProfileCase{"last_line_without_cr_dropped",
                    kSystem + "[CGI]\r\nKept=1\r\nLost=2\n",
                    {},
                    {kOutputVariable, "Kept=1"},
                    std::nullopt},
        // 16383 characters of a line are taken (the LF after the previous CR among them); the
        // rest of the line up to its CR is dropped, not read as a line of its own.
        ProfileCase{"long_line_cut",
                    kSystem + "[CGI]\r\nLong=" + kLong + "Tail=1\r\nAfter=2\r\n",
                    {},
                    {kOutputVariable, "Long=" + std::string(kProfileLineLimit - 6, 'x'), "After=2"},
                    std::nullopt},
        // [Accept]: the keys at Yes, in order, as one variable added after the whole profile.
        ProfileCase{"accept_yes_keys",
                    "[Accept]\r\ntext/html=Yes\r\nimage/gif=no\r\n*/*=yES\r\n"
                    "text/plain=q=0.5\r\n" +
                        kSystem + "[CGI]\r\nZ=1\r\n",
                    {},
                    {kOutputVariable, "Z=1", "HTTP_ACCEPT=text/html,*/*"},
                    std::nullopt},
        ProfileCase{"accept_none_at_yes",
                    "[Accept]\r\ntext/html=No\r\nimage/gif=\r\n" + kSystem,
                    {},
                    {kOutputVariable},
                    std::nullopt},
        // [Form Literal]: name and value url-encoded (a name with "&" or "+" once reached the
        // decoder as two fields or another name), every pair ends with "&"; the body so built
        // carries its own length.
        ProfileCase{"form_literal",
                    kSystem + "[Form Literal]\r\nname=Jo Smith & co\r\nnote=a/b.c=d%\xE9\r\n"
                              "x&mail_to+1=v\r\n",
                    {},
                    {kOutputVariable, "Content_Length=62"},
                    "name=Jo+Smith+%26+co&note=a/b.c%3Dd%25%E9&x%26mail%5Fto%2B1=v&"},
        // [Form External]: exactly the announced bytes, after the literal fields; an external
        // field alone creates the body too.
        ProfileCase{"form_external_after_literal",
                    kSystem + "[Form Literal]\r\na=1\r\n[Form External]\r\nbody=@ext 13\r\n"
                              "head=@ext 5\r\n",
                    {{"ext", "hello world\r\nline 2"}},
                    {kOutputVariable, "Content_Length=38"},
                    "a=1&body=hello+world%0D%0A&head=hello&"},
        ProfileCase{"form_external_alone",
                    kSystem + "[Form External]\r\nempty=@ext 0\r\ntext=@ext 2\r\n",
                    {{"ext", "ok"}},
                    {kOutputVariable, "Content_Length=15"},
                    "empty=&text=ok&"},
        // A field whose file is missing, shorter than its count, a folder, or whose count is not
        // at most ten digits, is left out; the others stay.
        ProfileCase{"form_external_unreadable_dropped",
                    kSystem + "[Form External]\r\nmissing=@nothing 3\r\nshort=@ext 6\r\n"
                              "folder=@ 0\r\nhuge=@ext 99999999999\r\nword=@ext five\r\n"
                              "bare=@ext\r\nfine=@ext 5\r\n",
                    {{"ext", "12345"}},
                    {kOutputVariable, "Content_Length=11"},
                    "fine=12345&"},
        ProfileCase{"form_external_all_dropped_no_body",
                    kSystem + "[Form External]\r\nmissing=@nothing 3\r\n",
                    {},
                    {kOutputVariable},
                    std::nullopt},
        // CONTENT_FILE, when it exists, is the body as it is, whatever the form sections hold.
        ProfileCase{"content_file_beats_form_fields",
                    kSystem + "[CGI]\r\nContent File=@body\r\n[Form Literal]\r\na=1\r\n",
                    {{"body", "raw=body&x=%41"}},
                    {kOutputVariable, "Content_File=@body"},
                    "raw=body&x=%41"},
        ProfileCase{"missing_content_file_leaves_form_fields",
                    kSystem + "[CGI]\r\nContent File=@nothing\r\n[Form Literal]\r\na=1\r\n",
                    {},
                    {kOutputVariable, "Content_File=@nothing", "Content_Length=4"},
                    "a=1&"}),
    [](const ::testing::TestParamInfo<ProfileCase>& param) { return param.param.name; });

struct BrokenProfile {
  std::string name;
  std::string profile;  // empty: no profile file at all
  std::string message;  // a part of the exception's message
};

class WinCGIProfileFailureTest : public WinCGIProfileTest {};

TEST_F(WinCGIProfileFailureTest, RefusesWithAMessageThatNamesTheFault) {
  const std::vector<BrokenProfile> cases = {
      {"no_profile", "", "Cannot open the Windows CGI profile"},
      {"no_output_file", "[CGI]\r\nRequest Method=GET\r\n", "names no output file (OUTPUT_FILE)"},
      {"output_file_on_last_line", "[System]\r\nOutput File=@out.txt", "OUTPUT_FILE"},
      {"output_folder_missing", "[System]\r\nOutput File=@no/such/out.txt\r\n",
       "Cannot create file"},
  };
  for (const BrokenProfile& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = c.profile.empty() ? dir_ + "absent.ini" : Profile(c.profile);
    try {
      ReadWinCGIProfile(path);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
  }
}

// An output file that is already there is emptied (a stale answer's tail must not follow the new
// answer); a missing one is created. Either way the answer alone reaches it.
TEST_F(WinCGIProfileFailureTest, OutputFileIsOpenedOrCreatedForWriting) {
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "existing" : "created");
    fs::remove(dir_ + "out.txt");
    if (existing) Write("out.txt", "an older and much longer answer that must not survive");
    {
      TWinCGIRequest request = ReadWinCGIProfile(Profile(kSystem));
      request.Output->WriteString("Status: 200 OK\r\n\r\n");
    }
    std::ifstream in(dir_ + "out.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "Status: 200 OK\r\n\r\n");
  }
}

}  // namespace
