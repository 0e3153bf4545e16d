// The pages of the template task and the closing page: pgselecthtml, pgmacros, pgautoformat
// and pgfinisheditor.
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "wizard/expert_window.h"
#include "wizard/page_widgets.h"

QWidget* Tfrmexpert::BuildSelectHtmlPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgselecthtml", &layout);
  auto* caption = new QLabel("Select the HTML file which contains your form", page);
  caption->setObjectName("Label18");
  layout->addWidget(caption);
  auto* row = new QHBoxLayout;
  auto* open = new QPushButton("&Open", page);
  open->setObjectName("BitBtn1");
  open->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  connect(open, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  txthtmlfile = new QLineEdit(page);
  txthtmlfile->setObjectName("txthtmlfile");
  row->addWidget(open);
  row->addWidget(txthtmlfile, 1);
  layout->addLayout(row);
  chkListAll = new QCheckBox("List \"Hidden\" fields as Macros (usually not necessary)", page);
  chkListAll->setObjectName("chkListAll");
  layout->addWidget(chkListAll);
  AddHelpPanel(layout, "StaticText3",
               "Select the HTML file which contains your form. The Wizard will read this file and "
               "list all of the fields it finds as macros. You can then use these macros to "
               "create a template file.");
  return page;
}

QWidget* Tfrmexpert::BuildMacrosPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgmacros", &layout);
  layout->addWidget(NewHeading(page, "Label19", "Arrange and Select Macros", false));
  auto* row = new QHBoxLayout;
  listmacros = new QListWidget(page);
  listmacros->setObjectName("listmacros");
  listmacros->setToolTip("Macro List");
  listmacros->setFont(QFont("Courier New"));
  connect(listmacros, &QListWidget::currentRowChanged, this,
          [this](int row_index) { macros_.Select(row_index); });
  row->addWidget(listmacros, 1);

  auto* buttons = new QGridLayout;
  struct MacroButton {
    const char* name;
    QStyle::StandardPixmap glyph;
    const char* hint;
    const char* caption;
    void (Tfrmexpert::*handler)();
  };
  const MacroButton macro_buttons[] = {
      {"SpeedButton8", QStyle::SP_FileDialogDetailedView, "Sort list of macros alphabetically",
       "Sort Macros", &Tfrmexpert::SpeedButton8Click},
      {"BtnUp", QStyle::SP_ArrowUp, "Move selected macro up", "Move Selected Up",
       &Tfrmexpert::BtnUpClick},
      {"BtnDown", QStyle::SP_ArrowDown, "Move selected macro down", "Move Selected Down",
       &Tfrmexpert::BtnDownClick},
      {"BtnDelete", QStyle::SP_DialogDiscardButton, "Don't use this macro in Auto-Format",
       "Remove Selected From List", &Tfrmexpert::BtnDeleteClick},
  };
  int line = 0;
  for (const MacroButton& def : macro_buttons) {
    QToolButton* button = NewGlyphButton(page, def.name, def.glyph, def.hint);
    auto handler = def.handler;
    connect(button, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
    auto* label = new QLabel(def.caption, page);
    if (line == 0) {
      label->setObjectName("lblsort");
      lblsort = label;
    }
    buttons->addWidget(button, line, 0);
    buttons->addWidget(label, line, 1);
    ++line;
  }
  buttons->setRowStretch(line, 1);
  row->addLayout(buttons);
  layout->addLayout(row, 10);
  AddHelpPanel(layout, "StaticText1",
               "Arrange the macros in the order you want them to appear. On the next screen the "
               "Wizard will create a template file for you. It will use the macros in the exact "
               "order they appear here.");
  return page;
}

QWidget* Tfrmexpert::BuildAutoFormatPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgautoformat", &layout);
  layout->addWidget(NewHeading(page, "Label21", "Select an Auto-Format for Your Message", true));
  listformats = new QListWidget(page);
  listformats->setObjectName("listformats");
  listformats->setSelectionMode(QAbstractItemView::SingleSelection);
  QFont bold = listformats->font();
  bold.setBold(true);
  listformats->setFont(bold);
  // Position 0 leaves the editor blank; 1 to 6 are the automatic formats 0 to 5.
  listformats->addItem("Blank/Edit Existing");
  for (const char* entry : kFormatCaptions) listformats->addItem(entry);
  listformats->setCurrentRow(-1);
  // A double-click on an entry is the same as Next on this page.
  connect(listformats, &QListWidget::itemDoubleClicked, this, [this] {
    if (page_ == WizardPage::pgautoformat) btnnextClick();
  });
  layout->addWidget(listformats, 10);
  AddHelpPanel(layout, "StaticText2",
               "The Wizard will use the macros you selected to lay out a template for you to use "
               "for your message text, receipt text, or results file template.");
  return page;
}

QWidget* Tfrmexpert::BuildFinishPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgfinisheditor", &layout);
  lblLastMessage = new QLabel("All Done!", page);
  lblLastMessage->setObjectName("lblLastMessage");
  lblLastMessage->setTextFormat(Qt::PlainText);
  lblLastMessage->setAlignment(Qt::AlignCenter);
  lblLastMessage->setWordWrap(true);
  lblLastMessage->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  lblLastMessage->setAutoFillBackground(true);
  QFont big = lblLastMessage->font();
  big.setPixelSize(19);
  lblLastMessage->setFont(big);
  lblLastMessage->setStyleSheet("QLabel { background-color: yellow; color: navy; padding: 8px; }");
  layout->addStretch(1);
  layout->addWidget(lblLastMessage);
  layout->addStretch(1);
  return page;
}
