#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>
#include <fstream>

#include "wizard/editor_window_fixture.h"

namespace {

using namespace editor_test;

class EditorFileCommandsTest : public EditorWindowFixture {};

TEST_F(EditorFileCommandsTest, HandedOverTemplateCountsAsUnsavedAtClose) {
  editor_->SetMessageText("%a%\r\n%b%\r\n");
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->MessageText(), "%a%\r\n%b%\r\n");

  editor_->show();
  dialogs_->answers = {TEditorDialogs::TAnswer::No};
  editor_->Exit1->trigger();
  EXPECT_TRUE(editor_->isVisible());
  EXPECT_EQ(dialogs_->questions, (Names{"Message Text file not saved. Exit anyway?"}));

  dialogs_->answers = {TEditorDialogs::TAnswer::No};
  editor_->reject();  // Escape
  EXPECT_TRUE(editor_->isVisible());

  dialogs_->answers = {TEditorDialogs::TAnswer::Yes};
  editor_->Exit1->trigger();
  EXPECT_FALSE(editor_->isVisible());
  EXPECT_EQ(dialogs_->questions.size(), 3u);  // one question per close, never two
}

TEST_F(EditorFileCommandsTest, BlankHandOverChangesOnlyATextThatWasThere) {
  editor_->SetMessageText("");
  EXPECT_FALSE(editor_->Modified());
  editor_->Memo2->setPlainText("typed");
  editor_->Save2->trigger();  // cancelled: still changed
  dialogs_->files = {File("t.txt")};
  editor_->Save2->trigger();
  ASSERT_FALSE(editor_->Modified());
  editor_->SetMessageText("");
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->MessageText(), "");
}

TEST_F(EditorFileCommandsTest, UnchangedTextClosesWithoutAsking) {
  editor_->show();
  editor_->Exit1->trigger();
  EXPECT_FALSE(editor_->isVisible());
  EXPECT_TRUE(dialogs_->questions.empty());
}

TEST_F(EditorFileCommandsTest, OpenAnsweredNoThenCancelledLeavesEmptyUnchangedText) {
  editor_->SetMessageText("draft");
  dialogs_->answers = {TEditorDialogs::TAnswer::No};
  editor_->Open3->trigger();
  EXPECT_EQ(dialogs_->questions, (Names{"Changes not saved. Save them now?"}));
  ASSERT_EQ(dialogs_->open_requests.size(), 1u);
  EXPECT_EQ(dialogs_->open_requests[0].title, "Open Message Text File");
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(editor_->Modified());

  editor_->show();
  editor_->Exit1->trigger();
  EXPECT_FALSE(editor_->isVisible());
  EXPECT_EQ(dialogs_->questions.size(), 1u);
}

TEST_F(EditorFileCommandsTest, OpenCancelledAtTheQuestionChangesNothing) {
  editor_->SetMessageText("draft");
  editor_->Open3->trigger();  // no scripted answer: Cancel
  EXPECT_EQ(Text(), "draft");
  EXPECT_TRUE(editor_->Modified());
  EXPECT_TRUE(dialogs_->open_requests.empty());
}

TEST_F(EditorFileCommandsTest, OpenLoadsTheChosenFile) {
  const std::string path = File("thanks.txt");
  std::ofstream(path, std::ios::binary) << "Hello %name%\nBye\r\n";
  dialogs_->files = {path};
  editor_->Open3->trigger();
  EXPECT_TRUE(dialogs_->questions.empty());
  EXPECT_EQ(Text(), "Hello %name%\nBye");
  EXPECT_EQ(editor_->CurrentFileName(), path);
  EXPECT_FALSE(editor_->Modified());

  // The next Open starts in the folder of the current file.
  editor_->Open3->trigger();
  ASSERT_EQ(dialogs_->open_requests.size(), 2u);
  EXPECT_EQ(dialogs_->open_requests[1].initial_dir, dir_ + "/");
}

TEST_F(EditorFileCommandsTest, OpenAnsweredYesSavesAndOpensNothing) {
  const std::string path = File("saved.txt");
  editor_->SetMessageText("line one\nline two");
  dialogs_->answers = {TEditorDialogs::TAnswer::Yes};
  dialogs_->files = {path};
  editor_->Open3->trigger();
  EXPECT_EQ(Slurp(path), "line one\r\nline two\r\n");
  EXPECT_TRUE(dialogs_->open_requests.empty());
  EXPECT_FALSE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), "");
  EXPECT_EQ(Text(), "line one\nline two");
}

