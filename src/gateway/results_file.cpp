// The results file with its automatic names and template, the entry log and reference numbers.

#include <cerrno>
#include <chrono>

#include "common/date_time_format.h"
#include "common/file_tool.h"
#include "common/msg_file.h"
#include "common/random_draw.h"
#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "gateway/gateway_files.h"
#include "gateway/parse_me.h"
#include "gateway/resolve_path.h"
#include "gateway/send_mail_form.h"
#include "gateway/store/file_store.h"
#include "gateway/store/pg_store.h"
#include "gateway/template_macro.h"
#include "mail/body_scan.h"
#include "mail/html_charset.h"
#include "mail/mime_encoding.h"
#include "platform/clock.h"
#include "platform/data_file.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace {

// Draws of an automatic name before giving up on finding a free one (100 names per second).
constexpr int kMaxNameDraws = 1000;

int RandomBelow100() {
  return static_cast<int>(RandomBetween(0, 99));
}

// Where an automatic name goes: the part of the configured name up to its last separator ("\"
// alone means the program directory), and its extension.
void SplitAutoName(const std::string& name, std::string& dir, std::string& ext) {
  const size_t separator = name.find_last_of("\\/");
  dir = separator == std::string::npos ? std::string() : name.substr(0, separator + 1);
  if (dir == "\\") dir.clear();
  const size_t dot = name.rfind('.');
  ext = dot == std::string::npos || (separator != std::string::npos && dot < separator)
            ? std::string()
            : name.substr(dot);
}

// The first reference-number entry of a mail body ("refnum_order"), or empty.
std::string FirstRefNumberEntry(const std::string& body) {
  std::string first;
  ScanBodyEntries(
      body,
      [&first](const std::string& name) {
        const size_t underscore = name.find('_');
        if (first.empty() && underscore != std::string::npos &&
            SameText(name.substr(0, underscore), "refnum")) {
          first = name;
        }
      },
      [](std::string_view) {});
  return first;
}

bool HasCsvExtension(const std::string& name) {
  return name.size() >= 4 && SameText(std::string_view(name).substr(name.size() - 4), ".csv");
}

// The heading row of a generated CSV results file: the field names but those `left_out` names
// (as the layout leaves them out), quoted as the values are.
template <class LeftOut>
std::string CsvHeading(const TStringList* names, LeftOut left_out) {
  std::string line;
  if (names == nullptr) return line;
  for (const std::string& name : *names) {
    if (left_out(name)) continue;
    if (!line.empty()) line += ',';
    line += '"';
    for (const char c : name) line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
  }
  return line.empty() ? line : line + "\r\n";
}

}  // namespace

void TForm1::ApplyAutoResultsName(TGatewayRequest& request) {
  TBXOptions& options = *request.Options;
  request.ConfiguredResultsFile = options.Results_File;
  if (!IsAutoResultsName(options.Results_File)) return;

  std::string dir, ext;
  SplitAutoName(options.Results_File, dir, ext);
  // Two submissions in the same second must never share a file: the name is taken by creating
  // the file exclusively, and drawn again while it exists.
  std::string name;
  bool every_name_taken = true;
  for (int draw = 0; draw < kMaxNameDraws && every_name_taken; ++draw) {
    name =
        dir + FormatDateTime("mmddhhmmss", WallClockNow()) + std::to_string(RandomBelow100()) + ext;
    const std::string path = ResolvePath(name);
    if (OpenDataFile(path, open_flags::kWriteOnly | open_flags::kExclusive)) {
      request.AutoResultsPath = path;
      every_name_taken = false;
    } else if (errno != EEXIST) {
      // A folder that does not exist or cannot be written: the record's write reports it.
      every_name_taken = false;
    }
  }
  // Every name drawn was another submission's file: this record must never join one of them.
  request.AutoResultsTaken = every_name_taken;
  request.AutoResultsName = name;
  options.Results_File = name;

  TStringList* fields = HttpFields();
  if (fields == nullptr) return;
  fields->SetValue("results_file", name);
  if (HttpFormVar("attached_file", "").find("%results_file%") != std::string::npos) {
    options.Attached_File = name;
    fields->SetValue("attached_file", name);
  }
}

