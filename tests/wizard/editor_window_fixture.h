#pragma once

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
#include "wizard/editor_window.h"
#include "wizard/wizard_dialogs.h"

// The editor window under test with scripted dialogs and a scratch folder; shared by the
// editor window and editor file command tests.
namespace editor_test {

inline void EnsureApplication() {
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
  int ShowModal(QDialog&) override {
    ++modal_runs;
    return QDialog::Accepted;
  }

  Names errors;
  int modal_runs = 0;
};

class EditorWindowFixture : public testing::Test {
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

}  // namespace editor_test
