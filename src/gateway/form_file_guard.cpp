// Which files of the gateway's folder a form field may name. A form may read the site's pages
// and templates, never what the gateway writes or keeps; it may name a file for the gateway to
// write only as the site owner allowed. Every comparison is against "brevix.ini" as the owner
// wrote it, with links resolved: a name that a link leads out of the program folder is refused.
#include <cstdlib>
#include <filesystem>

#include "common/guard_settings.h"
#include "common/module_path.h"
#include "common/text_compare.h"
#include "engine/general_http_engine.h"
#include "engine/http_log.h"
#include "gateway/gateway_files.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"

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

bool SameFile(const std::string& canonical, const std::string& configured_name) {
  return !configured_name.empty() && CanonicalPath(ResolvePath(configured_name)) == canonical;
}

}  // namespace

std::string TForm1::ProgramFolderName(const std::string& canonical) const {
  std::string base = CanonicalPath(ProgramDir());
  if (!base.empty() && base.back() != '/') base += '/';
  if (canonical.compare(0, base.size(), base) != 0) return {};
  return canonical.substr(base.size());
}

bool TForm1::IsAllowedFormFile(const std::string& canonical) const {
  const std::string relative = ProgramFolderName(canonical);
  if (relative.empty()) return false;
  for (std::string pattern : Request().Guards.AllowedFormFiles) {
    for (char& c : pattern) c = c == '\\' ? '/' : c;
    if (!pattern.empty() && pattern[0] == '/') pattern.erase(0, 1);
    if (MatchesNamePattern(pattern, relative)) return true;
  }
  return false;
}

bool TForm1::IsKeptByGateway(const std::string& file) const {
  const TGatewayRequest& request = Request();
  for (const std::string& own :
       {ResolvePath(kErrorLogFile), ResolvePath(kRefNumbersFile), ResolvePath(kGuardStateFile),
        ResolvePath(kUsedChallengesFile), request.Configured->IniFileName,
        request.Options->IniFileName, ModuleFileName()}) {
    if (CanonicalPath(own) == file) return true;
  }
  const std::string log_dir = ConfiguredLogFolder();
  return IsBelowDir(file, ResolvePath(GeneralHttpEngine1->TempDir())) ||
         IsBelowDir(file, ResolvePath(kTempFolder)) || IsBelowDir(file, ResolvePath(kLogFolder)) ||
         (!log_dir.empty() && IsBelowDir(file, log_dir));
}

bool TForm1::IsGatewayFile(const std::string& resolved) const {
  const TGatewayRequest& request = Request();
  const TBXOptions& configured = *request.Configured;
  const TBXOptions& options = *request.Options;
  const std::string file = CanonicalPath(resolved);
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

bool TForm1::MayFormRead(const std::string& name) const {
  if (!IsSafeFormFileName(name)) return false;
  const std::string file = CanonicalPath(ResolvePath(name));
  return !ProgramFolderName(file).empty() && !IsGatewayFile(file);
}

bool TForm1::MayFormWrite(const std::string& field, const std::string& name) const {
  if (!IsSafeFormFileName(name)) return false;
  const TBXOptions& configured = *Request().Configured;
  const bool results = field == "results_file";
  const std::string& own = results ? configured.Results_File : configured.Entry_Log;
  const std::string& other = results ? configured.Entry_Log : configured.Results_File;
  const std::string file = CanonicalPath(ResolvePath(name));
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

std::string TForm1::FormFileName(const std::string& field, const std::string& configured) {
  const std::string value = HttpFormVar(field, "");
  if (value.empty()) return configured;
  const bool writes = field == "results_file" || field == "entry_log";
  if (writes ? MayFormWrite(field, value) : MayFormRead(value)) return value;
  LogError("Brevix BX Reports: Refused file name " + value);
  return configured;
}
