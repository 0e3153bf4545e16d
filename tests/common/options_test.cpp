#include "common/options.h"

#include <gtest/gtest.h>

#include "common/exception.h"
#include "common/temp_folder.h"
#include "common/text_compare.h"
#include "platform/module_path.h"

namespace {

class OptionsTest : public ::testing::Test {
 protected:
  TBXOptions LoadFrom(const std::string& content) {
    TBXOptions options(folder_.Write("brevix.ini", content));
    options.Load();
    return options;
  }

  TempFolder folder_;
};

TEST_F(OptionsTest, ConstructorNamesTheFileBesideTheProgram) {
  const TBXOptions options;
  EXPECT_EQ(options.ProgramDir, ProgramDir());
  EXPECT_EQ(options.IniFileName, ProgramDir() + "brevix.ini");
  EXPECT_EQ(options.Date_Format, "");
  EXPECT_FALSE(options.Use_Asterisks);
  EXPECT_FALSE(options.Mail_From_Required);

  const TBXOptions bound("/elsewhere/x.ini");
  EXPECT_EQ(bound.IniFileName, "/elsewhere/x.ini");
  EXPECT_EQ(bound.ProgramDir, ProgramDir());
}

TEST_F(OptionsTest, MissingFileGivesEveryDefault) {
  TBXOptions options(folder_.File("absent.ini"));
  options.Load();
  EXPECT_EQ(options.SMTP_Server, "");
  EXPECT_EQ(options.Date_Format, "mm-dd-yy");
  EXPECT_EQ(options.Time_Format, "t");
  EXPECT_TRUE(options.Use_Asterisks);
  EXPECT_FALSE(options.Delete_Results_File);
  EXPECT_TRUE(options.Mail_From_Required);
  EXPECT_EQ(folder_.EntryCount(), 0u);  // loading creates nothing
}

TEST_F(OptionsTest, LoadReadsEveryKeyOfTheSection) {
  const TBXOptions o = LoadFrom(
      "[Other]\r\nMail_To=wrong\r\n[options]\r\nsmtp_server = mail.example \r\nSMTP_Port=2525\r\n"
      "Mail_To=to@x.example\r\nMail_From=from@x.example\r\nMail_Subject=Hi\r\nMail_CC=cc\r\n"
      "Mail_BCC=bcc\r\nAttached_File=a.txt\r\nMessage_Text=m.txt\r\nReceipt_Text=r.txt\r\n"
      "Receipt_Subject=Thanks\r\nReceipt_To=%email%\r\nReceipt_From=me\r\nError_Page=e.htm\r\n"
      "Response_Page=http://x.example/\r\nInfo_Missing_Page=i.htm\r\nEntry_Log=log.txt\r\n"
      "Date_Format=yyyy\r\nTime_Format=hh:mm\r\nResults_File_Template=t.txt\r\n"
      "Results_File=res.txt\r\nMacro_Delimiter=%\r\nDefault_Format=BXCSV\r\n"
      "Use_Asterisks=0\r\nDelete_Results_File=1\r\nMail_From_Required=0\r\n");
  EXPECT_EQ(o.SMTP_Server, "mail.example");
  EXPECT_EQ(o.SMTP_Port, "2525");
  EXPECT_EQ(o.Mail_To, "to@x.example");
  EXPECT_EQ(o.Mail_From, "from@x.example");
  EXPECT_EQ(o.Mail_Subject + o.Mail_CC + o.Mail_BCC, "Hiccbcc");
  EXPECT_EQ(o.Attached_File + o.Message_Text + o.Receipt_Text, "a.txtm.txtr.txt");
  EXPECT_EQ(o.Receipt_Subject + "|" + o.Receipt_To + "|" + o.Receipt_From, "Thanks|%email%|me");
  EXPECT_EQ(o.Error_Page + o.Response_Page + o.Info_Missing_Page, "e.htmhttp://x.example/i.htm");
  EXPECT_EQ(o.Entry_Log, "log.txt");
  EXPECT_EQ(o.Date_Format + "|" + o.Time_Format, "yyyy|hh:mm");
  EXPECT_EQ(o.Results_File_Template + o.Results_File, "t.txtres.txt");
  EXPECT_EQ(o.Macro_Delimiter, "%");
  EXPECT_EQ(o.Default_Format, "BXCSV");
  EXPECT_FALSE(o.Use_Asterisks);
  EXPECT_TRUE(o.Delete_Results_File);
  EXPECT_FALSE(o.Mail_From_Required);
}

TEST_F(OptionsTest, LongValueIsCutTo2047Characters) {
  const TBXOptions o = LoadFrom("[Options]\nMail_Subject=" + std::string(5000, 's') + "\n");
  EXPECT_EQ(o.Mail_Subject, std::string(2047, 's'));
}

struct BoolCase {
  const char* text;
  bool when_default_true;   // Use_Asterisks
  bool when_default_false;  // Delete_Results_File
};

class OptionsBoolTest : public OptionsTest, public ::testing::WithParamInterface<BoolCase> {};

TEST_P(OptionsBoolTest, BooleanKeysAreWholeNumbers) {
  const std::string text = GetParam().text;
  const TBXOptions o =
      LoadFrom("[Options]\nUse_Asterisks=" + text + "\nDelete_Results_File=" + text + "\n");
  EXPECT_EQ(o.Use_Asterisks, GetParam().when_default_true);
  EXPECT_EQ(o.Delete_Results_File, GetParam().when_default_false);
}

INSTANTIATE_TEST_SUITE_P(
    Values, OptionsBoolTest,
    ::testing::Values(BoolCase{"0", false, false}, BoolCase{"1", true, true},
                      BoolCase{"0x10", true, true}, BoolCase{"0X0", false, false},
                      BoolCase{"  7  ", true, true}, BoolCase{"-1", true, true},
                      BoolCase{"+0", false, false}, BoolCase{"yes", true, false},
                      BoolCase{"true", true, false}, BoolCase{"", true, false},
                      BoolCase{"0x", true, false}, BoolCase{"0xfg", true, false},
                      BoolCase{"1 0", true, false}, BoolCase{"99999999999", true, false}));

struct IntegerCase {
  const char* text;
  long long expected;  // with the default -99
};

class ProfileIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ProfileIntegerTest, ParsesDecimalAndHexadecimal) {
  EXPECT_EQ(ParseProfileInteger(GetParam().text, -99), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ProfileIntegerTest,
    ::testing::Values(IntegerCase{"42", 42}, IntegerCase{"-2147483648", -2147483648LL},
                      IntegerCase{"2147483647", 2147483647}, IntegerCase{"2147483648", -99},
                      IntegerCase{"0x1F", 31}, IntegerCase{"0xFFFFFFFF", 0xFFFFFFFFLL},
                      IntegerCase{"0x100000000", -99}, IntegerCase{"0x-1", -99},
                      IntegerCase{"-", -99}, IntegerCase{"$10", -99}, IntegerCase{"1.5", -99}));

TEST_F(OptionsTest, SaveOfALoadedFileKeepsItsLinesAndAddsTheAbsentKeys) {
  const std::string original =
      "; site settings\r\n[Options]\r\nmail_to=owner@x.example\r\nUse_Asterisks=0\r\n"
      "Unknown_Key=stays\r\n\r\n[Other]\r\nA=1\r\n";
  TBXOptions o = LoadFrom(original);
  o.Save();
  const std::string saved = folder_.Read("brevix.ini");
  // The keys in the file keep their place (with the spelling of the key table), and the
  // absent keys follow in the order of writing with their defaults.
  EXPECT_EQ(saved.substr(0, saved.find("Unknown_Key")),
            "; site settings\r\n[Options]\r\nMail_To=owner@x.example\r\nUse_Asterisks=0\r\n");
  EXPECT_NE(saved.find("Unknown_Key=stays\r\nSMTP_Server=\r\nSMTP_Port=\r\nMail_From=\r\n"),
            std::string::npos);
  EXPECT_NE(saved.find("Date_Format=mm-dd-yy\r\nTime_Format=t\r\n"), std::string::npos);
  EXPECT_NE(saved.find("Default_Format=\r\nDelete_Results_File=0\r\nMail_From_Required=1\r\n"
                       "\r\n[Other]\r\nA=1\r\n"),
            std::string::npos);

  // Saving again changes nothing, and what was saved loads back the same.
  TBXOptions again(o.IniFileName);
  again.Load();
  again.Save();
  EXPECT_EQ(folder_.Read("brevix.ini"), saved);
  EXPECT_EQ(again.Mail_To, "owner@x.example");
  EXPECT_FALSE(again.Use_Asterisks);
  EXPECT_TRUE(again.Mail_From_Required);
}

TEST_F(OptionsTest, SaveCreatesTheFileAndRoundTripsEveryField) {
  TBXOptions o(folder_.File("brevix.ini"));
  o.Load();
  o.SMTP_Server = "smtp.example";
  o.Mail_Subject = "  kept as typed";
  o.Receipt_To = "%email%";
  o.Delete_Results_File = true;
  o.Use_Asterisks = false;
  o.SetFormatKind(3);
  o.Save();

  TBXOptions back(o.IniFileName);
  back.Load();
  EXPECT_EQ(back.SMTP_Server, "smtp.example");
  EXPECT_EQ(back.Mail_Subject, "kept as typed");  // the reader trims
  EXPECT_EQ(back.Receipt_To, "%email%");
  EXPECT_TRUE(back.Delete_Results_File);
  EXPECT_FALSE(back.Use_Asterisks);
  EXPECT_EQ(back.FormatKind(), 3);
  EXPECT_EQ(folder_.Read("brevix.ini").rfind("[Options]\r\nSMTP_Server=smtp.example\r\n", 0), 0u);
}

TEST_F(OptionsTest, SaveThatCannotWriteRaisesWithTheFileName) {
  const std::string file = folder_.File("missing-folder/brevix.ini");
  TBXOptions o(file);
  try {
    o.Save();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + file);
  }
}

