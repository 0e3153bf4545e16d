#include "wizard/editor_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <functional>
#include <memory>
#include <utility>

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

QStringList SplitPatterns(std::string_view patterns) {
  QStringList out;
  for (const QString& pattern : QString::fromStdString(std::string(patterns)).split(u';')) {
    const QString trimmed = pattern.trimmed();
    if (!trimmed.isEmpty()) out << trimmed;
  }
  return out;
}

// "*.txt" and "*.TXT" for "*.txt"; "*" for "*.*"; patterns separated by ";" each so treated.
// "*.htm" brings "*.html" along: on Windows a three-letter pattern also matches the longer
// extension, and an owner's "form.html" must not look like an empty folder.
QString LinuxPatterns(std::string_view patterns) {
  QStringList out;
  auto add_both_cases = [&out](const QString& pattern) {
    for (const QString& variant : {pattern.toLower(), pattern.toUpper()}) {
      if (!out.contains(variant)) out << variant;
    }
  };
  for (const QString& pattern : SplitPatterns(patterns)) {
    if (pattern == u"*.*") {
      if (!out.contains(u"*")) out << QStringLiteral("*");
      continue;
    }
    add_both_cases(pattern);
    if (pattern.compare(u"*.htm", Qt::CaseInsensitive) == 0) add_both_cases(pattern + u'l');
  }
  return out.join(u' ');
}

// Qt's own dialog applies the default suffix when it accepts a name; the suffix follows the
// file type shown at that moment, however the owner chose it.
class SaveFileDialog : public QFileDialog {
 public:
  using SuffixFor = std::function<QString(const QString& name_filter)>;
  SaveFileDialog(QWidget* parent, const QString& title, SuffixFor suffix_for)
      : QFileDialog(parent, title), suffix_for_(std::move(suffix_for)) {}

 protected:
  void accept() override {
    setDefaultSuffix(suffix_for_(selectedNameFilter()));
    QFileDialog::accept();
  }

 private:
  SuffixFor suffix_for_;
};

std::optional<TFileDialogResult> RunFileDialog(QWidget* parent, const TFileDialogRequest& request,
                                               QFileDialog::AcceptMode mode) {
  const QStringList filters = QtNameFilters(request.filter);
  const auto suffix_for = [&](const QString& name_filter) {
    return DefaultExtensionFor(request.filter, static_cast<int>(filters.indexOf(name_filter)) + 1,
                               request.default_suffix);
  };
  std::unique_ptr<QFileDialog> owned =
      mode == QFileDialog::AcceptSave
          ? std::make_unique<SaveFileDialog>(parent, request.title, suffix_for)
          : std::make_unique<QFileDialog>(parent, request.title);
  QFileDialog& dialog = *owned;
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilters(filters);
  if (request.filter_index >= 1 && request.filter_index <= filters.size()) {
    dialog.selectNameFilter(filters[request.filter_index - 1]);
  }
  dialog.setDefaultSuffix(suffix_for(dialog.selectedNameFilter()));
  if (mode == QFileDialog::AcceptSave) {
    // A platform's own dialog adds the suffix itself, so it must know the type's one early.
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&](const QString& name_filter) { dialog.setDefaultSuffix(suffix_for(name_filter)); });
  }
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

QString DefaultExtensionFor(std::string_view pairs, int filter_index,
                            const QString& default_suffix) {
  const std::vector<std::string_view> parts = SplitBars(pairs);
  const std::size_t pattern_at = static_cast<std::size_t>(filter_index) * 2 - 1;
  if (filter_index >= 1 && pattern_at < parts.size()) {
    const QStringList patterns = SplitPatterns(parts[pattern_at]);
    if (!patterns.isEmpty()) {
      const QString first = patterns.front();
      // Only a plain "*.ext" names an extension; "*.*" and wildcards in it do not.
      if (first.startsWith(u"*.") && first.size() > 2 && !first.mid(2).contains(u'*') &&
          !first.mid(2).contains(u'?') && !first.mid(2).contains(u'.')) {
        return first.mid(2).toLower();
      }
    }
  }
  return default_suffix.toLower();
}

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
  // Enter gives the answer that keeps the work: with Cancel the question is whether to save
  // (Yes), without it whether to throw the edits away (No).
  box.setDefaultButton(with_cancel ? QMessageBox::Yes : QMessageBox::No);
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
