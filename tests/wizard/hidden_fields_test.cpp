#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/exception.h"
#include "common/options.h"
#include "wizard/hidden_field_lines.h"
#include "wizard/hidden_field_merge.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/ini_overrides.h"
#include "wizard/wizard_test_support.h"

namespace {

std::vector<std::string> Items(const TStringList& list) {
  return {list.begin(), list.end()};
}

// A double quote typed into a value once ended the attribute early: a browser posted
// `Anfrage ` for `Anfrage "X"`.
TEST(HiddenFieldLinesTest, LineIsTheFivePiecesWithTheAttributesEscaped) {
  EXPECT_EQ(HiddenFieldLine("mail_to", "a@b.example"),
            "<input type=\"hidden\" name=\"mail_to\" value=\"a@b.example\">");
  EXPECT_EQ(HiddenFieldLine("mail_subject", " Anfrage \"X\" <b>&amp; "),
            "<input type=\"hidden\" name=\"mail_subject\" "
            "value=\" Anfrage &quot;X&quot; &lt;b&gt;&amp;amp; \">");
  EXPECT_EQ(HiddenFieldLine("a\"b", ""), "<input type=\"hidden\" name=\"a&quot;b\" value=\"\">");
}

TEST(HiddenFieldLinesTest, EmptyControlsGiveTheFiveFixedLines) {
  WizardSettings empty;  // every text empty, every box clear, no format selected
  EXPECT_EQ(Items(HiddenFieldLines(empty)),
            (std::vector<std::string>{
                "<input type=\"hidden\" name=\"send\" value=\"yes\">",
                "<input type=\"hidden\" name=\"use_asterisks\" value=\"no\">",
                "<input type=\"hidden\" name=\"Mail_From_Required\" value=\"no\">",
                "<input type=\"hidden\" name=\"delete_results_file\" value=\"no\">",
                "<input type=\"hidden\" name=\"default_format\" value=\"\">",
            }));
}

TEST(HiddenFieldLinesTest, FilledControlsGiveEveryLineInTheGatewaysOrder) {
  WizardSettings s;
  s.Mail_To = "to";
  s.Mail_From = "from";
  s.Mail_Subject = "subject";
  s.Mail_CC = "cc";
  s.Mail_BCC = "bcc";
  s.Response_Page = "response";
  s.Message_Text = "message";
  s.Error_Page = "error";
  s.Info_Missing_Page = "missing";
  s.SMTP_Server = "server";
  s.SMTP_Port = "25";
  s.Attached_File = "attached";
  s.Receipt_From = "rfrom";
  s.Receipt_To = "rto";
  s.Receipt_Subject = "rsubject";
  s.Receipt_Text = "rtext";
  s.Entry_Log = "log";
  s.Use_Asterisks = true;
  s.Mail_From_Required = true;
  s.Delete_Results_File = true;
  s.Date_Format = "dd";
  s.Time_Format = " ";  // blanks are text: the line is written
  s.Results_File = "results";
  s.Results_File_Template = "template";
  s.DefaultFormatIndex = 5;
  std::vector<std::pair<std::string, std::string>> expected = {
      {"send", "yes"},
      {"mail_to", "to"},
      {"mail_from", "from"},
      {"mail_subject", "subject"},
      {"mail_cc", "cc"},
      {"mail_bcc", "bcc"},
      {"response_page", "response"},
      {"message_text", "message"},
      {"error_page", "error"},
      {"info_missing_page", "missing"},
      {"smtp_server", "server"},
      {"smtp_port", "25"},
      {"attached_file", "attached"},
      {"receipt_from", "rfrom"},
      {"receipt_to", "rto"},
      {"receipt_subject", "rsubject"},
      {"receipt_text", "rtext"},
      {"entry_log", "log"},
      {"use_asterisks", "yes"},
      {"Mail_From_Required", "yes"},
      {"delete_results_file", "yes"},
      {"date_format", "dd"},
      {"time_format", " "},
      {"results_file", "results"},
      {"results_file_template", "template"},
      {"default_format", "BXCSV"},
  };
  std::vector<std::string> lines;
  for (const auto& [name, value] : expected) lines.push_back(HiddenFieldLine(name, value));
  EXPECT_EQ(Items(HiddenFieldLines(s)), lines);
}

TEST(HiddenFieldLinesTest, DefaultFormatLineNamesTheSelectedEntry) {
  const std::pair<int, const char*> cases[] = {
      {0, "BX1ColTextNoLabel"},
      {1, "BX1ColTextLabel"},
      {2, "BX1ColHTMLNoLabel"},
      {3, "BX2ColHTMLNoLabel"},
      {4, "BX2ColHTMLLabel"},
      {5, "BXCSV"},
      {-1, ""},
      {6, ""},
  };
  for (const auto& [index, name] : cases) {
    WizardSettings s;
    s.DefaultFormatIndex = index;
    const TStringList lines = HiddenFieldLines(s);
    EXPECT_EQ(lines[lines.Count() - 1], HiddenFieldLine("default_format", name)) << index;
  }
}

// Pasting the lines into the sample form once named mail_subject twice, and the gateway joined
// both texts into one subject (the sample form itself: WizardGatewayTest).
TEST(MergeHiddenFieldsTest, EveryFieldIsNamedOnce) {
  const std::pair<std::string, std::string> cases[] = {
      // Names in any case and quoting are replaced; the indent follows the next line.
      {"<FORM>\n<INPUT TYPE=HIDDEN NAME='Mail_Subject' VALUE='a>b'> <b>x</b>\n</FORM>",
       "<FORM>\n <input type=\"hidden\" name=\"mail_subject\" value=\"B\">\n <b>x</b>\n</FORM>"},
      // A field the page asks the visitor for gets no hidden line.
      {"<form>\n<input type=email name=MAIL_SUBJECT>\n</form>",
       "<form>\n<input type=email name=MAIL_SUBJECT>\n</form>"},
  };
  TStringList lines;
  lines.Add(HiddenFieldLine("mail_subject", "B"));
  for (const auto& [page, merged] : cases) {
    const std::string once = MergeHiddenFields(page, lines).html;
    EXPECT_EQ(once, merged);
    EXPECT_EQ(MergeHiddenFields(once, lines).html, once);  // again: nothing changes
  }
  EXPECT_THROW(MergeHiddenFields("<p>no form</p>", lines), Exception);
}

// A form cannot turn off what brevix.ini sets up: the window names each such choice.
TEST(IniOverridesTest, DeclinedReceiptAndResultsThatTheIniSetsUp) {
  TBXOptions ini("unused.ini");
  ini.Receipt_Text = "r.txt";
  WizardSettings shown;
  shown.Send_Receipt = shown.Save_Results = false;
  ASSERT_EQ(IniOverrides(shown, ini).size(), 1u);  // no Results_File in the ini
  EXPECT_EQ(IniOverrides(shown, ini)[0].key, "Receipt_Text");
  ini.Results_File = "res.csv";
  shown.Send_Receipt = true;
  ASSERT_EQ(IniOverrides(shown, ini).size(), 1u);
  EXPECT_EQ(IniOverrides(shown, ini)[0].key, "Results_File");
}

class Form2Test : public testing::Test {
 protected:
  RecordingDialogs dialogs;
  TempFolder folder;
  TForm2 form;
};

TEST_F(Form2Test, SaveWritesEveryLineEndedByCrLf) {
  TStringList lines;
  lines.Add("<input type=\"hidden\" name=\"send\" value=\"yes\">");
  lines.Add("<input type=\"hidden\" name=\"mail_to\" value=\"a@b.example\">");
  form.SetLines(lines);
  const std::string target = folder.Path() + "hidden.html";
  folder.Write("hidden.html", "an older, much longer content that must go entirely");
  dialogs.save_answers.append(QString::fromStdString(target));
  dialogs.question_answers.append(true);  // replace the older file
  EXPECT_TRUE(form.BitBtn3Click());
  EXPECT_EQ(dialogs.save_titles, QStringList{"Save Contents to Disk"});
  EXPECT_EQ(dialogs.questions.size(), 1);
  EXPECT_EQ(ReadWholeFile(target),
            "<input type=\"hidden\" name=\"send\" value=\"yes\">\r\n"
            "<input type=\"hidden\" name=\"mail_to\" value=\"a@b.example\">\r\n");
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(Form2Test, SaveKeepsTheOwnersEdits) {
  form.Memo1->setPlainText("edited by hand\nsecond");
  const std::string target = folder.Path() + "edited.txt";
  dialogs.save_answers.append(QString::fromStdString(target));
  ASSERT_TRUE(form.BitBtn3Click());
  EXPECT_EQ(ReadWholeFile(target), "edited by hand\r\nsecond\r\n");
}

TEST_F(Form2Test, CancelledSaveWritesNothing) {
  form.Memo1->setPlainText("text");
  EXPECT_FALSE(form.BitBtn3Click());  // the save chooser answers with a cancel
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(Form2Test, UnwritableFileIsReportedAndTheTextStays) {
  form.Memo1->setPlainText("keep me");
  const QString target = QString::fromStdString(folder.Path() + "missing-folder/hidden.html");
  dialogs.save_answers.append(target);
  EXPECT_FALSE(form.BitBtn3Click());
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_TRUE(dialogs.errors[0].startsWith("Unable to write to " + target))
      << dialogs.errors[0].toStdString();
  EXPECT_EQ(form.Memo1->toPlainText(), "keep me");
}

TEST_F(Form2Test, CopyPutsTheWholeTextOnTheClipboard) {
  form.Memo1->setPlainText("first\nsecond\nthird");
  // Only a part is selected; Copy takes everything all the same.
  QTextCursor cursor = form.Memo1->textCursor();
  cursor.setPosition(0);
  cursor.setPosition(3, QTextCursor::KeepAnchor);
  form.Memo1->setTextCursor(cursor);
  form.BitBtn1Click();
  EXPECT_EQ(QApplication::clipboard()->text(), "first\nsecond\nthird");
  EXPECT_EQ(form.Memo1->textCursor().selectedText().size(), QString("first second third").size());
}

}  // namespace