struct FormatCase {
  const char* name;
  int kind;
};

class FormatKindTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatKindTest, NamesAndNumbersMapBothWays) {
  TBXOptions o("unused.ini");
  o.Default_Format = GetParam().name;
  EXPECT_EQ(o.FormatKind(), GetParam().kind);
  o.Default_Format = UpperCase(GetParam().name);
  EXPECT_EQ(o.FormatKind(), GetParam().kind);
  o.SetFormatKind(GetParam().kind);
  EXPECT_EQ(o.Default_Format, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatKindTest,
    ::testing::Values(FormatCase{"BX1ColTextNoLabel", 0}, FormatCase{"BX1ColTextLabel", 1},
                      FormatCase{"BX1ColHTMLNoLabel", 2}, FormatCase{"BX2ColHTMLNoLabel", 3},
                      FormatCase{"BX2ColHTMLLabel", 4}, FormatCase{"BXCSV", 5}));

TEST(FormatKindDefaultsTest, UnknownValuesDifferByDirection) {
  TBXOptions o("unused.ini");
  for (const char* name : {"", "BXCSV ", "nonsense"}) {
    o.Default_Format = name;
    EXPECT_EQ(o.FormatKind(), 4) << name;
  }
  for (int kind : {-1, 6, 255}) {
    o.SetFormatKind(kind);
    EXPECT_EQ(o.Default_Format, "BX1ColTextLabel") << kind;
  }
}

}  // namespace
