#include "gateway/ref_numbers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RefNumbersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevix-refnum-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ + "/BX-RefNumbers.txt";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string FileText() const {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void WriteFile(const std::string& text) const { std::ofstream(file_, std::ios::binary) << text; }

  std::string dir_;
  std::string file_;
};

TEST_F(RefNumbersTest, FirstUseWithoutFileGivesOneAndStoresIt) {
  TRefNumbers numbers(file_);
  EXPECT_FALSE(numbers.Loaded());
  EXPECT_EQ(numbers.Next("order"), "1");
  EXPECT_TRUE(numbers.Loaded());
  EXPECT_EQ(FileText(), "order=1\r\n");
}

TEST_F(RefNumbersTest, SameKeyKeepsItsNumberForTheWholeRequest) {
  WriteFile("order=41\r\n");
  TRefNumbers numbers(file_);
  EXPECT_EQ(numbers.Next("order"), "42");
  EXPECT_EQ(numbers.Next("ORDER"), "42");
  EXPECT_EQ(FileText(), "order=42\r\n");
}

TEST_F(RefNumbersTest, SecondKeyShowsStoredCountWithoutAdvancing) {
  WriteFile("order=5\r\nticket=9\r\n");
  TRefNumbers numbers(file_);
  EXPECT_EQ(numbers.Next("order"), "6");
  EXPECT_EQ(numbers.Next("ticket"), "9");
  EXPECT_EQ(numbers.Next("unknown"), "");
  EXPECT_EQ(FileText(), "order=6\r\nticket=9\r\n");
}

// A count at the top of the range starts again too, never handing out 2147483648.
TEST_F(RefNumbersTest, CountThatIsNoNumberOrAtTheTopRestartsAtOne) {
  for (const char* stored : {"abc", "", "12x", "99999999999", "2147483647"}) {
    WriteFile(std::string("order=") + stored + "\r\n");
    TRefNumbers numbers(file_);
    EXPECT_EQ(numbers.Next("order"), "1") << stored;
  }
}

TEST_F(RefNumbersTest, GiveBackLetsNextRequestDrawSameNumber) {
  WriteFile("order=7\r\n");
  {
    TRefNumbers failed(file_);
    EXPECT_EQ(failed.Next("order"), "8");
    failed.GiveBack();
  }
  EXPECT_EQ(FileText(), "order=7\r\n");
  TRefNumbers next(file_);
  EXPECT_EQ(next.Next("order"), "8");
}

TEST_F(RefNumbersTest, GiveBackOfNewKeyRemovesIt) {
  WriteFile("ticket=3\r\n");
  TRefNumbers failed(file_);
  EXPECT_EQ(failed.Next("order"), "1");
  failed.GiveBack();
  EXPECT_EQ(FileText(), "ticket=3\r\n");
}

TEST_F(RefNumbersTest, GiveBackKeepsNumberThatAnotherRequestPassed) {
  // A number is given back only while it is the newest: otherwise the later request's number
  // would be handed out a second time.
  TRefNumbers first(file_);
  EXPECT_EQ(first.Next("order"), "1");
  TRefNumbers second(file_);
  EXPECT_EQ(second.Next("order"), "2");
  first.GiveBack();
  EXPECT_EQ(FileText(), "order=2\r\n");
  TRefNumbers third(file_);
  EXPECT_EQ(third.Next("order"), "3");
}

TEST_F(RefNumbersTest, KeyThatCannotBeStoredLeavesFileAlone) {
  WriteFile("order=1\r\n");
  TRefNumbers numbers(file_);
  EXPECT_EQ(numbers.Next("a\r\nb=9"), "");
  EXPECT_EQ(numbers.Next("x=y"), "");
  EXPECT_FALSE(numbers.Loaded());
  EXPECT_EQ(FileText(), "order=1\r\n");
}

TEST_F(RefNumbersTest, LongKeyIsCutTo255Characters) {
  TRefNumbers numbers(file_);
  EXPECT_EQ(numbers.Next(std::string(300, 'k')), "1");
  EXPECT_EQ(FileText(), std::string(255, 'k') + "=1\r\n");
}

TEST_F(RefNumbersTest, UnwritableFileStillAnswers) {
  TRefNumbers numbers(dir_ + "/missing-folder/BX-RefNumbers.txt");
  EXPECT_EQ(numbers.Next("order"), "1");
  numbers.GiveBack();
}

// Runs `processes` children that each make `draws` requests; every third request of a child
// gives its number back when `give_back` is set. Returns the lines "K <n>" (kept) and
// "G <n>" (given back) that the children report.
std::vector<std::string> DrawInChildren(const std::string& file, int processes, int draws,
                                        bool give_back) {
  int pipes[2];
  if (::pipe(pipes) != 0) return {};
  for (int p = 0; p < processes; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipes[0]);
      for (int i = 0; i < draws; ++i) {
        TRefNumbers numbers(file);
        const std::string number = numbers.Next("order");
        const bool back = give_back && i % 3 == 0;
        if (back) numbers.GiveBack();
        const std::string line = (back ? "G " : "K ") + number + "\n";
        if (::write(pipes[1], line.data(), line.size()) < 0) ::_exit(1);
      }
      ::_exit(0);
    }
  }
  ::close(pipes[1]);
  std::string all;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipes[0], buffer, sizeof buffer)) > 0;) {
    all.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipes[0]);
  while (::wait(nullptr) > 0) {
  }
  std::vector<std::string> lines;
  std::istringstream in(all);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(RefNumbersTest, ConcurrentProcessesNeverDrawTheSameNumber) {
  constexpr int kProcesses = 12;
  constexpr int kDraws = 10;
  const auto lines = DrawInChildren(file_, kProcesses, kDraws, false);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kProcesses * kDraws));
  std::set<std::string> drawn(lines.begin(), lines.end());
  EXPECT_EQ(drawn.size(), lines.size());
  EXPECT_TRUE(drawn.count("K 1") && drawn.count("K " + std::to_string(kProcesses * kDraws)));
  EXPECT_EQ(FileText(), "order=" + std::to_string(kProcesses * kDraws) + "\r\n");
}

TEST_F(RefNumbersTest, ConcurrentGiveBackNeverReissuesAKeptNumber) {
  const auto lines = DrawInChildren(file_, 8, 12, true);
  ASSERT_EQ(lines.size(), 96u);
  std::set<std::string> kept;
  for (const std::string& line : lines) {
    if (line[0] == 'K') {
      EXPECT_TRUE(kept.insert(line).second) << line << " kept twice";
    }
  }
  EXPECT_EQ(kept.size(), 64u);
}

}  // namespace
