#include "wizard/expert_window.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "common/options.h"
#include "wizard/about_box.h"
#include "wizard/qt_text.h"
#include "wizard/wizard_dialogs.h"

Tfrmexpert::Tfrmexpert(std::string program_dir, QWidget* parent)
    : QDialog(parent), program_dir_(std::move(program_dir)) {
  setObjectName("frmexpert");
  setWindowTitle("Brevix BX Wizard");
  // A fixed dialog border: no resizing, no maximising; closing the window ends the program.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);

  auto* layout = new QVBoxLayout(this);
  ppages = new QStackedWidget(this);
  ppages->setObjectName("ppages");
  for (int i = 0; i < kWizardPageCount; ++i)
    ppages->addWidget(BuildPage(static_cast<WizardPage>(i)));
  layout->addWidget(ppages, 1);

  auto* buttons = new QHBoxLayout;
  BitBtn3 =
      new QPushButton(style()->standardIcon(QStyle::SP_MessageBoxInformation), "&About", this);
  BitBtn3->setObjectName("BitBtn3");
  btnprev = new QPushButton("<< &Previous", this);
  btnprev->setObjectName("btnprev");
  btnnext = new QPushButton("&Next >>", this);
  btnnext->setObjectName("btnnext");
  btnnext->setDefault(true);
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "&Done", this);
  BitBtn2->setObjectName("BitBtn2");
  // Enter on a focused Done (Down moves the focus there) goes to Next instead: closing the
  // wizard takes a click or Alt+D, and a question once a task has begun.
  BitBtn2->setAutoDefault(false);
  buttons->addWidget(BitBtn3);
  buttons->addStretch(1);
  buttons->addWidget(btnprev);
  buttons->addWidget(btnnext);
  buttons->addSpacing(16);
  buttons->addWidget(BitBtn2);
  layout->addLayout(buttons);

  connect(btnnext, &QPushButton::clicked, this, [this] { btnnextClick(); });
  connect(btnprev, &QPushButton::clicked, this, [this] { btnprevClick(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] {
    if (about_) CurrentWizardDialogs().ShowModal(*about_);
  });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();

  // FormCreate: the start page, then the settings of brevix.ini in the controls.
  options_ = std::make_unique<TBXOptions>(program_dir_ + "brevix.ini");
  options_->ProgramDir = program_dir_;
  options_->Load();
  OptionsToControls();
  opn1_folder_ = ToQString(program_dir_);
  setFixedSize(600, 440);
  ShowPage(WizardPage::pgstart);
  UpdateButtons();  // Previous starts disabled
}

Tfrmexpert::~Tfrmexpert() = default;

void Tfrmexpert::SetCompanions(TForm2* form2, Tfrmeditor* editor, TAboutBox* about,
                               TFrmFilePath* file_path) {
  form2_ = form2;
  editor_ = editor;
  about_ = about;
  file_path_ = file_path;
}

QWidget* Tfrmexpert::BuildPage(WizardPage page) {
  using P = WizardPage;
  switch (page) {
    case P::pgstart:
      return BuildStartPage();
    case P::pgmailheaders:
      return BuildMailHeadersPage();
    case P::pgmailfiles:
      return BuildMailFilesPage();
    case P::pgmailreceipt:
      return BuildMailReceiptPage();
    case P::pgselecthtml:
      return BuildSelectHtmlPage();
    case P::pgmacros:
      return BuildMacrosPage();
    case P::pgautoformat:
      return BuildAutoFormatPage();
    case P::pgfinisheditor:
      return BuildFinishPage();
    case P::PGSMTP:
      return BuildSmtpPage();
    case P::PgAskRcpt:
      return BuildAskReceiptPage();
    case P::PGOptions:
      return BuildOptionsPage();
    case P::PGAskFormResults:
      return BuildAskResultsPage();
    case P::PGFormResults:
      return BuildFormResultsPage();
    case P::PgDefaultFormat:
      return BuildDefaultFormatPage();
  }
  return new QWidget;
}

bool Tfrmexpert::event(QEvent* e) {
  // FormActivate: the open-file dialog starts in the program's folder again every time the
  // window becomes active.
  if (e->type() == QEvent::WindowActivate) opn1_folder_ = ToQString(program_dir_);
  return QDialog::event(e);
}

void Tfrmexpert::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void Tfrmexpert::BitBtn2Click() {
  if (page_ != WizardPage::pgstart &&
      !CurrentWizardDialogs().Question(this, "Close the Brevix BX Wizard?")) {
    return;
  }
  accept();
}

void Tfrmexpert::ShowPage(WizardPage page) {
  page_ = page;
  ppages->setCurrentIndex(static_cast<int>(page));
}

void Tfrmexpert::UpdateButtons() {
  btnprev->setEnabled(PreviousEnabled(page_));
  btnnext->setText(QString::fromLatin1(NextButtonText(page_)));
}

WizardChoices Tfrmexpert::Choices() const {
  WizardChoices choices;
  choices.rdhidden = rdhidden->isChecked();
  choices.RdDefaults = RdDefaults->isChecked();
  choices.rdoTemplate = rdoTemplate->isChecked();
  choices.rdoSendReceipt = rdoSendReceipt->isChecked();
  choices.RDOSaveResults = RDOSaveResults->isChecked();
  return choices;
}

void Tfrmexpert::btnnextClick() {
  const NextStep step = NextStepFrom(page_, Choices());
  if (RunNextAction(step.action)) ShowPage(step.target);
  UpdateButtons();
}

void Tfrmexpert::btnprevClick() {
  // Going back undoes nothing: controls, the macro list and saved files stay as they are.
  ShowPage(PreviousPage(page_, Choices()));
  UpdateButtons();
}

bool Tfrmexpert::RunNextAction(NextAction action) {
  switch (action) {
    case NextAction::kNone:
      return true;
    case NextAction::kSaveDefaults:
      return SaveDefaults();
    case NextAction::kShowHiddenFields:
      lblLastMessage->setText("All Done!");
      ShowHiddenFieldsHtml();
      return true;
    case NextAction::kScanForm:
      return ScanFormOrWarn();
    case NextAction::kOpenEditor:
      return OpenEditorOrWarn();
    case NextAction::kRemindIniCopy:
      CurrentWizardDialogs().Information(
          this,
          "Remember to move brevix.ini to your web server in the same directory as brevix.cgi");
      return true;
  }
  return true;
}
