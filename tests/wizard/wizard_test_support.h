#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "wizard/wizard_dialogs.h"

// Answers every modal question of the wizard at once and records what was asked. Installed
// with SetWizardDialogs for the life of the object.
class RecordingDialogs : public WizardDialogs {
 public:
  RecordingDialogs() { SetWizardDialogs(this); }
  ~RecordingDialogs() override { SetWizardDialogs(nullptr); }
  RecordingDialogs(const RecordingDialogs&) = delete;
  RecordingDialogs& operator=(const RecordingDialogs&) = delete;

  void Warning(QWidget*, const QString& text) override { warnings.append(text); }
  void Information(QWidget*, const QString& text) override { informations.append(text); }
  void Error(QWidget*, const QString& text) override { errors.append(text); }
  // Records the question; answers from question_answers, No when it is empty.
  bool Question(QWidget*, const QString& text) override {
    questions.append(text);
    return !question_answers.isEmpty() && question_answers.takeFirst();
  }
  // Records the question; answers with what was offered.
  std::optional<QString> AskText(QWidget*, const QString& text, const QString& offered) override {
    text_questions.append(text);
    return offered;
  }
  std::optional<QString> OpenFileName(QWidget*, const QString&, const QString& folder,
                                      const QString& filter) override;
  std::optional<QString> SaveFileName(QWidget*, const QString& title, const QString&) override;
  // Records the window's object name, plays `during_modal` (the owner's part), closes it.
  int ShowModal(QDialog& dialog) override;

  QStringList warnings, informations, errors, questions, text_questions, modal_windows, save_titles,
      open_folders, open_filters;
  QList<bool> question_answers;
  // Answers of the file choosers, one per call; an empty queue or an empty name is a cancel.
  QStringList open_answers, save_answers;
  std::function<void(QDialog&)> during_modal;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The folder with its trailing "/".
  const std::string& Path() const { return path_; }
  // Writes `content` to Path() + name and returns the full name.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadWholeFile(const std::string& name);
