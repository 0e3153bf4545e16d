#pragma once

#include <QPlainTextEdit>
#include <functional>

// The editor's text area: a plain text edit that takes macro lists as drag sources. A drag that
// carries list entries (the item-model data that QListWidget drags carry) is accepted wherever
// it hovers, and its drop calls the drop handler instead of inserting the dragged text: the
// editor decides what a dropped macro inserts. Any other drag (text from elsewhere) is handled
// as a plain text edit handles it.
class TEditorTextArea : public QPlainTextEdit {
 public:
  explicit TEditorTextArea(QWidget* parent = nullptr) : QPlainTextEdit(parent) {}

  // Called on a drop of list entries; may be empty (the drop then does nothing).
  void SetListDropHandler(std::function<void()> handler) { on_list_drop_ = std::move(handler); }

  // The drag format that list widgets produce.
  static const char* ListDragFormat() { return "application/x-qabstractitemmodeldatalist"; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  std::function<void()> on_list_drop_;
};
