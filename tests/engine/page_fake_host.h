#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/string_list.h"
#include "common/text_compare.h"
#include "engine/template_scan.h"

// A template host without an engine: records what the scan writes and answers lookups from
// tables, so the template language can be tested as pure logic. The engine-driven tests
// (page_filter_test.cpp) check the same paths over a real request.
class TFakeTemplateHost : public TTemplateHost {
 public:
  TFakeTemplateHost() {
    now.tm_year = 2026 - 1900;
    now.tm_mon = 11;
    now.tm_mday = 7;
    now.tm_hour = 15;
    now.tm_min = 4;
    now.tm_sec = 5;
  }

  void Write(std::string_view text) override { output.append(text); }

  std::string ServerVariable(const std::string& name) override {
    std::string key = UpperCase(name);
    for (char& c : key) {
      if (c == '-' || c == ' ') c = '_';
    }
    const auto it = server.find(key);
    return it == server.end() ? "" : it->second;
  }

  std::string FormField(const std::string& name) override { return fields.Values(name); }

  bool FindField(const std::string& name, std::string& value) override {
    const int index = fields.IndexOfName(name);
    if (index < 0) return false;
    value = fields.ValueFromIndex(index);
    return true;
  }

  bool HandleEntry(const std::string& entry_name) override {
    entry_calls.push_back(entry_name);
    if (!on_entry) return false;
    bool handled = true;
    on_entry(entry_name, handled);
    return handled;
  }

  bool LogicalEntry(const std::string& name, bool& value) override {
    logical_calls.push_back(name);
    if (!on_logical) return false;
    on_logical(name, value);
    return true;
  }

  std::tm LocalNow() override { return now; }

  std::string output;
  std::map<std::string, std::string> server;  // upper-case names
  TStringList fields{true};
  std::function<void(const std::string&, bool&)> on_entry;
  std::function<void(const std::string&, bool&)> on_logical;
  std::vector<std::string> entry_calls;
  std::vector<std::string> logical_calls;
  std::tm now{};
};
