#include <gtest/gtest.h>

#include <string>

#include "engine/http_engine.h"
#include "engine/http_master.h"
#include "page_request.h"

namespace {

using page_test::ServeGet;

std::string Page(THttpMaster& master, const std::string& query = "") {
  return ServeGet(query, {}, [&] { master.Execute(); }).body;
}

TEST(HttpMasterTest, WritesTheSkeletonAroundTheBody) {
  THttpMaster master;
  master.Title = "Error!";
  master.OnHtmlBody = [] { HttpWriteLn("Unexpected Error!"); };
  EXPECT_EQ(Page(master),
            "<HTML>\r\n<HEAD>\r\n<TITLE>Error!</TITLE>\r\n</HEAD>\r\n<BODY>\r\n"
            "Unexpected Error!\r\n</BODY>\r\n</HTML>\r\n");
}

TEST(HttpMasterTest, WritesEveryOptionInItsPlace) {
  THttpMaster master;
  master.Title = "T";
  master.HeadOptions = "lang=en";
  master.BodyOptions = "onload=\"go()\"";
  master.Background = "bg.gif";
  master.Address = "Brevix";
  master.OnHtmlHead = [] { HttpWriteLn("<META NAME=\"x\">"); };
  master.OnHtmlBody = [] { HttpWrite("body"); };
  EXPECT_EQ(Page(master),
            "<HTML>\r\n<HEAD lang=en>\r\n<TITLE>T</TITLE>\r\n<META NAME=\"x\">\r\n</HEAD>\r\n"
            "<BODY BACKGROUND=\"bg.gif\" onload=\"go()\">\r\nbody</BODY>\r\n</HTML>\r\n"
            "<ADDRESS>Brevix</ADDRESS>\r\n");
}

struct TColorCase {
  const char* label;
  TBodyColors colors;
  const char* body_tag;
};

class HttpMasterColorTest : public ::testing::TestWithParam<TColorCase> {};

TEST_P(HttpMasterColorTest, WritesColoursAsRedGreenBlue) {
  THttpMaster master;
  master.Colors = GetParam().colors;
  const std::string page = Page(master);
  const std::string expected = std::string("</HEAD>\r\n") + GetParam().body_tag + "\r\n</BODY>";
  EXPECT_NE(page.find(expected), std::string::npos) << GetParam().label << "\n" << page;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpMasterColorTest,
    ::testing::Values(TColorCase{"none", TBodyColors{}, "<BODY>"},
                      TColorCase{"fuchsia background",
                                 TBodyColors{clFuchsia, clNone, clNone, clNone, clNone},
                                 "<BODY BGCOLOR=\"#FF00FF\">"},
                      TColorCase{"black text", TBodyColors{clNone, clBlack, clNone, clNone, clNone},
                                 "<BODY TEXT=\"#000000\">"},
                      TColorCase{"all five in order",
                                 TBodyColors{clRed, 0x123456, clLime, clBlue, 0xABCDEF},
                                 "<BODY BGCOLOR=\"#FF0000\" TEXT=\"#563412\" LINK=\"#00FF00\" "
                                 "VLINK=\"#0000FF\" ALINK=\"#EFCDAB\">"}));

TEST(HttpMasterTest, RefreshPointsBackAtTheProgramWithTheQuery) {
  THttpMaster master;
  master.Title = "Wait";
  master.RefreshInterval = 5;
  EXPECT_EQ(Page(master),
            "<HTML>\r\n<HEAD>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"5; "
            "URL=/cgi-bin/brevix.cgi\"><TITLE>Wait</TITLE>\r\n</HEAD>\r\n<BODY>\r\n</BODY>\r\n"
            "</HTML>\r\n");
  EXPECT_NE(Page(master, "a=1&b=2").find("CONTENT=\"5; URL=/cgi-bin/brevix.cgi?a=1&amp;b=2\">"),
            std::string::npos);
}

// Regression: the query string is the visitor's; a raw double quote in it ended the attribute
// and let the rest of the query become markup.
TEST(HttpMasterTest, RefreshEscapesTheRequestsQuery) {
  THttpMaster master;
  master.RefreshInterval = 1;
  const std::string page = Page(master, "x=\"><script>alert(1)</script>");
  EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
  EXPECT_NE(page.find("?x=&quot;&gt;&lt;script&gt;"), std::string::npos) << page;
}

TEST(HttpMasterTest, ZeroOrNegativeRefreshWritesNoMeta) {
  THttpMaster master;
  for (int interval : {0, -3}) {
    master.RefreshInterval = interval;
    EXPECT_EQ(Page(master).find("META"), std::string::npos) << interval;
  }
}

TEST(HttpMasterTest, OutsideARequestNothingIsKept) {
  THttpMaster master;
  master.Title = "stale";
  TCGIStdEngine idle;  // a current engine, but no request in progress
  master.Execute();
  EXPECT_EQ(ServeGet("", {}, [] { HttpWrite("fresh"); }).body, "fresh");
}

}  // namespace
