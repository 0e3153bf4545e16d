#include "wizard/editor_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QToolButton>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "wizard/editor_text_area.h"
#include "wizard/wizard_dialogs.h"

namespace {

void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "editor_window_test";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

using Names = std::vector<std::string>;

// Answers the editor's questions and file dialogs from scripted queues and records what was
// asked; an empty queue answers Cancel (or No) and cancels a file dialog.
class ScriptedEditorDialogs : public TEditorDialogs {
 public:
  TAnswer Ask(QWidget*, const QString& text, bool with_cancel) override {
    questions.push_back(text.toStdString());
    if (answers.empty()) return with_cancel ? TAnswer::Cancel : TAnswer::No;
    const TAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<TFileDialogResult> OpenFile(QWidget*, const TFileDialogRequest& request) override {
    open_requests.push_back(request);
    return Next();
  }
  std::optional<TFileDialogResult> SaveFile(QWidget*, const TFileDialogRequest& request) override {
    save_requests.push_back(request);
    return Next();
  }

  std::deque<TAnswer> answers;
  std::deque<std::optional<std::string>> files;
  Names questions;
  std::vector<TFileDialogRequest> open_requests;
  std::vector<TFileDialogRequest> save_requests;

 private:
  std::optional<TFileDialogResult> Next() {
    if (files.empty() || !files.front()) {
      if (!files.empty()) files.pop_front();
      return std::nullopt;
    }
    TFileDialogResult result{*files.front(), 1};
    files.pop_front();
    return result;
  }
};

// The wizard-wide seam: records error boxes and modal runs.
class RecordingWizardDialogs : public WizardDialogs {
 public:
  void Warning(QWidget*, const QString&) override {}
  void Information(QWidget*, const QString&) override {}
  void Error(QWidget*, const QString& text) override { errors.push_back(text.toStdString()); }
  std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&,
                                      const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&) override {
    return std::nullopt;
  }
  int ShowModal(QDialog&) override {
    ++modal_runs;
    return QDialog::Accepted;
  }

  Names errors;
  int modal_runs = 0;
};

class EditorWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    SetWizardDialogs(&wizard_dialogs_);
    dialogs_ = std::make_shared<ScriptedEditorDialogs>();
    editor_ = std::make_unique<Tfrmeditor>(nullptr, dialogs_);
    char pattern[] = "/tmp/bx-editorwin-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    editor_.reset();
    SetWizardDialogs(nullptr);
    std::filesystem::remove_all(dir_);
  }

  static Names Rows(const QListWidget* list) {
    Names rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text().toStdString());
    return rows;
  }
  static TStringList ListOf(const Names& names) {
    TStringList list;
    for (const std::string& name : names) list.Add(name);
    return list;
  }
  static int Selected(const QListWidget* list) {
    const auto items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.constFirst());
  }
  std::string Text() const { return editor_->Memo2->toPlainText().toStdString(); }
  void DoubleClick(QListWidget* list, int row) {
    list->setCurrentRow(row);
    emit list->itemDoubleClicked(list->item(row));
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Drops list entries on the text area as a drag from a macro list would.
  void DropListEntryOnText() {
    QMimeData mime;
    mime.setData(TEditorTextArea::ListDragFormat(), QByteArray("entries"));
    QWidget* viewport = editor_->Memo2->viewport();
    const QPointF at(viewport->width() - 2, viewport->height() - 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  }

  RecordingWizardDialogs wizard_dialogs_;
  std::shared_ptr<ScriptedEditorDialogs> dialogs_;
  std::unique_ptr<Tfrmeditor> editor_;
  std::string dir_;
};

TEST_F(EditorWindowTest, ControlsCarryTheirNamesTextsAndHints) {
  EXPECT_EQ(editor_->objectName(), "frmeditor");
  EXPECT_EQ(editor_->windowTitle(), "Brevix BX Editor");
  struct Named {
    const char* name;
    QString text;
  };
  for (const Named& action :
       {Named{"Open3", "&Open"}, Named{"Save2", "&Save"}, Named{"Exit1", "E&xit"},
        Named{"Copy1", "&Copy"}, Named{"Cut1", "C&ut"}, Named{"Paste1", "&Paste"},
        Named{"About1", "&About"}}) {
    const auto* found = editor_->findChild<QAction*>(action.name);
    ASSERT_NE(found, nullptr) << action.name;
    EXPECT_EQ(found->text(), action.text) << action.name;
  }
  for (const Named& label :
       {Named{"Label12", "Available Macros"}, Named{"Label23", "Unused Macros"},
        Named{"Label13", "Used Macros"}, Named{"Label14", "Edit File Here..."}}) {
    const auto* found = editor_->findChild<QLabel*>(label.name);
    ASSERT_NE(found, nullptr) << label.name;
    EXPECT_EQ(found->text(), label.text) << label.name;
  }
  for (const Named& hint :
       {Named{"SpeedButton1", "Sort list of macros alphabetically"},
        Named{"BtnUp", "Move selected macro up"}, Named{"BtnDown", "Move selected macro down"},
        Named{"BtnDelete", "Don't use this macro in Auto-Format"}}) {
    const auto* found = editor_->findChild<QToolButton*>(hint.name);
    ASSERT_NE(found, nullptr) << hint.name;
    EXPECT_EQ(found->toolTip(), hint.text) << hint.name;
  }
  for (const char* list : {"list1", "list2", "list3"}) {
    EXPECT_NE(editor_->findChild<QListWidget*>(list), nullptr) << list;
  }
  EXPECT_NE(editor_->findChild<QPlainTextEdit*>("Memo2"), nullptr);
  EXPECT_FALSE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), "");
}

