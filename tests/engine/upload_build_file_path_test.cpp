// BuildFilePath: Windows-style configured names turned into paths next to the program.

#include <gtest/gtest.h>

#include <string>

#include "engine/build_file_path.h"

namespace {

struct PathCase {
  const char* base;
  const char* dir;
  bool keep_base_name;
  const char* file_name;
  bool keep_base_ext;
  const char* ext;
  const char* expected;
};

class BuildFilePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(BuildFilePathTest, BuildsExpectedPath) {
  const PathCase& c = GetParam();
  EXPECT_EQ(BuildFilePath(c.base, c.dir, c.keep_base_name, c.file_name, c.keep_base_ext, c.ext),
            c.expected);
}

constexpr const char* kProgram = "/srv/cgi-bin/brevix.cgi";

INSTANTIATE_TEST_SUITE_P(
    Paths, BuildFilePathTest,
    ::testing::Values(
        // Upload temporary files and the engine log.
        PathCase{kProgram, "Temp", false, "1234", false, "tmp", "/srv/cgi-bin/Temp/1234.tmp"},
        PathCase{kProgram, "log", true, "", false, "Log", "/srv/cgi-bin/log/brevix.Log"},
        PathCase{"/usr/lib/cgi-bin/brevix", "log", true, "", false, "Log",
                 "/usr/lib/cgi-bin/log/brevix.Log"},
        PathCase{kProgram, "", true, "", true, "", "/srv/cgi-bin/brevix.cgi"},
        PathCase{kProgram, "", false, "1234", true, "bak", "/srv/cgi-bin/1234.cgibak"},
        // The file name's own extension is used unless one is given.
        PathCase{kProgram, "Temp", false, "report.txt", false, "", "/srv/cgi-bin/Temp/report.txt"},
        PathCase{kProgram, "Temp", false, "report.txt", false, "tmp",
                 "/srv/cgi-bin/Temp/report.tmp"},
        PathCase{kProgram, "Temp", false, "archive.tar.gz", false, "",
                 "/srv/cgi-bin/Temp/archive.tar.gz"},
        PathCase{kProgram, "Temp", false, "sub.d\\name", false, "x",
                 "/srv/cgi-bin/Temp/sub.d/name.x"},
        // Absolute names: a drive letter is dropped, "/" is kept.
        PathCase{kProgram, "Temp", false, "c:\\data\\x.txt", false, "tmp", "/data/x.txt"},
        PathCase{kProgram, "Temp", false, "/var/tmp/x.txt", false, "tmp", "/var/tmp/x.txt"},
        PathCase{kProgram, "d:\\uploads", false, "1234", false, "tmp", "/uploads/1234.tmp"},
        PathCase{kProgram, "D:uploads", false, "1234", false, "tmp", "/uploads/1234.tmp"},
        PathCase{kProgram, "/var/spool/bx/", false, "1234", false, "tmp", "/var/spool/bx/1234.tmp"},
        // Relative folders, separators and collapsing.
        PathCase{kProgram, "data\\sub", false, "1234", false, "tmp",
                 "/srv/cgi-bin/data/sub/1234.tmp"},
        PathCase{kProgram, "\\Temp", false, "1234", false, "tmp", "/srv/cgi-bin/Temp/1234.tmp"},
        PathCase{kProgram, ".\\Temp\\", false, "1234", false, "tmp", "/srv/cgi-bin/Temp/1234.tmp"},
        PathCase{kProgram, "a/././b//c", false, "1234", false, "tmp",
                 "/srv/cgi-bin/a/b/c/1234.tmp"},
        PathCase{kProgram, "", false, "1234", false, "tmp", "/srv/cgi-bin/1234.tmp"},
        PathCase{"brevix.cgi", "Temp", false, "1234", false, "tmp", "Temp/1234.tmp"}));

TEST(BuildFilePathLongNameTest, LongPathsAreNotCut) {
  const std::string dir(3000, 'd');
  EXPECT_EQ(BuildFilePath(kProgram, "x//" + dir, false, "n", false, "e"),
            "/srv/cgi-bin/x/" + dir + "/n.e");
}

}  // namespace
