#include "mail/body_scan.h"

#include "common/text_compare.h"

void ScanBodyEntries(std::string_view text,
                     const std::function<void(const std::string& entry_name)>& on_entry,
                     const std::function<void(std::string_view piece)>& write) {
  size_t position = 0;
  for (;;) {
    const size_t first = text.find('%', position);
    if (first == std::string_view::npos) break;
    if (first > position) write(text.substr(position, first - position));
    const std::string_view window = text.substr(first + 1, kMaxEntrySpan);
    const size_t second = window.find('%');
    bool entry = second != std::string_view::npos;
    // A blank or a line break between the signs means they are two plain percent signs
    // ("50% off ... 20%"), not an entry.
    for (size_t i = 0; entry && i < second; ++i) {
      if (static_cast<unsigned char>(window[i]) <= ' ') entry = false;
    }
    if (entry) {
      on_entry(Trim(window.substr(0, second)));
      position = first + 1 + second + 1;
    } else {
      write("%");
      position = first + 1;
    }
  }
  if (position < text.size()) write(text.substr(position));
}
