#pragma once
#include <QString>
#include <QStyle>

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QToolButton;
class QVBoxLayout;
class QWidget;

// Small builders for the wizard's pages. Every widget they make is created with a parent that
// owns it and carries its given object name, so tests find it with findChild.

// The help panel at the bottom of a page: a sunken, word-wrapped static text across the page's
// full width, yellow background, navy text.
QLabel* AddHelpPanel(QVBoxLayout* page_layout, const char* name, const QString& text);

// A page widget named `name` with a vertical layout; `layout` receives the layout.
QWidget* NewPage(const char* name, QVBoxLayout** layout);

// A bold label (navy when `navy`), used for the headings and questions of the pages.
QLabel* NewHeading(QWidget* parent, const char* name, const QString& text, bool navy);

// One labelled edit row of a field group: a right-aligned label with the hidden field's name,
// the edit `edit_name` with its hint (none when `hint` is null) and, when `browse_name` is given,
// a browse button beside it (caption "....", or `browse_caption` when given; hint "Select File").
// `browse` receives the button (or null).
QLineEdit* AddFieldRow(QFormLayout* form, const char* label, const char* edit_name,
                       const char* hint, const char* browse_name = nullptr,
                       QToolButton** browse = nullptr, const char* browse_caption = "....");

// A check box with its caption, owned by `parent`.
QCheckBox* NewCheck(QWidget* parent, const char* name, const QString& text);

// A tool button showing a standard glyph, with its hint.
QToolButton* NewGlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph,
                            const char* hint);

// The captions of the six automatic formats, in the order of the format numbers 0 to 5 (the
// entries of LstDefault_Format, and of listformats behind its "Blank/Edit Existing").
extern const char* const kFormatCaptions[6];
