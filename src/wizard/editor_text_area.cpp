#include "wizard/editor_text_area.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>

namespace {

bool CarriesListEntries(const QDropEvent* event) {
  return event->mimeData() != nullptr &&
         event->mimeData()->hasFormat(TEditorTextArea::ListDragFormat());
}

// A copy, never a move: a move would make the source list delete the dragged entry.
void AcceptAsCopy(QDropEvent* event) {
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

}  // namespace

void TEditorTextArea::dragEnterEvent(QDragEnterEvent* event) {
  if (CarriesListEntries(event)) {
    AcceptAsCopy(event);
    return;
  }
  QPlainTextEdit::dragEnterEvent(event);
}

void TEditorTextArea::dragMoveEvent(QDragMoveEvent* event) {
  if (CarriesListEntries(event)) {
    AcceptAsCopy(event);
    return;
  }
  QPlainTextEdit::dragMoveEvent(event);
}

void TEditorTextArea::dropEvent(QDropEvent* event) {
  if (CarriesListEntries(event)) {
    AcceptAsCopy(event);
    // The macro goes to the caret, not to where the mouse was released.
    if (on_list_drop_) on_list_drop_();
    return;
  }
  QPlainTextEdit::dropEvent(event);
}
