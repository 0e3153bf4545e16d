#include "wizard/editor_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "wizard/editor_text_area.h"
#include "wizard/qt_text.h"
#include "wizard/wizard_dialogs.h"

namespace {

QListWidget* NewMacroList(QWidget* parent, const char* name, const QString& hint, bool drag) {
  auto* list = new QListWidget(parent);
  list->setObjectName(name);
  list->setToolTip(hint);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  if (drag) {
    list->setDragEnabled(true);
    list->setDragDropMode(QAbstractItemView::DragOnly);
    list->setDefaultDropAction(Qt::CopyAction);
  }
  return list;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QToolButton* NewGlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph,
                            const QString& hint) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setIcon(parent->style()->standardIcon(glyph));
  button->setToolTip(hint);
  return button;
}

void FillList(QListWidget* widget, const TStringList& items, int selected) {
  widget->clear();
  for (const std::string& item : items) widget->addItem(ToQString(item));
  if (selected >= 0 && selected < widget->count()) {
    widget->setCurrentRow(selected);
  } else {
    widget->setCurrentRow(-1);
    widget->clearSelection();
  }
}

int SelectedRow(const QListWidget* widget) {
  const QList<QListWidgetItem*> items = widget->selectedItems();
  return items.isEmpty() ? -1 : widget->row(items.constFirst());
}

}  // namespace

Tfrmeditor::Tfrmeditor(QWidget* parent, std::shared_ptr<TEditorDialogs> dialogs)
    : QDialog(parent), dialogs_(std::move(dialogs)) {
  if (!dialogs_) dialogs_ = std::make_shared<TQtEditorDialogs>();
  setObjectName("frmeditor");
  setWindowTitle("Brevix BX Editor");
  // Resizable: at a large display scale a fixed size cut off the macro lists.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMaximizeButtonHint);
  setSizeGripEnabled(true);
  BuildControls();
  BuildMenu();
  WireControls();
  setMinimumSize(minimumSizeHint());
  resize(sizeHint().expandedTo(QSize(760, 560)));
  // FormCreate: nothing has changed yet.
  modified_ = false;
}

Tfrmeditor::~Tfrmeditor() = default;

void Tfrmeditor::BuildControls() {
  auto* pages = new QTabWidget(this);
  pages->setObjectName("PageControl1");
  auto* page = new QWidget(pages);
  page->setObjectName("TabSheet1");
  pages->addTab(page, "Message Text Editor");

  Label12 = NewLabel(page, "Label12", "Available Macros");
  Label23 = NewLabel(page, "Label23", "Unused Macros");
  Label23->setToolTip("Macros not used");
  Label13 = NewLabel(page, "Label13", "Used Macros");
  Label14 = NewLabel(page, "Label14", "Edit File Here...");

  list1 = NewMacroList(
      page, "list1",
      "Macros used by Auto-Format templates. Double-click to manually add to Message Text", true);
  list3 = NewMacroList(page, "list3",
                       "Macros not used by Auto-Format. Double-click to add make available", true);
  list2 = NewMacroList(page, "list2",
                       "Macros you have already inserted. Double-click to Insert again.", false);

  SpeedButton1 = NewGlyphButton(page, "SpeedButton1", QStyle::SP_FileDialogListView,
                                "Sort list of macros alphabetically");
  BtnUp = NewGlyphButton(page, "BtnUp", QStyle::SP_ArrowUp, "Move selected macro up");
  BtnDown = NewGlyphButton(page, "BtnDown", QStyle::SP_ArrowDown, "Move selected macro down");
  BtnDelete = NewGlyphButton(page, "BtnDelete", QStyle::SP_DialogDiscardButton,
                             "Don't use this macro in Auto-Format");

  auto* text_area = new TEditorTextArea(page);
  text_area->SetListDropHandler([this] { Memo2DragDrop(); });
  Memo2 = text_area;
  Memo2->setObjectName("Memo2");
  QFont fixed("Courier New");
  fixed.setStyleHint(QFont::Monospace);
  fixed.setFixedPitch(true);
  Memo2->setFont(fixed);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* buttons = new QVBoxLayout;
  for (QToolButton* button : {SpeedButton1, BtnUp, BtnDown, BtnDelete}) buttons->addWidget(button);
  buttons->addStretch();

  auto* lists = new QGridLayout;
  lists->addWidget(Label12, 0, 0);
  lists->addWidget(Label23, 0, 2);
  lists->addWidget(Label13, 0, 3);
  lists->addWidget(list1, 1, 0);
  lists->addLayout(buttons, 1, 1);
  lists->addWidget(list3, 1, 2);
  lists->addWidget(list2, 1, 3);

  auto* page_layout = new QVBoxLayout(page);
  page_layout->addLayout(lists, 2);
  page_layout->addWidget(Label14);
  page_layout->addWidget(Memo2, 3);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages);
}

