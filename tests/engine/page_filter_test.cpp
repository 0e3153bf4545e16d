#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/exception.h"
#include "engine/file_filter.h"
#include "engine/http_engine.h"
#include "engine/memo_filter.h"
#include "page_request.h"
#include "platform/module_path.h"

namespace {

using page_test::ServeGet;

// Fields of every request here: name, n, a field named like a server variable, one sent empty,
// and one holding markup.
const char kQuery[] =
    "name=Ann&n=12&REMOTE_ADDR=from-the-form&blank=&"
    "html=%3Cscript%3Ealert(%27x%27)%3C%2Fscript%3E%22%26";

std::string RunMemo(THttpMemoFilter& memo, const std::string& query = kQuery) {
  return ServeGet(query, {{"HTTP_REFERER", "http://site.test/form.htm?a=1&b=<2>"}},
                  [&] { memo.Execute(); })
      .body;
}

std::string RunMemoText(const std::string& line, const std::string& query = kQuery) {
  THttpMemoFilter memo;
  memo.Text().Add(line);
  return RunMemo(memo, query);
}

struct TPageCase {
  const char* label;
  const char* line;
  const char* body;  // the line's output, without its CR LF
};

class MemoFilterTableTest : public ::testing::TestWithParam<TPageCase> {};

TEST_P(MemoFilterTableTest, AnswersEntriesFromTheRequest) {
  EXPECT_EQ(RunMemoText(GetParam().line), std::string(GetParam().body) + "\r\n")
      << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MemoFilterTableTest,
    ::testing::Values(
        TPageCase{"field", "Thank you, %name%.", "Thank you, Ann."},
        TPageCase{"server variable wins over a field", "%REMOTE_ADDR%", "192.0.2.10"},
        TPageCase{"server variable by alias", "%referer%",
                  "http://site.test/form.htm?a=1&amp;b=&lt;2&gt;"},
        TPageCase{"field value escaped", "%html%",
                  "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&quot;&amp;"},
        TPageCase{"empty field", "[%blank%]", "[]"},
        TPageCase{"unknown entry", "[%nothing%]", "[]"},
        TPageCase{"trailing delimiter", "Up to 50%", "Up to 50%"},
        TPageCase{"numeric condition", "#IF (VAL(FORMVAR(\"n\")) > 10)#big#ELSE#small#ENDIF#",
                  "big"},
        TPageCase{"text condition", "#IF (FORMVAR(\"name\")=\"ANN\")#hi#ENDIF#", "hi"},
        TPageCase{"server variable condition",
                  "#IF (SERVERVAR(\"remote_addr\")=\"192.0.2.10\") AND (1=1)#local#ENDIF#",
                  "local"}));

TEST(MemoFilterTest, EndsEveryLineWithCrLf) {
  THttpMemoFilter memo;
  TStringList lines;
  lines.Add("<HTML>");
  lines.Add("");
  lines.Add("%name%");
  memo.SetText(lines);
  lines.Add("not copied");
  EXPECT_EQ(RunMemo(memo), "<HTML>\r\n\r\nAnn\r\n");
}

// The text with every run of digits replaced by one "9", so clock values can be compared by
// their shape.
std::string Shape(const std::string& text) {
  std::string shape;
  for (char c : text) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit) {
      shape += c;
    } else if (shape.empty() || shape.back() != '9') {
      shape += '9';
    }
  }
  return shape;
}

TEST(MemoFilterTest, EmptyFieldsDoNotFallThroughToTimeAndDate) {
  EXPECT_EQ(RunMemoText("[%TIME%][%DATE%]", "TIME=&DATE="), "[][]\r\n");
  const std::string shape = Shape(RunMemoText("[%TIME%][%DATE%][%time%]", ""));
  EXPECT_TRUE(shape == "[9:9:9 AM][9/9/9][]\r\n" || shape == "[9:9:9 PM][9/9/9][]\r\n") << shape;
}

TEST(MemoFilterTest, RandomHiddenInputIsWrittenAsMarkup) {
  EXPECT_EQ(Shape(RunMemoText("%RANDOM_HIDDEN_INPUT%", "")),
            "<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"9\">\r\n");
}

TEST(MemoFilterTest, HandlerAnswersFirstAndDeclinedEntriesUseTheRequest) {
  THttpMemoFilter memo;
  memo.Text().Add("%error_desc% %name% %reference(7)%");
  std::vector<std::string> names;
  memo.OnHttpEntry = [&](const std::string& entry_name, bool& handled) {
    names.push_back(entry_name);
    if (entry_name == "error_desc") {
      HttpWrite("<b>none</b>");
    } else {
      handled = false;
    }
  };
  EXPECT_EQ(RunMemo(memo), "<b>none</b> Ann \r\n");
  EXPECT_EQ(names, (std::vector<std::string>{"error_desc", "name", "reference"}));
}

TEST(MemoFilterTest, LogicalEntriesAskTheHandler) {
  THttpMemoFilter memo;
  memo.Text().Add("#IF Member#members#ELSEIF Guest#guests#ELSE#nobody#ENDIF#");
  memo.OnHttpLogicalEntry = [](const std::string& name, bool& value) { value = name == "Guest"; };
  EXPECT_EQ(RunMemo(memo), "guests\r\n");
}

TEST(MemoFilterTest, EveryRunStartsAtTheBaseLevel) {
  THttpMemoFilter unclosed;
  unclosed.Text().Add("a#IF (1=2)#b");
  THttpMemoFilter next;
  next.Text().Add("c");
  const std::string body = ServeGet("", {}, [&] {
                             unclosed.Execute();
                             next.Execute();
                           }).body;
  // The open IF hides the rest of the first text, its line end included.
  EXPECT_EQ(body, "ac\r\n");
}

