// The pages of the results file, the options and the default format: PGAskFormResults,
// PGFormResults, PGOptions and PgDefaultFormat.
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "wizard/expert_window.h"
#include "wizard/page_widgets.h"

QWidget* Tfrmexpert::BuildAskResultsPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("PGAskFormResults", &layout);
  layout->addWidget(
      NewHeading(page, "Label31", "Do you want to save the form results to a file?", false));
  RDOSaveResults = new QRadioButton("Yes, I want to save the form results to a file", page);
  RDOSaveResults->setObjectName("RDOSaveResults");
  RDOSaveResults->setChecked(true);
  RadioButton5 = new QRadioButton("No, I do not want to save the form results to a file", page);
  RadioButton5->setObjectName("RadioButton5");
  layout->addWidget(RDOSaveResults);
  layout->addWidget(RadioButton5);
  AddHelpPanel(layout, "StaticText9",
               "The results of a form can be saved in a file for later review. A file named "
               "*.csv becomes a table that any spreadsheet opens. A form cannot turn off results "
               "that brevix.ini saves (results_file); the hidden-field window tells you when "
               "that happens.");
  return page;
}

QWidget* Tfrmexpert::BuildFormResultsPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("PGFormResults", &layout);
  auto* group = new QGroupBox("Save Form Results", page);
  group->setObjectName("GroupBox6");
  auto* form = new QFormLayout(group);
  form->setLabelAlignment(Qt::AlignRight);
  QToolButton* browse = nullptr;
  txtResults_File = AddFieldRow(form, "results_file", "txtResults_File",
                                "Save Form Results in this file", "SpeedButton9", &browse);
  ConnectBrowse(browse, txtResults_File);
  txtResults_File_Template =
      AddFieldRow(form, "results_file_template", "txtResults_File_Template",
                  "Leave blank to use default format or specify a file to use a template",
                  "SpeedButton10", &browse);
  ConnectBrowse(browse, txtResults_File_Template);
  chkDelete_Results_File =
      NewCheck(group, "chkDelete_Results_File", "Delete Results File after sending message");
  form->addRow(QString(), chkDelete_Results_File);
  layout->addWidget(group);
  AddHelpPanel(layout, "StaticText8",
               "Each submission adds a record to results_file. With a results_file_template, the "
               "record is that file with its %field% macros filled in. Without one, a file named "
               "*.csv gets a heading row of the field names when it is new, then one row of "
               "quoted values per submission; any other name gets the default format of the last "
               "page.");
  return page;
}

QWidget* Tfrmexpert::BuildOptionsPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("PGOptions", &layout);
  auto* group = new QGroupBox("Options", page);
  group->setObjectName("GroupBox5");
  auto* grid = new QGridLayout(group);
  chkUse_Asterisks = NewCheck(group, "chkUse_Asterisks",
                              "Use asterisks (**) when no value is submitted for a field.");
  chkUse_Asterisks->setToolTip(
      "If this option is not checked, then no value will be seen when a field is submitted with "
      "no value");
  grid->addWidget(chkUse_Asterisks, 0, 0, 1, 3);

  auto add_label = [group, grid](int row, const char* text) {
    auto* label = new QLabel(text, group);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(label, row, 0);
  };
  auto new_edit = [group](const char* name) {
    auto* edit = new QLineEdit(group);
    edit->setObjectName(name);
    return edit;
  };
  auto new_preview = [group](const char* name) {
    auto* label = new QLabel(group);
    label->setObjectName(name);
    label->setMinimumWidth(150);
    label->setTextFormat(Qt::PlainText);  // a pattern may hold "<"; show it as typed
    return label;
  };

  add_label(1, "entry_log");
  txtlog_file = new_edit("txtlog_file");
  auto* browse = new QToolButton(group);
  browse->setObjectName("SpeedButton5");
  browse->setText("....");
  browse->setToolTip("Select File");
  ConnectBrowse(browse, txtlog_file);
  auto* log_row = new QHBoxLayout;
  log_row->addWidget(txtlog_file, 1);
  log_row->addWidget(browse);
  grid->addLayout(log_row, 1, 1, 1, 2);

  add_label(2, "date_format");
  txtdate_format = new_edit("txtdate_format");
  lbldate = new_preview("lbldate");
  grid->addWidget(txtdate_format, 2, 1);
  grid->addWidget(lbldate, 2, 2);
  connect(txtdate_format, &QLineEdit::textChanged, this, [this] { txtdate_formatChange(); });

  add_label(3, "time_format");
  txttime_format = new_edit("txttime_format");
  lbltime = new_preview("lbltime");
  grid->addWidget(txttime_format, 3, 1);
  grid->addWidget(lbltime, 3, 2);
  connect(txttime_format, &QLineEdit::textChanged, this, [this] { txttime_formatChange(); });

  chkMail_From_Required =
      NewCheck(group, "chkMail_From_Required", "Require a value for the mail_from field");
  grid->addWidget(chkMail_From_Required, 4, 0, 1, 3);
  auto* note =
      new QLabel("If you don't require a value for this field, the mail_to value is used", group);
  note->setObjectName("Label36");
  note->setStyleSheet("QLabel { color: red; }");
  grid->addWidget(note, 5, 0, 1, 3);
  layout->addWidget(group);
  AddHelpPanel(layout, "StaticText10",
               "If you want to record a log entry each time the form is submitted, specify the "
               "log file name here. You can set the date and time formats for the display of the "
               "%vorl_date% and %vorl_time% macros.");
  return page;
}

QWidget* Tfrmexpert::BuildDefaultFormatPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("PgDefaultFormat", &layout);
  LstDefault_Format = new QListWidget(page);
  LstDefault_Format->setObjectName("LstDefault_Format");
  LstDefault_Format->setSelectionMode(QAbstractItemView::SingleSelection);
  QFont bold = LstDefault_Format->font();
  bold.setBold(true);
  LstDefault_Format->setFont(bold);
  for (const char* entry : kFormatCaptions) LstDefault_Format->addItem(entry);
  layout->addWidget(LstDefault_Format, 10);
  AddHelpPanel(layout, "StaticText7",
               "Select the default format. When message_text is blank, the mail is laid out in "
               "it; so is the record of a results file without a template whose name does not "
               "end in .csv (a .csv file is always a table).");
  return page;
}
