#include "engine/text_filter.h"

#include <ctime>
#include <utility>

#include "engine/field_table.h"
#include "engine/http_engine.h"
#include "engine/request_context.h"
#include "engine/template_scan.h"
#include "platform/local_time.h"

namespace {

// The template host over the calling thread's current request and a filter's events.
class TRequestTemplateHost : public TTemplateHost {
 public:
  // The events are copied, so a handler may reassign them while it runs.
  TRequestTemplateHost(THttpEntryEvent on_entry, THttpLogicalEntryEvent on_logical)
      : on_entry_(std::move(on_entry)), on_logical_(std::move(on_logical)) {}

  void Write(std::string_view text) override { HttpWrite(std::string(text)); }

  std::string ServerVariable(const std::string& name) override { return HttpServerVar(name); }

  std::string FormField(const std::string& name) override { return HttpFormVar(name, ""); }

  // The field table is read directly: HttpFormVar cannot tell a field sent empty from one that
  // was not sent, and an empty field must end the entry's lookup.
  bool FindField(const std::string& name, std::string& value) override {
    const TStringList* fields = HttpFields();
    if (fields == nullptr) return false;
    const int index = fields->IndexOfName(FieldKey(name));
    if (index < 0) return false;
    value = fields->ValueFromIndex(index);
    return true;
  }

  bool HandleEntry(const std::string& entry_name) override {
    if (!on_entry_) return false;
    bool handled = true;
    on_entry_(entry_name, handled);
    return handled;
  }

  bool LogicalEntry(const std::string& name, bool& value) override {
    if (!on_logical_) return false;
    on_logical_(name, value);
    return true;
  }

  std::tm LocalNow() override { return LocalTimeNow(); }

 private:
  THttpEntryEvent on_entry_;
  THttpLogicalEntryEvent on_logical_;
};

// Puts the thread's template state back when a run ends, however it ends, so that a filter run
// from inside an entry handler of another filter leaves the outer run's IF levels intact.
class TSavedTemplateState {
 public:
  explicit TSavedTemplateState(TRequestContext& context)
      : context_(context), depth_(context.ConditionDepth), levels_(context.ConditionLevels) {}
  ~TSavedTemplateState() {
    context_.ConditionDepth = depth_;
    context_.ConditionLevels = levels_;
  }
  TSavedTemplateState(const TSavedTemplateState&) = delete;
  TSavedTemplateState& operator=(const TSavedTemplateState&) = delete;

 private:
  TRequestContext& context_;
  int depth_;
  TConditionLevels levels_;
};

}  // namespace

void THttpTextFilterComponent::RunTemplate(std::string_view text) {
  TRequestTemplateHost host(OnHttpEntry, OnHttpLogicalEntry);
  TRequestContext& context = RequestContext();
  TSavedTemplateState saved(context);
  TTemplateScan scan(host, context.ConditionDepth, context.ConditionLevels);
  scan.Reset();
  scan.Run(text);
}
