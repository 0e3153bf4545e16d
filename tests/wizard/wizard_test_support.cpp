#include "wizard/wizard_test_support.h"

#include <QDialog>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::optional<QString> RecordingDialogs::OpenFileName(QWidget*, const QString&,
                                                      const QString& folder,
                                                      const QString& filter) {
  open_folders.append(folder);
  open_filters.append(filter);
  const QString answer = open_answers.isEmpty() ? QString() : open_answers.takeFirst();
  if (answer.isEmpty()) return std::nullopt;
  return answer;
}

std::optional<QString> RecordingDialogs::SaveFileName(QWidget*, const QString& title,
                                                      const QString&) {
  save_titles.append(title);
  const QString answer = save_answers.isEmpty() ? QString() : save_answers.takeFirst();
  if (answer.isEmpty()) return std::nullopt;
  return answer;
}

int RecordingDialogs::ShowModal(QDialog& dialog) {
  modal_windows.append(dialog.objectName());
  if (during_modal) during_modal(dialog);
  return QDialog::Accepted;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brevix-wizard-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::Write(const std::string& name, const std::string& content) const {
  const std::string full = path_ + name;
  std::ofstream(full, std::ios::binary) << content;
  return full;
}

std::string ReadWholeFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
