#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/string_list.h"
#include "wizard/editor_dialogs.h"
#include "wizard/editor_macro_lists.h"

class QAction;
class QLabel;
class QListWidget;
class QMenuBar;
class QPlainTextEdit;
class QToolButton;

// The message text editor "Brevix BX Editor": a text area for a message-text template, three
// macro lists (available `list1`, unused `list3`, used `list2`) with insertion by double-click
// and by dragging onto the text, the arrangement buttons of the available list, Open and Save
// of text files with their confirmations, the close check and the clipboard commands.
//
// The window is created once at program start and lives for the whole run; it is hidden, not
// destroyed, when closed, so its text, lists, file name and changed mark carry over. Controls
// are owned by the window (Qt parents) and carry their own names as object names. Modal boxes
// and file dialogs go through the TEditorDialogs given at construction (real Qt dialogs when
// none is given). A failed file operation is shown in the error box and the command ends; the
// window carries on.
//
// Texts cross the window's boundary as byte strings; editor_text_file.h says how bytes map to
// the text area. The window's modal run and the error box go through the wizard's
// WizardDialogs seam.
class Tfrmeditor : public QDialog {
  Q_OBJECT

 public:
  explicit Tfrmeditor(QWidget* parent = nullptr, std::shared_ptr<TEditorDialogs> dialogs = nullptr);
  ~Tfrmeditor() override;

  // --- What the wizard does to the editor ---
  // Empties all three macro lists (a new form scan).
  void ClearMacroLists();
  // Adds a macro removed on the wizard's macro page to the unused list (sorted place).
  void AddUnusedMacro(const std::string& macro);
  // Replaces the available list (blank template) or the used list (generated template).
  void SetAvailableMacros(const TStringList& macros);
  void SetUsedMacros(const TStringList& macros);
  // Clears the text area and puts `text` (lines ended by CR LF, LF or CR) into it; a change of
  // the text sets Modified, so a handed-over template counts as unsaved (an empty text put into
  // an empty area changes nothing).
  void SetMessageText(const std::string& text);
  // The text area's content, lines ended by CR LF, as it would be saved.
  std::string MessageText() const;
  // The next Save dialog starts with the file type of what the text area holds: "HTM Files"
  // when its first mark-up is an HTML tag (the gateway sends a .htm template as HTML), else
  // "Text Files".
  void SelectSaveFileTypeForText();
  // Shows the window modally through WizardDialogs::ShowModal; returns when it closes.
  int ShowModal();
  // What Help > About does (the wizard shows its About window modally).
  void SetAboutHandler(std::function<void()> handler) { about_handler_ = std::move(handler); }

  bool Modified() const { return modified_; }
  const std::string& CurrentFileName() const { return current_file_name_; }
  const TEditorMacroLists& MacroLists() const { return lists_; }

  // --- Handlers (wired to the controls; public so that they can be driven directly) ---
  void list1DblClick();
  void list2DblClick();
  void list3DblClick();
  // Inserts the entry selected in list1 at the caret, whichever list the drag came from.
  void Memo2DragDrop();
  void SpeedButton1Click();  // sort or unsort list1
  void BtnUpClick();
  void BtnDownClick();
  void BtnDeleteClick();
  // File > Open. With unsaved changes it asks first: Cancel ends the command, Yes saves (and
  // opens nothing), No goes on. Then the text area is emptied and the chosen file loaded; the
  // changed mark is cleared. An unsaved text (save cancelled or failed) keeps its changed mark.
  void BtnExistingClick();
  // File > Save: writes the text to the chosen file, which becomes CurrentFileName, and clears
  // the changed mark. A cancelled dialog or a failed write leaves both as they were.
  void BtnSaveTextClick();
  void Exit1Click();
  void Copy1Click();
  void Cut1Click();
  void Paste1Click();
  void About1Click();
  // The close check: true when the window may close.
  bool FormCloseQuery();
  // Escape and the window's own reject route end here too, so the close check always runs.
  void reject() override;

  // --- Controls ---
  QMenuBar* MainMenu1 = nullptr;
  QAction* Open3 = nullptr;
  QAction* Save2 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Cut1 = nullptr;
  QAction* Paste1 = nullptr;
  QAction* About1 = nullptr;
  QLabel* Label12 = nullptr;
  QLabel* Label23 = nullptr;
  QLabel* Label13 = nullptr;
  QLabel* Label14 = nullptr;
  QListWidget* list1 = nullptr;
  QListWidget* list3 = nullptr;
  QListWidget* list2 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QToolButton* BtnUp = nullptr;
  QToolButton* BtnDown = nullptr;
  QToolButton* BtnDelete = nullptr;
  QPlainTextEdit* Memo2 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void WireControls();
  // Puts `text` into the text area (which sets Modified through the change).
  void ShowText(const QString& text);
  // Shows the lists of lists_ in the three list widgets; `selected` becomes list1's selection.
  void ShowLists(int selected);
  void InsertIntoText(const std::string& macro);
  // The save dialog with the current file's name and folder offered; the chosen name or none.
  std::optional<std::string> RunSaveDialog();
  // Writes the text area to `file_name`; false (after the error box) when it failed.
  bool WriteText(const std::string& file_name);
  int SelectedAvailable() const;

  std::shared_ptr<TEditorDialogs> dialogs_;
  TEditorMacroLists lists_;
  bool modified_ = false;
  // The text came from bytes that are not UTF-8 and goes back out as ISO-8859-1.
  bool latin1_ = false;
  // The close check already ran for the close in progress (closeEvent calls reject()).
  bool close_query_done_ = false;
  std::string current_file_name_;
  int save_filter_index_ = 1;
  std::function<void()> about_handler_;
};
