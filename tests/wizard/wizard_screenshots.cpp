// Takes a PNG of every page of the wizard, of the hidden-field window and of the About window,
// as a site owner sees them with a few sample values filled in.
// Usage: wizard_screenshots <output folder>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <cstdio>
#include <cstdlib>

#include "wizard/about_box.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/hidden_field_lines.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/ini_overrides.h"
#include "wizard/wizard_test_support.h"

namespace {

bool Save(QWidget& widget, const QString& folder, const QString& name) {
  widget.show();
  QApplication::processEvents();
  const QString file = folder + "/" + name + ".png";
  if (!widget.grab().save(file)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

void Fill(Tfrmexpert& wizard) {
  auto type = [&wizard](const char* name, const char* text) {
    wizard.findChild<QLineEdit*>(name)->setText(text);
  };
  type("txtmail_to", "orders@example.org");
  type("txtmail_from", "webform@example.org");
  type("txtmail_subject", "Order \"Web\" from %name%");
  type("txtmessage_text", "order.txt");
  type("txtresponse_page", "thanks.htm");
  type("txterror_page", "sorry.htm");
  type("txtinfo_missing_page", "missing.htm");
  type("txtreceipt_subject", "Thank you for your order");
  type("txtreceipt_text", "receipt.txt");
  type("txtsmtp_server", "mail.example.org");
  type("txtsmtp_port", "587");
  type("txtResults_File", "data\\orders.csv");
  type("txtlog_file", "data\\entries.log");
  type("txthtmlfile", "/home/owner/site/order.html");
  wizard.findChild<QListWidget*>("LstDefault_Format")->setCurrentRow(1);
  wizard.findChild<QListWidget*>("listformats")->setCurrentRow(5);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: wizard_screenshots <output folder>\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  RecordingDialogs dialogs;  // nothing modal may wait for a person here
  TempFolder folder;
  // The site's defaults send a receipt and save results, which a form cannot turn off.
  folder.Write("brevix.ini",
               "[Options]\r\nReceipt_Text=receipt.txt\r\nResults_File=data\\orders.csv\r\n");

  Tfrmexpert wizard(folder.Path());
  TForm2 form2;
  Tfrmeditor editor;
  TAboutBox about;
  TFrmFilePath file_path;
  wizard.SetCompanions(&form2, &editor, &about, &file_path);
  Fill(wizard);
  wizard.findChild<QComboBox*>("cbosmtp_security")->setCurrentText("starttls");

  // A real scan gives the macro page its list.
  wizard.findChild<QLineEdit*>("txthtmlfile")
      ->setText(QString::fromStdString(
          folder.Write("order.html",
                       "<form><input name=name><input name=email><select name=product></select>"
                       "<input type=text name=quantity><textarea name=comments></textarea>"
                       "<input type=submit value=Send></form>")));
  wizard.LoadMacrosFromForm();

  bool ok = true;
  auto* pages = wizard.findChild<QStackedWidget*>("ppages");
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    // Show the buttons as they stand on that page.
    const auto page = static_cast<WizardPage>(i);
    wizard.findChild<QPushButton*>("btnnext")->setText(QString::fromLatin1(NextButtonText(page)));
    wizard.findChild<QPushButton*>("btnprev")->setEnabled(PreviousEnabled(page));
    ok = Save(wizard, out,
              QString("%1-%2").arg(i, 2, 10, QChar('0')).arg(pages->widget(i)->objectName())) &&
         ok;
  }
  wizard.findChild<QRadioButton*>("RadioButton4")->setChecked(true);  // no receipt
  const WizardSettings settings = wizard.ReadControls();
  form2.SetLines(HiddenFieldLines(settings));
  form2.SetIniOverrides(IniOverridesNote(IniOverrides(settings, wizard.Options())),
                        [] { return true; });
  ok = Save(form2, out, "form2-hidden-fields") && ok;
  wizard.PrepareEditor();  // the HTML layout chosen on pgautoformat
  ok = Save(editor, out, "editor") && ok;
  ok = Save(about, out, "about") && ok;
  return ok ? 0 : 1;
}
