#include "wizard/page_widgets.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

QLabel* AddHelpPanel(QVBoxLayout* page_layout, const char* name, const QString& text) {
  auto* panel = new QLabel(text, page_layout->parentWidget());
  panel->setObjectName(name);
  panel->setWordWrap(true);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  panel->setStyleSheet("QLabel { background-color: yellow; color: navy; padding: 4px; }");
  panel->setMinimumHeight(56);
  page_layout->addStretch(1);
  page_layout->addWidget(panel);
  return panel;
}

QWidget* NewPage(const char* name, QVBoxLayout** layout) {
  auto* page = new QWidget;
  page->setObjectName(name);
  *layout = new QVBoxLayout(page);
  return page;
}

QLabel* NewHeading(QWidget* parent, const char* name, const QString& text, bool navy) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.2);
  label->setFont(font);
  if (navy) label->setStyleSheet("QLabel { color: navy; }");
  return label;
}

QLineEdit* AddFieldRow(QFormLayout* form, const char* label, const char* edit_name,
                       const char* hint, const char* browse_name, QToolButton** browse,
                       const char* browse_caption) {
  QWidget* parent = form->parentWidget();
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(edit_name);
  if (hint) edit->setToolTip(hint);
  auto* caption = new QLabel(label, parent);
  caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  caption->setBuddy(edit);
  if (browse) *browse = nullptr;
  if (!browse_name) {
    form->addRow(caption, edit);
    return edit;
  }
  auto* row = new QHBoxLayout;
  auto* button = new QToolButton(parent);
  button->setObjectName(browse_name);
  button->setText(browse_caption);
  button->setToolTip("Select File");
  row->addWidget(edit, 1);
  row->addWidget(button);
  form->addRow(caption, row);
  if (browse) *browse = button;
  return edit;
}

QCheckBox* NewCheck(QWidget* parent, const char* name, const QString& text) {
  auto* check = new QCheckBox(text, parent);
  check->setObjectName(name);
  return check;
}

QToolButton* NewGlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph,
                            const char* hint) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setIcon(parent->style()->standardIcon(glyph));
  button->setToolTip(hint);
  return button;
}

const char* const kFormatCaptions[6] = {
    "One Column No Labels (Text Format)",
    "One Column With Labels (Text Format)",
    "One Column No Labels (HTML Format)",
    "Two Column No Labels (HTML Format)",
    "Two Column With Labels in Col #1 (HTML Format)",
    "Comma Separated Value (Text Format)",
};
