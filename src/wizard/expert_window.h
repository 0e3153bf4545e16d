#pragma once
#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wizard/macro_arrangement.h"
#include "wizard/page_graph.h"
#include "wizard/wizard_settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTimer;
class QToolButton;
class QVBoxLayout;
class TAboutBox;
class TBXOptions;
class TForm2;
class TFrmFilePath;
class Tfrmeditor;

// The wizard's main window: the page stack `ppages` (no tabs; pages change only through
// btnnext and btnprev), the four buttons below it and the date/time preview timer. It walks the
// site owner through one of three tasks (hidden-field HTML, defaults saved in brevix.ini, a
// message-text template made from a form) and hands over to the other windows, which it shows
// modally through CurrentWizardDialogs().
//
// The window owns its widgets and its TBXOptions; the companion windows are owned elsewhere
// (they are created after this one) and must outlive it or be detached with SetCompanions.
// Failed file operations are shown in an error box and the window carries on.
class Tfrmexpert : public QDialog {
  Q_OBJECT

 public:
  // `program_dir` is the folder (with its trailing "/") in which brevix.ini is read at once and
  // later saved; the program passes its own folder.
  explicit Tfrmexpert(std::string program_dir, QWidget* parent = nullptr);
  ~Tfrmexpert() override;
  Tfrmexpert(const Tfrmexpert&) = delete;
  Tfrmexpert& operator=(const Tfrmexpert&) = delete;

  // The windows this one shows; any may be null until the program has created it.
  void SetCompanions(TForm2* form2, Tfrmeditor* editor, TAboutBox* about, TFrmFilePath* file_path);

  WizardPage CurrentPage() const { return page_; }
  const TBXOptions& Options() const { return *options_; }

  // The Next and Previous steps (btnnext, btnprev) and the button state after each.
  void btnnextClick();
  void btnprevClick();
  void UpdateButtons();
  // Done: closes the window; on any page but the start page only after the owner says Yes.
  void BitBtn2Click();

  // Settings of brevix.ini <-> controls.
  void OptionsToControls();
  void ControlsToOptions();
  WizardSettings ReadControls() const;
  void WriteControls(const WizardSettings& settings);

  // Refreshes both previews (Timer1, every 500 ms).
  void Timer1Timer();

  // Fills Form2's text with the hidden-field lines and shows it modally.
  void ShowHiddenFieldsHtml();
  // Fills the editor from the macro list and the selected entry of listformats.
  void PrepareEditor();
  // Scans the form named in txthtmlfile into listmacros and empties the editor's lists.
  void LoadMacrosFromForm();

 protected:
  bool event(QEvent* e) override;
  // Escape does not close the wizard (a dialog's default); only Done and the close box do.
  void keyPressEvent(QKeyEvent* e) override;

 private:
  // Page construction, one builder per page (expert_pages_*.cpp).
  QWidget* BuildStartPage();
  QWidget* BuildMailHeadersPage();
  QWidget* BuildMailFilesPage();
  QWidget* BuildAskReceiptPage();
  QWidget* BuildMailReceiptPage();
  QWidget* BuildSmtpPage();
  QWidget* BuildAskResultsPage();
  QWidget* BuildFormResultsPage();
  QWidget* BuildOptionsPage();
  QWidget* BuildDefaultFormatPage();
  QWidget* BuildSelectHtmlPage();
  QWidget* BuildMacrosPage();
  QWidget* BuildAutoFormatPage();
  QWidget* BuildFinishPage();
  QWidget* BuildPage(WizardPage page);

  void ShowPage(WizardPage page);
  WizardChoices Choices() const;
  bool RunNextAction(NextAction action);
  bool SaveDefaults();
  bool ScanFormOrWarn();
  bool OpenEditorOrWarn();

  // Browse buttons and the macro arrangement page.
  void ConnectBrowse(QToolButton* button, QLineEdit* edit);
  void BitBtn1Click();
  void SpeedButton8Click();
  void BtnUpClick();
  void BtnDownClick();
  void BtnDeleteClick();
  void ShowMacros();
  // Which edit shows which text setting; both directions of the copy walk this one table.
  std::vector<std::pair<std::string WizardSettings::*, QLineEdit*>> EditBindings() const;
  // Shows an SMTP_Security value in cbosmtp_security.
  void SelectSmtpSecurity(const std::string& value);
  void txtdate_formatChange();
  void txttime_formatChange();

  std::string program_dir_;
  std::unique_ptr<TBXOptions> options_;
  MacroArrangement macros_;
  WizardPage page_ = WizardPage::pgstart;
  QString opn1_folder_;

  TForm2* form2_ = nullptr;
  Tfrmeditor* editor_ = nullptr;
  TAboutBox* about_ = nullptr;
  TFrmFilePath* file_path_ = nullptr;

  // Widgets, owned by their parents.
  QStackedWidget* ppages = nullptr;
  QPushButton* btnnext = nullptr;
  QPushButton* btnprev = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QTimer* Timer1 = nullptr;

  QRadioButton* rdhidden = nullptr;
  QRadioButton* RdDefaults = nullptr;
  QRadioButton* rdoTemplate = nullptr;
  QRadioButton* rdoSendReceipt = nullptr;
  QRadioButton* RadioButton4 = nullptr;
  QRadioButton* RDOSaveResults = nullptr;
  QRadioButton* RadioButton5 = nullptr;

  QLineEdit* txtmail_to = nullptr;
  QLineEdit* txtmail_from = nullptr;
  QLineEdit* txtmail_subject = nullptr;
  QLineEdit* txtmail_cc = nullptr;
  QLineEdit* txtmail_bcc = nullptr;
  QLineEdit* txtattached_file = nullptr;
  QLineEdit* txtmessage_text = nullptr;
  QLineEdit* txtresponse_page = nullptr;
  QLineEdit* txterror_page = nullptr;
  QLineEdit* txtinfo_missing_page = nullptr;
  QLineEdit* txtReceipt_to = nullptr;
  QLineEdit* txtreceipt_from = nullptr;
  QLineEdit* txtreceipt_subject = nullptr;
  QLineEdit* txtreceipt_text = nullptr;
  QLineEdit* txtsmtp_server = nullptr;
  QLineEdit* txtsmtp_port = nullptr;
  QComboBox* cbosmtp_security = nullptr;
  QLineEdit* txtsmtp_user = nullptr;
  QLineEdit* txtsmtp_password = nullptr;
  QCheckBox* chksmtp_verify = nullptr;
  QLineEdit* txtmail_sender = nullptr;
  QLineEdit* txtpow_key = nullptr;
  QPushButton* btnpow_key = nullptr;
  QComboBox* cbopow_max_number = nullptr;
  QLineEdit* txtResults_File = nullptr;
  QLineEdit* txtResults_File_Template = nullptr;
  QLineEdit* txtlog_file = nullptr;
  QLineEdit* txtdate_format = nullptr;
  QLineEdit* txttime_format = nullptr;
  QLineEdit* txthtmlfile = nullptr;
  QCheckBox* chkUse_Asterisks = nullptr;
  QCheckBox* chkMail_From_Required = nullptr;
  QCheckBox* chkDelete_Results_File = nullptr;
  QCheckBox* chkListAll = nullptr;
  QLabel* Label28 = nullptr;  // the standard port of the chosen security
  QLabel* lbldate = nullptr;
  QLabel* lbltime = nullptr;
  QLabel* lblsort = nullptr;
  QLabel* lblLastMessage = nullptr;
  QListWidget* LstDefault_Format = nullptr;
  QListWidget* listmacros = nullptr;
  QListWidget* listformats = nullptr;
};
