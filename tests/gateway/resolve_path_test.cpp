#include "gateway/resolve_path.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct ResolveCase {
  const char* name;
  const char* expected;
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
  *os << '"' << c.name << '"';
}

class ResolvePathTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolvePathTest, MapsConfiguredNameOntoDisk) {
  EXPECT_EQ(ResolvePathIn("/srv/cgi-bin/", GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResolvePathTest,
    ::testing::Values(
        // A drive letter makes the name absolute; the drive itself means nothing here.
        ResolveCase{"c:\\data\\results.txt", "/data/results.txt"},
        ResolveCase{"D:/data/results.txt", "/data/results.txt"},
        ResolveCase{"c:results.txt", "/results.txt"},
        // Both spellings of a relative name land in the program directory.
        ResolveCase{"data\\results.txt", "/srv/cgi-bin/data/results.txt"},
        ResolveCase{"\\data\\results.txt", "/srv/cgi-bin/data/results.txt"},
        ResolveCase{"data/results.txt", "/srv/cgi-bin/data/results.txt"},
        ResolveCase{"/var/log/x.txt", "/var/log/x.txt"},
        ResolveCase{"brevix-error.txt", "/srv/cgi-bin/brevix-error.txt"},
        // An empty name is the program directory itself, which is never a file.
        ResolveCase{"", "/srv/cgi-bin/"}, ResolveCase{"1:x", "/srv/cgi-bin/1:x"}));

TEST(ResolvePathDirTest, AddsMissingSeparatorToProgramDir) {
  EXPECT_EQ(ResolvePathIn("/srv/cgi-bin", "a.txt"), "/srv/cgi-bin/a.txt");
}

TEST(ResolvePathDirTest, UsesFolderOfRunningProgram) {
  const std::string resolved = ResolvePath("x.txt");
  ASSERT_FALSE(resolved.empty());
  EXPECT_EQ(resolved[0], '/');
  EXPECT_EQ(resolved.substr(resolved.size() - 6), "/x.txt");
}

struct SafeCase {
  const char* name;
  bool safe;
};

void PrintTo(const SafeCase& c, std::ostream* os) {
  *os << '"' << c.name << '"';
}

class SafeFormFileNameTest : public ::testing::TestWithParam<SafeCase> {};

TEST_P(SafeFormFileNameTest, RefusesNamesLeavingProgramDirectory) {
  EXPECT_EQ(IsSafeFormFileName(GetParam().name), GetParam().safe) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeFormFileNameTest,
    ::testing::Values(SafeCase{"thanks.htm", true}, SafeCase{"pages\\thanks.htm", true},
                      SafeCase{"\\pages\\thanks.htm", true}, SafeCase{"a..b.txt", true},
                      SafeCase{"...", true}, SafeCase{"", true}, SafeCase{"/etc/passwd", false},
                      SafeCase{"c:\\boot.ini", false}, SafeCase{"C:x", false},
                      SafeCase{"..", false}, SafeCase{"..\\brevix.ini", false},
                      SafeCase{"pages/../../x", false}, SafeCase{"pages\\..", false},
                      SafeCase{"a\\..\\b", false}, SafeCase{"x.txt\n", false},
                      SafeCase{"\t", false}));

TEST(SafeFormFileNameTest, RefusesEmbeddedNul) {
  // "%00" decodes to a NUL that would cut the name short on its way to open().
  EXPECT_FALSE(IsSafeFormFileName(std::string("..\0/x", 5)));
  EXPECT_FALSE(IsSafeFormFileName(std::string("ok.htm\0", 7)));
}

TEST(HtmExtensionTest, HtmAndHtmlSwitchToHtml) {
  EXPECT_TRUE(HasHtmExtension("thanks.HTM"));
  EXPECT_TRUE(HasHtmExtension("c:\\x\\thanks.htm"));
  EXPECT_TRUE(HasHtmExtension("thanks.HTML"));
  EXPECT_FALSE(HasHtmExtension("thanks.xhtml.txt"));
  EXPECT_FALSE(HasHtmExtension("thanks.txt"));
  EXPECT_FALSE(HasHtmExtension("htm"));
}

}  // namespace
