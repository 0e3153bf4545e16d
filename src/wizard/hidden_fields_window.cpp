#include "wizard/hidden_fields_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QVBoxLayout>

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
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn3);
  buttons->addStretch(1);
  buttons->addWidget(BitBtn2);
  layout->addLayout(buttons);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { accept(); });
  setFixedSize(620, 420);
}

void TForm2::SetLines(const TStringList& lines) {
  Memo1->setPlainText(ToQString(lines.Join("\n")));
}

void TForm2::SetRecipientNote(const std::string& note) {
  lblAllowedRecipients->setText(ToQString(note));
  lblAllowedRecipients->setVisible(!note.empty());
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
  const std::string text = Lines().Text();
  // QSaveFile writes beside the target and renames on commit: a failed write leaves any
  // earlier file as it was instead of a truncated one.
  QSaveFile file(*name);
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(text.data(), static_cast<qint64>(text.size())) ==
                           static_cast<qint64>(text.size()) &&
                       file.commit();
  if (!written) {
    CurrentWizardDialogs().Error(this, "Unable to write to " + *name + "\n" + file.errorString());
    return false;
  }
  return true;
}
