#include "engine/adapters/handover_journal.h"

#include "platform/file_io.h"

namespace {

thread_local std::string journal_path;
thread_local std::optional<std::string> earlier_detail;

}  // namespace

void RecordMailAccepted(const std::string& detail) {
  if (journal_path.empty()) return;
  // The mark appears with its detail whole: a forwarder that finds it answers with the mail's
  // own reference number. Where the file system cannot make a file that way, one write of a
  // few bytes follows the create (an empty mark still says the mail went).
  if (CreateFileWhole(journal_path, detail, 0600)) return;
  const TFileDescriptor mark = OpenFile(
      journal_path,
      open_flags::kWriteOnly | open_flags::kCreate | open_flags::kTruncate | open_flags::kNoFollow,
      0600);
  if (mark) WriteSome(mark.Get(), detail.data(), detail.size());
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
