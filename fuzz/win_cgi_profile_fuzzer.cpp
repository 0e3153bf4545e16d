// Feeds arbitrary bytes as a Windows CGI profile to its section reader. Every variable it gives
// must be one "name=value" line with a name, and the form fields must be url-encoded, each
// ended by "&": nothing of a hostile profile may reach the request in another shape.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/exception.h"
#include "engine/adapters/win_cgi_profile.h"

namespace {

std::string ScratchProfile() {
  char path[] = "/tmp/brevix-fuzz-profile-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) std::abort();
  close(fd);
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string profile = ScratchProfile();
  FILE* file = std::fopen(profile.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  TWinCGIProfileContent content;
  try {
    content = ReadWinCGIProfileContent(profile);
  } catch (const Exception&) {
    return 0;
  }
  for (const std::string& variable : *content.Variables) {
    const size_t equals = variable.find('=');
    if (equals == 0 || equals == std::string::npos) std::abort();
    if (variable.find('\r') != std::string::npos) std::abort();
  }
  if (!content.FormFields.empty() && content.FormFields.back() != '&') std::abort();
  for (char c : content.FormFields) {
    if (c == '\r' || c == '\n' || c == ' ') std::abort();
  }
  return 0;
}
