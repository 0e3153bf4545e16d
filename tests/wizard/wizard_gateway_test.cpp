// What the wizard writes, as the real gateway reads it: brevix.ini of the defaults task, the
// hidden-field HTML pasted into a form, and templates saved from the editor, each used by
// brevix.cgi run as a CGI program with a real SMTP server behind it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "common/guard_settings.h"
#include "gateway/gateway_site.h"
#include "wizard/about_box.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/qt_file_dialog_driver.h"
#include "wizard/wizard_test_support.h"

namespace {

using gateway_test::Fields;

class WizardGatewayTest : public gateway_test::GatewaySite {
 protected:
  // The wizard runs from the gateway's own folder, so its brevix.ini is the one the gateway reads.
  void OpenWizard() {
    window_ = std::make_unique<Tfrmexpert>(dir_);
    window_->SetCompanions(&form2_, &editor_, &about_, &file_path_);
  }

  template <typename T>
  T* Find(const char* name) {
    T* widget = window_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString Page() { return Find<QStackedWidget>("ppages")->currentWidget()->objectName(); }
  void Check(const char* radio) { Find<QRadioButton>(radio)->setChecked(true); }
  void Type(const char* edit, const QString& text) { Find<QLineEdit>(edit)->setText(text); }
  void NextUntil(const QString& page) {
    for (int i = 0; i < kWizardPageCount && Page() != page; ++i)
      Find<QPushButton>("btnnext")->click();
    ASSERT_EQ(Page(), page);
  }
  // The mail server page as an owner fills it for this site.
  void TypeMailServer() {
    Type("txtsmtp_server", "127.0.0.1");
    Type("txtsmtp_port", QString::fromStdString(smtp_.PortText()));
  }

  // Posts `fields` with whatever brevix.ini the folder holds (the wizard's, not the fixture's).
  cgi_test::CgiResult PostAsSaved(const Fields& fields) const {
    const std::string body = gateway_test::FormBody(fields);
    cgi_test::CgiRun run;
    run.program = dir_ + "brevix.cgi";
    run.env = Environment("POST");
    run.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    run.env["CONTENT_LENGTH"] = std::to_string(body.size());
    run.input = body;
    return cgi_test::RunCgi(run);
  }

  // The editor's text saved through Qt's own save dialog into the site's folder, as file type
  // `file_type` under the typed name `typed`.
  void SaveFromEditor(const QString& text, const char* file_type, const char* typed) {
    file_dialog_test::QtOwnDialogs own_dialogs;
    editor_.Memo2->setPlainText(text);
    file_dialog_test::AnswerNextFileDialog([&](QFileDialog& dialog) {
      dialog.setDirectory(QString::fromStdString(dir_));
      file_dialog_test::ChooseFileType(dialog, file_type);
      file_dialog_test::TypeNameAndAccept(dialog, typed);
    });
    editor_.BtnSaveTextClick();
  }

  RecordingDialogs dialogs_;
  TForm2 form2_;
  Tfrmeditor editor_;  // its file dialogs are Qt's own
  TAboutBox about_;
  TFrmFilePath file_path_;
  std::unique_ptr<Tfrmexpert> window_;
};

// The character references a browser decodes in an attribute value.
QString Unescaped(QString text) {
  return text.replace("&quot;", "\"")
      .replace("&lt;", "<")
      .replace("&gt;", ">")
      .replace("&amp;", "&");
}

// The name="..." value="..." pairs of hidden-field lines, as a browser posts them.
Fields FieldsOf(const QString& html) {
  Fields fields;
  static const QRegularExpression input(
      R"re(<input type="hidden" name="([^"]*)" value="([^"]*)")re");
  for (auto match = input.globalMatch(html); match.hasNext();) {
    const QRegularExpressionMatch m = match.next();
    fields.emplace_back(Unescaped(m.captured(1)).toStdString(),
                        Unescaped(m.captured(2)).toStdString());
  }
  return fields;
}

// The Subject header's text with its RFC 2047 words decoded.
std::string DecodedSubject(const std::string& mail) {
  const QString text = QString::fromLatin1(QByteArray::fromStdString(mail));
  const QRegularExpression header(R"(\r\nSubject: ?((?:[^\r]*)(?:\r\n[ \t][^\r]*)*))",
                                  QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch found = header.match(text);
  if (!found.hasMatch()) return {};
  const QString value = found.captured(1).trimmed();
  static const QRegularExpression word(R"(=\?utf-8\?B\?([^?]*)\?=)",
                                       QRegularExpression::CaseInsensitiveOption);
  if (!value.contains(word)) return value.toLatin1().toStdString();
  std::string decoded;
  for (auto match = word.globalMatch(value); match.hasNext();)
    decoded += QByteArray::fromBase64(match.next().captured(1).toLatin1()).toStdString();
  return decoded;
}

// The mail's body, quoted-printable decoded when the header says so.
std::string DecodedBody(const std::string& mail) {
  const size_t end = mail.find("\r\n\r\n");
  if (end == std::string::npos) return {};
  const std::string body = mail.substr(end + 4);
  const QByteArray head = QByteArray::fromStdString(mail.substr(0, end)).toLower();
  if (!head.contains("quoted-printable")) return body;
  std::string decoded;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '=') {
      decoded += body[i];
    } else if (body.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;  // soft line break
    } else if (i + 2 < body.size()) {
      decoded += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return decoded;
}

bool HasHeader(const std::string& mail, const std::string& header) {
  const std::string head = mail.substr(0, mail.find("\r\n\r\n"));
  std::string flat;
  for (char c : head) {
    if (c != ' ') flat += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return flat.find(header) != std::string::npos;
}

// The owner's choices as a new site owner makes them, end to end: brevix.ini sends receipts by
// default, the form says "No receipt"; results go to a .csv file; the mail is an HTML template
// saved from the editor without touching the file type; the subject holds a double quote; the
// hidden fields go into the sample form, which already names mail_subject. Each of these once
// did something else than chosen (a receipt all the same, an HTML page per record in the .csv
// file, a .txt template, a cut subject, two subjects joined).
TEST_F(WizardGatewayTest, OwnersChoicesAreWhatTheGatewayDoes) {
  WriteFile("receipt.txt", "Thank you.\r\n");
  ini_["Receipt_Text"] = "receipt.txt";
  ini_["Allowed_Form_Files"] = "results.csv";
  WriteIni();
  const std::string form_page = dir_ + "form.html";
  std::filesystem::copy_file(BREVIX_SOURCE_DIR "/deploy/sample/www/form.html", form_page);
  OpenWizard();

  Check("rdoTemplate");
  NextUntil("pgselecthtml");
  Type("txthtmlfile", QString::fromStdString(form_page));
  NextUntil("pgautoformat");
  Find<QListWidget>("listformats")->setCurrentRow(5);  // Two Column With Labels (HTML Format)
  dialogs_.during_modal = [&](QDialog&) {
    file_dialog_test::QtOwnDialogs own_dialogs;
    file_dialog_test::AnswerNextFileDialog([&](QFileDialog& dialog) {
      dialog.setDirectory(QString::fromStdString(dir_));
      file_dialog_test::TypeNameAndAccept(dialog, "message");
    });
    editor_.BtnSaveTextClick();
  };
  NextUntil("pgfinisheditor");
  ASSERT_EQ(editor_.CurrentFileName(), dir_ + "message.htm");
  Find<QPushButton>("btnnext")->click();

  Check("rdhidden");
  Type("txtmail_subject", "Anfrage \"X\" von %namereq%");
  Type("txtmessage_text", "message.htm");
  Type("txtResults_File", "results.csv");
  Check("RadioButton4");  // no receipt
  QString note;
  dialogs_.during_modal = [&](QDialog&) {
    note = form2_.lblIniOverrides->text();
    dialogs_.question_answers = {true, true};  // write into brevix.ini; put into the form
    form2_.btnWriteIni->click();
    dialogs_.open_answers = {QString::fromStdString(form_page)};
    EXPECT_TRUE(form2_.btnPutIntoFormClick());
  };
  NextUntil("pgfinisheditor");
  ASSERT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('\n').toStdString();
  EXPECT_TRUE(note.contains("Receipt_Text=receipt.txt")) << note.toStdString();

  const QString page = QString::fromStdString(FileText("form.html"));
  Fields fields = FieldsOf(page);
  EXPECT_EQ(page.count("name=\"mail_subject\""), 1) << page.toStdString();
  fields.insert(fields.end(), {{"namereq", "Ann"}, {"mail_from", "ann@visitor.test"}});
  const cgi_test::CgiResult result = PostAsSaved(fields);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(smtp_.WaitForMessages(1), 1) << ErrorLog() << Body(result);
  const std::string mail = smtp_.Message(1).raw;
  EXPECT_EQ(DecodedSubject(mail), "Anfrage \"X\" von Ann");
  EXPECT_TRUE(HasHeader(mail, "content-type:text/html")) << mail;
  EXPECT_NE(DecodedBody(mail).find("Ann"), std::string::npos) << mail;
  const std::string results = FileText("results.csv");
  // A heading row of the posted names (the field table's order), then the one record.
  EXPECT_EQ(results.rfind("\"date_format\",\"default_format\",", 0), 0) << results;
  EXPECT_NE(results.find(",\"Anfrage \"\"X\"\" von Ann\","), std::string::npos) << results;
  EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 2) << results;
  EXPECT_EQ(smtp_.MessageCount(), 1) << ErrorLog();  // no receipt
}

struct DeclineCase {
  const char* name;
  bool receipt;
  bool results;
};

void PrintTo(const DeclineCase& c, std::ostream* os) {
  *os << c.name;
}

class DeclinedPagesTest : public WizardGatewayTest,
                          public testing::WithParamInterface<DeclineCase> {};

// A "No" on the receipt or results question once still saved the filled fields, and the gateway
// sent the receipt the owner had declined.
TEST_P(DeclinedPagesTest, GatewaySendsAndKeepsOnlyWhatTheOwnerChose) {
  const DeclineCase& c = GetParam();
  WriteFile("receipt.txt", "Thank you, %name%.\r\n");
  OpenWizard();
  Check("RdDefaults");
  Type("txtmail_to", "owner@site.test");
  Type("txtmail_from", "form@site.test");
  Type("txtReceipt_to", "visitor@site.test");
  Type("txtreceipt_subject", "Your message");
  Type("txtreceipt_text", "receipt.txt");
  Type("txtResults_File", "results.txt");
  TypeMailServer();
  Check(c.receipt ? "rdoSendReceipt" : "RadioButton4");
  Check(c.results ? "RDOSaveResults" : "RadioButton5");
  NextUntil("pgfinisheditor");
  ASSERT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('\n').toStdString();

  const cgi_test::CgiResult result = PostAsSaved({{"name", "Ann"}});
  EXPECT_EQ(result.exit_code, 0);
  // The gateway has ended, so every mail it sent is in.
  EXPECT_EQ(smtp_.WaitForMessages(c.receipt ? 2 : 1), c.receipt ? 2 : 1) << ErrorLog();
  EXPECT_EQ(smtp_.MessageCount(), c.receipt ? 2 : 1) << ErrorLog();
  if (c.receipt) {
    EXPECT_EQ(smtp_.Message(2).recipients, std::vector<std::string>{"visitor@site.test"});
  }
  EXPECT_EQ(Exists("results.txt"), c.results);
  // Going back loses nothing: the declined page still shows what the owner typed.
  EXPECT_EQ(Find<QLineEdit>("txtreceipt_text")->text(), "receipt.txt");
  EXPECT_EQ(Find<QLineEdit>("txtResults_File")->text(), "results.txt");
}

INSTANTIATE_TEST_SUITE_P(Answers, DeclinedPagesTest,
                         testing::Values(DeclineCase{"BothWanted", true, true},
                                         DeclineCase{"NoReceipt", false, true},
                                         DeclineCase{"NoResults", true, false},
                                         DeclineCase{"Neither", false, false}),
                         [](const testing::TestParamInfo<DeclineCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST_F(WizardGatewayTest, DefaultsTaskAllowsTheEnteredAddressesAndKeepsTheOwnersOwn) {
  WriteFile("brevix.ini", "[Options]\r\nAllowed_Recipients=@partner.test, Sales@Site.test\r\n");
  OpenWizard();
  Check("RdDefaults");
  Type("txtmail_to", "Site Owner <owner@site.test>");
  Type("txtmail_from", "form@site.test");
  Type("txtmail_cc", "sales@site.test; help@site.test");
  TypeMailServer();
  NextUntil("pgfinisheditor");
  ASSERT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('\n').toStdString();

  const std::vector<std::string> expected{"@partner.test", "Sales@Site.test", "owner@site.test",
                                          "help@site.test"};
  TGuardSettings guards;  // the gateway's own reading of the file
  guards.Load(dir_ + "brevix.ini");
  EXPECT_EQ(guards.AllowedRecipients, expected);

  // A second save lists nothing twice, and does not ask for the web server's group again.
  Find<QPushButton>("btnnext")->click();
  NextUntil("pgfinisheditor");
  guards.Load(dir_ + "brevix.ini");
  EXPECT_EQ(guards.AllowedRecipients, expected);
  EXPECT_EQ(dialogs_.text_questions.size(), 1);

  // The owner's hand-written domain entry still lets a form choose its address.
  const cgi_test::CgiResult result = PostAsSaved({{"mail_to", "buyer@partner.test"}});
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(smtp_.WaitForMessages(1), 1) << ErrorLog() << Body(result);
  EXPECT_EQ(smtp_.Message(1).recipients[0], "buyer@partner.test");
}

class HiddenFieldsPostedTest : public WizardGatewayTest,
                               public testing::WithParamInterface<bool> {};

// The window names the addresses the server's brevix.ini must allow; allowing exactly those lets
// the pasted form through, and without them the gateway refuses it.
TEST_P(HiddenFieldsPostedTest, WindowNamesTheAddressesTheGatewayChecks) {
  const bool allowed = GetParam();
  OpenWizard();
  Check("rdhidden");
  Type("txtmail_to", "Jane Doe <jane@elsewhere.test>");
  Type("txtmail_cc", "team@elsewhere.test, Jane@Elsewhere.test");
  Type("txtmail_subject", "Order");
  QString html, note;
  bool note_shown = false;
  dialogs_.during_modal = [&](QDialog&) {
    html = form2_.Memo1->toPlainText();
    note = form2_.lblAllowedRecipients->text();
    note_shown = !form2_.lblAllowedRecipients->isHidden();
  };
  NextUntil("pgfinisheditor");
  ASSERT_EQ(dialogs_.modal_windows, QStringList{"Form2"});
  EXPECT_TRUE(note_shown);
  const QString listed = "jane@elsewhere.test, team@elsewhere.test";
  ASSERT_TRUE(note.endsWith(": " + listed)) << note.toStdString();
  EXPECT_TRUE(note.contains("Allowed_Recipients")) << note.toStdString();
  EXPECT_FALSE(html.contains("Allowed_Recipients"));  // the note is not pasted into the form

  if (allowed) ini_["Allowed_Recipients"] = listed.toStdString();
  Fields fields = FieldsOf(html);
  fields.emplace_back("mail_from", "visitor@site.test");
  const cgi_test::CgiResult result = Post(fields);
  EXPECT_EQ(result.exit_code, 0);
  if (allowed) {
    ASSERT_EQ(smtp_.WaitForMessages(1), 1) << ErrorLog() << Body(result);
    EXPECT_EQ(smtp_.Message(1).recipients,
              (std::vector<std::string>{"jane@elsewhere.test", "team@elsewhere.test",
                                        "Jane@Elsewhere.test"}));
    EXPECT_EQ(DecodedSubject(smtp_.Message(1).raw), "Order");
  } else {
    EXPECT_EQ(smtp_.MessageCount(), 0);
    EXPECT_NE(Body(result).find("Recipient not allowed"), std::string::npos) << Body(result);
  }
}

INSTANTIATE_TEST_SUITE_P(Allowance, HiddenFieldsPostedTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param_info) {
                           return std::string(param_info.param ? "Allowed" : "NotAllowed");
                         });

TEST_F(WizardGatewayTest, WindowSaysNothingWhenTheFormNamesNoAddress) {
  OpenWizard();
  Check("rdhidden");
  bool note_shown = true;
  dialogs_.during_modal = [&](QDialog&) { note_shown = !form2_.lblAllowedRecipients->isHidden(); };
  NextUntil("pgfinisheditor");
  EXPECT_FALSE(note_shown);
}

struct TemplateCase {
  const char* name;
  const char* file_type;
  const char* saved;
  bool html_mail;
};

void PrintTo(const TemplateCase& c, std::ostream* os) {
  *os << c.name;
}

class TemplateSavedAsTest : public WizardGatewayTest,
                            public testing::WithParamInterface<TemplateCase> {};

// The template task's text saved from the editor under the name "message": the file type chosen
// in the save dialog decides the extension, and the extension whether the gateway sends HTML.
TEST_P(TemplateSavedAsTest, FileTypeDecidesBetweenHtmlAndPlainMail) {
  const TemplateCase& c = GetParam();
  OpenWizard();
  Check("rdoTemplate");
  NextUntil("pgselecthtml");
  WriteFile("form.html", "<form><input type=text name=name><textarea name=comment></textarea>");
  Type("txthtmlfile", QString::fromStdString(dir_ + "form.html"));
  NextUntil("pgautoformat");
  Find<QListWidget>("listformats")->setCurrentRow(4);  // Two Column No Labels (HTML Format)
  dialogs_.during_modal = [&](QDialog&) {
    SaveFromEditor(editor_.Memo2->toPlainText(), c.file_type, "message");
  };
  NextUntil("pgfinisheditor");
  ASSERT_EQ(editor_.CurrentFileName(), dir_ + c.saved);

  ini_["Message_Text"] = c.saved;
  const cgi_test::CgiResult result =
      Post({{"name", "Ann"}, {"comment", "a < b"}, {"mail_from", "visitor@site.test"}});
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(smtp_.WaitForMessages(1), 1) << ErrorLog();
  const std::string mail = smtp_.Message(1).raw;
  EXPECT_EQ(HasHeader(mail, "content-type:text/html"), c.html_mail) << mail;
  EXPECT_EQ(HasHeader(mail, "content-type:text/plain"), !c.html_mail) << mail;
  const std::string body = DecodedBody(mail);
  EXPECT_NE(body.find("Ann"), std::string::npos) << mail;
  // An HTML mail carries the visitor's text escaped, a plain one as typed.
  EXPECT_NE(body.find(c.html_mail ? "a &lt; b" : "a < b"), std::string::npos) << mail;
}

INSTANTIATE_TEST_SUITE_P(Types, TemplateSavedAsTest,
                         testing::Values(TemplateCase{"Htm", "HTM Files", "message.htm", true},
                                         TemplateCase{"Text", "Text Files", "message.txt", false}),
                         [](const testing::TestParamInfo<TemplateCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

class NonAsciiTest : public WizardGatewayTest, public testing::WithParamInterface<const char*> {};

// A subject and templates typed in the wizard with characters beyond ASCII arrive unchanged in
// the mail, the answer page and the results file, whether the subject comes from the defaults
// task's brevix.ini or from the hidden-field HTML.
TEST_P(NonAsciiTest, TypedTextArrivesIntact) {
  const std::string task = GetParam();
  const QString subject = QString::fromUtf8("Grüße – Bestellung 東京");
  OpenWizard();
  // Templates typed into the editor and saved, as the owner makes them.
  SaveFromEditor(QString::fromUtf8("Straße: %street%\nGrüße, Ünal"), "Text Files", "message");
  SaveFromEditor(QString::fromUtf8("<p>Danke – %street%</p>"), "HTM Files", "thanks");
  ASSERT_TRUE(Exists("message.txt") && Exists("thanks.htm"));

  Check(task == "defaults" ? "RdDefaults" : "rdhidden");
  Type("txtmail_to", "owner@site.test");
  Type("txtmail_from", "form@site.test");
  Type("txtmail_subject", subject);
  Type("txtmessage_text", "message.txt");
  Type("txtresponse_page", "thanks.htm");
  Type("txtResults_File", "results.txt");
  Type("txtResults_File_Template", "message.txt");
  TypeMailServer();
  QString html;
  dialogs_.during_modal = [&](QDialog&) { html = form2_.Memo1->toPlainText(); };
  NextUntil("pgfinisheditor");
  ASSERT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('\n').toStdString();

  cgi_test::CgiResult result;
  if (task == "defaults") {
    result = PostAsSaved({{"street", "Hauptstraße 5"}});
  } else {
    // The server's own brevix.ini names the results file that the form names.
    ini_["Results_File"] = "results.txt";
    Fields fields = FieldsOf(html);
    fields.emplace_back("street", "Hauptstraße 5");
    result = Post(fields);
  }
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(smtp_.WaitForMessages(1), 1) << ErrorLog() << Body(result);
  const std::string mail = smtp_.Message(1).raw;
  EXPECT_EQ(DecodedSubject(mail), subject.toStdString()) << mail;
  EXPECT_TRUE(HasHeader(mail, "charset=utf-8")) << mail;
  EXPECT_NE(DecodedBody(mail).find("Straße: Hauptstraße 5\r\nGrüße, Ünal"), std::string::npos)
      << mail;
  EXPECT_NE(Body(result).find("<p>Danke – Hauptstraße 5</p>"), std::string::npos) << Body(result);
  EXPECT_NE(FileText("results.txt").find("Straße: Hauptstraße 5"), std::string::npos)
      << FileText("results.txt") << ErrorLog();
}

INSTANTIATE_TEST_SUITE_P(Tasks, NonAsciiTest, testing::Values("defaults", "hidden"),
                         [](const testing::TestParamInfo<const char*>& param_info) {
                           return std::string(param_info.param);
                         });

}  // namespace
