// The steps of the wizard window that reach beyond its pages: saving the defaults, scanning the
// form, handing over to the editor and to the hidden-field window.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <filesystem>
#include <system_error>

#include "common/exception.h"
#include "common/msg_file.h"
#include "common/options.h"
#include "common/text_compare.h"
#include "wizard/allowed_recipients.h"
#include "wizard/editor_window.h"
#include "wizard/expert_window.h"
#include "wizard/hidden_field_lines.h"
#include "wizard/hidden_fields_window.h"
#include "wizard/html_form_scanner.h"
#include "wizard/ini_file_access.h"
#include "wizard/ini_overrides.h"
#include "wizard/mail_server_settings.h"
#include "wizard/pow_settings.h"
#include "wizard/qt_text.h"
#include "wizard/wizard_dialogs.h"

bool Tfrmexpert::SaveDefaults() {
  const WizardSettings settings = ReadControls();
  const std::string cleartext = CleartextLoginWarning(settings);
  if (!cleartext.empty() &&
      !CurrentWizardDialogs().Question(this, ToQString(cleartext + "\n\nSave anyway?"))) {
    return false;
  }
  // Asked once: the answer is kept in brevix.ini for every later save.
  std::string group = WebServerGroup(options_->IniFileName);
  if (group.empty()) {
    const std::optional<QString> typed = CurrentWizardDialogs().AskText(
        this,
        "The web server runs the gateway as a user of which group? brevix.ini will be "
        "readable by you and that group only.",
        kDefaultWebServerGroup);
    if (!typed) return false;
    group = Trim(FromQString(*typed));
  }
  ControlsToOptions();
  std::string access_note;
  try {
    // Planned first: a value that cannot be stored stops the save before anything is written.
    const TAllowedRecipientsUpdate allowed = PlanAllowedRecipients(options_->IniFileName, settings);
    TMailServerUpdate mail_server = PlanMailServerSettings(options_->IniFileName, settings);
    PlanPowSettings(options_->IniFileName, settings, mail_server);
    options_->Save();
    RememberWebServerGroup(options_->IniFileName, group);
    // Before a password goes in: readable by the owner and the web server's group only.
    access_note = ShareWithWebServerGroup(options_->IniFileName, group);
    // A second, separate replace of the file; should it fail, the saved Mail_To, Mail_CC and
    // Mail_BCC still let the gateway send to the same addresses.
    SaveAllowedRecipients(options_->IniFileName, allowed);
    SaveMailServerSettings(options_->IniFileName, mail_server);
  } catch (const Exception& e) {
    // The page stays and the closing message keeps its text; the owner may fix and retry.
    CurrentWizardDialogs().Error(this, ToQString(e.Message()));
    return false;
  }
  if (!access_note.empty()) CurrentWizardDialogs().Warning(this, ToQString(access_note));
  lblLastMessage->setText("Default Settings Saved to " + ToQString(program_dir_) + "brevix.ini");
  return true;
}

bool Tfrmexpert::ScanFormOrWarn() {
  const QString name = txthtmlfile->text();
  std::error_code error;
  // Only a file will do: a folder or a missing name gets the same warning.
  if (name.isEmpty() || !std::filesystem::is_regular_file(FromQString(name), error)) {
    CurrentWizardDialogs().Warning(this, name + " not found!");
    return false;
  }
  try {
    LoadMacrosFromForm();
  } catch (const Exception& e) {
    CurrentWizardDialogs().Error(this, ToQString(e.Message()));
    return false;
  }
  return true;
}

void Tfrmexpert::LoadMacrosFromForm() {
  // A new scan starts from empty lists, the editor's included, before the file is read.
  macros_.SetMacros(TStringList());
  if (editor_) editor_->ClearMacroLists();
  ShowMacros();
  macros_.SetMacros(
      ::LoadMacrosFromForm(FromQString(txthtmlfile->text()), chkListAll->isChecked()));
  ShowMacros();
}

bool Tfrmexpert::OpenEditorOrWarn() {
  if (listformats->selectedItems().isEmpty()) {
    CurrentWizardDialogs().Warning(this, "You must select a format!");
    return false;
  }
  lblLastMessage->setText("All Done!");
  PrepareEditor();
  if (editor_) editor_->ShowModal();
  return true;
}

void Tfrmexpert::PrepareEditor() {
  if (!editor_) return;
  const QList<QListWidgetItem*> selected = listformats->selectedItems();
  const int position = selected.isEmpty() ? -1 : listformats->row(selected.front());
  std::string text;  // the blank entry leaves the text area empty
  if (position >= 1 && position <= 6) {
    // Entries 1 to 6 are the auto-formats 0 to 5, fed with the macros in their arranged order.
    TBXMsgFile layout;
    layout.Kind = static_cast<std::uint8_t>(position - 1);
    layout.Macros.Assign(macros_.Macros());
    layout.Build();
    text = layout.Lines.Text();
  }
  editor_->SetMessageText(text);
  editor_->SelectSaveFileTypeForText();
  if (position == 0) {
    editor_->SetAvailableMacros(macros_.Macros());
  } else {
    editor_->SetUsedMacros(macros_.Macros());
  }
}

void Tfrmexpert::ShowHiddenFieldsHtml() {
  if (!form2_) return;
  const WizardSettings settings = ReadControls();
  form2_->SetLines(HiddenFieldLines(settings));
  form2_->SetRecipientNote(AllowedRecipientsNote(EnteredRecipients(settings)));
  const std::vector<TIniOverride> overrides = IniOverrides(settings, *options_);
  form2_->SetIniOverrides(IniOverridesNote(overrides), [this, overrides] {
    std::string keys;
    for (const TIniOverride& o : overrides) keys += (keys.empty() ? "" : ", ") + o.key;
    if (!CurrentWizardDialogs().Question(
            form2_, ToQString("Empty " + keys + " in " + options_->IniFileName +
                              "? No form of the site then gets it unless the form names one."))) {
      return false;
    }
    try {
      WriteChoicesToIni(options_->IniFileName, overrides);
    } catch (const Exception& e) {
      CurrentWizardDialogs().Error(form2_, ToQString(e.Message()));
      return false;
    }
    options_->Load();
    return true;
  });
  // Let the window catch up with the new text before it is shown modally.
  QApplication::processEvents();
  CurrentWizardDialogs().ShowModal(*form2_);
}
