#pragma once

// Drives Qt's own file dialog (not a platform's native one) as an owner would: waits until it is
// the active modal window, reads which files it lists, picks a file type, types a name and
// presses its accept button. A test schedules the owner's part with AnswerNextFileDialog and
// then runs the command that opens the dialog; the part runs inside the dialog's modal loop.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace file_dialog_test {

// Qt's own dialogs for the life of the object (a desktop may offer native ones otherwise).
class QtOwnDialogs {
 public:
  QtOwnDialogs() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true); }
  ~QtOwnDialogs() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false); }
  QtOwnDialogs(const QtOwnDialogs&) = delete;
  QtOwnDialogs& operator=(const QtOwnDialogs&) = delete;
};

// Runs `owner` on the next file dialog that becomes modal. When none shows within 20 seconds
// (an upper bound that turns a hang into a failure), the test fails and every modal window is
// closed so that the command under test returns.
inline void AnswerNextFileDialog(std::function<void(QFileDialog&)> owner) {
  QTimer::singleShot(0, [owner = std::move(owner)] {
    const QDeadlineTimer deadline(20000);
    QFileDialog* dialog = nullptr;
    while (!deadline.hasExpired()) {
      dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog != nullptr && dialog->isVisible()) break;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (dialog == nullptr) {
      ADD_FAILURE() << "no file dialog was shown";
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      return;
    }
    owner(*dialog);
    // Whatever the owner's part did, the dialog must not stay open.
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the file dialog stayed open";
      dialog->reject();
    }
  });
}

// The names the dialog lists in its folder once `expected` shows (or after 20 seconds).
inline QStringList ListedNames(QFileDialog& dialog, const QString& expected) {
  auto* view = dialog.findChild<QListView*>("listView");
  if (view == nullptr) return {};
  const QDeadlineTimer deadline(20000);
  for (;;) {
    QStringList names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
      names << view->model()->index(row, 0, root).data().toString();
    if (names.contains(expected) || deadline.hasExpired()) return names;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

// Chooses the file type whose filter begins with `description` ("HTM Files").
inline void ChooseFileType(QFileDialog& dialog, const QString& description) {
  for (const QString& filter : dialog.nameFilters()) {
    if (filter.startsWith(description + " (")) {
      dialog.selectNameFilter(filter);
      return;
    }
  }
  ADD_FAILURE() << "no file type " << description.toStdString() << " in "
                << dialog.nameFilters().join(";;").toStdString();
}

// Types `name` into the file name field and presses Open or Save.
inline void TypeNameAndAccept(QFileDialog& dialog, const QString& name) {
  auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
  auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(buttons, nullptr);
  edit->setText(name);
  QPushButton* accept =
      buttons->button(dialog.acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                     : QDialogButtonBox::Open);
  ASSERT_NE(accept, nullptr);
  accept->click();
}

}  // namespace file_dialog_test