TEST(MemoFilterTest, HandlerMayRunAnotherFilter) {
  THttpMemoFilter inner;
  inner.Text().Add("#IF (1=1)#[inner]");  // leaves an IF open
  THttpMemoFilter outer;
  outer.Text().Add("#IF (1=2)#hidden %x% #ELSE#shown %x% #ENDIF#after");
  outer.OnHttpEntry = [&](const std::string&, bool&) { inner.Execute(); };
  EXPECT_EQ(RunMemo(outer), "shown [inner]\r\n after\r\n");
}

// A page folder below the program's folder, removed again by the fixture.
class FileFilterTest : public ::testing::Test {
 protected:
  FileFilterTest()
      : folder_name_("page_filter_test_" + std::to_string(getpid())),
        folder_(ProgramDir() + folder_name_) {
    std::filesystem::create_directories(folder_);
  }
  ~FileFilterTest() override { std::filesystem::remove_all(folder_); }

  static void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }

  std::string folder_name_;
  std::string folder_;
};

TEST_F(FileFilterTest, ReadsARelativeNameBelowTheProgramFolder) {
  // Bigger than one read piece, so the file is read in several.
  const std::string filler(10000, 'x');
  WriteFile(folder_ + "/answer.htm", "Hello %name%!\r\n" + filler + "\r\n#IF (1=1)#end#ENDIF#");
  THttpFileFilter filter;
  filter.SetFileName(folder_name_ + "\\answer.htm");
  EXPECT_EQ(ServeGet(kQuery, {}, [&] { filter.Execute(); }).body,
            "Hello Ann!\r\n" + filler + "\r\nend");
}

TEST_F(FileFilterTest, ReadsAnAbsoluteName) {
  WriteFile(folder_ + "/abs.htm", "%n%");
  THttpFileFilter filter;
  filter.SetFileName(folder_ + "/abs.htm");
  EXPECT_EQ(ServeGet(kQuery, {}, [&] { filter.Execute(); }).body, "12");
}

TEST_F(FileFilterTest, EmptyNameReadsThePageNamedAfterTheProgram) {
  const std::string page = THttpFileFilter::DefaultPageFile(ModuleFileName());
  WriteFile(page, "default page");
  THttpFileFilter filter;
  const std::string body = ServeGet("", {}, [&] { filter.Execute(); }).body;
  std::filesystem::remove(page);
  EXPECT_EQ(body, "default page");
  EXPECT_EQ(filter.FileName(), page);
}

TEST_F(FileFilterTest, MissingFileRaisesAndWritesNothing) {
  THttpFileFilter filter;
  filter.SetFileName(folder_name_ + "/missing.htm");
  std::string message;
  const std::string body = ServeGet("", {}, [&] {
                             HttpWrite("before ");
                             try {
                               filter.Execute();
                             } catch (const Exception& e) {
                               message = e.Message();
                             }
                           }).body;
  EXPECT_EQ(body, "before ");
  EXPECT_NE(message.find("missing.htm"), std::string::npos) << message;
}

TEST_F(FileFilterTest, UnreadableFileRaises) {
  THttpFileFilter filter;
  filter.SetFileName(folder_name_);  // a folder opens but cannot be read
  EXPECT_THROW(filter.Execute(), Exception);
}

struct TPathCase {
  const char* file_name;
  const char* path;
};

class PagePathTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(PagePathTest, Resolves) {
  EXPECT_EQ(THttpFileFilter::ResolvePagePath(GetParam().file_name, "/srv/cgi-bin/"),
            GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PagePathTest,
    ::testing::Values(TPathCase{"thanks.htm", "/srv/cgi-bin/thanks.htm"},
                      TPathCase{"pages\\thanks.htm", "/srv/cgi-bin/pages/thanks.htm"},
                      TPathCase{"\\pages\\thanks.htm", "/srv/cgi-bin/pages/thanks.htm"},
                      TPathCase{"c:\\www\\thanks.htm", "/www/thanks.htm"},
                      TPathCase{"D:/www/thanks.htm", "/www/thanks.htm"},
                      TPathCase{"c:thanks.htm", "/thanks.htm"},
                      TPathCase{"/var/www/thanks.htm", "/var/www/thanks.htm"}));

struct TDefaultCase {
  const char* module;
  const char* page;
};

class DefaultPageTest : public ::testing::TestWithParam<TDefaultCase> {};

TEST_P(DefaultPageTest, IsTheProgramsNameWithHtm) {
  EXPECT_EQ(THttpFileFilter::DefaultPageFile(GetParam().module), GetParam().page);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultPageTest,
    ::testing::Values(TDefaultCase{"/srv/cgi-bin/brevix.exe", "/srv/cgi-bin/brevix.htm"},
                      TDefaultCase{"/srv/cgi-bin/brevix.cgi", "/srv/cgi-bin/brevix.htm"},
                      TDefaultCase{"/srv/cgi-bin/brevix.cgi.old", "/srv/cgi-bin/brevix.htm"},
                      // Regression: a dot in a folder name cut the path short.
                      TDefaultCase{"/home/a.b/brevix.cgi", "/home/a.b/brevix.htm"},
                      TDefaultCase{"/srv/cgi-bin/brevix", "/srv/cgi-bin/brevix.htm"}));

}  // namespace
