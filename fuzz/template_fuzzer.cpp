// Random page templates must never crash the template scan, read outside the text, or write
// outside the IF level table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "engine/condition_eval.h"
#include "engine/template_entry.h"
#include "engine/template_scan.h"

namespace {

// Answers lookups from the names themselves so that every branch of the lookup order is taken:
// names starting with "s" are server variables, names of even length are fields (empty when
// they start with "e"), bare words of odd length are true.
class TFuzzHost : public TTemplateHost {
 public:
  void Write(std::string_view text) override { written += text.size(); }
  std::string ServerVariable(const std::string& name) override {
    return !name.empty() && (name[0] == 's' || name[0] == 'S') ? "<" + name + ">" : "";
  }
  std::string FormField(const std::string& name) override { return name.size() % 3 ? name : ""; }
  bool FindField(const std::string& name, std::string& value) override {
    if (name.size() % 2 != 0) return false;
    value = !name.empty() && name[0] == 'e' ? "" : "\"&" + name;
    return true;
  }
  bool HandleEntry(const std::string& entry_name) override { return entry_name.size() % 5 == 1; }
  bool LogicalEntry(const std::string& name, bool& value) override {
    value = name.size() % 2 != 0;
    return true;
  }
  std::tm LocalNow() override {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mday = 1;
    return t;
  }
  size_t written = 0;
};

struct TGuardedLevels {
  TConditionLevels levels{};
  TConditionLevels guard{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so that reading one byte too far is caught.
  std::unique_ptr<char[]> copy(new char[size]);
  for (size_t i = 0; i < size; ++i) copy[i] = static_cast<char>(data[i]);
  const std::string_view text(copy.get(), size);

  TFuzzHost host;
  int depth = 0;
  TGuardedLevels table;
  for (TConditionLevel& level : table.guard) level = TConditionLevel{true, false};
  TTemplateScan scan(host, depth, table.levels);
  scan.Reset();
  scan.Run(text);
  if (depth < 0 || depth >= kConditionLevels) std::abort();
  for (const TConditionLevel& level : table.guard) {
    if (!level.Output || level.Pending) std::abort();
  }

  // The pieces on their own, on the raw text.
  if (size > 0) (void)FindEntryEnd(text, 1, text[0]);
  (void)EvaluateCondition(text, host);
  (void)OperandNumber(text);
  return 0;
}
