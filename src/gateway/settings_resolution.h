#pragma once

#include <functional>
#include <string>

#include "common/guard_settings.h"
#include "common/options.h"
#include "gateway/guards/form_file_guard.h"

class TSmtpSendMail;

// How a request's settings come about: brevix.ini's, with the hidden form fields laid over them
// that a form may set, each under its guard:
//  - the addresses and the subject of the main mail, the receipt's subject, addresses and
//    text, the date and time formats, the two switches (use_asterisks, delete_results_file);
//  - the mail server only as Allowed_SMTP_Servers lets (recipient_guard.h); a refused value is
//    logged;
//  - file names only as the file guard lets (form_file_guard.h), pages also as addresses on
//    this site or a host of Allowed_Redirects; a refused name is logged and the ini's stays;
//  - "%field%" in either subject is the field's value (or the empty mark).
class TSettingsResolution {
 public:
  // A form field's value, or `if_absent` when the form has no such field.
  using TFormValue =
      std::function<std::string(const std::string& name, const std::string& if_absent)>;
  using TLog = std::function<void(const std::string& line)>;

  struct TInputs {
    TFormValue form;
    const TGuardSettings& guards;
    const TBXOptions& configured;  // brevix.ini as written: what the guards compare against
    const TFormFileGuard& files;
    std::string referer;  // the form's page (HTTP_REFERER), for the default subject
    std::string host;     // HTTP_HOST: this site, where a page address may always lead
    TLog log;
  };

  explicit TSettingsResolution(TInputs inputs) : in_(std::move(inputs)) {}

  // Lays the form's fields over `options` (a copy of brevix.ini's settings) and fills the main
  // mail's addresses, subject, server and port; `empty_mark` becomes what an empty field shows.
  void Resolve(TBXOptions& options, TSmtpSendMail& mail, std::string& empty_mark) const;

  // A file name that the form may override: the field's value, or `configured` when the field
  // is empty or the value is refused (then logged). "results_file" and "entry_log" name files
  // the gateway writes; every other field a file it reads.
  std::string FileName(const std::string& field, const std::string& configured) const;
  // The same for a page, which may also be an "http:" or "https:" address on this site or on a
  // host of Allowed_Redirects.
  std::string PageName(const std::string& field, const std::string& configured) const;

 private:
  TInputs in_;
};
