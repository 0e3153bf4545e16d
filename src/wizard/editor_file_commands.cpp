// The message text editor's file commands: Open, Save and the text hand-over.
#include <QPlainTextEdit>

#include "common/exception.h"
#include "wizard/editor_text_file.h"
#include "wizard/editor_window.h"
#include "wizard/file_name_choice.h"
#include "wizard/wizard_dialogs.h"

namespace {

constexpr const char* kOpenFilter = "Text Files|*.txt|HTML Files|*.htm|All Files|*.*";
constexpr const char* kSaveFilter = "Text Files|*.txt|HTM Files|*.htm|All Files|*.*";

}  // namespace

void Tfrmeditor::ShowText(const QString& text) {
  Memo2->setPlainText(text);
}

void Tfrmeditor::SetMessageText(const std::string& text) {
  const bool was_modified = modified_;
  const QString before = Memo2->document()->toRawText();
  Memo2->clear();
  TEditorText decoded = DecodeEditorText(text);
  latin1_ = decoded.latin1;
  ShowText(decoded.text);
  // Qt reports a change even when an empty area is emptied again; no text came or went then.
  if (Memo2->document()->toRawText() == before) modified_ = was_modified;
}

std::string Tfrmeditor::MessageText() const {
  return EncodeEditorText(Memo2->document()->toRawText(), latin1_);
}

void Tfrmeditor::SelectSaveFileTypeForText() {
  // The generated HTML layouts begin with a document type or a tag; a text template begins
  // with a word or a macro.
  const QString text = Memo2->toPlainText().trimmed();
  save_filter_index_ = text.startsWith('<') ? 2 : 1;
}

std::optional<std::string> Tfrmeditor::RunSaveDialog() {
  TFileDialogRequest request;
  request.title = "Save File";
  request.filter = kSaveFilter;
  request.default_suffix = "TXT";
  request.initial_dir = FolderPartOf(current_file_name_);
  request.initial_name = FileNamePartOf(current_file_name_);
  request.filter_index = save_filter_index_;
  const std::optional<TFileDialogResult> chosen = dialogs_->SaveFile(this, request);
  if (!chosen) return std::nullopt;
  save_filter_index_ = chosen->filter_index;
  return chosen->file_name;
}

bool Tfrmeditor::WriteText(const std::string& file_name) {
  try {
    WriteMessageTextFile(file_name, MessageText());
    return true;
  } catch (const Exception& error) {
    CurrentWizardDialogs().Error(this, QString::fromStdString(error.Message()));
    return false;
  }
}

void Tfrmeditor::BtnExistingClick() {
  const bool was_modified = modified_;
  if (modified_) {
    switch (dialogs_->Ask(this, "Changes not saved. Save them now?", true)) {
      case TEditorDialogs::TAnswer::Cancel:
        return;
      case TEditorDialogs::TAnswer::Yes: {
        // Saving ends the command; the owner opens a file with the next Open. An unsaved text
        // (dialog cancelled, write failed) stays marked as changed, so it is never dropped
        // without a question.
        const std::optional<std::string> name = RunSaveDialog();
        if (name && WriteText(*name)) modified_ = false;
        return;
      }
      case TEditorDialogs::TAnswer::No:
        break;
    }
  }

  Memo2->clear();
  latin1_ = false;
  TFileDialogRequest request;
  request.title = "Open Message Text File";
  request.filter = kOpenFilter;
  request.default_suffix = "TXT";
  request.initial_dir = FolderPartOf(current_file_name_);
  const std::optional<TFileDialogResult> chosen = dialogs_->OpenFile(this, request);
  if (chosen) {
    try {
      const TEditorText text = DecodeEditorText(ReadMessageTextFile(chosen->file_name));
      latin1_ = text.latin1;
      ShowText(text.text);
      current_file_name_ = chosen->file_name;
      SelectSaveFileTypeForText();
    } catch (const Exception& error) {
      // The text area stays empty; the file name and the changed mark stay as they were.
      modified_ = was_modified;
      CurrentWizardDialogs().Error(this, QString::fromStdString(error.Message()));
      return;
    }
  }
  modified_ = false;
}

void Tfrmeditor::BtnSaveTextClick() {
  const std::optional<std::string> name = RunSaveDialog();
  // A cancelled dialog saved nothing: the text keeps its changed mark and its file name.
  if (!name) return;
  if (!WriteText(*name)) return;
  current_file_name_ = *name;
  modified_ = false;
}
