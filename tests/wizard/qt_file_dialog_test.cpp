// The wizard's file choosers as Qt's own file dialog shows them: which files the owner sees and
// which name a save gives the file.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <filesystem>
#include <string>

#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/qt_file_dialog_driver.h"
#include "wizard/wizard_test_support.h"

namespace {

using namespace file_dialog_test;

// The form chooser once opened on an apparently empty folder when the form was "form.html":
// "HTM Files" matched "*.htm" only.
TEST(QtFormChooserTest, HtmTypeListsHtmlFilesInBothCasesAndTheChoiceFillsTheField) {
  QtOwnDialogs own_dialogs;
  TempFolder folder;
  for (const char* name : {"form.html", "OTHER.HTML", "page.htm", "notes.txt"})
    folder.Write(name, "<input name=a>");
  Tfrmexpert window(folder.Path());
  auto* open = window.findChild<QPushButton*>("BitBtn1");
  auto* field = window.findChild<QLineEdit*>("txthtmlfile");
  ASSERT_NE(open, nullptr);
  ASSERT_NE(field, nullptr);

  QStringList listed;
  QString filter;
  AnswerNextFileDialog([&](QFileDialog& dialog) {
    listed = ListedNames(dialog, "form.html");
    filter = dialog.selectedNameFilter();
    TypeNameAndAccept(dialog, "form.html");
  });
  open->click();
  EXPECT_TRUE(filter.startsWith("HTM Files")) << filter.toStdString();
  listed.sort(Qt::CaseInsensitive);
  EXPECT_EQ(listed, (QStringList{"form.html", "OTHER.HTML", "page.htm"}));
  EXPECT_EQ(field->text().toStdString(), folder.Path() + "form.html");

  // Cancelling keeps what the field holds.
  field->setText("typed by the owner.html");
  AnswerNextFileDialog([](QFileDialog& dialog) { dialog.reject(); });
  open->click();
  EXPECT_EQ(field->text(), "typed by the owner.html");
}

struct SaveCase {
  const char* name;
  const char* file_type;
  const char* typed;
  const char* saved;
};

void PrintTo(const SaveCase& c, std::ostream* os) {
  *os << c.name;
}

class QtEditorSaveTest : public testing::TestWithParam<SaveCase> {};

// "HTM Files" once saved "name.TXT", and the gateway then sent the HTML template as plain text.
TEST_P(QtEditorSaveTest, NameWithoutExtensionGetsTheChosenTypesOne) {
  const SaveCase& c = GetParam();
  QtOwnDialogs own_dialogs;
  TempFolder folder;
  Tfrmeditor editor;  // with the real dialogs
  editor.Memo2->setPlainText("<p>%name%</p>");
  QString title;
  AnswerNextFileDialog([&](QFileDialog& dialog) {
    title = dialog.windowTitle();
    dialog.setDirectory(QString::fromStdString(folder.Path()));
    ChooseFileType(dialog, c.file_type);
    TypeNameAndAccept(dialog, c.typed);
  });
  editor.BtnSaveTextClick();
  EXPECT_EQ(title, "Save File");
  EXPECT_EQ(editor.CurrentFileName(), folder.Path() + c.saved);
  EXPECT_EQ(ReadWholeFile(folder.Path() + c.saved), "<p>%name%</p>\r\n");
  EXPECT_FALSE(editor.Modified());
  // Exactly one file: no second one under the typed name or another extension.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path()))
    ++files;
  EXPECT_EQ(files, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Types, QtEditorSaveTest,
    testing::Values(SaveCase{"HtmFiles", "HTM Files", "message", "message.htm"},
                    SaveCase{"TextFiles", "Text Files", "message", "message.txt"},
                    SaveCase{"AllFilesTakeTheDefault", "All Files", "message", "message.txt"},
                    SaveCase{"TypedExtensionStays", "Text Files", "page.html", "page.html"}),
    [](const testing::TestParamInfo<SaveCase>& param_info) { return param_info.param.name; });

}  // namespace
