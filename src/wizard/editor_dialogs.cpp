#include "wizard/editor_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

std::vector<std::string_view> SplitBars(std::string_view text) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t bar = text.find('|');
    parts.push_back(text.substr(0, bar));
    if (bar == std::string_view::npos) return parts;
    text.remove_prefix(bar + 1);
  }
}

// "*.txt" and "*.TXT" for "*.txt"; "*" for "*.*"; patterns separated by ";" each so treated.
QString LinuxPatterns(std::string_view patterns) {
  QStringList out;
  for (const QString& pattern : QString::fromStdString(std::string(patterns)).split(u';')) {
    const QString trimmed = pattern.trimmed();
    if (trimmed.isEmpty()) continue;
    if (trimmed == u"*.*") {
      out << QStringLiteral("*");
      continue;
    }
    for (const QString& variant : {trimmed.toLower(), trimmed.toUpper()}) {
      if (!out.contains(variant)) out << variant;
    }
  }
  return out.join(u' ');
}

std::optional<TFileDialogResult> RunFileDialog(QWidget* parent, const TFileDialogRequest& request,
                                               QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, request.title);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  const QStringList filters = QtNameFilters(request.filter);
  dialog.setNameFilters(filters);
  if (request.filter_index >= 1 && request.filter_index <= filters.size()) {
    dialog.selectNameFilter(filters[request.filter_index - 1]);
  }
  dialog.setDefaultSuffix(request.default_suffix);
  const QString folder = QString::fromStdString(request.initial_dir);
  dialog.setDirectory(folder.isEmpty() ? QDir::currentPath() : folder);
  if (!request.initial_name.empty())
    dialog.selectFile(QString::fromStdString(request.initial_name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  TFileDialogResult result;
  result.file_name = dialog.selectedFiles().constFirst().toStdString();
  result.filter_index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
  if (result.filter_index < 1) result.filter_index = 1;
  return result;
}

}  // namespace

QStringList QtNameFilters(std::string_view pairs) {
  QStringList filters;
  const std::vector<std::string_view> parts = SplitBars(pairs);
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    filters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(std::string(parts[i])),
                                             LinuxPatterns(parts[i + 1]));
  }
  return filters;
}

TEditorDialogs::TAnswer TQtEditorDialogs::Ask(QWidget* parent, const QString& text,
                                              bool with_cancel) {
  QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
  if (with_cancel) buttons |= QMessageBox::Cancel;
  const QMessageBox::StandardButton escape = with_cancel ? QMessageBox::Cancel : QMessageBox::No;
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, buttons, parent);
  box.setEscapeButton(escape);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return TAnswer::Yes;
    case QMessageBox::No:
      return TAnswer::No;
    default:
      return with_cancel ? TAnswer::Cancel : TAnswer::No;
  }
}

std::optional<TFileDialogResult> TQtEditorDialogs::OpenFile(QWidget* parent,
                                                            const TFileDialogRequest& request) {
  return RunFileDialog(parent, request, QFileDialog::AcceptOpen);
}

std::optional<TFileDialogResult> TQtEditorDialogs::SaveFile(QWidget* parent,
                                                            const TFileDialogRequest& request) {
  // QFileDialog asks before overwriting an existing file unless told otherwise.
  return RunFileDialog(parent, request, QFileDialog::AcceptSave);
}
