#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

// The "About" window of the wizard: picture, product name, a comment, the product's web address
// as a link and an OK button. Created once at program start; shown modally from the wizard's
// About button and from the editor's Help menu. Owns its controls.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // Turns the link blue and asks the desktop to open its address in the user's browser.
  void urllabelClick();

  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Comments = nullptr;
  QLabel* urllabel = nullptr;
  QPushButton* OKButton = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};
