// The anti-spam proof of work as the owner sets it on PGSMTP: a new key and a difficulty saved to
// brevix.ini by the defaults task, read there by the gateway, and the widget in the hidden-field
// HTML.
#include "wizard/pow_settings.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <memory>
#include <regex>

#include "common/guard_settings.h"
#include "wizard/about_box.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/hidden_field_lines.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/wizard_test_support.h"

namespace {

class PowWizardTest : public testing::Test {
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
  // Runs the defaults task to its last page, or to its first error.
  void SaveDefaults(Tfrmexpert& window) {
    Find<QRadioButton>(window, "RdDefaults")->setChecked(true);
    auto* pages = Find<QStackedWidget>(window, "ppages");
    for (int i = 0; i < kWizardPageCount && dialogs.errors.isEmpty() &&
                    pages->currentWidget()->objectName() != "pgfinisheditor";
         ++i) {
      Find<QPushButton>(window, "btnnext")->click();
    }
  }

  RecordingDialogs dialogs;
  TempFolder folder;
  TForm2 form2;
  Tfrmeditor editor;
  TAboutBox about;
  TFrmFilePath file_path;
};

TEST_F(PowWizardTest, NewKeyAndDifficultyReachTheGatewayAndTheWidgetTheHiddenFields) {
  const std::string ini = folder.Write("brevix.ini", "[Options]\r\n");
  std::string key;
  {
    std::unique_ptr<Tfrmexpert> window = OpenWizard();
    Find<QPushButton>(*window, "btnpow_key")->click();
    key = Find<QLineEdit>(*window, "txtpow_key")->text().toStdString();
    Find<QComboBox>(*window, "cbopow_max_number")->setCurrentText("150000");
    SaveDefaults(*window);
  }
  EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("\n").toStdString();
  EXPECT_TRUE(std::regex_match(key, std::regex("[0-9a-f]{64}"))) << key;
  TGuardSettings gateway;
  gateway.Load(ini);
  EXPECT_EQ(gateway.PoWKey, key);
  EXPECT_EQ(gateway.PoWMaxNumber, 150000);

  // The next start shows them, and its hidden fields end with the widget and its script.
  std::unique_ptr<Tfrmexpert> next = OpenWizard();
  EXPECT_EQ(Find<QLineEdit>(*next, "txtpow_key")->text().toStdString(), key);
  WizardSettings settings;
  LoadPowSettings(ini, settings);
  const TStringList lines = HiddenFieldLines(settings);
  ASSERT_GE(lines.Count(), 2);
  EXPECT_EQ(lines[lines.Count() - 1], "<script src=\"altcha/altcha.min.js\" defer></script>");
  EXPECT_NE(lines[lines.Count() - 2].find("<altcha-widget challenge=\"brevix.cgi?pow=challenge\""),
            std::string::npos);
  for (const std::string& line : lines) EXPECT_EQ(line.find(key), std::string::npos) << line;
}

TEST_F(PowWizardTest, DifficultyThatIsNoNumberIsRefusedAndNothingWritten) {
  const std::string before = "[Options]\r\nPoW_Key=old\r\n";
  const std::string ini = folder.Write("brevix.ini", before);
  {
    std::unique_ptr<Tfrmexpert> window = OpenWizard();
    Find<QComboBox>(*window, "cbopow_max_number")->setCurrentText("hard");
    SaveDefaults(*window);
  }
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_TRUE(dialogs.errors[0].contains("PoW_Max_Number"));
  EXPECT_EQ(ReadWholeFile(ini), before);
}

}  // namespace
