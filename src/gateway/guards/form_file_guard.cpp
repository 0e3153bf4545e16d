#include "gateway/guards/form_file_guard.h"

#include <filesystem>
#include <utility>

#include "common/guard_settings.h"
#include "common/text_compare.h"
#include "gateway/gateway_files.h"
#include "gateway/resolve_path.h"
#include "mail/greeting_name.h"

namespace fs = std::filesystem;

namespace {

// An automatic results file: ten digits of the time, one or two random digits, an extension.
bool LooksLikeAutoResultsFile(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  const size_t digits = dot == std::string::npos ? file_name.size() : dot;
  if (digits < 11 || digits > 12) return false;
  for (size_t i = 0; i < digits; ++i) {
    if (file_name[i] < '0' || file_name[i] > '9') return false;
  }
  return true;
}

bool HasExtension(const std::string& path, std::initializer_list<const char*> extensions) {
  const std::string ext = fs::path(path).extension().string();
  for (const char* wanted : extensions) {
    if (SameText(ext, wanted)) return true;
  }
  return false;
}

}  // namespace

TFormFileGuard::TFormFileGuard(const TBXOptions& configured, const TBXOptions& options,
                               const std::vector<std::string>& allowed_patterns,
                               TGatewayPlaces places)
    : configured_(configured),
      options_(options),
      allowed_patterns_(allowed_patterns),
      places_(std::move(places)) {}

std::string TFormFileGuard::Resolve(const std::string& name) const {
  return ResolvePathIn(places_.program_dir, name);
}

bool TFormFileGuard::SameFile(const std::string& canonical,
                              const std::string& configured_name) const {
  return !configured_name.empty() && CanonicalPath(Resolve(configured_name)) == canonical;
}

std::string TFormFileGuard::ProgramFolderName(const std::string& canonical) const {
  std::string base = CanonicalPath(places_.program_dir);
  if (!base.empty() && base.back() != '/') base += '/';
  if (canonical.compare(0, base.size(), base) != 0) return {};
  return canonical.substr(base.size());
}

bool TFormFileGuard::IsAllowedFormFile(const std::string& canonical) const {
  const std::string relative = ProgramFolderName(canonical);
  if (relative.empty()) return false;
  for (std::string pattern : allowed_patterns_) {
    for (char& c : pattern) c = c == '\\' ? '/' : c;
    if (!pattern.empty() && pattern[0] == '/') pattern.erase(0, 1);
    if (MatchesNamePattern(pattern, relative)) return true;
  }
  return false;
}

bool TFormFileGuard::IsKeptByGateway(const std::string& file) const {
  for (const std::string& own :
       {Resolve(kErrorLogFile), Resolve(kRefNumbersFile), Resolve(kGuardStateFile),
        Resolve(kUsedChallengesFile), Resolve(kMachineNameFile), configured_.IniFileName,
        options_.IniFileName, places_.program_file}) {
    if (CanonicalPath(own) == file) return true;
  }
  return IsBelowDir(file, Resolve(places_.upload_dir)) || IsBelowDir(file, Resolve(kTempFolder)) ||
         IsBelowDir(file, Resolve(kLogFolder)) ||
         (!places_.log_dir.empty() && IsBelowDir(file, places_.log_dir));
}

bool TFormFileGuard::IsGatewayFile(const std::string& file) const {
  const TBXOptions& configured = configured_;
  const TBXOptions& options = options_;
  if (IsKeptByGateway(file)) return true;
  // The results files and entry logs the ini names, and the ones this request writes.
  for (const std::string* name : {&configured.Entry_Log, &configured.Results_File,
                                  &options.Entry_Log, &options.Results_File}) {
    if (SameFile(file, *name)) return true;
  }
  // Files the owner lets forms write, and every automatic results file: another submission's
  // record is never a visitor's to read.
  return IsAllowedFormFile(file) || LooksLikeAutoResultsFile(fs::path(file).filename().string());
}

bool TFormFileGuard::MayRead(const std::string& name) const {
  if (!IsSafeFormFileName(name)) return false;
  const std::string file = CanonicalPath(Resolve(name));
  return !ProgramFolderName(file).empty() && !IsGatewayFile(file);
}

bool TFormFileGuard::MayWrite(const std::string& field, const std::string& name) const {
  if (!IsSafeFormFileName(name)) return false;
  const TBXOptions& configured = configured_;
  const bool results = field == "results_file";
  const std::string& own = results ? configured.Results_File : configured.Entry_Log;
  const std::string& other = results ? configured.Entry_Log : configured.Results_File;
  const std::string file = CanonicalPath(Resolve(name));
  if (ProgramFolderName(file).empty()) return false;
  if (SameFile(file, own)) return true;

  // An automatic name asks for a new file in its folder; anything else must match the owner's
  // patterns.
  if (!(results && IsAutoResultsName(name)) && !IsAllowedFormFile(file)) return false;

  // Never a page, a template or another file of the gateway, even where a pattern is wide.
  for (const std::string* read_by_gateway :
       {&configured.Response_Page, &configured.Error_Page, &configured.Info_Missing_Page,
        &configured.Message_Text, &configured.Receipt_Text, &configured.Results_File_Template,
        &configured.Attached_File, &other}) {
    if (SameFile(file, *read_by_gateway)) return false;
  }
  if (IsKeptByGateway(file)) return false;
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (fs::exists(status) && !fs::is_regular_file(status)) return false;
  return !(fs::exists(status) &&
           HasExtension(file, {".htm", ".html", ".shtml", ".ini", ".cgi", ".js", ".css"}));
}
