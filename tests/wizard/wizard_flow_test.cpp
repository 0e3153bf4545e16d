// The wizard window driven as the owner drives it: by pressing btnnext and btnprev.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/msg_file.h"
#include "common/options.h"
#include "wizard/about_box.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/hidden_field_lines.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/wizard_test_support.h"

namespace {

// Receives the addresses that the About window asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

class WizardFlowTest : public testing::Test {
 protected:
  // Opens the wizard on `program_dir` (the test's folder unless given), with its companions.
  void Open(std::string program_dir = {}) {
    window = std::make_unique<Tfrmexpert>(program_dir.empty() ? folder.Path() : program_dir);
    window->SetCompanions(&form2, &editor, &about, &file_path);
  }

  template <typename T>
  T* Find(const char* name) {
    T* widget = window->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString Page() { return Find<QStackedWidget>("ppages")->currentWidget()->objectName(); }
  void Next() { Find<QPushButton>("btnnext")->click(); }
  void Prev() { Find<QPushButton>("btnprev")->click(); }
  void Check(const char* radio) { Find<QRadioButton>(radio)->setChecked(true); }
  void Type(const char* edit, const QString& text) { Find<QLineEdit>(edit)->setText(text); }
  // Presses Next until `page` shows (at most one round).
  void NextUntil(const QString& page) {
    for (int i = 0; i < kWizardPageCount && Page() != page; ++i) Next();
    ASSERT_EQ(Page(), page);
  }
  // The button state that UpdateButtons promises for the page shown.
  void ExpectButtonsFor(const QString& page) {
    EXPECT_EQ(Find<QPushButton>("btnnext")->text(),
              page == "pgfinisheditor" ? "&Finish!" : "&Next >>")
        << page.toStdString();
    EXPECT_EQ(Find<QPushButton>("btnprev")->isEnabled(), page != "pgstart") << page.toStdString();
  }

  RecordingDialogs dialogs;
  TempFolder folder;
  TForm2 form2;
  Tfrmeditor editor;
  TAboutBox about;
  TFrmFilePath file_path;
  std::unique_ptr<Tfrmexpert> window;
};

struct Walk {
  const char* name;
  const char* task;
  bool receipt;
  bool results;
  std::vector<QString> forward;   // from pgstart to pgfinisheditor
  std::vector<QString> backward;  // from pgfinisheditor back to pgstart
};

void PrintTo(const Walk& walk, std::ostream* os) {
  *os << walk.name;
}

class WizardWalkTest : public WizardFlowTest, public testing::WithParamInterface<Walk> {};

TEST_P(WizardWalkTest, NextAndPreviousFollowThePageGraph) {
  const Walk& walk = GetParam();
  Open();
  Type("txthtmlfile", QString::fromStdString(folder.Write("form.html", "<input name=a>")));
  Check(walk.task);
  Check(walk.receipt ? "rdoSendReceipt" : "RadioButton4");
  Check(walk.results ? "RDOSaveResults" : "RadioButton5");
  Find<QListWidget>("listformats")->setCurrentRow(1);

  ASSERT_EQ(Page(), walk.forward.front());
  ExpectButtonsFor(Page());
  for (size_t i = 1; i < walk.forward.size(); ++i) {
    Next();
    ASSERT_EQ(Page(), walk.forward[i]) << "step " << i;
    ExpectButtonsFor(Page());
  }
  for (size_t i = 1; i < walk.backward.size(); ++i) {
    Prev();
    ASSERT_EQ(Page(), walk.backward[i]) << "back step " << i;
    ExpectButtonsFor(Page());
  }
  Prev();  // disabled on the start page; nothing moves even when called
  EXPECT_EQ(Page(), "pgstart");

  // The final Next returns to the start; only the defaults task reminds of the copy.
  NextUntil("pgfinisheditor");
  dialogs.informations.clear();
  Next();
  EXPECT_EQ(Page(), "pgstart");
  ExpectButtonsFor(Page());
  if (std::string(walk.task) == "RdDefaults") {
    EXPECT_EQ(dialogs.informations,
              QStringList{"Remember to move brevix.ini to your web server in the same directory "
                          "as brevix.cgi"});
  } else {
    EXPECT_TRUE(dialogs.informations.isEmpty());
  }
  EXPECT_TRUE(dialogs.warnings.isEmpty());
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, WizardWalkTest,
    testing::Values(
        Walk{
            "HiddenWithReceiptAndResults",
            "rdhidden",
            true,
            true,
            {"pgstart", "pgmailheaders", "pgmailfiles", "PgAskRcpt", "pgmailreceipt", "PGSMTP",
             "PGAskFormResults", "PGFormResults", "PGOptions", "PgDefaultFormat", "pgfinisheditor"},
            {"pgfinisheditor", "PgDefaultFormat", "PGOptions", "PGFormResults", "PGAskFormResults",
             "PGSMTP", "pgmailreceipt", "PgAskRcpt", "pgmailfiles", "pgmailheaders", "pgstart"}},
        Walk{"DefaultsWithoutReceipt",
             "RdDefaults",
             false,
             true,
             {"pgstart", "pgmailheaders", "pgmailfiles", "PgAskRcpt", "PGSMTP", "PGAskFormResults",
              "PGFormResults", "PGOptions", "PgDefaultFormat", "pgfinisheditor"},
             // Without a receipt, Previous from PGSMTP skips the question page as well.
             {"pgfinisheditor", "PgDefaultFormat", "PGOptions", "PGFormResults", "PGAskFormResults",
              "PGSMTP", "pgmailfiles", "pgmailheaders", "pgstart"}},
        Walk{"DefaultsWithoutResults",
             "RdDefaults",
             true,
             false,
             {"pgstart", "pgmailheaders", "pgmailfiles", "PgAskRcpt", "pgmailreceipt", "PGSMTP",
              "PGAskFormResults", "PGOptions", "PgDefaultFormat", "pgfinisheditor"},
             {"pgfinisheditor", "PgDefaultFormat", "PGOptions", "PGAskFormResults", "PGSMTP",
              "pgmailreceipt", "PgAskRcpt", "pgmailfiles", "pgmailheaders", "pgstart"}},
        Walk{"Template",
             "rdoTemplate",
             false,
             false,
             {"pgstart", "pgselecthtml", "pgmacros", "pgautoformat", "pgfinisheditor"},
             {"pgfinisheditor", "pgautoformat", "pgmacros", "pgselecthtml", "pgstart"}}),
    [](const testing::TestParamInfo<Walk>& param_info) { return param_info.param.name; });

TEST_F(WizardFlowTest, WithoutIniTheControlsShowTheLoadDefaults) {
  Open();
  for (const char* edit : {"txtmail_to", "txtmail_from", "txtsmtp_server", "txtsmtp_port",
                           "txtlog_file", "txtResults_File", "txtreceipt_text"}) {
    EXPECT_EQ(Find<QLineEdit>(edit)->text(), "") << edit;
  }
  EXPECT_EQ(Find<QLineEdit>("txtdate_format")->text(), "mm-dd-yy");
  EXPECT_EQ(Find<QLineEdit>("txttime_format")->text(), "t");
  EXPECT_TRUE(Find<QCheckBox>("chkUse_Asterisks")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("chkMail_From_Required")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("chkDelete_Results_File")->isChecked());
  // An empty Default_Format is format 4 for FormatKind.
  EXPECT_EQ(Find<QListWidget>("LstDefault_Format")->currentRow(), 4);
  EXPECT_EQ(Page(), "pgstart");
  EXPECT_TRUE(Find<QRadioButton>("rdhidden")->isChecked());
}

TEST_F(WizardFlowTest, ControlsStartWithTheValuesOfTheIni) {
  folder.Write("brevix.ini",
               "[Options]\r\nMail_To=owner@example.org\r\nSMTP_Port=2525\r\n"
               "Receipt_To=visitor@example.org\r\nEntry_Log=log\\entries.txt\r\n"
               "Use_Asterisks=0\r\nDelete_Results_File=1\r\nDefault_Format=bxcsv\r\n");
  Open();
  EXPECT_EQ(Find<QLineEdit>("txtmail_to")->text(), "owner@example.org");
  EXPECT_EQ(Find<QLineEdit>("txtsmtp_port")->text(), "2525");
  EXPECT_EQ(Find<QLineEdit>("txtReceipt_to")->text(), "visitor@example.org");
  EXPECT_EQ(Find<QLineEdit>("txtlog_file")->text(), "log\\entries.txt");
  EXPECT_FALSE(Find<QCheckBox>("chkUse_Asterisks")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("chkDelete_Results_File")->isChecked());
  EXPECT_EQ(Find<QListWidget>("LstDefault_Format")->currentRow(), 5);
}

TEST_F(WizardFlowTest, DefaultsTaskWritesAnIniThatOptionsReadBack) {
  folder.Write("brevix.ini", "[Options]\r\nMacro_Delimiter=#\r\n");
  Open();
  Check("RdDefaults");
  Type("txtmail_to", "owner@example.org");
  Type("txtmail_subject", "Order \"fast\"");
  Type("txtsmtp_server", "mail.example.org");
  Type("txtsmtp_port", "2525");
  Type("txtResults_File", "data/results.csv");
  Type("txtdate_format", "yyyy-mm-dd");
  Find<QCheckBox>("chkUse_Asterisks")->setChecked(false);
  Find<QCheckBox>("chkDelete_Results_File")->setChecked(true);
  Find<QListWidget>("LstDefault_Format")->setCurrentRow(3);
  NextUntil("pgfinisheditor");
  EXPECT_EQ(Find<QLabel>("lblLastMessage")->text(),
            QString::fromStdString("Default Settings Saved to " + folder.Path() + "brevix.ini"));

  TBXOptions saved(folder.Path() + "brevix.ini");
  saved.Load();
  EXPECT_EQ(saved.Mail_To, "owner@example.org");
  EXPECT_EQ(saved.Mail_Subject, "Order \"fast\"");
  EXPECT_EQ(saved.SMTP_Server, "mail.example.org");
  EXPECT_EQ(saved.SMTP_Port, "2525");
  EXPECT_EQ(saved.Results_File, "data/results.csv");
  EXPECT_EQ(saved.Date_Format, "yyyy-mm-dd");
  EXPECT_EQ(saved.Time_Format, "t");
  EXPECT_EQ(saved.Mail_From, "");
  EXPECT_FALSE(saved.Use_Asterisks);
  EXPECT_TRUE(saved.Delete_Results_File);
  EXPECT_TRUE(saved.Mail_From_Required);
  EXPECT_EQ(saved.Default_Format, "BX2ColHTMLNoLabel");
  EXPECT_EQ(saved.Macro_Delimiter, "#");  // not shown by the wizard, written back unchanged
}

TEST_F(WizardFlowTest, FailedSaveIsReportedAndThePageStays) {
  const std::string missing = folder.Path() + "no-such-folder/";
  Open(missing);
  Check("RdDefaults");
  NextUntil("PgDefaultFormat");
  Next();
  EXPECT_EQ(Page(), "PgDefaultFormat");
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_EQ(dialogs.errors[0],
            QString::fromStdString("Unable to write to " + missing + "brevix.ini"));
  EXPECT_EQ(Find<QLabel>("lblLastMessage")->text(), "All Done!");
  ExpectButtonsFor("PgDefaultFormat");
}

TEST_F(WizardFlowTest, HiddenTaskShowsTheLinesBeforeTheClosingPage) {
  Open();
  // A defaults run first: its closing message must not survive into the next task.
  Check("RdDefaults");
  NextUntil("pgfinisheditor");
  Next();
  Check("rdhidden");
  // "No" receipt: the filled receipt field is left out (it once went out, and the gateway then
  // sent the receipt the owner had declined).
  Check("RadioButton4");
  Type("txtmail_to", "owner@example.org");
  Type("txtreceipt_subject", "Thanks");
  Type("txtdate_format", "");
  Find<QCheckBox>("chkDelete_Results_File")->setChecked(true);
  Find<QListWidget>("LstDefault_Format")->setCurrentRow(0);

  QString page_while_shown;
  QStringList shown_lines;
  dialogs.during_modal = [&](QDialog& dialog) {
    page_while_shown = Page();
    shown_lines = static_cast<TForm2&>(dialog).Memo1->toPlainText().split('\n');
  };
  NextUntil("pgfinisheditor");
  EXPECT_EQ(dialogs.modal_windows, QStringList{"Form2"});
  EXPECT_EQ(page_while_shown, "PgDefaultFormat");
  EXPECT_EQ(Find<QLabel>("lblLastMessage")->text(), "All Done!");
  EXPECT_EQ(shown_lines, (QStringList{
                             "<input type=\"hidden\" name=\"send\" value=\"yes\">",
                             "<input type=\"hidden\" name=\"mail_to\" value=\"owner@example.org\">",
                             "<input type=\"hidden\" name=\"use_asterisks\" value=\"yes\">",
                             "<input type=\"hidden\" name=\"Mail_From_Required\" value=\"yes\">",
                             "<input type=\"hidden\" name=\"delete_results_file\" value=\"yes\">",
                             "<input type=\"hidden\" name=\"time_format\" value=\"t\">",
                             "<input type=\"hidden\" name=\"default_format\" "
                             "value=\"BX1ColTextNoLabel\">",
                         }));
}

TEST_F(WizardFlowTest, TemplateTaskScansArrangesAndHandsOverToTheEditor) {
  Open();
  Check("rdoTemplate");
  Next();
  ASSERT_EQ(Page(), "pgselecthtml");
  const std::string missing = folder.Path() + "nothing.html";
  Type("txthtmlfile", QString::fromStdString(missing));
  Next();
  EXPECT_EQ(Page(), "pgselecthtml");
  EXPECT_EQ(dialogs.warnings, QStringList{QString::fromStdString(missing + " not found!")});

  Type("txthtmlfile", QString::fromStdString(folder.Write(
                          "form.html",
                          "<form><input type=text name=email><select name=\"topic\"></select>"
                          "<textarea NAME=comments></textarea><input type=submit name=go>"
                          "<input type=hidden name=secret></form>")));
  Next();
  ASSERT_EQ(Page(), "pgmacros");
  auto* list = Find<QListWidget>("listmacros");
  auto items = [list] {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts.append(list->item(i)->text());
    return texts;
  };
  EXPECT_EQ(items(), (QStringList{"%email%", "%topic%", "%comments%", "%vorl_date%", "%vorl_time%",
                                  "%vorl_referer%"}));

  // Arrange: topic to the top, vorl_time out of the auto-format.
  list->setCurrentRow(1);
  Find<QToolButton>("BtnUp")->click();
  EXPECT_EQ(list->currentRow(), 0);
  list->setCurrentRow(4);
  Find<QToolButton>("BtnDelete")->click();
  EXPECT_EQ(list->currentItem()->text(), "%vorl_referer%");
  const QStringList arranged{"%topic%", "%email%", "%comments%", "%vorl_date%", "%vorl_referer%"};
  EXPECT_EQ(items(), arranged);
  EXPECT_EQ(std::vector<std::string>(editor.MacroLists().Unused().begin(),
                                     editor.MacroLists().Unused().end()),
            std::vector<std::string>{"%vorl_time%"});

  Next();
  ASSERT_EQ(Page(), "pgautoformat");
  Next();  // nothing selected yet
  EXPECT_EQ(Page(), "pgautoformat");
  EXPECT_EQ(dialogs.warnings.last(), "You must select a format!");
  EXPECT_TRUE(dialogs.modal_windows.isEmpty());

  Find<QListWidget>("listformats")->setCurrentRow(6);  // Comma Separated Value
  Next();
  EXPECT_EQ(dialogs.modal_windows, QStringList{"frmeditor"});
  EXPECT_EQ(Page(), "pgfinisheditor");
  EXPECT_EQ(Find<QLabel>("lblLastMessage")->text(), "All Done!");
  TBXMsgFile expected;
  expected.Kind = 5;
  for (const QString& macro : arranged) expected.Macros.Add(macro.toStdString());
  expected.Build();
  EXPECT_EQ(editor.MessageText(), expected.Lines.Text());
  EXPECT_TRUE(editor.Modified());
  EXPECT_EQ(editor.MacroLists().Used().Count(), arranged.size());
  EXPECT_EQ(editor.MacroLists().Available().Count(), 0);

  // Back to the formats, now the blank entry: empty text, all macros available.
  Prev();
  ASSERT_EQ(Page(), "pgautoformat");
  // A double-click on an entry acts as Next.
  auto* formats = Find<QListWidget>("listformats");
  formats->setCurrentRow(0);
  emit formats->itemDoubleClicked(formats->item(0));
  EXPECT_EQ(Page(), "pgfinisheditor");
  EXPECT_EQ(dialogs.modal_windows.size(), 2);
  EXPECT_EQ(editor.MessageText(), "");
  EXPECT_EQ(editor.MacroLists().Available().Count(), arranged.size());
  EXPECT_EQ(editor.MacroLists().Available()[0], "%topic%");
}

TEST_F(WizardFlowTest, ASecondScanReplacesTheMacrosAndEmptiesTheEditorLists) {
  Open();
  Check("rdoTemplate");
  Next();
  Type("txthtmlfile", QString::fromStdString(folder.Write("one.html", "<input name=first>")));
  Next();
  Find<QListWidget>("listmacros")->setCurrentRow(0);
  Find<QToolButton>("BtnDelete")->click();
  ASSERT_EQ(editor.MacroLists().Unused().Count(), 1);
  Prev();
  Type("txthtmlfile", QString::fromStdString(folder.Write("two.html", "<input name=second>")));
  Next();
  auto* list = Find<QListWidget>("listmacros");
  ASSERT_EQ(list->count(), 4);
  EXPECT_EQ(list->item(0)->text(), "%second%");
  EXPECT_EQ(editor.MacroLists().Unused().Count(), 0);
}

TEST_F(WizardFlowTest, SortButtonSortsAndUnsortKeepsTheOrder) {
  Open();
  Check("rdoTemplate");
  Next();
  Type("txthtmlfile",
       QString::fromStdString(folder.Write("f.html", "<input name=zeta><input name=Alpha>")));
  Next();
  auto* list = Find<QListWidget>("listmacros");
  Find<QToolButton>("SpeedButton8")->click();
  EXPECT_EQ(Find<QLabel>("lblsort")->text(), "Unsort Macros");
  EXPECT_EQ(list->item(0)->text(), "%Alpha%");
  EXPECT_EQ(list->item(list->count() - 1)->text(), "%zeta%");
  Find<QToolButton>("SpeedButton8")->click();
  EXPECT_EQ(Find<QLabel>("lblsort")->text(), "Sort Macros");
  EXPECT_EQ(list->item(0)->text(), "%Alpha%");
}

TEST_F(WizardFlowTest, BrowseButtonsFillTheirEditThroughTheFileNameDialog) {
  Open();
  dialogs.open_answers.append(QString("/srv/web/forms/thanks.htm"));
  Find<QToolButton>("SpeedButton2")->click();
  EXPECT_EQ(dialogs.modal_windows, QStringList{file_path.objectName()});
  EXPECT_EQ(Find<QLineEdit>("txtresponse_page")->text(), "thanks.htm");
  EXPECT_EQ(dialogs.open_folders, QStringList{QString::fromStdString(folder.Path())});

  // A cancelled chooser keeps what the owner typed and shows no dialog. (It once emptied the
  // field, losing the owner's input.)
  Type("txtlog_file", "old.txt");
  Find<QToolButton>("SpeedButton5")->click();
  EXPECT_EQ(Find<QLineEdit>("txtlog_file")->text(), "old.txt");
  EXPECT_EQ(dialogs.modal_windows.size(), 1);
}

TEST_F(WizardFlowTest, OpenButtonPutsTheChosenFormIntoItsField) {
  Open();
  Type("txthtmlfile", "typed.html");
  Find<QPushButton>("BitBtn1")->click();  // cancelled: the field stays
  EXPECT_EQ(Find<QLineEdit>("txthtmlfile")->text(), "typed.html");
  dialogs.open_answers.append(QString("/home/owner/site/contact.html"));
  Find<QPushButton>("BitBtn1")->click();
  EXPECT_EQ(Find<QLineEdit>("txthtmlfile")->text(), "/home/owner/site/contact.html");
  EXPECT_TRUE(dialogs.open_filters.last().contains("*.HTM"))
      << dialogs.open_filters.last().toStdString();
}

TEST_F(WizardFlowTest, PreviewsFormatTheCurrentDateAndTime) {
  Open();
  Type("txtdate_format", "yyyy");
  EXPECT_EQ(Find<QLabel>("lbldate")->text(), QString::number(QDate::currentDate().year()));
  Type("txttime_format", "'at' yyyy");
  EXPECT_EQ(Find<QLabel>("lbltime")->text(), "at " + QString::number(QDate::currentDate().year()));
}

TEST_F(WizardFlowTest, AboutShowsModallyAndItsLinkOpensTheAddress) {
  Open();
  Find<QPushButton>("BitBtn3")->click();
  EXPECT_EQ(dialogs.modal_windows, QStringList{"AboutBox"});
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "Open");
  about.urllabelClick();
  QDesktopServices::unsetUrlHandler("http");
  ASSERT_EQ(catcher.opened.size(), 1);
  EXPECT_EQ(catcher.opened[0], QUrl(about.urllabel->text()));
  EXPECT_TRUE(about.urllabel->styleSheet().contains("blue"));
}

// Every control stands on its page under its own name (tests and help texts rely on both).
TEST_F(WizardFlowTest, ControlsStandOnTheirPagesUnderTheirNames) {
  Open();
  const std::vector<std::pair<const char*, std::vector<const char*>>> pages = {
      {"pgstart",
       {"Label23", "GroupBox1", "rdhidden", "Label35", "RdDefaults", "rdoTemplate", "Label16",
        "StaticText4"}},
      {"pgmailheaders",
       {"GroupBox2", "txtmail_to", "txtmail_from", "txtmail_subject", "txtmail_cc", "txtmail_bcc",
        "txtattached_file", "SpeedButton7", "txtmessage_text", "SpeedButton1", "StaticText5"}},
      {"pgmailfiles",
       {"GroupBox3", "txtresponse_page", "SpeedButton2", "txterror_page", "SpeedButton4",
        "txtinfo_missing_page", "SpeedButton6", "StaticText13"}},
      {"PgAskRcpt", {"Label34", "rdoSendReceipt", "RadioButton4", "StaticText11"}},
      {"pgmailreceipt",
       {"GroupBox4", "txtReceipt_to", "txtreceipt_from", "txtreceipt_subject", "txtreceipt_text",
        "SpeedButton3", "StaticText6"}},
      {"PGSMTP",
       {"GroupBox7", "txtsmtp_server", "txtsmtp_port", "Label28", "GroupBox8", "cbosmtp_security",
        "txtsmtp_user", "txtsmtp_password", "chksmtp_verify", "txtmail_sender", "StaticText12"}},
      {"PGAskFormResults", {"Label31", "RDOSaveResults", "RadioButton5", "StaticText9"}},
      {"PGFormResults",
       {"GroupBox6", "txtResults_File", "SpeedButton9", "txtResults_File_Template", "SpeedButton10",
        "chkDelete_Results_File", "StaticText8"}},
      {"PGOptions",
       {"GroupBox5", "chkUse_Asterisks", "txtlog_file", "SpeedButton5", "txtdate_format", "lbldate",
        "txttime_format", "lbltime", "chkMail_From_Required", "Label36", "StaticText10"}},
      {"PgDefaultFormat", {"LstDefault_Format", "StaticText7"}},
      {"pgselecthtml", {"Label18", "BitBtn1", "txthtmlfile", "chkListAll", "StaticText3"}},
      {"pgmacros",
       {"Label19", "listmacros", "SpeedButton8", "lblsort", "BtnUp", "BtnDown", "BtnDelete",
        "StaticText1"}},
      {"pgautoformat", {"Label21", "listformats", "StaticText2"}},
      {"pgfinisheditor", {"lblLastMessage"}},
  };
  auto* stack = Find<QStackedWidget>("ppages");
  ASSERT_EQ(stack->count(), static_cast<int>(pages.size()));
  for (const auto& [page_name, controls] : pages) {
    QWidget* page = stack->findChild<QWidget*>(page_name);
    ASSERT_NE(page, nullptr) << page_name;
    for (const char* control : controls) {
      EXPECT_NE(page->findChild<QWidget*>(control), nullptr) << page_name << " / " << control;
    }
  }
  for (const char* name : {"btnnext", "btnprev", "BitBtn2", "BitBtn3"}) {
    EXPECT_NE(Find<QPushButton>(name), nullptr);
  }
  EXPECT_EQ(window->windowTitle(), "Brevix BX Wizard");
}

TEST_F(WizardFlowTest, EscapeDoesNotCloseTheWizardButDoneDoes) {
  Open();
  window->show();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &escape);
  EXPECT_TRUE(window->isVisible());
  Find<QPushButton>("BitBtn2")->click();
  EXPECT_FALSE(window->isVisible());
}

// On the closing page Down put the focus on Done and Enter closed the wizard unasked.
TEST_F(WizardFlowTest, DoneAfterATaskClosesOnlyWhenTheOwnerSaysYes) {
  Open();
  Check("rdhidden");
  while (Page() != "pgfinisheditor") Next();
  window->show();
  EXPECT_FALSE(Find<QPushButton>("BitBtn2")->autoDefault());  // Enter goes to Finish instead
  for (const bool yes : {false, true}) {
    dialogs.question_answers = {yes};
    Find<QPushButton>("BitBtn2")->click();
    EXPECT_EQ(window->isVisible(), !yes);
  }
  EXPECT_EQ(dialogs.questions, (QStringList{2, "Close the Brevix BX Wizard?"}));
}

}  // namespace

#include "wizard_flow_test.moc"
