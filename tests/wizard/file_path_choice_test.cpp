#include <gtest/gtest.h>

#include <string>

#include "wizard/file_name_choice.h"

namespace {

struct ChoiceCase {
  const char* name;
  std::string selected;
  std::string file_name;
  std::string relative;
};

class FileNameChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(FileNameChoiceTest, EachChoiceProposesItsPartOfThePath) {
  const ChoiceCase& c = GetParam();
  EXPECT_EQ(ProposeFileName(c.selected, TFileNameChoice::FileName), c.file_name);
  EXPECT_EQ(ProposeFileName(c.selected, TFileNameChoice::RelativePath), c.relative);
  EXPECT_EQ(ProposeFileName(c.selected, TFileNameChoice::FullPath), c.selected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileNameChoiceTest,
    testing::Values(ChoiceCase{"LinuxAbsolute", "/srv/www/forms/thanks.htm", "thanks.htm",
                               "srv/www/forms/thanks.htm"},
                    ChoiceCase{"LinuxDoubleSlash", "//srv/x.htm", "x.htm", "srv/x.htm"},
                    ChoiceCase{"WindowsDrive", "C:\\web\\forms\\thanks.htm", "thanks.htm",
                               "\\web\\forms\\thanks.htm"},
                    ChoiceCase{"WindowsNetwork", "\\\\server\\share\\page.htm", "page.htm",
                               "server\\share\\page.htm"},
                    ChoiceCase{"MixedSeparators", "/home/o/site\\pages/a.txt", "a.txt",
                               "home/o/site\\pages/a.txt"},
                    ChoiceCase{"AlreadyRelative", "pages/a.txt", "a.txt", "pages/a.txt"},
                    ChoiceCase{"BareName", "a.txt", "a.txt", "a.txt"},
                    // On Linux a colon is part of a file name, not a drive mark.
                    ChoiceCase{"ColonInLinuxName", "/data/report:v2.txt", "report:v2.txt",
                               "data/report:v2.txt"},
                    ChoiceCase{"TrailingSlash", "/srv/www/", "", "srv/www/"},
                    ChoiceCase{"Empty", "", "", ""}),
    [](const testing::TestParamInfo<ChoiceCase>& param_info) {
      return std::string(param_info.param.name);
    });

// The relative path was once cut to 255 characters, which named a file that does not exist.
TEST(FileNameChoiceLongPathTest, RelativePathIsNeverCutShort) {
  const std::string folder = "/" + std::string(300, 'd');
  const std::string path = folder + "/page.htm";
  EXPECT_EQ(RelativePathOf(path), path.substr(1));
}

TEST(FileNameChoiceFolderTest, FolderPartKeepsItsClosingSeparator) {
  EXPECT_EQ(FolderPartOf("/srv/www/a.txt"), "/srv/www/");
  EXPECT_EQ(FolderPartOf("C:\\x\\a.txt"), "C:\\x\\");
  EXPECT_EQ(FolderPartOf("a.txt"), "");
  EXPECT_EQ(FolderPartOf(""), "");
}

}  // namespace
