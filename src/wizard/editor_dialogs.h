#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

// What a file dialog is asked to show. `filter` is written as pairs "Description|pattern|...",
// `filter_index` counts the file types from 1.
struct TFileDialogRequest {
  QString title;
  std::string filter;
  // A name saved without an extension gets the chosen file type's, or this one for a type of
  // every file (see DefaultExtensionFor).
  QString default_suffix;
  std::string initial_dir;
  std::string initial_name;
  int filter_index = 1;
};

// What the owner chose in a file dialog.
struct TFileDialogResult {
  std::string file_name;  // full name
  int filter_index = 1;
};

// The editor's own modal questions and file dialogs, behind one seam so that tests answer them
// without blocking. (The error box and the window's own modal run go through the wizard-wide
// WizardDialogs seam.)
class TEditorDialogs {
 public:
  enum class TAnswer { Yes, No, Cancel };

  virtual ~TEditorDialogs() = default;

  // A warning box with Yes and No, plus Cancel when `with_cancel`; closing the box is Cancel
  // (or No without a Cancel button). Enter answers Yes with Cancel (save the edits) and No
  // without it (the question is whether to throw them away).
  virtual TAnswer Ask(QWidget* parent, const QString& text, bool with_cancel) = 0;
  // Nothing when the owner cancels. The open dialog only accepts existing files; the save
  // dialog asks before overwriting an existing file.
  virtual std::optional<TFileDialogResult> OpenFile(QWidget* parent,
                                                    const TFileDialogRequest& request) = 0;
  virtual std::optional<TFileDialogResult> SaveFile(QWidget* parent,
                                                    const TFileDialogRequest& request) = 0;
};

// The real dialogs: QMessageBox and QFileDialog.
class TQtEditorDialogs : public TEditorDialogs {
 public:
  TAnswer Ask(QWidget* parent, const QString& text, bool with_cancel) override;
  std::optional<TFileDialogResult> OpenFile(QWidget* parent,
                                            const TFileDialogRequest& request) override;
  std::optional<TFileDialogResult> SaveFile(QWidget* parent,
                                            const TFileDialogRequest& request) override;
};

// Turns "Text Files|*.txt|All Files|*.*" into Qt's name filters "Text Files (*.txt *.TXT)" and
// "All Files (*)": file names on Linux are case-sensitive, so each pattern is offered in lower
// and upper case, and "*.*" becomes "*" so that names without a dot show too. "*.htm" also
// offers "*.html" (in both cases), as a three-letter pattern does on Windows. A trailing
// description without a pattern is dropped.
QStringList QtNameFilters(std::string_view pairs);

// The extension (without its dot, lower case) that the save dialog gives a name typed without
// one, as the Windows dialog does with a default extension: the extension of the chosen file
// type, file type `filter_index` (from 1) of `pairs` ("htm" for "HTM Files|*.htm"), or
// `default_suffix` when that type names no single extension ("*.*") or there is no such type.
QString DefaultExtensionFor(std::string_view pairs, int filter_index,
                            const QString& default_suffix);
