#pragma once
#include <QApplication>

// The wizard's application object: titled "Brevix BX Wizard", and the program's general error
// handler. An exception that escapes an event handler is shown in the error box of
// CurrentWizardDialogs() and the program carries on with the next event.
class WizardApplication : public QApplication {
  Q_OBJECT

 public:
  WizardApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
