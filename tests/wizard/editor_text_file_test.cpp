#include "wizard/editor_text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/exception.h"

namespace {

struct RoundTripCase {
  const char* name;
  std::string file;
  QString text;
  bool latin1;
  std::string saved;
};

class EditorTextRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(EditorTextRoundTripTest, ReadsLinesAndWritesThemWithCrLf) {
  const RoundTripCase& c = GetParam();
  const TEditorText text = DecodeEditorText(c.file);
  EXPECT_EQ(text.text, c.text);
  EXPECT_EQ(text.latin1, c.latin1);
  EXPECT_EQ(EncodeEditorText(text.text, text.latin1), c.saved);
}

INSTANTIATE_TEST_SUITE_P(
    Files, EditorTextRoundTripTest,
    testing::Values(
        RoundTripCase{"Empty", "", "", false, ""},
        RoundTripCase{"CrLf", "Dear %name%\r\nThanks\r\n", "Dear %name%\nThanks", false,
                      "Dear %name%\r\nThanks\r\n"},
        RoundTripCase{"LfAndLoneCr", "a\nb\rc", "a\nb\nc", false, "a\r\nb\r\nc\r\n"},
        RoundTripCase{"EmptyLinesKept", "a\r\n\r\n\r\nb\r\n\r\n", "a\n\n\nb\n", false,
                      "a\r\n\r\n\r\nb\r\n\r\n"},
        RoundTripCase{"Utf8StaysUtf8",
                      "Gr\xC3\xBC\xC3\x9F"
                      "e\r\n",
                      QString::fromUtf8("Grüße"), false,
                      "Gr\xC3\xBC\xC3\x9F"
                      "e\r\n"},
        // Bytes that are not UTF-8 are shown one character per byte and written back unchanged.
        RoundTripCase{"Latin1StaysLatin1", "caf\xE9\xA0!\r\n", QString::fromUtf8("café\u00A0!"),
                      true, "caf\xE9\xA0!\r\n"}),
    [](const testing::TestParamInfo<RoundTripCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(EditorTextEncodeTest, CharactersBeyondLatin1AreWrittenAsUtf8) {
  EXPECT_EQ(EncodeEditorText(QString::fromUtf8("€5"), true),
            "\xE2\x82\xAC"
            "5\r\n");
}

TEST(EditorTextEncodeTest, ParagraphAndLineSeparatorsEndLines) {
  const QString text = QString("a") + QChar(QChar::ParagraphSeparator) + "b" +
                       QChar(QChar::LineSeparator) + "c\r\nd";
  EXPECT_EQ(EncodeEditorText(text, false), "a\r\nb\r\nc\r\nd\r\n");
}

class EditorTextFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bx-editor-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  int EntriesInDir() const {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir_),
                                          std::filesystem::directory_iterator()));
  }

  std::string dir_;
};

TEST_F(EditorTextFileTest, WriteReplacesFileKeepingItsPermissions) {
  const std::string path = dir_ + "/message.txt";
  std::ofstream(path) << "old content that is longer\r\n";
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  WriteMessageTextFile(path, "new\r\n");
  EXPECT_EQ(Slurp(path), "new\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(EntriesInDir(), 1);  // no temporary file left behind
  EXPECT_EQ(ReadMessageTextFile(path), "new\r\n");
}

TEST_F(EditorTextFileTest, NewFileGetsUsualPermissions) {
  const std::string path = dir_ + "/fresh.txt";
  const mode_t mask = ::umask(022);
  WriteMessageTextFile(path, "x\r\n");
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(EditorTextFileTest, WriteThroughSymlinkReplacesTheTarget) {
  const std::string target = dir_ + "/target.txt";
  const std::string link = dir_ + "/link.txt";
  std::ofstream(target) << "old";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  WriteMessageTextFile(link, "new\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Slurp(target), "new\r\n");
}

TEST_F(EditorTextFileTest, FailuresRaiseWithTheFileName) {
  const std::string missing_folder = dir_ + "/no/such/folder.txt";
  try {
    WriteMessageTextFile(missing_folder, "x");
    FAIL() << "write into a missing folder succeeded";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Cannot create file \"" + missing_folder + "\"");
  }
  // A folder in the way is left alone.
  EXPECT_THROW(WriteMessageTextFile(dir_, "x"), Exception);
  EXPECT_TRUE(std::filesystem::is_directory(dir_));

  try {
    ReadMessageTextFile(dir_ + "/missing.txt");
    FAIL() << "reading a missing file succeeded";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Cannot open file \"" + dir_ + "/missing.txt\"");
  }
  EXPECT_THROW(ReadMessageTextFile(dir_), Exception);
}

}  // namespace
