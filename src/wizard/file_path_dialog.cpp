#include "wizard/file_path_dialog.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "wizard/wizard_dialogs.h"

TFrmFilePath::TFrmFilePath(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmFilePath");
  setWindowTitle("Format File Name");
  // A fixed dialog border: no resizing, no minimise or maximise buttons.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  Label1 = new QLabel("This File Name Should Include...", this);
  Label1->setObjectName("Label1");
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);

  RadioButton3 = new QRadioButton("Just the File Name", this);
  RadioButton3->setObjectName("RadioButton3");
  RadioButton3->setChecked(true);
  RadioButton2 = new QRadioButton("Relative Path", this);
  RadioButton2->setObjectName("RadioButton2");
  RadioButton1 = new QRadioButton("Full Path", this);
  RadioButton1->setObjectName("RadioButton1");

  txtfilename = new QLineEdit(this);
  txtfilename->setObjectName("txtfilename");
  txtfilename->setMinimumWidth(420);

  BitBtn1 = new QPushButton("&Done", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);

  auto* choices = new QHBoxLayout;
  choices->addWidget(RadioButton3);
  choices->addWidget(RadioButton2);
  choices->addWidget(RadioButton1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addLayout(choices);
  layout->addWidget(txtfilename);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // clicked, not toggled: a click on the choice already made proposes its name afresh.
  connect(RadioButton3, &QRadioButton::clicked, this, &TFrmFilePath::RadioButton3Click);
  connect(RadioButton2, &QRadioButton::clicked, this, &TFrmFilePath::RadioButton2Click);
  connect(RadioButton1, &QRadioButton::clicked, this, &TFrmFilePath::RadioButton1Click);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TFrmFilePath::ResetChoice() {
  RadioButton3->setChecked(true);
  RadioButton3Click();
}

std::string TFrmFilePath::FileNameText() const {
  return txtfilename->text().toStdString();
}

int TFrmFilePath::ShowModal() {
  return CurrentWizardDialogs().ShowModal(*this);
}

void TFrmFilePath::RadioButton3Click() {
  Propose(TFileNameChoice::FileName);
}
void TFrmFilePath::RadioButton2Click() {
  Propose(TFileNameChoice::RelativePath);
}
void TFrmFilePath::RadioButton1Click() {
  Propose(TFileNameChoice::FullPath);
}

void TFrmFilePath::Propose(TFileNameChoice choice) {
  txtfilename->setText(QString::fromStdString(ProposeFileName(selected_file_path_, choice)));
}

std::optional<std::string> BrowseFileName(
    TFrmFilePath& dialog, const std::function<std::optional<std::string>()>& choose_file) {
  const std::optional<std::string> chosen = choose_file();
  if (!chosen) return std::nullopt;
  dialog.SetSelectedFilePath(*chosen);
  dialog.ResetChoice();
  dialog.ShowModal();
  // Whichever way the dialog was closed (Done, Escape, the title bar's close box), the owner
  // gets what the edit field holds.
  return dialog.FileNameText();
}