TEST_F(EditorWindowTest, DoubleClickingEveryAvailableEntryInsertsThemInOrder) {
  editor_->SetAvailableMacros(ListOf({"%b%", "%a%", "%c%"}));
  while (editor_->list1->count() > 0) DoubleClick(editor_->list1, 0);
  EXPECT_EQ(Text(), "%b%%a%%c%");
  EXPECT_EQ(Rows(editor_->list2), (Names{"%b%", "%a%", "%c%"}));
  EXPECT_TRUE(editor_->Modified());

  // A used entry inserts again and changes no list.
  DoubleClick(editor_->list2, 1);
  EXPECT_EQ(Text(), "%b%%a%%c%%a%");
  EXPECT_EQ(Rows(editor_->list2), (Names{"%b%", "%a%", "%c%"}));
  EXPECT_TRUE(editor_->list1->count() == 0);
}

TEST_F(EditorWindowTest, InsertionReplacesTheSelectedText) {
  editor_->SetMessageText("Dear NAME,");
  editor_->SetAvailableMacros(ListOf({"%name%"}));
  QTextCursor cursor = editor_->Memo2->textCursor();
  cursor.setPosition(5);
  cursor.setPosition(9, QTextCursor::KeepAnchor);
  editor_->Memo2->setTextCursor(cursor);
  DoubleClick(editor_->list1, 0);
  EXPECT_EQ(Text(), "Dear %name%,");
}

TEST_F(EditorWindowTest, DoubleClickWithoutSelectionDoesNothing) {
  editor_->SetAvailableMacros(ListOf({"%a%"}));
  editor_->SetUsedMacros(ListOf({"%u%"}));
  editor_->list1DblClick();
  editor_->list2DblClick();
  editor_->list3DblClick();
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%"}));
  EXPECT_FALSE(editor_->Modified());
}

TEST_F(EditorWindowTest, UnusedEntryBecomesAvailableAtTheEndOrItsSortedPlace) {
  editor_->SetAvailableMacros(ListOf({"%m%", "%c%"}));
  editor_->AddUnusedMacro("%z%");
  editor_->AddUnusedMacro("%a%");
  EXPECT_EQ(Rows(editor_->list3), (Names{"%a%", "%z%"}));
  DoubleClick(editor_->list3, 1);
  EXPECT_EQ(Rows(editor_->list1), (Names{"%m%", "%c%", "%z%"}));
  EXPECT_EQ(Text(), "");

  editor_->SpeedButton1->click();  // sort list1
  EXPECT_EQ(Rows(editor_->list1), (Names{"%c%", "%m%", "%z%"}));
  editor_->list1->setCurrentRow(1);  // %m%
  DoubleClick(editor_->list3, 0);
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%c%", "%m%", "%z%"}));
  EXPECT_EQ(Selected(editor_->list1), 2);  // still %m%
  EXPECT_TRUE(editor_->list3->count() == 0);
}

