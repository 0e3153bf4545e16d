#include "wizard/wizard_application.h"

#include <exception>

#include "wizard/qt_text.h"
#include "wizard/wizard_dialogs.h"

WizardApplication::WizardApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Brevix BX Wizard");
  setApplicationDisplayName("Brevix BX Wizard");
}

bool WizardApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    CurrentWizardDialogs().Error(activeWindow(), ToQString(e.what()));
  }
  return false;
}
