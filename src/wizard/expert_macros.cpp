// The macro arrangement page and the file choosers of the wizard window.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

#include "wizard/editor_dialogs.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/file_path_dialog.h"
#include "wizard/qt_text.h"
#include "wizard/wizard_dialogs.h"

namespace {

// opn1: four file types, the first chosen at start.
constexpr const char* kOpn1Filter =
    "HTM Files|*.HTM|HTML Files|*.HTML|Text Files|*.TXT|All Files|*.*";

}  // namespace

void Tfrmexpert::ShowMacros() {
  // The list widget mirrors the arrangement; its selection signal must not echo back meanwhile.
  const QSignalBlocker block(listmacros);
  listmacros->clear();
  for (const std::string& macro : macros_.Macros()) listmacros->addItem(ToQString(macro));
  listmacros->setCurrentRow(macros_.Selected());
  lblsort->setText(ToQString(macros_.SortCaption()));
}

void Tfrmexpert::SpeedButton8Click() {
  macros_.ToggleSort();
  ShowMacros();
}

void Tfrmexpert::BtnUpClick() {
  if (macros_.MoveUp()) ShowMacros();
}

void Tfrmexpert::BtnDownClick() {
  if (macros_.MoveDown()) ShowMacros();
}

void Tfrmexpert::BtnDeleteClick() {
  if (macros_.Selected() < 0) return;
  const std::string removed = macros_.RemoveSelected();
  // A macro left out of the auto-format waits in the editor's unused list.
  if (editor_) editor_->AddUnusedMacro(removed);
  ShowMacros();
}

void Tfrmexpert::BitBtn1Click() {
  const std::optional<QString> chosen = CurrentWizardDialogs().OpenFileName(
      this, QString(), opn1_folder_, QtNameFilters(kOpn1Filter).join(";;"));
  if (chosen) txthtmlfile->setText(*chosen);
}

void Tfrmexpert::ConnectBrowse(QToolButton* button, QLineEdit* edit) {
  connect(button, &QToolButton::clicked, this, [this, edit] {
    if (!file_path_) return;
    const std::optional<std::string> name =
        BrowseFileName(*file_path_, [this]() -> std::optional<std::string> {
          const std::optional<QString> chosen = CurrentWizardDialogs().OpenFileName(
              this, QString(), opn1_folder_, QtNameFilters(kOpn1Filter).join(";;"));
          if (!chosen) return std::nullopt;
          return FromQString(*chosen);
        });
    // A cancelled choice keeps what the owner had typed; only a chosen file replaces it.
    if (name) edit->setText(ToQString(*name));
  });
}