TEST_F(EditorWindowTest, DropInsertsTheEntrySelectedInAvailableListAtTheCaret) {
  editor_->SetMessageText("ab");
  editor_->SetAvailableMacros(ListOf({"%one%", "%two%"}));
  editor_->AddUnusedMacro("%dragged%");
  QTextCursor cursor = editor_->Memo2->textCursor();
  cursor.setPosition(1);
  editor_->Memo2->setTextCursor(cursor);
  editor_->list1->setCurrentRow(1);
  editor_->list3->setCurrentRow(0);
  DropListEntryOnText();  // a drag of %dragged% from list3
  EXPECT_EQ(Text(), "a%two%b");
  EXPECT_EQ(Rows(editor_->list1), (Names{"%one%", "%two%"}));
  EXPECT_EQ(Rows(editor_->list3), (Names{"%dragged%"}));
  EXPECT_TRUE(editor_->list2->count() == 0);

  editor_->list1->clearSelection();
  DropListEntryOnText();
  EXPECT_EQ(Text(), "a%two%b");
}

TEST_F(EditorWindowTest, ArrangementButtonsActOnAvailableList) {
  editor_->SetAvailableMacros(ListOf({"%a%", "%b%", "%c%"}));
  editor_->list1->setCurrentRow(2);
  editor_->BtnUp->click();
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%c%", "%b%"}));
  EXPECT_EQ(Selected(editor_->list1), 1);
  editor_->BtnDown->click();
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%b%", "%c%"}));
  EXPECT_EQ(Selected(editor_->list1), 2);

  editor_->BtnDelete->click();  // %c%: the one above becomes selected
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%b%"}));
  EXPECT_EQ(Selected(editor_->list1), 1);
  editor_->list1->setCurrentRow(0);
  editor_->BtnDelete->click();  // the first: nothing selected
  EXPECT_EQ(Rows(editor_->list1), (Names{"%b%"}));
  EXPECT_EQ(Selected(editor_->list1), -1);
  EXPECT_EQ(Rows(editor_->list3), (Names{"%a%", "%c%"}));
}

TEST_F(EditorWindowTest, ClearMacroListsEmptiesAllThree) {
  editor_->SetAvailableMacros(ListOf({"%a%"}));
  editor_->SetUsedMacros(ListOf({"%b%"}));
  editor_->AddUnusedMacro("%c%");
  editor_->ClearMacroLists();
  EXPECT_EQ(editor_->list1->count() + editor_->list2->count() + editor_->list3->count(), 0);
}

TEST_F(EditorWindowTest, HandedOverTemplateCountsAsUnsavedAtClose) {
  editor_->SetMessageText("%a%\r\n%b%\r\n");
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->MessageText(), "%a%\r\n%b%\r\n");

  editor_->show();
  dialogs_->answers = {TEditorDialogs::TAnswer::No};
  editor_->Exit1->trigger();
  EXPECT_TRUE(editor_->isVisible());
  EXPECT_EQ(dialogs_->questions, (Names{"Message Text file not saved. Exit anyway?"}));

  dialogs_->answers = {TEditorDialogs::TAnswer::No};
  editor_->reject();  // Escape
  EXPECT_TRUE(editor_->isVisible());

  dialogs_->answers = {TEditorDialogs::TAnswer::Yes};
  editor_->Exit1->trigger();
  EXPECT_FALSE(editor_->isVisible());
  EXPECT_EQ(dialogs_->questions.size(), 3u);  // one question per close, never two
}

