#include "gateway/ref_numbers.h"

#include <climits>

#include "gateway/gateway_files.h"
#include "gateway/store/file_store.h"

namespace {

constexpr size_t kMaxKeyLength = 255;

bool StorableKey(std::string_view key) {
  for (char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '=') return false;
  }
  return true;
}

}  // namespace

long long ParseCount(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return 0;
  long long value = 0;
  for (; i < text.size() && text[i] != ' '; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX + 1LL) return 0;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return 0;
  if (negative) value = -value;
  return value < INT_MIN || value > INT_MAX ? 0 : value;
}

TRefNumbers::TRefNumbers(std::string file_name)
    : own_store_(
          std::make_unique<TFileStore>(std::move(file_name), kGuardStateFile, kUsedChallengesFile)),
      store_(*own_store_) {}

TRefNumbers::TRefNumbers(TGatewayStore& store) : store_(store) {}

TRefNumbers::~TRefNumbers() = default;

std::string TRefNumbers::Next(std::string_view key) {
  if (key.size() > kMaxKeyLength) key = key.substr(0, kMaxKeyLength);
  if (!StorableKey(key)) return std::string();
  if (table_) return table_->Values(key);

  TNumberDraw draw;
  store_.DrawNumber(key, draw);
  table_ = std::make_unique<TStringList>(std::move(draw.table));
  previous_count_ = draw.previous;
  reserved_count_ = table_->Values(key);
  reserved_key_ = std::string(key);
  reserved_ = draw.stored;
  return reserved_count_;
}

void TRefNumbers::Resume(std::string_view key, const std::string& count) {
  if (key.size() > kMaxKeyLength) key = key.substr(0, kMaxKeyLength);
  table_ = std::make_unique<TStringList>();
  store_.ReadNumbers(*table_);
  reserved_ = false;
  if (!StorableKey(key) || count.empty()) return;
  table_->SetValue(key, count);
  reserved_key_ = std::string(key);
  reserved_count_ = count;
}

void TRefNumbers::GiveBack() {
  if (!reserved_) return;
  reserved_ = false;
  store_.GiveBackNumber(reserved_key_, reserved_count_, previous_count_);
}
