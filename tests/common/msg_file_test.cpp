#include "common/msg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHead =
    "<html>\n<head>\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
    "<meta name=\"GENERATOR\" content=\"Brevix BX http://www.brevix.example/\">\n"
    "<title>Brevix BX Message</title>\n</head>\n<body>\n<h1>Your Title Here</h1>\n"
    "<table border=\"1\">\n";
const std::string kFoot = "</table>\n</body>\n</html>\n";

struct LayoutCase {
  const char* name;
  int kind;
  std::vector<std::string> macros;
  std::string expected;  // the lines, each ended by "\n"
};

std::string Joined(const TStringList& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class MsgFileLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MsgFileLayoutTest, BuildsTheLayout) {
  TBXMsgFile file;
  file.Kind = static_cast<std::uint8_t>(GetParam().kind);
  file.Lines.Add("left over from an earlier build");
  for (const std::string& macro : GetParam().macros) file.Macros.Add(macro);
  file.Build();
  EXPECT_EQ(Joined(file.Lines), GetParam().expected);
}

const std::vector<std::string> kNone;
const std::vector<std::string> kOne = {"%name%"};
const std::vector<std::string> kTwo = {"%name%", "%email%"};
const std::vector<std::string> kThree = {"%name%", "%email%", "%city%"};

INSTANTIATE_TEST_SUITE_P(
    Layouts, MsgFileLayoutTest,
    ::testing::Values(
        LayoutCase{"TextNoLabel0", 0, kNone, ""}, LayoutCase{"TextNoLabel1", 0, kOne, "%name%\n"},
        LayoutCase{"TextNoLabel3", 0, kThree, "%name%\n%email%\n%city%\n"},
        LayoutCase{"TextLabel0", 1, kNone, ""},
        LayoutCase{"TextLabel2", 1, kTwo, "name: %name%\nemail: %email%\n"},
        LayoutCase{"TextLabelWithoutPercent", 1, {"ab", "x"}, ": ab\n: x\n"},
        LayoutCase{"OneColHtml0", 2, kNone, kHead + kFoot},
        LayoutCase{
            "OneColHtml2", 2, kTwo,
            kHead + "<tr>\n<td> %name%</td>\n</tr>\n<tr>\n<td> %email%</td>\n</tr>\n" + kFoot},
        LayoutCase{"TwoColHtml0", 3, kNone, kHead + kFoot},
        LayoutCase{"TwoColHtml1", 3, kOne, kHead + "<tr>\n<td> %name%</td>\n</tr>\n" + kFoot},
        LayoutCase{"TwoColHtml2", 3, kTwo,
                   kHead + "<tr>\n<td> %name%</td>\n<td> %email%</td>\n</tr>\n" + kFoot},
        LayoutCase{"TwoColHtml3", 3, kThree,
                   kHead + "<tr>\n<td> %name%</td>\n<td> %email%</td>\n</tr>\n" +
                       "<tr>\n<td> %city%</td>\n</tr>\n" + kFoot},
        LayoutCase{"LabelHtml0", 4, kNone, kHead + kFoot},
        LayoutCase{"LabelHtml2", 4, kTwo,
                   kHead + "<tr>\n<td>name</td>\n<td>%name%</td>\n</tr>\n" +
                       "<tr>\n<td>email</td>\n<td>%email%</td>\n</tr>\n" + kFoot},
        LayoutCase{"Csv0", 5, kNone, ""}, LayoutCase{"Csv1", 5, kOne, "\"%name%\"\n"},
        LayoutCase{"Csv3", 5, kThree, "\"%name%\",\"%email%\",\"%city%\"\n"},
        LayoutCase{"UnknownKind", 6, kThree, ""}),
    [](const auto& test_param) { return std::string(test_param.param.name); });

TEST(MsgFileTest, StartsWithLabelledTextAndEmptyLists) {
  const TBXMsgFile file;
  EXPECT_EQ(file.Kind, 1);
  EXPECT_TRUE(file.Lines.Empty());
  EXPECT_TRUE(file.Macros.Empty());
}

TEST(MsgFileTest, LabelLineDropsFirstAndLastCharacter) {
  EXPECT_EQ(TBXMsgFile::LabelLine("%e-mail%"), "e-mail: %e-mail%");
  EXPECT_EQ(TBXMsgFile::LabelLine("%%"), ": %%");
  EXPECT_EQ(TBXMsgFile::LabelLine("%"), ": %");
  EXPECT_EQ(TBXMsgFile::LabelLine(""), ": ");
}

TEST(MsgFileTest, CallersMayPutAListOfTheirOwn) {
  TBXMsgFile file;
  TStringList sorted(true);
  sorted.Add("%zip%");
  sorted.Add("%age%");
  file.Macros = sorted;
  file.Kind = 5;
  file.Build();
  EXPECT_EQ(Joined(file.Lines), "\"%age%\",\"%zip%\"\n");
}

}  // namespace
