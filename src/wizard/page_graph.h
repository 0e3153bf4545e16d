#pragma once
#include <string_view>

// The page graph of the wizard window: which page follows which on Next and on Previous.
// Pure logic, no widgets; the window feeds it the state of its radio buttons and carries out the
// step it returns.

// The pages, in the order in which they stand in the page stack.
enum class WizardPage {
  pgstart,
  pgmailheaders,
  pgmailfiles,
  pgmailreceipt,
  pgselecthtml,
  pgmacros,
  pgautoformat,
  pgfinisheditor,
  PGSMTP,
  PgAskRcpt,
  PGOptions,
  PGAskFormResults,
  PGFormResults,
  PgDefaultFormat,
};

inline constexpr int kWizardPageCount = 14;

// The object name of a page ("pgstart", "PGSMTP", ...).
std::string_view PageName(WizardPage page);

// The radio buttons that steer the graph.
struct WizardChoices {
  bool rdhidden = true;        // task: hidden fields
  bool RdDefaults = false;     // task: defaults
  bool rdoTemplate = false;    // task: template
  bool rdoSendReceipt = true;  // PgAskRcpt: "Yes"
  bool RDOSaveResults = true;  // PGAskFormResults: "Yes"
};

// What the window must do before a Next step may change the page.
enum class NextAction {
  kNone,              // just move
  kSaveDefaults,      // ControlsToOptions, Save, then move (stay when the save fails)
  kShowHiddenFields,  // "All Done!", show Form2 modally, then move
  kScanForm,          // the form file must exist: scan it, then move; otherwise warn and stay
  kOpenEditor,        // a format must be selected: PrepareEditor, show the editor, then move
  kRemindIniCopy,     // information box about copying brevix.ini, then move
};

struct NextStep {
  NextAction action;
  WizardPage target;
};

// The Next step of `current`. Checks that need the outside world (the form file exists, a format
// is selected, the save succeeds) are the window's; the step names them through `action`.
NextStep NextStepFrom(WizardPage current, const WizardChoices& choices);

// The page that Previous shows from `current` (pgstart stays pgstart).
WizardPage PreviousPage(WizardPage current, const WizardChoices& choices);

// UpdateButtons: Previous is enabled everywhere but on pgstart; Next reads "&Finish!" on the
// closing page and "&Next >>" elsewhere.
bool PreviousEnabled(WizardPage page);
std::string_view NextButtonText(WizardPage page);
