#include "engine/memo_filter.h"

void THttpMemoFilter::Execute() {
  RunTemplate(text_.Text());
}
