#pragma once

#include <string>
#include <string_view>

// Conditions of the page template language's IF and ELSEIF entries.
//
//   condition  := "(" condition ")" | part OR rest | part AND rest | operand OP operand | word
//   OP         := "=" | "<>" | "<" | "<=" | ">" | ">="
//   operand    := VAL(operand) | FORMVAR(operand) | SERVERVAR(operand) | number | "text" | word
//
// AND and OR split a condition only where the keyword follows a blank or ")" outside quotes
// and parentheses, so "(a=1) OR (b=2)" splits while "a=1 OR b=2" is the single comparison of a
// with the text "1 OR b=2". There is no precedence: the first keyword found splits and the
// right side may hold further keywords; the left side is taken from the upper-case form of the
// condition. AND stops at a false left side, OR at a true one.
//
// A comparison is numeric when at least one operand is neither empty nor quoted; operands are
// then read as decimal numbers, and an empty operand or one that is not a valid decimal number
// (such as 12abc or a quoted text) counts as 0. Otherwise both are unquoted and compared as
// texts: "=" and "<>" without regard to ASCII case, the others byte by byte.
//
// A bare word (no operator, keyword, quote or parenthesis) is asked of the logical-entry
// handler; without a handler, and for anything else, the condition is false.

// What a condition may consult. Implemented by the template scan over the current request and
// by tests.
class TConditionLookups {
 public:
  virtual ~TConditionLookups() = default;
  // The request field's value, empty when absent or empty.
  virtual std::string FormField(const std::string& name) = 0;
  // The request's server variable (with the engine's name normalisation), empty when unknown.
  virtual std::string ServerVariable(const std::string& name) = 0;
  // Asks the logical-entry handler about `name`; `value` comes preset to false. Returns false
  // when no handler is assigned (the condition is then false).
  virtual bool LogicalEntry(const std::string& name, bool& value) = 0;
};

// Evaluates a condition. Never throws for any text. Conditions far beyond what a template entry
// can hold -- longer than 4096 characters, or nested deeper than 300 levels -- evaluate as
// false.
bool EvaluateCondition(std::string_view condition, TConditionLookups& lookups);

// Evaluates one operand: VAL, FORMVAR and SERVERVAR are resolved, everything else is returned
// as it is. Field and server variable values come back in double quotes.
std::string EvaluateOperand(std::string_view operand, TConditionLookups& lookups);

// The value of an operand in a numeric comparison: a decimal number with an optional sign,
// fraction and exponent; 0 for an empty text and for anything that is not such a number.
double OperandNumber(std::string_view operand);
