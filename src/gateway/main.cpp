// The gateway program: a CGI program that answers one form submission per process.
#include <memory>

#include "gateway/send_mail_form.h"

namespace {
constexpr const char* kApplicationTitle = "Brevix BX";
}  // namespace

int main() {
  (void)kApplicationTitle;  // there is no window to carry it
  // Building the form runs the request; under standard CGI the process ends in there.
  auto form = std::make_unique<TForm1>();
  return 0;
}