// A save dialog cancelled inside Open once cleared the changed mark, so the next close let
// unsaved text go without a question.
TEST_F(EditorFileCommandsTest, OpenAnsweredYesButSaveCancelledKeepsTheChangedMark) {
  editor_->SetMessageText("draft");
  dialogs_->answers = {TEditorDialogs::TAnswer::Yes};
  editor_->Open3->trigger();
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(Text(), "draft");
}

TEST_F(EditorFileCommandsTest, SaveWritesTheTextAndRemembersTheName) {
  const std::string path = File("out.txt");
  editor_->SetMessageText("a\n\nb");
  dialogs_->files = {path};
  editor_->Save2->trigger();
  EXPECT_EQ(Slurp(path), "a\r\n\r\nb\r\n");
  EXPECT_EQ(editor_->CurrentFileName(), path);
  EXPECT_FALSE(editor_->Modified());
  ASSERT_EQ(dialogs_->save_requests.size(), 1u);
  EXPECT_EQ(dialogs_->save_requests[0].title, "Save File");
  EXPECT_EQ(dialogs_->save_requests[0].initial_name, "");

  // The next Save offers the file's name in its folder.
  dialogs_->files = {std::nullopt};
  editor_->Save2->trigger();
  ASSERT_EQ(dialogs_->save_requests.size(), 2u);
  EXPECT_EQ(dialogs_->save_requests[1].initial_name, "out.txt");
  EXPECT_EQ(dialogs_->save_requests[1].initial_dir, dir_ + "/");
}

// A cancelled save once cleared the changed mark and cut the file name down to its last part.
TEST_F(EditorFileCommandsTest, CancelledSaveKeepsChangedMarkAndFileName) {
  const std::string path = File("keep.txt");
  dialogs_->files = {path};
  editor_->SetMessageText("one");
  editor_->Save2->trigger();
  editor_->Memo2->appendPlainText("two");
  ASSERT_TRUE(editor_->Modified());
  editor_->Save2->trigger();  // cancelled
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), path);
  EXPECT_EQ(Slurp(path), "one\r\n");
}

TEST_F(EditorFileCommandsTest, FailedSaveShowsErrorAndKeepsState) {
  const std::string bad = File("no-such-folder/x.txt");
  editor_->SetMessageText("text");
  dialogs_->files = {bad};
  editor_->Save2->trigger();
  EXPECT_EQ(wizard_dialogs_.errors, (Names{"Cannot create file \"" + bad + "\""}));
  EXPECT_TRUE(editor_->Modified());
  EXPECT_EQ(editor_->CurrentFileName(), "");
  EXPECT_EQ(Text(), "text");
}

TEST_F(EditorFileCommandsTest, FailedOpenShowsErrorAndLeavesEmptyText) {
  const std::string first = File("first.txt");
  std::ofstream(first) << "first\r\n";
  dialogs_->files = {first, dir_};  // the second "file" is a folder and cannot be read
  editor_->Open3->trigger();
  editor_->Open3->trigger();
  EXPECT_EQ(wizard_dialogs_.errors, (Names{"Cannot open file \"" + dir_ + "\""}));
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(editor_->CurrentFileName(), first);
  EXPECT_FALSE(editor_->Modified());
}

// A generated HTML template once started the save dialog on "Text Files", and the owner's
// template was saved as .txt: the gateway then sent its markup as plain text.
TEST_F(EditorFileCommandsTest, SaveStartsWithTheFileTypeOfTheText) {
  const std::pair<const char*, int> cases[] = {
      {"name: %name%\r\n", 1},
      {"<!DOCTYPE HTML PUBLIC>\r\n<html><body>%name%</body></html>\r\n", 2},
      {"\r\n  <table><tr><td>%name%</td></tr></table>", 2},
  };
  for (const auto& [text, index] : cases) {
    dialogs_->files = {std::nullopt};
    dialogs_->save_requests.clear();
    editor_->SetMessageText(text);
    editor_->SelectSaveFileTypeForText();
    editor_->Save2->trigger();
    ASSERT_EQ(dialogs_->save_requests.size(), 1u);
    EXPECT_EQ(dialogs_->save_requests[0].filter_index, index) << text;
    EXPECT_EQ(dialogs_->save_requests[0].filter, "Text Files|*.txt|HTM Files|*.htm|All Files|*.*");
  }
}

}  // namespace
