#include "gateway/page_address.h"

#include "common/text_compare.h"

bool IsPageAddress(std::string_view setting) {
  const auto starts = [&](std::string_view scheme) {
    return setting.size() >= scheme.size() && SameText(setting.substr(0, scheme.size()), scheme);
  };
  return starts("http:") || starts("https:");
}

std::string ShownPageName(std::string_view setting) {
  if (IsPageAddress(setting)) return std::string(setting);
  // Names come in Windows style from brevix.ini as well as in the server's own.
  const size_t separator = setting.find_last_of("/\\");
  return std::string(separator == std::string_view::npos ? setting : setting.substr(separator + 1));
}
