#pragma once

#include <optional>
#include <string>

// A request that the request server serves for a forwarder can end with the server (a crash,
// kill -9). The forwarder then serves it itself. What the server had already done that must
// never be done twice, the main mail accepted by the mail server, is recorded in the spool
// (<base>_snt) at once, so that the forwarder's run knows it and answers as the server would
// have, without sending again.
//
// Both sides are per thread: the journal of the request being served on the calling thread.

// Records that the main mail of the request served on this thread was accepted. `detail` is
// what a later run needs to answer as this one would (the gateway keeps its reference number
// there; at most a few lines). Does nothing outside a request served for a forwarder. Never
// throws.
void RecordMailAccepted(const std::string& detail);

// In a run that finishes a request whose server ended after its main mail was accepted: the
// detail recorded then. nullopt otherwise.
std::optional<std::string> MailAcceptedEarlier();

// Server side: while alive, RecordMailAccepted on this thread writes `path`.
class THandoverJournalScope {
 public:
  explicit THandoverJournalScope(std::string path);
  ~THandoverJournalScope();
  THandoverJournalScope(const THandoverJournalScope&) = delete;
  THandoverJournalScope& operator=(const THandoverJournalScope&) = delete;
};

// Forwarder side: while alive, MailAcceptedEarlier on this thread answers `detail`.
class TMailAcceptedEarlierScope {
 public:
  explicit TMailAcceptedEarlierScope(std::optional<std::string> detail);
  ~TMailAcceptedEarlierScope();
  TMailAcceptedEarlierScope(const TMailAcceptedEarlierScope&) = delete;
  TMailAcceptedEarlierScope& operator=(const TMailAcceptedEarlierScope&) = delete;
};
