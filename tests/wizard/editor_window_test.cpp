#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

#include "wizard/editor_window_fixture.h"

namespace {

using namespace editor_test;

class EditorWindowTest : public EditorWindowFixture {};

TEST_F(EditorWindowTest, ControlsCarryTheirNamesTextsAndHints) {
  EXPECT_EQ(editor_->objectName(), "frmeditor");
  EXPECT_EQ(editor_->windowTitle(), "Brevix BX Editor");
  struct Named {
    const char* name;
    QString text;
  };
  for (const Named& action :
       {Named{"Open3", "&Open"}, Named{"Save2", "&Save"}, Named{"Exit1", "E&xit"},
        Named{"Copy1", "&Copy"}, Named{"Cut1", "C&ut"}, Named{"Paste1", "&Paste"},
        Named{"About1", "&About"}}) {
    const auto* found = editor_->findChild<QAction*>(action.name);
    ASSERT_NE(found, nullptr) << action.name;
    EXPECT_EQ(found->text(), action.text) << action.name;
  }
  for (const Named& label :
       {Named{"Label12", "Available Macros"}, Named{"Label23", "Unused Macros"},
        Named{"Label13", "Used Macros"}, Named{"Label14", "Edit File Here..."}}) {
    const auto* found = editor_->findChild<QLabel*>(label.name);
    ASSERT_NE(found, nullptr) << label.name;
    EXPECT_EQ(found->text(), label.text) << label.name;
  }
  for (const Named& hint :
       {Named{"SpeedButton1", "Sort list of macros alphabetically"},
        Named{"BtnUp", "Move selected macro up"}, Named{"BtnDown", "Move selected macro down"},
        Named{"BtnDelete", "Don't use this macro in Auto-Format"}}) {
    const auto* found = editor_->findChild<QToolButton*>(hint.name);
    ASSERT_NE(found, nullptr) << hint.name;
    EXPECT_EQ(found->toolTip(), hint.text) << hint.name;
  }
  for (const char* list : {"list1", "list2", "list3"}) {
    EXPECT_NE(editor_->findChild<QListWidget*>(list), nullptr) << list;
  }
  EXPECT_NE(editor_->findChild<QPlainTextEdit*>("Memo2"), nullptr);
  EXPECT_FALSE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), "");
}

// A fixed 1068x700 window cut off the Used Macros list at 125 % scaling on a 1024x768 screen.
TEST_F(EditorWindowTest, WindowResizesAndFitsAScaledSmallScreen) {
  EXPECT_LT(editor_->minimumWidth(), editor_->maximumWidth());
  EXPECT_LE(editor_->minimumWidth(), 1024 * 4 / 5);
  EXPECT_LE(editor_->minimumHeight(), 768 * 4 / 5);
  editor_->resize(1000, 700);
  EXPECT_EQ(editor_->size(), QSize(1000, 700));
}

// "Exit anyway?" once had Yes as its default button: Enter threw the edits away.
TEST_F(EditorWindowTest, QuestionsDefaultToTheAnswerThatKeepsTheWork) {
  for (const bool with_cancel : {false, true}) {
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      default_button = box->standardButton(box->defaultButton());
      box->button(QMessageBox::No)->click();
    });
    poll.start(10);
    TQtEditorDialogs().Ask(nullptr, "Exit anyway?", with_cancel);
    // Without Cancel the question throws work away; with it, Yes saves.
    EXPECT_EQ(default_button, with_cancel ? QMessageBox::Yes : QMessageBox::No) << with_cancel;
  }
}

TEST_F(EditorWindowTest, DoubleClickingEveryAvailableEntryInsertsThemInOrder) {
  editor_->SetAvailableMacros(ListOf({"%b%", "%a%", "%c%"}));
  while (editor_->list1->count() > 0) DoubleClick(editor_->list1, 0);
  EXPECT_EQ(Text(), "%b%%a%%c%");
  EXPECT_EQ(Rows(editor_->list2), (Names{"%b%", "%a%", "%c%"}));
  EXPECT_TRUE(editor_->Modified());

  // A used entry inserts again and changes no list.
  DoubleClick(editor_->list2, 1);
  EXPECT_EQ(Text(), "%b%%a%%c%%a%");
  EXPECT_EQ(Rows(editor_->list2), (Names{"%b%", "%a%", "%c%"}));
  EXPECT_TRUE(editor_->list1->count() == 0);
}

TEST_F(EditorWindowTest, InsertionReplacesTheSelectedText) {
  editor_->SetMessageText("Dear NAME,");
  editor_->SetAvailableMacros(ListOf({"%name%"}));
  QTextCursor cursor = editor_->Memo2->textCursor();
  cursor.setPosition(5);
  cursor.setPosition(9, QTextCursor::KeepAnchor);
  editor_->Memo2->setTextCursor(cursor);
  DoubleClick(editor_->list1, 0);
  EXPECT_EQ(Text(), "Dear %name%,");
}