TEST_F(EditorWindowTest, BlankHandOverChangesOnlyATextThatWasThere) {
  editor_->SetMessageText("");
  EXPECT_FALSE(editor_->Modified());
  editor_->Memo2->setPlainText("typed");
  editor_->Save2->trigger();  // cancelled: still changed
  dialogs_->files = {File("t.txt")};
  editor_->Save2->trigger();
  ASSERT_FALSE(editor_->Modified());
  editor_->SetMessageText("");
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->MessageText(), "");
}

TEST_F(EditorWindowTest, UnchangedTextClosesWithoutAsking) {
  editor_->show();
  editor_->Exit1->trigger();
  EXPECT_FALSE(editor_->isVisible());
  EXPECT_TRUE(dialogs_->questions.empty());
}

TEST_F(EditorWindowTest, ShowModalGoesThroughTheWizardSeam) {
  editor_->ShowModal();
  EXPECT_EQ(wizard_dialogs_.modal_runs, 1);
}

TEST_F(EditorWindowTest, OpenAnsweredNoThenCancelledLeavesEmptyUnchangedText) {
  editor_->SetMessageText("draft");
  dialogs_->answers = {TEditorDialogs::TAnswer::No};
  editor_->Open3->trigger();
  EXPECT_EQ(dialogs_->questions, (Names{"Changes not saved. Save them now?"}));
  ASSERT_EQ(dialogs_->open_requests.size(), 1u);
  EXPECT_EQ(dialogs_->open_requests[0].title, "Open Message Text File");
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(editor_->Modified());

  editor_->show();
  editor_->Exit1->trigger();
  EXPECT_FALSE(editor_->isVisible());
  EXPECT_EQ(dialogs_->questions.size(), 1u);
}

TEST_F(EditorWindowTest, OpenCancelledAtTheQuestionChangesNothing) {
  editor_->SetMessageText("draft");
  editor_->Open3->trigger();  // no scripted answer: Cancel
  EXPECT_EQ(Text(), "draft");
  EXPECT_TRUE(editor_->Modified());
  EXPECT_TRUE(dialogs_->open_requests.empty());
}

TEST_F(EditorWindowTest, OpenLoadsTheChosenFile) {
  const std::string path = File("thanks.txt");
  std::ofstream(path, std::ios::binary) << "Hello %name%\nBye\r\n";
  dialogs_->files = {path};
  editor_->Open3->trigger();
  EXPECT_TRUE(dialogs_->questions.empty());
  EXPECT_EQ(Text(), "Hello %name%\nBye");
  EXPECT_EQ(editor_->CurrentFileName(), path);
  EXPECT_FALSE(editor_->Modified());

  // The next Open starts in the folder of the current file.
  editor_->Open3->trigger();
  ASSERT_EQ(dialogs_->open_requests.size(), 2u);
  EXPECT_EQ(dialogs_->open_requests[1].initial_dir, dir_ + "/");
}

TEST_F(EditorWindowTest, OpenAnsweredYesSavesAndOpensNothing) {
  const std::string path = File("saved.txt");
  editor_->SetMessageText("line one\nline two");
  dialogs_->answers = {TEditorDialogs::TAnswer::Yes};
  dialogs_->files = {path};
  editor_->Open3->trigger();
  EXPECT_EQ(Slurp(path), "line one\r\nline two\r\n");
  EXPECT_TRUE(dialogs_->open_requests.empty());
  EXPECT_FALSE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), "");
  EXPECT_EQ(Text(), "line one\nline two");
}

// A save dialog cancelled inside Open once cleared the changed mark, so the next close let
// unsaved text go without a question.
TEST_F(EditorWindowTest, OpenAnsweredYesButSaveCancelledKeepsTheChangedMark) {
  editor_->SetMessageText("draft");
  dialogs_->answers = {TEditorDialogs::TAnswer::Yes};
  editor_->Open3->trigger();
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(Text(), "draft");
}

