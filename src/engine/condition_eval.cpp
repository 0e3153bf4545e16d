#include "engine/condition_eval.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>

#include "common/text_compare.h"

namespace {

// Entries hold at most 255 characters, so real conditions nest a few dozen levels at most; the
// limit only keeps arbitrary text from exhausting the stack.
constexpr int kMaxNesting = 300;
// Likewise far beyond an entry; keeps the outer-parenthesis stripping from going quadratic on
// huge texts.
constexpr size_t kMaxConditionLength = 4096;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// True when the parentheses of `text`, outside double quotes, never close more than they
// opened and end at zero.
bool Balanced(std::string_view text) {
  int depth = 0;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '(') {
      ++depth;
    } else if (!quoted && c == ')') {
      if (--depth < 0) return false;
    }
  }
  return depth == 0;
}

std::string Unquote(std::string_view text) {
  if (!text.empty() && text.front() == '"') {
    text.remove_prefix(1);
    if (!text.empty() && text.back() == '"') text.remove_suffix(1);
  }
  return std::string(text);
}

enum class TCompareOp { kEqual, kNotEqual, kLess, kLessEqual, kGreater, kGreaterEqual };

template <class T>
bool Apply(TCompareOp op, const T& a, const T& b) {
  switch (op) {
    case TCompareOp::kEqual:
      return a == b;
    case TCompareOp::kNotEqual:
      return a != b;
    case TCompareOp::kLess:
      return a < b;
    case TCompareOp::kLessEqual:
      return a <= b;
    case TCompareOp::kGreater:
      return a > b;
    case TCompareOp::kGreaterEqual:
      return a >= b;
  }
  return false;
}

class TEvaluator {
 public:
  explicit TEvaluator(TConditionLookups& lookups) : lookups_(lookups) {}

  bool Condition(std::string_view text, int nesting);
  std::string Operand(std::string_view text, int nesting);

 private:
  bool Compare(std::string_view left, TCompareOp op, std::string_view right, int nesting);

  TConditionLookups& lookups_;
};

bool TEvaluator::Condition(std::string_view text, int nesting) {
  if (nesting > kMaxNesting || text.size() > kMaxConditionLength) return false;
  std::string cond = Trim(text);
  while (cond.size() >= 2 && cond.front() == '(' && cond.back() == ')' &&
         Balanced(std::string_view(cond).substr(1, cond.size() - 2))) {
    cond = Trim(std::string_view(cond).substr(1, cond.size() - 2));
  }

  bool quoted = false;
  int depth = 0;
  for (size_t i = 0; i < cond.size(); ++i) {
    const char c = cond[i];
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted) continue;
    if ((c == ' ' || c == '(') && depth == 0) {
      const std::string before = UpperCase(Trim(std::string_view(cond).substr(0, i)));
      const std::string_view rest = std::string_view(cond).substr(i);
      if (EndsWith(before, " OR") || EndsWith(before, ")OR")) {
        const std::string_view left = std::string_view(before).substr(0, before.size() - 2);
        return Condition(left, nesting + 1) || Condition(rest, nesting + 1);
      }
      if (EndsWith(before, " AND") || EndsWith(before, ")AND")) {
        const std::string_view left = std::string_view(before).substr(0, before.size() - 3);
        return Condition(left, nesting + 1) && Condition(rest, nesting + 1);
      }
    }
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth == 0 && (c == '<' || c == '=' || c == '>')) {
      const char next = i + 1 < cond.size() ? cond[i + 1] : '\0';
      TCompareOp op = TCompareOp::kEqual;
      size_t length = 1;
      if (c == '<' && next == '>') {
        op = TCompareOp::kNotEqual;
        length = 2;
      } else if (c == '<' && next == '=') {
        op = TCompareOp::kLessEqual;
        length = 2;
      } else if (c == '>' && next == '=') {
        op = TCompareOp::kGreaterEqual;
        length = 2;
      } else if (c == '<') {
        op = TCompareOp::kLess;
      } else if (c == '>') {
        op = TCompareOp::kGreater;
      }
      const std::string left = Trim(std::string_view(cond).substr(0, i));
      const std::string right = Trim(std::string_view(cond).substr(i + length));
      return Compare(left, op, right, nesting);
    }
  }

  if (cond.find_first_of("\"()") != std::string::npos) return false;
  bool value = false;
  if (!lookups_.LogicalEntry(cond, value)) return false;
  return value;
}

bool TEvaluator::Compare(std::string_view left, TCompareOp op, std::string_view right,
                         int nesting) {
  const std::string a = Operand(left, nesting + 1);
  const std::string b = Operand(right, nesting + 1);
  const auto plain = [](const std::string& s) { return !s.empty() && s.front() != '"'; };
  if (plain(a) || plain(b)) return Apply(op, OperandNumber(a), OperandNumber(b));
  const std::string ta = Unquote(a);
  const std::string tb = Unquote(b);
  if (op == TCompareOp::kEqual) return SameText(ta, tb);
  if (op == TCompareOp::kNotEqual) return !SameText(ta, tb);
  // std::string compares through char_traits<char>, which orders bytes as unsigned values.
  return Apply(op, ta.compare(tb), 0);
}

// Built by appending: "\"" + std::string trips GCC 12's -Wrestrict at -O3.
std::string Quoted(std::string_view value) {
  std::string result;
  result.reserve(value.size() + 2);
  result += '"';
  result += value;
  result += '"';
  return result;
}

std::string TEvaluator::Operand(std::string_view text, int nesting) {
  if (text.size() <= 2 || nesting > kMaxNesting) return std::string(text);
  const std::string upper = UpperCase(text);
  // The inner text runs from after the keyword's "(" to before the operand's last character.
  const auto inner = [&](size_t keyword_length) {
    return Trim(text.substr(keyword_length, text.size() - keyword_length - 1));
  };
  if (StartsWith(upper, "VAL(")) return Unquote(Operand(inner(4), nesting + 1));
  if (StartsWith(upper, "FORMVAR(")) {
    const std::string name = Unquote(Operand(inner(8), nesting + 1));
    return Quoted(lookups_.FormField(name));
  }
  if (StartsWith(upper, "SERVERVAR(")) {
    const std::string name = Unquote(Operand(inner(10), nesting + 1));
    return Quoted(lookups_.ServerVariable(name));
  }
  return std::string(text);
}

}  // namespace

bool EvaluateCondition(std::string_view condition, TConditionLookups& lookups) {
  return TEvaluator(lookups).Condition(condition, 0);
}

std::string EvaluateOperand(std::string_view operand, TConditionLookups& lookups) {
  return TEvaluator(lookups).Operand(operand, 0);
}

double OperandNumber(std::string_view operand) {
  std::string_view digits = operand;
  // strtod would take a leading plus itself, but not one before a minus.
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && digits.front() == '-') return 0;
  }
  if (digits.empty()) return 0;
  // Only plain decimal notation counts: strtod would also read "inf", "nan" and hex forms, and
  // skip leading blanks.
  for (char c : digits) {
    const bool allowed =
        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    if (!allowed) return 0;
  }
  // strtod in the "C" locale (a host process of brevix.so may have set another decimal
  // point) rather than std::from_chars, whose floating-point form would make the program load
  // libm at every start. Out of range, too large or too small, reads as 0.
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const std::string text(digits);
  char* end = nullptr;
  errno = 0;
  const double value = c_locale != static_cast<locale_t>(0) ? strtod_l(text.c_str(), &end, c_locale)
                                                            : strtod(text.c_str(), &end);
  if (errno == ERANGE || end != text.c_str() + text.size() || !std::isfinite(value)) return 0;
  return value;
}
