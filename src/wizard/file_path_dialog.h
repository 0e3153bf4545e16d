#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "wizard/file_name_choice.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The file name dialog "Format File Name": after the owner picked a file, it asks how much of
// the path a setting should keep (just the file name, the relative path or the full path) and
// lets the owner edit the proposal in `txtfilename`.
//
// One dialog lives for the whole run of the wizard; its controls are owned by the dialog (Qt
// parent) and carry their own names as object names. The dialog never touches a file.
class TFrmFilePath : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmFilePath(QWidget* parent = nullptr);

  // The full name of the file last chosen in the wizard's file chooser; the choices read it.
  const std::string& SelectedFilePath() const { return selected_file_path_; }
  void SetSelectedFilePath(std::string path) { selected_file_path_ = std::move(path); }

  // Selects "Just the File Name" and runs its action, whatever was chosen before.
  void ResetChoice();

  // The text of txtfilename (the proposal, or what the owner typed over it).
  std::string FileNameText() const;

  // Shows the dialog modally through the wizard's dialog seam (WizardDialogs::ShowModal), so
  // that tests can answer it without a modal loop.
  int ShowModal();

  // The choices' actions: each replaces txtfilename with its proposal, computed afresh from
  // SelectedFilePath, so switching choices never loses the full name.
  void RadioButton3Click();  // just the file name
  void RadioButton2Click();  // relative path
  void RadioButton1Click();  // full path

  QLabel* Label1 = nullptr;
  QRadioButton* RadioButton3 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QLineEdit* txtfilename = nullptr;
  QPushButton* BitBtn1 = nullptr;

 private:
  void Propose(TFileNameChoice choice);

  std::string selected_file_path_;
};

// The action of every "...." button of the wizard. `choose_file` runs the wizard's open-file
// dialog and returns the chosen full name, or nothing when the owner cancelled.
//
// On a cancel the result is nothing and `dialog` is not shown, so the caller keeps what its
// field holds. Otherwise the chosen name becomes the dialog's SelectedFilePath, the dialog opens
// with "Just the File Name" chosen, and the result is the text of txtfilename when the dialog
// closes, whichever way it was closed.
std::optional<std::string> BrowseFileName(
    TFrmFilePath& dialog, const std::function<std::optional<std::string>()>& choose_file);