TEST_F(EditorWindowTest, SaveWritesTheTextAndRemembersTheName) {
  const std::string path = File("out.txt");
  editor_->SetMessageText("a\n\nb");
  dialogs_->files = {path};
  editor_->Save2->trigger();
  EXPECT_EQ(Slurp(path), "a\r\n\r\nb\r\n");
  EXPECT_EQ(editor_->CurrentFileName(), path);
  EXPECT_FALSE(editor_->Modified());
  ASSERT_EQ(dialogs_->save_requests.size(), 1u);
  EXPECT_EQ(dialogs_->save_requests[0].title, "Save File");
  EXPECT_EQ(dialogs_->save_requests[0].initial_name, "");

  // The next Save offers the file's name in its folder.
  dialogs_->files = {std::nullopt};
  editor_->Save2->trigger();
  ASSERT_EQ(dialogs_->save_requests.size(), 2u);
  EXPECT_EQ(dialogs_->save_requests[1].initial_name, "out.txt");
  EXPECT_EQ(dialogs_->save_requests[1].initial_dir, dir_ + "/");
}

// A cancelled save once cleared the changed mark and cut the file name down to its last part.
TEST_F(EditorWindowTest, CancelledSaveKeepsChangedMarkAndFileName) {
  const std::string path = File("keep.txt");
  dialogs_->files = {path};
  editor_->SetMessageText("one");
  editor_->Save2->trigger();
  editor_->Memo2->appendPlainText("two");
  ASSERT_TRUE(editor_->Modified());
  editor_->Save2->trigger();  // cancelled
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), path);
  EXPECT_EQ(Slurp(path), "one\r\n");
}

TEST_F(EditorWindowTest, FailedSaveShowsErrorAndKeepsState) {
  const std::string bad = File("no-such-folder/x.txt");
  editor_->SetMessageText("text");
  dialogs_->files = {bad};
  editor_->Save2->trigger();
  EXPECT_EQ(wizard_dialogs_.errors, (Names{"Cannot create file \"" + bad + "\""}));
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), "");
  EXPECT_EQ(Text(), "text");
}

TEST_F(EditorWindowTest, FailedOpenShowsErrorAndLeavesEmptyText) {
  const std::string first = File("first.txt");
  std::ofstream(first) << "first\r\n";
  dialogs_->files = {first, dir_};  // the second "file" is a folder and cannot be read
  editor_->Open3->trigger();
  editor_->Open3->trigger();
  EXPECT_EQ(wizard_dialogs_.errors, (Names{"Cannot open file \"" + dir_ + "\""}));
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(editor_->CurrentFileName(), first);
  EXPECT_FALSE(editor_->Modified());
}

TEST_F(EditorWindowTest, SaveStartsWithTheFileTypeLastSelected) {
  dialogs_->files = {std::nullopt};
  editor_->SelectFirstSaveFileType();
  editor_->Save2->trigger();
  ASSERT_EQ(dialogs_->save_requests.size(), 1u);
  EXPECT_EQ(dialogs_->save_requests[0].filter_index, 1);
  EXPECT_EQ(dialogs_->save_requests[0].filter, "Text Files|*.txt|HTM Files|*.htm|All Files|*.*");
}

TEST_F(EditorWindowTest, ClipboardCommandsActOnTheFocusedTextArea) {
  editor_->show();
  editor_->SetMessageText("cut me");
  editor_->Memo2->setFocus();
  editor_->Memo2->selectAll();
  editor_->Copy1->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "cut me");
  editor_->Cut1->trigger();
  EXPECT_EQ(Text(), "");
  editor_->Paste1->trigger();
  editor_->Paste1->trigger();
  EXPECT_EQ(Text(), "cut mecut me");

  // With a list focused the commands do nothing.
  editor_->SetAvailableMacros(ListOf({"%a%"}));
  editor_->list1->setFocus();
  editor_->Paste1->trigger();
  EXPECT_EQ(Text(), "cut mecut me");
}

TEST_F(EditorWindowTest, AboutRunsTheWizardsHandler) {
  int shown = 0;
  editor_->SetAboutHandler([&] { ++shown; });
  editor_->About1->trigger();
  EXPECT_EQ(shown, 1);
}

}  // namespace
