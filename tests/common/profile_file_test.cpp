#include "common/profile_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/exception.h"
#include "common/temp_folder.h"

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  TempFolder folder_;
};

struct ReadCase {
  const char* name;
  const char* content;
  const char* section;
  const char* key;
  const char* expected;  // with the default "<default>"
};

class ProfileReadTest : public ::testing::TestWithParam<ReadCase> {
 protected:
  TempFolder folder_;
};

TEST_P(ProfileReadTest, ReadsWithTheRulesOfProfileFiles) {
  const ReadCase& c = GetParam();
  const std::string file = folder_.Write("test.ini", c.content);
  EXPECT_EQ(ReadProfileString(file, c.section, c.key, "<default>"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileReadTest,
    ::testing::Values(
        ReadCase{"PlainValue", "[Options]\r\nMail_To=a@b.example\r\n", "Options", "Mail_To",
                 "a@b.example"},
        ReadCase{"SectionAndKeyIgnoreCase", "[OPTIONS]\nmail_to=x\n", "options", "MAIL_TO", "x"},
        ReadCase{"ValueAndKeyTrimmed", "[Options]\n  Mail_To \t=  spaced value \t\n", "Options",
                 "Mail_To", "spaced value"},
        ReadCase{"BracketsWithBlanks", "[ Options ]\nK=v\n", "Options", "K", "v"},
        ReadCase{"RequestedNamesTrimmed", "[Options]\nK=v\n", " Options ", " K ", "v"},
        ReadCase{"LoneCrLineEnds", "[Options]\rA=1\rB=2\r", "Options", "B", "2"},
        ReadCase{"LastLineWithoutEnd", "[Options]\nA=1", "Options", "A", "1"},
        ReadCase{"MixedLineEnds", "[S]\r\r\nA=1\rB=2\n\rC=3", "S", "C", "3"},
        ReadCase{"SameKeyInTwoSections", "[T]\nK=1\n[S]\nJ=0\nK=2\n[U]\nK=3\n", "S", "K", "2"},
        ReadCase{"ValueKeepsLaterEquals", "[S]\nK=a=b\n", "S", "K", "a=b"},
        ReadCase{"EmptyValueIsNotTheDefault", "[S]\nK=\n", "S", "K", ""},
        ReadCase{"FirstKeyWins", "[S]\nK=1\nk=2\n", "S", "K", "1"},
        ReadCase{"FirstSectionWins", "[S]\nK=1\n[s]\nK=2\n", "S", "K", "1"},
        ReadCase{"KeyOfAnotherSection", "[Other]\nK=1\n[S]\nJ=2\n", "S", "K", "<default>"},
        ReadCase{"KeyBeforeAnySection", "K=1\n[S]\n", "S", "K", "<default>"},
        ReadCase{"CommentIsNoKey", "[S]\n;K=1\n#K=2\n", "S", ";K", "<default>"},
        ReadCase{"MissingSection", "[S]\nK=1\n", "T", "K", "<default>"},
        ReadCase{"EmptyFile", "", "S", "K", "<default>"}),
    [](const auto& test_param) { return std::string(test_param.param.name); });

TEST_F(ProfileFileTest, MissingFileReadsAsEmpty) {
  const TProfileFile file(folder_.File("absent.ini"));
  EXPECT_EQ(file.ReadString("Options", "Mail_To", "dflt"), "dflt");
  EXPECT_FALSE(file.ValueExists("Options", "Mail_To"));
}

// The process keeps what it read; a rewrite in place that keeps the size, and even sets the
// modification time back (as a copy that preserves times does), is still read anew.
TEST_F(ProfileFileTest, RewriteInPlaceOfTheSameSizeIsReadAnew) {
  const std::string file = folder_.Write("kept.ini", "[S]\nK=1\n");
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the clock tick of the write
  EXPECT_EQ(ReadProfileString(file, "S", "K", ""), "1");
  folder_.Write("kept.ini", "[S]\nK=2\n");
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(ReadProfileString(file, "S", "K", ""), "2");
}

TEST_F(ProfileFileTest, TextInMemoryIsWrittenToTheBoundFile) {
  TProfileFile profile = TProfileFile::FromText(folder_.File("mem.ini"), "[S]\nK=1\n");
  EXPECT_EQ(profile.ReadString("S", "K", ""), "1");
  EXPECT_EQ(folder_.EntryCount(), 0u);
  profile.WriteString("S", "K", "2");
  profile.UpdateFile();
  EXPECT_EQ(folder_.Read("mem.ini"), "[S]\r\nK=2\r\n");
}

// Readers of one version of a file share its parsed lines: a change in memory stays with the
// object that made it.
TEST_F(ProfileFileTest, WriteInMemoryLeavesOtherReadersOfTheSameVersionAlone) {
  const std::string file = folder_.Write("shared.ini", "[S]\nK=1\n");
  TProfileFile first(file);
  TProfileFile second(file);
  first.WriteString("S", "K", "2");
  EXPECT_EQ(first.ReadString("S", "K", ""), "2");
  EXPECT_EQ(second.ReadString("S", "K", ""), "1");
  EXPECT_EQ(TProfileFile(file).ReadString("S", "K", ""), "1");
}

TEST_F(ProfileFileTest, LongValueIsCutAfterTrimming) {
  const std::string value(3000, 'v');
  const std::string file = folder_.Write("long.ini", "[S]\nK=   " + value + "\n");
  const std::string read = ReadProfileString(file, "S", "K", "");
  EXPECT_EQ(read.size(), kMaxProfileValue);
  EXPECT_EQ(read, value.substr(0, kMaxProfileValue));
}

TEST_F(ProfileFileTest, WriteKeepsOtherLinesAndUpdatesKeysInPlace) {
  const std::string file = folder_.Write(
      "test.ini",
      "; owner's notes\n[Options]\nmail_to=old\nOther = kept  \n\n[Next]\nMail_To=untouched\n");
  TProfileFile profile(file);
  profile.WriteString("Options", "Mail_To", "new");  // other case: replaced in place
  profile.WriteString("Options", "Added", "value");  // after the last key of the section
  profile.WriteString("Fresh", "Key", "1");          // a new section at the end
  profile.UpdateFile();
  EXPECT_EQ(folder_.Read("test.ini"),
            "; owner's notes\r\n[Options]\r\nMail_To=new\r\nOther = kept  \r\nAdded=value\r\n"
            "\r\n[Next]\r\nMail_To=untouched\r\n\r\n[Fresh]\r\nKey=1\r\n");
}

TEST_F(ProfileFileTest, WriteCreatesMissingFile) {
  const std::string file = folder_.File("new.ini");
  WriteProfileString(file, "Options", "A", "1");
  WriteProfileString(file, "Options", "B", "");
  EXPECT_EQ(folder_.Read("new.ini"), "[Options]\r\nA=1\r\nB=\r\n");
  EXPECT_EQ(folder_.EntryCount(), 1u);  // no temporary file left behind
}

TEST_F(ProfileFileTest, SectionWithoutKeysGetsTheKeyRightAfterItsHeader) {
  const std::string file = folder_.Write("t.ini", "[S]\n; comment\n[T]\n");
  WriteProfileString(file, "S", "K", "v");
  EXPECT_EQ(folder_.Read("t.ini"), "[S]\r\nK=v\r\n; comment\r\n[T]\r\n");
}

// A value holding a line break once wrote a second line into the file, so that a form
// value could add keys of its own ("x\r\nSMTP_Server=evil").
TEST_F(ProfileFileTest, LineBreaksInValuesCannotAddLines) {
  const std::string file = folder_.File("t.ini");
  WriteProfileString(file, "S", "K", "x\r\nSMTP_Server=evil");
  EXPECT_EQ(ReadProfileString(file, "S", "K", ""), "x  SMTP_Server=evil");
  EXPECT_EQ(ReadProfileString(file, "S", "SMTP_Server", "none"), "none");
}

TEST_F(ProfileFileTest, RejectsKeysAndSectionsThatCannotBeReadBack) {
  TProfileFile profile(folder_.File("t.ini"));
  for (const char* key : {"", "a=b", "[x", ";x", "#x", "a\nb", " k"}) {
    EXPECT_THROW(profile.WriteString("S", key, "v"), Exception) << key;
  }
  for (const char* section : {"", "a]b", "a\nb"}) {
    EXPECT_THROW(profile.WriteString(section, "K", "v"), Exception) << section;
  }
  EXPECT_TRUE(profile.Lines().empty());
}

TEST_F(ProfileFileTest, FailedWriteNamesTheFileAndLeavesNothingBehind) {
  const std::string file = folder_.File("no/such/folder/brevix.ini");
  try {
    WriteProfileString(file, "S", "K", "v");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + file);
  }
  EXPECT_EQ(folder_.EntryCount(), 0u);
}

TEST_F(ProfileFileTest, UnreadableFileIsNeverReplaced) {
  // A folder in place of the file cannot be read; writing must not replace it with a file
  // holding only the new key.
  std::filesystem::create_directory(folder_.File("brevix.ini"));
  EXPECT_THROW(WriteProfileString(folder_.File("brevix.ini"), "S", "K", "v"), Exception);
  EXPECT_TRUE(std::filesystem::is_directory(folder_.File("brevix.ini")));
  EXPECT_EQ(folder_.EntryCount(), 1u);
}

TEST_F(ProfileFileTest, WriteKeepsPermissionsAndFollowsSymbolicLinks) {
  const std::string target = folder_.Write("real.ini", "[S]\nK=1\n");
  ::chmod(target.c_str(), 0640);
  const std::string link = folder_.File("link.ini");
  std::filesystem::create_symlink(target, link);

  WriteProfileString(link, "S", "K", "2");

  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(folder_.Read("real.ini"), "[S]\r\nK=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(folder_.EntryCount(), 2u);
}

}  // namespace
