#pragma once

#include <string>
#include <string_view>

// Case-insensitive comparisons fold ASCII letters only, so that the behaviour does not depend
// on the process locale.

char AsciiUpper(char c);
char AsciiLower(char c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// <0, 0 or >0 like strcmp, ignoring the case of ASCII letters.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// Removes blanks and control characters (bytes <= ' ') from both ends, as the original
// toolkit's Trim does.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