TEST_F(EditorWindowTest, DoubleClickWithoutSelectionDoesNothing) {
  editor_->SetAvailableMacros(ListOf({"%a%"}));
  editor_->SetUsedMacros(ListOf({"%u%"}));
  editor_->list1DblClick();
  editor_->list2DblClick();
  editor_->list3DblClick();
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%"}));
  EXPECT_FALSE(editor_->Modified());
}

TEST_F(EditorWindowTest, UnusedEntryBecomesAvailableAtTheEndOrItsSortedPlace) {
  editor_->SetAvailableMacros(ListOf({"%m%", "%c%"}));
  editor_->AddUnusedMacro("%z%");
  editor_->AddUnusedMacro("%a%");
  EXPECT_EQ(Rows(editor_->list3), (Names{"%a%", "%z%"}));
  DoubleClick(editor_->list3, 1);
  EXPECT_EQ(Rows(editor_->list1), (Names{"%m%", "%c%", "%z%"}));
  EXPECT_EQ(Text(), "");

  editor_->SpeedButton1->click();  // sort list1
  EXPECT_EQ(Rows(editor_->list1), (Names{"%c%", "%m%", "%z%"}));
  editor_->list1->setCurrentRow(1);  // %m%
  DoubleClick(editor_->list3, 0);
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%c%", "%m%", "%z%"}));
  EXPECT_EQ(Selected(editor_->list1), 2);  // still %m%
  EXPECT_TRUE(editor_->list3->count() == 0);
}

TEST_F(EditorWindowTest, DropInsertsTheEntrySelectedInAvailableListAtTheCaret) {
  editor_->SetMessageText("ab");
  editor_->SetAvailableMacros(ListOf({"%one%", "%two%"}));
  editor_->AddUnusedMacro("%dragged%");
  QTextCursor cursor = editor_->Memo2->textCursor();
  cursor.setPosition(1);
  editor_->Memo2->setTextCursor(cursor);
  editor_->list1->setCurrentRow(1);
  editor_->list3->setCurrentRow(0);
  DropListEntryOnText();  // a drag of %dragged% from list3
  EXPECT_EQ(Text(), "a%two%b");
  EXPECT_EQ(Rows(editor_->list1), (Names{"%one%", "%two%"}));
  EXPECT_EQ(Rows(editor_->list3), (Names{"%dragged%"}));
  EXPECT_TRUE(editor_->list2->count() == 0);

  editor_->list1->clearSelection();
  DropListEntryOnText();
  EXPECT_EQ(Text(), "a%two%b");
}

TEST_F(EditorWindowTest, ArrangementButtonsActOnAvailableList) {
  editor_->SetAvailableMacros(ListOf({"%a%", "%b%", "%c%"}));
  editor_->list1->setCurrentRow(2);
  editor_->BtnUp->click();
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%c%", "%b%"}));
  EXPECT_EQ(Selected(editor_->list1), 1);
  editor_->BtnDown->click();
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%b%", "%c%"}));
  EXPECT_EQ(Selected(editor_->list1), 2);

  editor_->BtnDelete->click();  // %c%: the one above becomes selected
  EXPECT_EQ(Rows(editor_->list1), (Names{"%a%", "%b%"}));
  EXPECT_EQ(Selected(editor_->list1), 1);
  editor_->list1->setCurrentRow(0);
  editor_->BtnDelete->click();  // the first: nothing selected
  EXPECT_EQ(Rows(editor_->list1), (Names{"%b%"}));
  EXPECT_EQ(Selected(editor_->list1), -1);
  EXPECT_EQ(Rows(editor_->list3), (Names{"%a%", "%c%"}));
}

TEST_F(EditorWindowTest, ClearMacroListsEmptiesAllThree) {
  editor_->SetAvailableMacros(ListOf({"%a%"}));
  editor_->SetUsedMacros(ListOf({"%b%"}));
  editor_->AddUnusedMacro("%c%");
  editor_->ClearMacroLists();
  EXPECT_EQ(editor_->list1->count() + editor_->list2->count() + editor_->list3->count(), 0);
}

TEST_F(EditorWindowTest, ShowModalGoesThroughTheWizardSeam) {
  editor_->ShowModal();
  EXPECT_EQ(wizard_dialogs_.modal_runs, 1);
}

TEST_F(EditorWindowTest, ClipboardCommandsActOnTheFocusedTextArea) {
  editor_->show();
  editor_->SetMessageText("cut me");
  editor_->Memo2->setFocus();
  editor_->Memo2->selectAll();
  editor_->Copy1->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "cut me");
  editor_->Cut1->trigger();
  EXPECT_EQ(Text(), "");
  editor_->Paste1->trigger();
  editor_->Paste1->trigger();
  EXPECT_EQ(Text(), "cut mecut me");

  // With a list focused the commands do nothing.
  editor_->SetAvailableMacros(ListOf({"%a%"}));
  editor_->list1->setFocus();
  editor_->Paste1->trigger();
  EXPECT_EQ(Text(), "cut mecut me");
}

TEST_F(EditorWindowTest, AboutRunsTheWizardsHandler) {
  int shown = 0;
  editor_->SetAboutHandler([&] { ++shown; });
  editor_->About1->trigger();
  EXPECT_EQ(shown, 1);
}

}  // namespace
