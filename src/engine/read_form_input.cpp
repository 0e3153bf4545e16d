// THttpEngine: reading the request into the field table (refusals, url-encoded and JSON bodies,
// the query string, multipart bodies) and looking fields up.
#include <cerrno>
#include <chrono>

#include "common/random_draw.h"
#include "common/text_compare.h"
#include "engine/adapters/spool_files.h"
#include "engine/build_file_path.h"
#include "engine/field_table.h"
#include "engine/http_engine.h"
#include "engine/json_form_decoder.h"
#include "engine/multipart_decoder.h"
#include "engine/request_context.h"
#include "engine/url_codec.h"
#include "engine/watchdog.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/private_folder.h"

namespace {

// Bytes asked for at once while reading a url-encoded body. The body is collected as it
// arrives instead of allocating the announced length up front, so a client cannot make the
// engine reserve memory for bytes it never sends.
constexpr int kBodyReadStep = 65536;

// Sets the body's deadline for the time ReadFormInput reads, and clears it on every way out.
class BodyDeadlineScope {
 public:
  BodyDeadlineScope() { RequestContext().BodyDeadline = MonotonicNow() + kBodyTimeLimit; }
  ~BodyDeadlineScope() { RequestContext().BodyDeadline = {}; }
  BodyDeadlineScope(const BodyDeadlineScope&) = delete;
  BodyDeadlineScope& operator=(const BodyDeadlineScope&) = delete;
};

// An upload file this old belongs to no running request (bodies arrive within a minute).
constexpr std::chrono::hours kUploadLeftoverAge{1};

// Names drawn for one upload before giving up: the numbers come from 9,000,000, so a clash
// many times over means something else is wrong (a folder that is not writable, say).
constexpr int kTempNameAttempts = 100;

// The upload folder is the program's own and holds visitors' files: only its owner may list or
// enter it (platform/private_folder.h). Another user's folder or a link fails the request.
void PrepareTempFolder(const std::string& dir) {
  if (dir.empty()) return;
  const std::string problem = PreparePrivateFolder(dir);
  if (!problem.empty()) throw Exception(problem);
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

void THttpEngine::ReadFormInput() {
  if (!RequestContext().Fields) return;  // outside a request there is nothing to fill
  TStringList& fields = *RequestContext().Fields;
  std::string method = UpperCase(RequestMethod());
  // OPTIONS asks what may be sent (a browser's preflight); it carries no form to decode.
  if (method == "OPTIONS") return;
  const int limit = RequestContext().ReadLimit;
  if (limit > 0 && ContentLength() > limit) {
    // The size and the limit, so whoever reads the answer knows what to change.
    throw Exception(std::string(kBodyOverLimitMessage) + ": " + std::to_string(ContentLength()) +
                    " bytes sent, " + std::to_string(limit) + " allowed");
  }
  const BodyDeadlineScope deadline;
  if (FindText(ContentType(), "MULTIPART/FORM-DATA") == std::string::npos) {
    if (method == "POST") {
      if (!allowed_methods_.Post()) throw Exception("Method not allowed (POST)");
      if (IsJsonContentType(ContentType())) {
        // A script's JSON post: the whole body or nothing (an empty one is not JSON either).
        std::vector<TDecodedField> decoded;
        const std::string refusal = DecodeJsonFormBody(ReadWholeBody(), decoded);
        if (!refusal.empty())
          throw Exception(std::string(kJsonBodyRefusedMessage) + ": " + refusal);
        MergeFields(fields, decoded);
      } else if (ContentLength() > 0) {
        DecodeUrlEncodedFields(fields, ReadWholeBody() + '&');
      }
    }
  } else {
    if (!allowed_methods_.Put()) throw Exception("Method not allowed (PUT)");
    DecodeMultipartBody();
  }
  if (allowed_methods_.Get()) {
    DecodeUrlEncodedFields(fields, QueryString() + "&");
  } else if (method == "GET") {
    throw Exception("Method not allowed (GET)");
  }
}

std::string THttpEngine::ReadWholeBody() {
  const int length = ContentLength();
  std::string body;
  int64_t received = 0;
  while (received < length) {
    int step = std::min<int64_t>(kBodyReadStep, length - received);
    size_t old_size = body.size();
    body.resize(old_size + static_cast<size_t>(step));
    int got = ReadBody(body.data() + old_size, step, received);
    body.resize(old_size + static_cast<size_t>(got));
  }
  return body;
}

void THttpEngine::DecodeMultipartBody() {
  TKestrinFileUpload upload;
  if (OnUploadPrepareFile) {
    upload.OnUploadPrepareFile = OnUploadPrepareFile;
  } else {
    upload.OnUploadPrepareFile = [this](TKestrinFileUpload* sender, TStringList& content_info,
                                        TStream*& out_stream, bool& free_out_stream,
                                        bool& cancel_upload) {
      PrepareUploadFile(sender, content_info, out_stream, free_out_stream, cancel_upload);
    };
  }
  int64_t received = 0;
  TUploadReader reader = [this, &received](char* buffer, int count) {
    return ReadBody(buffer, count, received);
  };
  upload.Decode(reader, ContentLength(), *RequestContext().Fields);
}

int THttpEngine::ReadBody(char* buffer, int count, int64_t& received) {
  const int got = ReadInput(buffer, count);
  if (got > 0) {
    received += got;
    return got;
  }
  if (count <= 0) return 0;
  // Both decoders ask only for announced bytes, so nothing here means the body was cut short
  // (the client went away, the server's connection failed, a content file is shorter than its
  // CONTENT_LENGTH). Decoding what arrived would mail and record the front part of a form as if
  // it were all of it.
  throw Exception(std::string(kBodyIncompleteMessage) + ": " + std::to_string(received) + " of " +
                  std::to_string(ContentLength()) + " bytes arrived");
}

void THttpEngine::PrepareUploadFile(TKestrinFileUpload*, TStringList& content_info,
                                    TStream*& out_stream, bool& free_out_stream, bool&) {
  TRequestContext& context = RequestContext();
  std::string path;
  TFileDescriptor file;
  // Created exclusively and for the owner alone: a name taken meanwhile, or a link planted
  // under it, is never opened; another name is drawn instead.
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    path = BuildFilePath(ModuleFileName(), temp_dir_, false,
                         std::to_string(RandomBetween(0, 8999999)), false, "tmp");
    if (attempt == 0) PrepareTempFolder(DirectoryOf(path));
    file = OpenFile(path,
                    open_flags::kReadWrite | open_flags::kCreate | open_flags::kExclusive |
                        open_flags::kNoFollow,
                    0600);
    if (file || errno != EEXIST) break;
  }
  if (!file) throw Exception("Cannot create file \"" + path + "\"");
  auto stream = std::make_unique<THandleStream>(file.Release(), true);
  // Registered before anything else can fail, so the file goes with the request whatever
  // happens next.
  if (context.TempFiles) context.TempFiles->Add(path);
  watchdog::RegisterTempFile(path);
  std::string name = content_info.Values("Name");
  if (context.Fields) {
    context.Fields->Add(FieldKey(name + "_FILENAME") + "=" + path);
    context.Fields->Add(FieldKey(name + "_CONTENT_TYPE") + "=" +
                        content_info.Values("Content-Type"));
  }
  out_stream = stream.release();
  free_out_stream = true;
}

void THttpEngine::SweepUploadLeftovers() {
  const std::string sample = BuildFilePath(ModuleFileName(), temp_dir_, false, "0", false, "tmp");
  const std::string dir = DirectoryOf(sample);
  // Only a folder that exists (none is made for this), and never through a link or in another
  // user's folder.
  if (dir.empty() || !LinkInfoOf(dir).Exists() || !PreparePrivateFolder(dir).empty()) return;
  // The names PrepareUploadFile draws: digits and ".tmp".
  spool::DeleteFilesOlderThan(dir + "/", "[0-9]*.tmp", WallClockNow() - kUploadLeftoverAge);
}

std::string THttpEngine::GetFormField(const std::string& name, const std::string& def) {
  TStringList* fields = Fields();
  if (fields == nullptr) return def;
  std::string value = fields->Values(FieldKey(name));
  return value.empty() ? def : value;
}
