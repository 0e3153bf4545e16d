// The gateway program: a CGI program that answers one form submission per process. It has no
// window, so there is no application title to set.
#include <memory>

#include "gateway/send_mail_form.h"

int main() {
  // Building the form runs the request; under standard CGI the process ends in there.
  auto form = std::make_unique<TForm1>();
  return 0;
}
