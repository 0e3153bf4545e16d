#include "wizard/hidden_fields_window.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "common/exception.h"
#include "common/file_tool.h"
#include "wizard/hidden_field_merge.h"
#include "wizard/qt_text.h"
#include "wizard/wizard_dialogs.h"

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle("HTML for Hidden Fields");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(QFont("Courier New"));
  layout->addWidget(Memo1, 1);
  lblAllowedRecipients = new QLabel(this);
  lblAllowedRecipients->setObjectName("lblAllowedRecipients");
  lblAllowedRecipients->setTextFormat(Qt::PlainText);
  lblAllowedRecipients->setWordWrap(true);
  lblAllowedRecipients->setStyleSheet("QLabel { color: maroon; }");
  lblAllowedRecipients->hide();
  layout->addWidget(lblAllowedRecipients);
  auto* overrides = new QHBoxLayout;
  lblIniOverrides = new QLabel(this);
  lblIniOverrides->setObjectName("lblIniOverrides");
  lblIniOverrides->setTextFormat(Qt::PlainText);
  lblIniOverrides->setWordWrap(true);
  lblIniOverrides->setStyleSheet("QLabel { color: maroon; }");
  lblIniOverrides->hide();
  btnWriteIni = new QPushButton("&Write into brevix.ini", this);
  btnWriteIni->setObjectName("btnWriteIni");
  btnWriteIni->setToolTip("Make these choices in brevix.ini, for every form of the site");
  btnWriteIni->hide();
  overrides->addWidget(lblIniOverrides, 1);
  overrides->addWidget(btnWriteIni, 0, Qt::AlignTop);
  layout->addLayout(overrides);

  auto* buttons = new QHBoxLayout;
  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_FileIcon), "&Copy", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setToolTip("Copy entire contents to clipboard");
  BitBtn3 = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), "&Save", this);
  BitBtn3->setObjectName("BitBtn3");
  BitBtn3->setToolTip("Save contents to file");
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), "Close", this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setToolTip("Close this screen");
  btnPutIntoForm = new QPushButton("Put into &Form...", this);
  btnPutIntoForm->setObjectName("btnPutIntoForm");
  btnPutIntoForm->setToolTip(
      "Put these lines into a form page, replacing its hidden fields of the same names");
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn3);
  buttons->addWidget(btnPutIntoForm);
  buttons->addStretch(1);
  buttons->addWidget(BitBtn2);
  layout->addLayout(buttons);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { accept(); });
  connect(btnPutIntoForm, &QPushButton::clicked, this, [this] { btnPutIntoFormClick(); });
  connect(btnWriteIni, &QPushButton::clicked, this, [this] {
    if (!write_ini_ || !write_ini_()) return;
    btnWriteIni->hide();
    lblIniOverrides->setText(
        "Written into brevix.ini: copy it to the web server beside the gateway.");
  });
  resize(680, 460);
}

void TForm2::SetLines(const TStringList& lines) {
  Memo1->setPlainText(ToQString(lines.Join("\n")));
}

void TForm2::SetRecipientNote(const std::string& note) {
  lblAllowedRecipients->setText(ToQString(note));
  lblAllowedRecipients->setVisible(!note.empty());
}

void TForm2::SetIniOverrides(const std::string& note, std::function<bool()> write) {
  write_ini_ = std::move(write);
  lblIniOverrides->setText(ToQString(note));
  lblIniOverrides->setVisible(!note.empty());
  btnWriteIni->setVisible(!note.empty() && write_ini_);
}

TStringList TForm2::Lines() const {
  TStringList lines;
  lines.SetText(FromQString(Memo1->toPlainText()));
  return lines;
}

void TForm2::BitBtn1Click() {
  Memo1->selectAll();
  QGuiApplication::clipboard()->setText(Memo1->toPlainText());
}

bool TForm2::BitBtn3Click() {
  const std::optional<QString> name =
      CurrentWizardDialogs().SaveFileName(this, "Save Contents to Disk", QString());
  if (!name) return false;
  if (QFileInfo::exists(*name) &&
      !CurrentWizardDialogs().Question(this, *name + " already exists. Replace it?")) {
    return false;
  }
  return WriteFile(*name, Lines().Text());
}

bool TForm2::btnPutIntoFormClick() {
  const std::optional<QString> name =
      CurrentWizardDialogs().OpenFileName(this, "Put the Hidden Fields into a Form", QString(),
                                          "HTML Files (*.htm *.html *.HTM *.HTML);;All Files (*)");
  if (!name) return false;
  THiddenFieldMerge merge;
  try {
    std::string page;
    if (!ReadWholeFile(FromQString(*name), page)) {
      throw Exception("Cannot read the file: " + std::string(std::strerror(errno)));
    }
    merge = MergeHiddenFields(page, Lines());
  } catch (const Exception& e) {
    CurrentWizardDialogs().Error(this, *name + "\n" + ToQString(e.Message()));
    return false;
  }
  std::string question = "Put the hidden fields into " + FromQString(*name) + "?";
  for (const std::string& line : merge.replaced) question += "\nReplaces: " + line;
  for (const std::string& field : merge.kept) {
    question += "\nLeaves out " + field + ": the form asks the visitor for it.";
  }
  if (!CurrentWizardDialogs().Question(this, ToQString(question))) return false;
  return WriteFile(*name, merge.html);
}

bool TForm2::WriteFile(const QString& name, const std::string& text) {
  // QSaveFile writes beside the target and renames on commit: a failed write leaves any
  // earlier file as it was instead of a truncated one.
  QSaveFile file(name);
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(text.data(), static_cast<qint64>(text.size())) ==
                           static_cast<qint64>(text.size()) &&
                       file.commit();
  if (!written) {
    CurrentWizardDialogs().Error(this, "Unable to write to " + name + "\n" + file.errorString());
    return false;
  }
  return true;
}
