#pragma once

#include <string>
#include <vector>

#include "common/options.h"

// Which files of the gateway's folder a form field may name. A form may read the site's pages
// and templates, never what the gateway writes or keeps; it may name a file for the gateway to
// write only as the site owner allowed. Every comparison is against "brevix.ini" as the owner
// wrote it, with links resolved: a name that a link leads out of the program folder is refused.

// Where the gateway keeps its own files, as this process has them.
struct TGatewayPlaces {
  std::string program_dir;   // the program's folder, ending with "/"
  std::string program_file;  // the program (or library) itself
  std::string upload_dir;    // the engine's upload folder, as configured (relative to the above)
  std::string log_dir;       // the engine log's folder from the environment; empty when none
};

class TFormFileGuard {
 public:
  // `configured`: the settings as brevix.ini gives them; `options`: the request's settings as
  // resolved so far; `allowed_patterns`: Allowed_Form_Files. Holds references: the guard lives
  // no longer than the request whose settings it is given.
  TFormFileGuard(const TBXOptions& configured, const TBXOptions& options,
                 const std::vector<std::string>& allowed_patterns, TGatewayPlaces places);

  // True when a form may name `name` for the gateway to read: a safe name inside the program
  // folder (links followed) that is not one of the gateway's own files (IsGatewayFile).
  bool MayRead(const std::string& name) const;
  // True when a form's `field` ("results_file" or "entry_log") may name `name` for the gateway
  // to write: the ini's own name for that field, an automatic results name, or a name matching
  // Allowed_Form_Files; never a page, template or other file the gateway reads or keeps.
  bool MayWrite(const std::string& field, const std::string& name) const;

 private:
  std::string Resolve(const std::string& name) const;
  bool SameFile(const std::string& canonical, const std::string& configured_name) const;
  // True when `canonical` is a file the gateway writes or keeps: brevix.ini, the error log, the
  // reference numbers, the guard state, the program, the results files and entry logs the ini
  // names (or this request writes), files matching Allowed_Form_Files, automatic results files,
  // and everything below Temp/ and log/.
  bool IsGatewayFile(const std::string& canonical) const;
  // A file the gateway keeps for itself, whatever the settings name (its logs, counters, settings
  // and program, and everything below its temporary and log folders). Neither read nor written
  // for a form.
  bool IsKeptByGateway(const std::string& canonical) const;
  // The name of a canonical path relative to the program folder, "/"-separated; empty when the
  // path lies outside it.
  std::string ProgramFolderName(const std::string& canonical) const;
  // True when a canonical path matches one of the owner's Allowed_Form_Files patterns.
  bool IsAllowedFormFile(const std::string& canonical) const;

  const TBXOptions& configured_;
  const TBXOptions& options_;
  const std::vector<std::string>& allowed_patterns_;
  TGatewayPlaces places_;
};
