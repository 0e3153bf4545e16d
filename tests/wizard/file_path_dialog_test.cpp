#include "wizard/file_path_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <memory>
#include <string>

#include "wizard/wizard_dialogs.h"

namespace {

void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "file_path_dialog_test";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// Answers the wizard's modal windows at once: `during_modal` plays the owner's part while the
// dialog is "shown", then the dialog closes with `result`.
class ScriptedDialogs : public WizardDialogs {
 public:
  void Warning(QWidget*, const QString&) override {}
  void Information(QWidget*, const QString&) override {}
  void Error(QWidget*, const QString&) override {}
  bool Question(QWidget*, const QString&) override { return false; }
  std::optional<QString> AskText(QWidget*, const QString&, const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&,
                                      const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&) override {
    return std::nullopt;
  }
  int ShowModal(QDialog& dialog) override {
    ++shown;
    if (during_modal) during_modal(dialog);
    return result;
  }

  int shown = 0;
  int result = QDialog::Accepted;
  std::function<void(QDialog&)> during_modal;
};

class FilePathDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    SetWizardDialogs(&dialogs_);
    dialog_ = std::make_unique<TFrmFilePath>();
  }
  void TearDown() override { SetWizardDialogs(nullptr); }

  std::optional<std::string> Browse(std::optional<std::string> chosen) {
    return BrowseFileName(*dialog_, [chosen] { return chosen; });
  }

  ScriptedDialogs dialogs_;
  std::unique_ptr<TFrmFilePath> dialog_;
};

TEST_F(FilePathDialogTest, ControlsCarryTheirNamesAndTexts) {
  EXPECT_EQ(dialog_->objectName(), "FrmFilePath");
  EXPECT_EQ(dialog_->windowTitle(), "Format File Name");
  ASSERT_NE(dialog_->findChild<QRadioButton*>("RadioButton3"), nullptr);
  EXPECT_EQ(dialog_->findChild<QRadioButton*>("RadioButton3")->text(), "Just the File Name");
  EXPECT_EQ(dialog_->findChild<QRadioButton*>("RadioButton2")->text(), "Relative Path");
  EXPECT_EQ(dialog_->findChild<QRadioButton*>("RadioButton1")->text(), "Full Path");
  EXPECT_NE(dialog_->findChild<QLineEdit*>("txtfilename"), nullptr);
  EXPECT_TRUE(dialog_->RadioButton3->isChecked());
}

TEST_F(FilePathDialogTest, CancelledChooserGivesNothingWithoutDialog) {
  dialog_->txtfilename->setText("old");
  EXPECT_EQ(Browse(std::nullopt), std::nullopt);
  EXPECT_EQ(dialogs_.shown, 0);
}

TEST_F(FilePathDialogTest, ChoicesSwitchWithoutLosingTheFullName) {
  std::vector<std::string> seen;
  dialogs_.during_modal = [&](QDialog&) {
    seen.push_back(dialog_->FileNameText());
    dialog_->RadioButton2->click();
    seen.push_back(dialog_->FileNameText());
    dialog_->RadioButton1->click();
    seen.push_back(dialog_->FileNameText());
    dialog_->RadioButton3->click();
    seen.push_back(dialog_->FileNameText());
    dialog_->RadioButton2->click();
  };
  EXPECT_EQ(Browse("/srv/www/forms/thanks.htm"), "srv/www/forms/thanks.htm");
  EXPECT_EQ(seen, (std::vector<std::string>{"thanks.htm", "srv/www/forms/thanks.htm",
                                            "/srv/www/forms/thanks.htm", "thanks.htm"}));
  EXPECT_EQ(dialog_->SelectedFilePath(), "/srv/www/forms/thanks.htm");
}

TEST_F(FilePathDialogTest, OpensWithJustTheFileNameWhateverWasChosenBefore) {
  dialogs_.during_modal = [&](QDialog&) { dialog_->RadioButton1->click(); };
  EXPECT_EQ(Browse("/a/b/first.htm"), "/a/b/first.htm");

  bool file_name_chosen = false;
  dialogs_.during_modal = [&](QDialog&) { file_name_chosen = dialog_->RadioButton3->isChecked(); };
  EXPECT_EQ(Browse("/a/b/second.htm"), "second.htm");
  EXPECT_TRUE(file_name_chosen);
}

TEST_F(FilePathDialogTest, TypedTextIsHandedBackHoweverTheDialogCloses) {
  for (const int result : {int(QDialog::Accepted), int(QDialog::Rejected)}) {
    dialogs_.result = result;
    dialogs_.during_modal = [&](QDialog&) { dialog_->txtfilename->setText("pages/own.htm"); };
    EXPECT_EQ(Browse("/x/y.htm"), "pages/own.htm") << result;
  }
}

TEST_F(FilePathDialogTest, ClickOnAChoiceReplacesTypedText) {
  dialogs_.during_modal = [&](QDialog&) {
    dialog_->txtfilename->setText("typed");
    dialog_->RadioButton3->click();
  };
  EXPECT_EQ(Browse("/x/y.htm"), "y.htm");
}

TEST_F(FilePathDialogTest, DoneButtonAcceptsTheDialog) {
  dialog_->show();
  dialog_->BitBtn1->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog_->isVisible());
}

}  // namespace
