#include "wizard/page_graph.h"

#include <array>

namespace {

constexpr std::array<std::string_view, kWizardPageCount> kPageNames = {
    "pgstart",   "pgmailheaders",    "pgmailfiles",    "pgmailreceipt",   "pgselecthtml",
    "pgmacros",  "pgautoformat",     "pgfinisheditor", "PGSMTP",          "PgAskRcpt",
    "PGOptions", "PGAskFormResults", "PGFormResults",  "PgDefaultFormat",
};

}  // namespace

std::string_view PageName(WizardPage page) {
  return kPageNames[static_cast<size_t>(page)];
}

NextStep NextStepFrom(WizardPage current, const WizardChoices& choices) {
  using P = WizardPage;
  switch (current) {
    case P::pgstart:
      // The hidden-fields and the defaults task share one path of pages.
      return {NextAction::kNone, choices.rdoTemplate ? P::pgselecthtml : P::pgmailheaders};
    case P::pgmailheaders:
      return {NextAction::kNone, P::pgmailfiles};
    case P::pgmailfiles:
      return {NextAction::kNone, P::PgAskRcpt};
    case P::PgAskRcpt:
      return {NextAction::kNone, choices.rdoSendReceipt ? P::pgmailreceipt : P::PGSMTP};
    case P::pgmailreceipt:
      return {NextAction::kNone, P::PGSMTP};
    case P::PGSMTP:
      return {NextAction::kNone, P::PGAskFormResults};
    case P::PGAskFormResults:
      return {NextAction::kNone, choices.RDOSaveResults ? P::PGFormResults : P::PGOptions};
    case P::PGFormResults:
      return {NextAction::kNone, P::PGOptions};
    case P::PGOptions:
      return {NextAction::kNone, P::PgDefaultFormat};
    case P::PgDefaultFormat:
      return {choices.RdDefaults ? NextAction::kSaveDefaults : NextAction::kShowHiddenFields,
              P::pgfinisheditor};
    case P::pgselecthtml:
      return {NextAction::kScanForm, P::pgmacros};
    case P::pgmacros:
      return {NextAction::kNone, P::pgautoformat};
    case P::pgautoformat:
      return {NextAction::kOpenEditor, P::pgfinisheditor};
    case P::pgfinisheditor:
      return {choices.RdDefaults ? NextAction::kRemindIniCopy : NextAction::kNone, P::pgstart};
  }
  return {NextAction::kNone, current};
}

WizardPage PreviousPage(WizardPage current, const WizardChoices& choices) {
  using P = WizardPage;
  switch (current) {
    case P::pgstart:
      return P::pgstart;
    case P::pgmailheaders:
      return P::pgstart;
    case P::pgmailfiles:
      return P::pgmailheaders;
    case P::PgAskRcpt:
      return P::pgmailfiles;
    case P::pgmailreceipt:
      return P::PgAskRcpt;
    case P::PGSMTP:
      // Without a receipt the way back skips the question page as well.
      return choices.rdoSendReceipt ? P::pgmailreceipt : P::pgmailfiles;
    case P::PGAskFormResults:
      return P::PGSMTP;
    case P::PGFormResults:
      return P::PGAskFormResults;
    case P::PGOptions:
      return choices.RDOSaveResults ? P::PGFormResults : P::PGAskFormResults;
    case P::PgDefaultFormat:
      return P::PGOptions;
    case P::pgselecthtml:
      return P::pgstart;
    case P::pgmacros:
      return P::pgselecthtml;
    case P::pgautoformat:
      return P::pgmacros;
    case P::pgfinisheditor:
      return choices.rdoTemplate ? P::pgautoformat : P::PgDefaultFormat;
  }
  return current;
}

bool PreviousEnabled(WizardPage page) {
  return page != WizardPage::pgstart;
}

std::string_view NextButtonText(WizardPage page) {
  return page == WizardPage::pgfinisheditor ? "&Finish!" : "&Next >>";
}
