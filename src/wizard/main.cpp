// vorlwiz: the Brevix BX set-up wizard.
#include <QCoreApplication>

#include "wizard/about_box.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/wizard_application.h"
#include "wizard/wizard_dialogs.h"

int main(int argc, char** argv) {
  WizardApplication app(argc, argv);

  // The windows are created once, in this order, and live until the program ends; the wizard
  // shows the others modally.
  // The wizard's own folder (where it looks for brevix.ini first), with its trailing "/".
  Tfrmexpert frmexpert(QCoreApplication::applicationDirPath().toStdString() + "/");
  TForm2 Form2(&frmexpert);
  Tfrmeditor frmeditor(&frmexpert);
  TAboutBox AboutBox(&frmexpert);
  TFrmFilePath FrmFilePath(&frmexpert);
  frmexpert.SetCompanions(&Form2, &frmeditor, &AboutBox, &FrmFilePath);
  frmeditor.SetAboutHandler([&AboutBox] { CurrentWizardDialogs().ShowModal(AboutBox); });

  frmexpert.show();
  return app.exec();
}
