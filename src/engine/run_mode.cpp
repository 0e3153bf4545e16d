// Whether the engine runs inside the shared library (brevix.so) or in the program.
#include <atomic>

#include "engine/engine_types.h"

namespace {

std::atomic<bool> runs_as_library{false};

}  // namespace

bool RunsAsLibrary() {
  return runs_as_library.load(std::memory_order_relaxed);
}

void MarkRunsAsLibrary() {
  runs_as_library.store(true, std::memory_order_relaxed);
}
