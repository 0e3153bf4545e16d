#pragma once
#include <string>
#include <string_view>

#include "common/string_list.h"
#include "wizard/wizard_settings.h"

// One hidden input element:  <input type="hidden" name="NAME" value="VALUE">
// Name and value are escaped with HtmlEscape and not trimmed: a browser posts exactly
// what was typed (a double quote once ended the value early and broke the element).
std::string HiddenFieldLine(std::string_view name, std::string_view value);

// The lines that the hidden-field window shows, in the gateway's fixed order: "send" first, a
// line for every chosen text setting (ChosenSettings) that is not empty (blanks count as text),
// the check boxes ("yes"/"no"; "delete_results_file" only when results are saved), and
// "default_format" with the selected format's name (an empty value when no format is
// selected), and last the anti-spam widget's lines when a PoW_Key is set (pow_settings.h).
TStringList HiddenFieldLines(const WizardSettings& settings);
