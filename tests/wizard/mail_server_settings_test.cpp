// The mail server's TLS, login and sender as the owner sets them on PGSMTP: saved to brevix.ini
// by the defaults task, read there by the gateway and by the next start of the wizard, never
// written into the hidden fields.
#include "wizard/mail_server_settings.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <memory>
#include <string>
#include <tuple>

#include "common/guard_settings.h"
#include "common/smtp_security_settings.h"
#include "wizard/about_box.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/hidden_field_lines.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/ini_file_access.h"
#include "wizard/wizard_test_support.h"

namespace {

mode_t ModeOf(const std::string& name) {
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

struct SaveCase {
  const char* name;
  std::string ini_before;
  mode_t mode_before;
  const char* security;  // the entry chosen; null leaves what the wizard loaded
  std::string user, password;
  bool verify;
  std::string sender;
  TSmtpSecurityMode gateway_mode;
  std::string gateway_mode_text;
  mode_t mode_after;
  bool cleartext_question = false;  // asked (and answered Yes) before saving
};

void PrintTo(const SaveCase& c, std::ostream* os) {
  *os << c.name;
}

class MailServerWizardTest : public testing::Test {
 protected:
  std::unique_ptr<Tfrmexpert> OpenWizard() {
    auto window = std::make_unique<Tfrmexpert>(folder.Path());
    window->SetCompanions(&form2, &editor, &about, &file_path);
    return window;
  }
  template <typename T>
  static T* Find(Tfrmexpert& window, const char* name) {
    T* widget = window.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  RecordingDialogs dialogs;
  TempFolder folder;
  TForm2 form2;
  Tfrmeditor editor;
  TAboutBox about;
  TFrmFilePath file_path;
};

class MailServerSaveTest : public MailServerWizardTest,
                           public testing::WithParamInterface<SaveCase> {};

// What the owner chooses is what the gateway reads, and what the next start shows; the file is
// readable by its owner and the web server's group only, whatever mode it had (an owner-only
// file once kept the gateway, running as the web server, from reading it).
TEST_P(MailServerSaveTest, DefaultsTaskSavesWhatTheGatewayAndTheNextStartRead) {
  const SaveCase& c = GetParam();
  const std::string ini = folder.Write("brevix.ini", c.ini_before);
  ASSERT_EQ(chmod(ini.c_str(), c.mode_before), 0);
  dialogs.question_answers.append(true);
  {
    std::unique_ptr<Tfrmexpert> window = OpenWizard();
    Find<QRadioButton>(*window, "RdDefaults")->setChecked(true);
    if (c.security) Find<QComboBox>(*window, "cbosmtp_security")->setCurrentText(c.security);
    Find<QLineEdit>(*window, "txtsmtp_user")->setText(QString::fromStdString(c.user));
    Find<QLineEdit>(*window, "txtsmtp_password")->setText(QString::fromStdString(c.password));
    Find<QCheckBox>(*window, "chksmtp_verify")->setChecked(c.verify);
    Find<QLineEdit>(*window, "txtmail_sender")->setText(QString::fromStdString(c.sender));
    auto* pages = Find<QStackedWidget>(*window, "ppages");
    for (int i = 0;
         i < kWizardPageCount && pages->currentWidget()->objectName() != "pgfinisheditor"; ++i) {
      Find<QPushButton>(*window, "btnnext")->click();
    }
    ASSERT_EQ(pages->currentWidget()->objectName(), "pgfinisheditor");
  }
  EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
  EXPECT_EQ(dialogs.questions.size(), c.cleartext_question ? 1 : 0);

  TSmtpSecuritySettings gateway;
  gateway.Load(ini);
  EXPECT_EQ(gateway.Mode, c.gateway_mode);
  EXPECT_EQ(gateway.ModeText, c.gateway_mode_text);
  EXPECT_EQ(gateway.User, c.user);
  EXPECT_EQ(gateway.Password, c.password);
  EXPECT_EQ(gateway.Verify, c.verify);
  TGuardSettings guards;
  guards.Load(ini);
  EXPECT_EQ(guards.MailSender, c.sender);
  EXPECT_EQ(ModeOf(ini), c.mode_after);
  struct stat info {};
  ASSERT_EQ(stat(ini.c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, getgrnam(kDefaultWebServerGroup)->gr_gid);
  EXPECT_EQ(dialogs.text_questions.size(), 1);  // the group, asked once and kept
  EXPECT_EQ(WebServerGroup(ini), kDefaultWebServerGroup);

  std::unique_ptr<Tfrmexpert> next = OpenWizard();
  EXPECT_EQ(Find<QComboBox>(*next, "cbosmtp_security")->currentText().toStdString(),
            c.gateway_mode_text.empty() ? "none" : c.gateway_mode_text);
  EXPECT_EQ(Find<QLineEdit>(*next, "txtsmtp_user")->text().toStdString(), c.user);
  EXPECT_EQ(Find<QLineEdit>(*next, "txtsmtp_password")->text().toStdString(), c.password);
  EXPECT_EQ(Find<QLineEdit>(*next, "txtsmtp_password")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Find<QCheckBox>(*next, "chksmtp_verify")->isChecked(), c.verify);
  EXPECT_EQ(Find<QLineEdit>(*next, "txtmail_sender")->text().toStdString(), c.sender);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailServerSaveTest,
    testing::Values(SaveCase{"LoginMakesTheFileOwnerOnly", "[Options]\r\n", 0644, "starttls",
                             "site", "p=ss;#word", false, "forms@example.org",
                             TSmtpSecurityMode::kStartTls, "starttls", 0640},
                    SaveCase{"WithoutPasswordTheModeStays", "[Options]\r\nSMTP_Verify=0\r\n", 0640,
                             "tls", "", "", true, "", TSmtpSecurityMode::kImplicitTls, "tls", 0640},
                    // A value the gateway refuses is kept as written: it goes on naming it in its
                    // error rather than silently sending without TLS.
                    SaveCase{"UnknownSecurityKept", "[Options]\r\nSMTP_Security=ssl\r\n", 0644,
                             nullptr, "", "", true, "", TSmtpSecurityMode::kInvalid, "ssl", 0640},
                    SaveCase{"CleartextLoginSavedAfterAQuestion",
                             "[Options]\r\nSMTP_Server=mail.example.org\r\n", 0600, "none", "site",
                             "pw", true, "", TSmtpSecurityMode::kNone, "", 0640, true}),
    [](const testing::TestParamInfo<SaveCase>& param_info) {
      return std::string(param_info.param.name);
    });

// The port hint once read "(Industry Standard is 25)" whatever the security, and a login over
// plain SMTP to another machine (which the gateway refuses) was saved without a word.
TEST_F(MailServerWizardTest, PortHintFollowsTheSecurityAndCleartextLoginWarns) {
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {"none", "mail.example.org", "(Standard for none is 25)", true},
      {"none", "127.0.0.1", "(Standard for none is 25)", false},
      {"none", "LocalHost", "(Standard for none is 25)", false},
      {"starttls", "mail.example.org", "(Standard for starttls is 587)", false},
      {"tls", "mail.example.org", "(Standard for tls is 465)", false}};
  std::unique_ptr<Tfrmexpert> window = OpenWizard();
  for (const auto& [security, server, hint, warns] : cases) {
    Find<QComboBox>(*window, "cbosmtp_security")->setCurrentText(security);
    EXPECT_EQ(Find<QLabel>(*window, "Label28")->text().toStdString(), hint);
    WizardSettings settings;
    settings.SMTP_Security = security;
    settings.SMTP_Server = server;
    EXPECT_TRUE(CleartextLoginWarning(settings).empty()) << "no login, no warning";
    settings.SMTP_User = "site";
    EXPECT_EQ(!CleartextLoginWarning(settings).empty(), warns) << security << " " << server;
  }
}

// A password that would read back changed is refused before anything is written.
TEST_F(MailServerWizardTest, PasswordThatWouldNotReadBackIsRefused) {
  const std::string before = "[Options]\r\nSMTP_Password=old\r\n";
  const std::string ini = folder.Write("brevix.ini", before);
  std::unique_ptr<Tfrmexpert> window = OpenWizard();
  Find<QRadioButton>(*window, "RdDefaults")->setChecked(true);
  Find<QLineEdit>(*window, "txtsmtp_password")->setText("secret ");
  auto* pages = Find<QStackedWidget>(*window, "ppages");
  for (int i = 0; i < kWizardPageCount && dialogs.errors.isEmpty(); ++i) {
    Find<QPushButton>(*window, "btnnext")->click();
  }
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_TRUE(dialogs.errors[0].startsWith("SMTP_Password cannot be kept"));
  EXPECT_FALSE(dialogs.errors[0].contains("secret"));
  EXPECT_EQ(pages->currentWidget()->objectName(), "PgDefaultFormat");
  EXPECT_EQ(ReadWholeFile(ini), before);
}

// The login and the sender belong to brevix.ini alone: a form carrying them would publish the
// password and let any visitor choose the sender.
TEST(MailServerHiddenFieldsTest, NeverInTheHiddenFields) {
  WizardSettings settings;
  settings.SMTP_Security = "starttls";
  settings.SMTP_User = "login-name";
  settings.SMTP_Password = "pass-word";
  settings.SMTP_Verify = false;
  settings.Mail_Sender = "sender@example.org";
  const std::string html = HiddenFieldLines(settings).Text();
  for (const char* text : {"smtp_security", "starttls", "smtp_user", "login-name", "smtp_password",
                           "pass-word", "smtp_verify", "mail_sender", "sender@example.org"}) {
    EXPECT_EQ(QString::fromStdString(html).indexOf(text, 0, Qt::CaseInsensitive), -1) << text;
  }
}

}  // namespace