void TForm1::WriteResultsFile(TGatewayRequest& request) {
  const TBXOptions& options = *request.Options;
  const std::string path = ResolvePath(options.Results_File);
  // Opened first: with a database, the record and the number drawn below share one transaction.
  const std::unique_ptr<TResultsAppender> results =
      request.AutoResultsTaken ? nullptr
                               : RequestStore(request).OpenResults(options.Results_File, path);
  if (!results) {
    LogError(request, "Brevix BX Reports: Unable to open " + path);
    return;
  }

  const std::unique_ptr<TStringList> names = HttpFieldNames();
  const std::string template_path = ResolvePath(options.Results_File_Template);
  TPChar buffer;
  bool generated_csv = false;
  bool csv_table = false;  // a generated layout for a ".csv" file: a heading row, then rows
  bool html = HasHtmExtension(template_path) || HasHtmExtension(path);
  {
    if (IsRegularFile(template_path)) {
      buffer = ReadFileToPChar(template_path);
    } else {
      // The layout is made in memory: a template file shared by concurrent requests would let
      // one request expand another's layout, or lose it to another's clean-up halfway.
      TBXMsgFile layout;
      if (names) {
        for (const std::string& name : *names) {
          if (!IsPowField(request, name)) layout.Macros.Add("%" + name + "%");
        }
      }
      // A ".csv" results file is a table whatever layout the mails use: Default_Format
      // chooses the layout of mails, and a page per record would make the file unreadable.
      csv_table = HasCsvExtension(options.Results_File);
      layout.Kind = csv_table ? std::uint8_t{5} : static_cast<std::uint8_t>(options.FormatKind());
      layout.Build();
      generated_csv = layout.Kind == 5;
      html = html || (layout.Kind >= 2 && layout.Kind <= 4);
      // A table row is one line: the record's own CR LF ends it, with no empty line after it.
      buffer = TPChar(csv_table ? (layout.Lines.Count() > 0 ? layout.Lines[0] : std::string())
                                : layout.Lines.Text());
    }
  }

  TTemplateValues values;
  values.FormVar = [](const std::string& name) { return HttpFormVar(name, ""); };
  const auto now = WallClockNow();
  values.Date = FormatDateTime(options.Date_Format, now);
  values.Time = FormatDateTime(options.Time_Format, now);
  values.Referer = HttpServerVar("http referer");
  values.EmptyMark = request.EmptyMark;
  // A record in a ".csv" file, from an owner's template too, stays one well-formed row.
  values.CsvQuotes = generated_csv || HasCsvExtension(options.Results_File);
  TParseMe parser;
  parser.Text = buffer.Text();
  parser.Delimiter = '%';
  parser.Parse();
  for (const std::string& token : parser.Tokens) {
    ReplaceTemplateMacro("%" + token + "%", buffer, values);
  }
  for (const char* macro : {"%vorl_date%", "%vorl_time%", "%vorl_referer%"}) {
    ReplaceTemplateMacro(macro, buffer, values);
  }
  std::string record = buffer.Text() + "\r\n";
  // An HTML record's <meta> tags name the charset its text is in: a form page served as
  // ISO-8859-1 sends Latin-1 values, and the saved page would show them wrongly as UTF-8.
  if (html && HasHighBytes(record)) record = WithMetaCharset(record, CharsetOfText(record));

  // With a database, the number that the main mail's body shows is drawn now, in the record's
  // step, so the row holds it; the body then answers from the table this draw read.
  if (!request.Database.empty()) {
    const std::string entry = FirstRefNumberEntry(request.SmtpSendMail1->MailBody.Text());
    if (!entry.empty()) NextReferenceNumber(request, entry);
  }
  TResultsRecord stored;
  stored.text = std::move(record);
  // A generated table starts with its heading row, written by the store only into results that
  // hold nothing yet (of two first submissions, only one writes it).
  if (csv_table)
    stored.heading = CsvHeading(names.get(), [this, &request](const std::string& name) {
      return IsPowField(request, name);
    });
  if (request.RefNumbers) stored.ref_number = request.RefNumbers->DrawnCount();
  stored.client = HttpServerVar("remote addr");
  if (names) {
    for (const std::string& name : *names) stored.fields.emplace_back(name, HttpFormVar(name, ""));
  }
  const TAppendResult result = results->Append(stored);
  if (result == TAppendResult::kWritten) {
    // Only a file can be attached or deleted; a database row stays where it is.
    if (request.Database.empty()) request.WrittenResultsPath = path;
  } else if (result == TAppendResult::kLockTimedOut) {
    LogError(request, "Brevix BX Reports: Lock timed out on " + path);
  } else {
    LogError(request, "Brevix BX Reports: Unable to open " + path);
  }
}

void TForm1::WriteEntryLog(const TGatewayRequest& request) {
  const std::string path = ResolvePath(request.Options->Entry_Log);
  bool lock_timed_out = false;
  AppendToFileLocked(path, LogDateTime(request) + "\r\n", &lock_timed_out);
  if (lock_timed_out) LogError(request, "Brevix BX Reports: Lock timed out on " + path);
}

TRefNumbers& TForm1::RequestRefNumbers(TGatewayRequest& request) {
  if (!request.RefNumbers)
    request.RefNumbers = std::make_unique<TRefNumbers>(RequestStore(request));
  return *request.RefNumbers;
}

TGatewayStore& TForm1::RequestStore(TGatewayRequest& request) {
  if (request.Store) return *request.Store;
  if (!request.Database.empty()) {
    request.Store = std::make_unique<TPgStore>(request.Database);
  } else {
    auto files =
        std::make_unique<TFileStore>(ResolvePath(kRefNumbersFile), ResolvePath(kGuardStateFile),
                                     ResolvePath(kUsedChallengesFile));
    files->OnLockTimeout = [this, &request](const std::string& file_name) {
      LogError(request, "Brevix BX Reports: Lock timed out on " + file_name);
    };
    request.Store = std::move(files);
  }
  return *request.Store;
}

std::string TForm1::NextReferenceNumber(TGatewayRequest& request, const std::string& name) {
  if (request.Refused) return std::string();
  const size_t underscore = name.find('_');
  return RequestRefNumbers(request).Next(
      underscore == std::string::npos ? std::string() : name.substr(underscore + 1));
}
