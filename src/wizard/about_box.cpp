#include "wizard/about_box.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "common/msg_file.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
  ProductName = new QLabel("Brevix BX Wizard 2.00", this);
  ProductName->setObjectName("ProductName");
  QFont bold = ProductName->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  ProductName->setFont(bold);
  top->addWidget(ProgramIcon);
  top->addWidget(ProductName, 1);
  layout->addLayout(top);

  Comments = new QLabel(
      "Prepares the settings, the hidden form fields and the message templates of the Brevix "
      "BX form-to-mail gateway.",
      this);
  Comments->setObjectName("Comments");
  Comments->setWordWrap(true);
  layout->addWidget(Comments);

  urllabel = new QLabel(kBrevixHomePage, this);
  urllabel->setObjectName("urllabel");
  urllabel->setStyleSheet("QLabel { color: purple; text-decoration: underline; }");
  urllabel->setCursor(Qt::PointingHandCursor);
  urllabel->installEventFilter(this);
  layout->addWidget(urllabel);

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { accept(); });
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(OKButton);
  bottom->addStretch(1);
  layout->addLayout(bottom);
  setFixedSize(360, 220);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == urllabel && event->type() == QEvent::MouseButtonRelease) {
    urllabelClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAboutBox::urllabelClick() {
  urllabel->setStyleSheet("QLabel { color: blue; text-decoration: underline; }");
  QDesktopServices::openUrl(QUrl(urllabel->text()));
}
