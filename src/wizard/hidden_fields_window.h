#pragma once
#include <QDialog>
#include <functional>
#include <string>

#include "common/string_list.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

// "HTML for Hidden Fields": shows the hidden input lines that the wizard built, lets the owner
// edit them, copy the whole text to the clipboard or save it to a file of the owner's choice.
//
// Created once at program start and shown modally at the end of the hidden-fields task. Its
// controls are owned by the window. The save chooser and the error box go through
// CurrentWizardDialogs(); a file that cannot be written is reported there and the window stays
// open with its text. A save replaces the file in one step, so it is never left half-written.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  // Replaces the text of Memo1 with `lines`, one per line.
  void SetLines(const TStringList& lines);
  // The note below the text naming the addresses the server's brevix.ini must allow; hidden
  // when `note` is empty. It is not part of the text that is copied or saved.
  void SetRecipientNote(const std::string& note);
  // The note on choices a form cannot make (ini_overrides.h), with the button btnWriteIni that
  // runs `write` to make them in brevix.ini instead; both hidden when `note` is empty. When
  // `write` returns true the button hides and the note says what was written.
  void SetIniOverrides(const std::string& note, std::function<bool()> write);
  // The lines of Memo1 as they stand (the owner may have changed them).
  TStringList Lines() const;

  // Copy: selects the whole text and puts all of it on the clipboard.
  void BitBtn1Click();
  // Save: asks for a file name and writes the lines, each ended by CR LF. Returns whether a file
  // was written (false after a cancel or a failure).
  bool BitBtn3Click();
  // Put into Form: asks for a form page, shows what merging the lines into it changes
  // (MergeHiddenFields: the page's own hidden fields of the same names are replaced) and, when
  // the owner says Yes, replaces the page in one step. Returns whether the page was written.
  bool btnPutIntoFormClick();

  QPlainTextEdit* Memo1 = nullptr;
  QLabel* lblAllowedRecipients = nullptr;
  QLabel* lblIniOverrides = nullptr;
  QPushButton* btnWriteIni = nullptr;
  QPushButton* btnPutIntoForm = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* BitBtn2 = nullptr;

 private:
  bool WriteFile(const QString& name, const std::string& text);
  std::function<bool()> write_ini_;
};
