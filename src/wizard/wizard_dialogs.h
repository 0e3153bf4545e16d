#pragma once
#include <QString>
#include <optional>

class QDialog;
class QWidget;

// Every modal thing the wizard's windows show goes through this seam: message boxes, the file
// choosers and the modal windows themselves. The program uses QtWizardDialogs; a test installs
// its own implementation that records what was asked and answers at once, so that no modal loop
// ever waits for a person.
class WizardDialogs {
 public:
  virtual ~WizardDialogs() = default;

  // A warning box with an OK button.
  virtual void Warning(QWidget* parent, const QString& text) = 0;
  // An information box with an OK button.
  virtual void Information(QWidget* parent, const QString& text) = 0;
  // The general error box for a failed operation (a file that cannot be written, ...).
  virtual void Error(QWidget* parent, const QString& text) = 0;

  // A question with Yes and No, No being the default button (Enter and Escape answer No):
  // every question the wizard asks before something that cannot be undone. True for Yes.
  virtual bool Question(QWidget* parent, const QString& text) = 0;
  // A one-line text to type, offered with `offered`; nothing when the owner cancels.
  virtual std::optional<QString> AskText(QWidget* parent, const QString& text,
                                         const QString& offered) = 0;

  // An open-file chooser; the chosen full file name, or nothing when the owner cancels.
  // `filter` uses Qt's notation ("HTM Files (*.HTM);;All Files (*.*)").
  virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& title,
                                              const QString& folder, const QString& filter) = 0;
  // A save chooser without filter that does not itself ask before overwriting (the caller asks
  // with Question); the chosen full file name, or nothing when the owner cancels.
  virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title,
                                              const QString& folder) = 0;

  // Shows a window modally and returns its result code when it closes.
  virtual int ShowModal(QDialog& dialog) = 0;
};

// The real boxes and choosers of Qt.
class QtWizardDialogs : public WizardDialogs {
 public:
  void Warning(QWidget* parent, const QString& text) override;
  void Information(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
  bool Question(QWidget* parent, const QString& text) override;
  std::optional<QString> AskText(QWidget* parent, const QString& text,
                                 const QString& offered) override;
  std::optional<QString> OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                      const QString& filter) override;
  std::optional<QString> SaveFileName(QWidget* parent, const QString& title,
                                      const QString& folder) override;
  int ShowModal(QDialog& dialog) override;
};

// The program-wide seam. Until a caller installs one, a QtWizardDialogs is used. The installed
// object is not owned and must outlive its use; SetWizardDialogs(nullptr) returns to the default.
WizardDialogs& CurrentWizardDialogs();
void SetWizardDialogs(WizardDialogs* dialogs);