void Tfrmeditor::BuildMenu() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName("MainMenu1");
  auto add_action = [this](QMenu* menu, const char* name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    return action;
  };
  QMenu* file = MainMenu1->addMenu("&File");
  file->setObjectName("File1");
  Open3 = add_action(file, "Open3", "&Open");
  Save2 = add_action(file, "Save2", "&Save");
  Exit1 = add_action(file, "Exit1", "E&xit");
  QMenu* edit = MainMenu1->addMenu("&Edit");
  edit->setObjectName("Edt1");
  Copy1 = add_action(edit, "Copy1", "&Copy");
  Cut1 = add_action(edit, "Cut1", "C&ut");
  Paste1 = add_action(edit, "Paste1", "&Paste");
  QMenu* help = MainMenu1->addMenu("&Help");
  help->setObjectName("Help1");
  About1 = add_action(help, "About1", "&About");
  layout()->setMenuBar(MainMenu1);
}

void Tfrmeditor::WireControls() {
  connect(Memo2, &QPlainTextEdit::textChanged, this, [this] { modified_ = true; });
  connect(list1, &QListWidget::itemDoubleClicked, this, &Tfrmeditor::list1DblClick);
  connect(list2, &QListWidget::itemDoubleClicked, this, &Tfrmeditor::list2DblClick);
  connect(list3, &QListWidget::itemDoubleClicked, this, &Tfrmeditor::list3DblClick);
  connect(SpeedButton1, &QToolButton::clicked, this, &Tfrmeditor::SpeedButton1Click);
  connect(BtnUp, &QToolButton::clicked, this, &Tfrmeditor::BtnUpClick);
  connect(BtnDown, &QToolButton::clicked, this, &Tfrmeditor::BtnDownClick);
  connect(BtnDelete, &QToolButton::clicked, this, &Tfrmeditor::BtnDeleteClick);
  connect(Open3, &QAction::triggered, this, &Tfrmeditor::BtnExistingClick);
  connect(Save2, &QAction::triggered, this, &Tfrmeditor::BtnSaveTextClick);
  connect(Exit1, &QAction::triggered, this, &Tfrmeditor::Exit1Click);
  connect(Copy1, &QAction::triggered, this, &Tfrmeditor::Copy1Click);
  connect(Cut1, &QAction::triggered, this, &Tfrmeditor::Cut1Click);
  connect(Paste1, &QAction::triggered, this, &Tfrmeditor::Paste1Click);
  connect(About1, &QAction::triggered, this, &Tfrmeditor::About1Click);
}

void Tfrmeditor::ClearMacroLists() {
  lists_.Clear();
  ShowLists(-1);
}

void Tfrmeditor::AddUnusedMacro(const std::string& macro) {
  lists_.AddUnused(macro);
  ShowLists(SelectedAvailable());
}

void Tfrmeditor::SetAvailableMacros(const TStringList& macros) {
  lists_.SetAvailable(macros);
  ShowLists(-1);
}

void Tfrmeditor::SetUsedMacros(const TStringList& macros) {
  lists_.SetUsed(macros);
  ShowLists(SelectedAvailable());
}

