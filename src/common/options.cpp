#include "common/options.h"

#include <array>
#include <utility>

#include "common/profile_file.h"
#include "common/text_compare.h"
#include "platform/module_path.h"

namespace {

// One text key of "brevix.ini" with its field and its default, in the order of the file.
struct TextKey {
  const char* key;
  std::string TBXOptions::*field;
  const char* default_value;
};

constexpr std::array<TextKey, 23> kTextKeys = {{
    {"SMTP_Server", &TBXOptions::SMTP_Server, ""},
    {"SMTP_Port", &TBXOptions::SMTP_Port, ""},
    {"Mail_To", &TBXOptions::Mail_To, ""},
    {"Mail_From", &TBXOptions::Mail_From, ""},
    {"Mail_Subject", &TBXOptions::Mail_Subject, ""},
    {"Mail_CC", &TBXOptions::Mail_CC, ""},
    {"Mail_BCC", &TBXOptions::Mail_BCC, ""},
    {"Attached_File", &TBXOptions::Attached_File, ""},
    {"Message_Text", &TBXOptions::Message_Text, ""},
    {"Receipt_Text", &TBXOptions::Receipt_Text, ""},
    {"Receipt_To", &TBXOptions::Receipt_To, ""},
    {"Receipt_Subject", &TBXOptions::Receipt_Subject, ""},
    {"Receipt_From", &TBXOptions::Receipt_From, ""},
    {"Error_Page", &TBXOptions::Error_Page, ""},
    {"Response_Page", &TBXOptions::Response_Page, ""},
    {"Info_Missing_Page", &TBXOptions::Info_Missing_Page, ""},
    {"Entry_Log", &TBXOptions::Entry_Log, ""},
    {"Date_Format", &TBXOptions::Date_Format, "mm-dd-yy"},
    {"Time_Format", &TBXOptions::Time_Format, "t"},
    {"Results_File_Template", &TBXOptions::Results_File_Template, ""},
    {"Results_File", &TBXOptions::Results_File, ""},
    {"Macro_Delimiter", &TBXOptions::Macro_Delimiter, ""},
    {"Default_Format", &TBXOptions::Default_Format, ""},
}};

struct BoolKey {
  const char* key;
  bool TBXOptions::*field;
  bool default_value;
};

constexpr std::array<BoolKey, 3> kBoolKeys = {{
    {"Use_Asterisks", &TBXOptions::Use_Asterisks, true},
    {"Delete_Results_File", &TBXOptions::Delete_Results_File, false},
    {"Mail_From_Required", &TBXOptions::Mail_From_Required, true},
}};

// The format names in the order of their numbers.
constexpr std::array<const char*, 6> kFormatNames = {
    "BX1ColTextNoLabel", "BX1ColTextLabel", "BX1ColHTMLNoLabel",
    "BX2ColHTMLNoLabel", "BX2ColHTMLLabel", "BXCSV",
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

long long ParseProfileInteger(const std::string& text, long long default_value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t i = hex ? 2 : 0;
  bool negative = false;
  if (!hex && i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return default_value;
  const int base = hex ? 16 : 10;
  // Hexadecimal takes the full 32 bits (as an unsigned pattern); decimal the signed range.
  const long long limit = hex ? 0xFFFFFFFFLL : (negative ? 2147483648LL : 2147483647LL);
  long long value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit < 0 || digit >= base) return default_value;
    value = value * base + digit;
    if (value > limit) return default_value;
  }
  return negative ? -value : value;
}

TBXOptions::TBXOptions() : TBXOptions(::ProgramDir() + "brevix.ini") {}

TBXOptions::TBXOptions(std::string ini_file_name)
    : IniFileName(std::move(ini_file_name)), ProgramDir(::ProgramDir()) {}

void TBXOptions::Load() {
  Load(TProfileFile(IniFileName));
}

void TBXOptions::Load(const TProfileFile& file) {
  for (const TextKey& k : kTextKeys) {
    this->*k.field = file.ReadString(kOptionsSection, k.key, k.default_value);
  }
  for (const BoolKey& k : kBoolKeys) {
    const std::string text = file.ReadString(kOptionsSection, k.key, "");
    this->*k.field = ParseProfileInteger(text, k.default_value ? 1 : 0) != 0;
  }
}

void TBXOptions::Save() const {
  TProfileFile file(IniFileName);
  for (const TextKey& k : kTextKeys) file.WriteString(kOptionsSection, k.key, this->*k.field);
  for (const BoolKey& k : kBoolKeys) {
    file.WriteString(kOptionsSection, k.key, this->*k.field ? "1" : "0");
  }
  file.UpdateFile();
}

int TBXOptions::FormatKind() const {
  for (size_t i = 0; i < kFormatNames.size(); ++i) {
    if (SameText(Default_Format, kFormatNames[i])) return static_cast<int>(i);
  }
  return 4;
}

void TBXOptions::SetFormatKind(int kind) {
  Default_Format = kind >= 0 && kind < static_cast<int>(kFormatNames.size())
                       ? kFormatNames[static_cast<size_t>(kind)]
                       : kFormatNames[1];
}
