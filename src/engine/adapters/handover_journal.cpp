#include "engine/adapters/handover_journal.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

thread_local std::string journal_path;
thread_local std::optional<std::string> earlier_detail;

}  // namespace

void RecordMailAccepted(const std::string& detail) {
  if (journal_path.empty()) return;
  // One write of a few bytes: a server killed at any moment leaves the mark whole or absent
  // (an empty mark still says the mail went).
  const int fd =
      open(journal_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  [[maybe_unused]] ssize_t ignored = write(fd, detail.data(), detail.size());
  close(fd);
}

std::optional<std::string> MailAcceptedEarlier() {
  return earlier_detail;
}

THandoverJournalScope::THandoverJournalScope(std::string path) {
  journal_path = std::move(path);
}

THandoverJournalScope::~THandoverJournalScope() {
  journal_path.clear();
}

TMailAcceptedEarlierScope::TMailAcceptedEarlierScope(std::optional<std::string> detail) {
  earlier_detail = std::move(detail);
}

TMailAcceptedEarlierScope::~TMailAcceptedEarlierScope() {
  earlier_detail.reset();
}