int Tfrmeditor::ShowModal() {
  return CurrentWizardDialogs().ShowModal(*this);
}

void Tfrmeditor::ShowLists(int selected) {
  FillList(list1, lists_.Available(), selected);
  FillList(list3, lists_.Unused(), -1);
  FillList(list2, lists_.Used(), -1);
}

int Tfrmeditor::SelectedAvailable() const {
  return SelectedRow(list1);
}

void Tfrmeditor::InsertIntoText(const std::string& macro) {
  // insertText replaces the selection, or inserts at the caret when nothing is selected.
  Memo2->textCursor().insertText(ToQString(macro));
}

void Tfrmeditor::list1DblClick() {
  const std::optional<std::string> macro = lists_.TakeAvailable(SelectedAvailable());
  if (!macro) return;
  InsertIntoText(*macro);
  ShowLists(-1);
  Memo2->setFocus();
}

void Tfrmeditor::list2DblClick() {
  const std::optional<std::string> macro = lists_.UsedEntry(SelectedRow(list2));
  if (!macro) return;
  InsertIntoText(*macro);
  Memo2->setFocus();
}

void Tfrmeditor::list3DblClick() {
  int selected = SelectedAvailable();
  const int added = lists_.MakeAvailable(SelectedRow(list3));
  if (added < 0) return;
  // Keep the same entry of list1 selected when the new one lands above it.
  if (selected >= 0 && added <= selected) ++selected;
  ShowLists(selected);
}

void Tfrmeditor::Memo2DragDrop() {
  const int selected = SelectedAvailable();
  if (selected < 0) return;
  InsertIntoText(lists_.Available()[selected]);
}

void Tfrmeditor::SpeedButton1Click() {
  const int selected = SelectedAvailable();
  const std::string kept = selected >= 0 ? lists_.Available()[selected] : std::string();
  lists_.ToggleAvailableSorted();
  ShowLists(selected >= 0 ? lists_.Available().IndexOf(kept) : -1);
}

void Tfrmeditor::BtnUpClick() {
  ShowLists(lists_.MoveUp(SelectedAvailable()));
}

void Tfrmeditor::BtnDownClick() {
  ShowLists(lists_.MoveDown(SelectedAvailable()));
}

void Tfrmeditor::BtnDeleteClick() {
  const int selected = SelectedAvailable();
  if (selected < 0) return;
  ShowLists(lists_.Remove(selected));
}

void Tfrmeditor::Exit1Click() {
  close();
}

namespace {

// The clipboard commands act on the focused control only when it is an edit control.
template <typename Command>
void OnFocusedEdit(QWidget* focused, Command command) {
  if (auto* text = qobject_cast<QPlainTextEdit*>(focused)) {
    command(*text);
  } else if (auto* line = qobject_cast<QLineEdit*>(focused)) {
    command(*line);
  }
}

}  // namespace

void Tfrmeditor::Copy1Click() {
  OnFocusedEdit(focusWidget(), [](auto& edit) { edit.copy(); });
}

void Tfrmeditor::Cut1Click() {
  OnFocusedEdit(focusWidget(), [](auto& edit) { edit.cut(); });
}

void Tfrmeditor::Paste1Click() {
  OnFocusedEdit(focusWidget(), [](auto& edit) { edit.paste(); });
}

void Tfrmeditor::About1Click() {
  if (about_handler_) about_handler_();
}

bool Tfrmeditor::FormCloseQuery() {
  if (!modified_) return true;
  return dialogs_->Ask(this, "Message Text file not saved. Exit anyway?", false) ==
         TEditorDialogs::TAnswer::Yes;
}

void Tfrmeditor::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  // QDialog::closeEvent hides the window through reject(), which must not ask again.
  close_query_done_ = true;
  QDialog::closeEvent(event);
  close_query_done_ = false;
}

void Tfrmeditor::reject() {
  if (!close_query_done_ && !FormCloseQuery()) return;
  QDialog::reject();
}
