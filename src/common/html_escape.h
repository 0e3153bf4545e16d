#pragma once

#include <string>
#include <string_view>

// Makes a text safe to place inside HTML, in element content and in quoted attribute values:
// "&" becomes "&amp;", "<" "&lt;", ">" "&gt;", a double quote "&quot;" and a single quote
// "&#39;". Every other byte, including bytes above 127, is copied unchanged. Values that come
// from a request (server variables, form fields) pass through here before they reach an answer
// page, so that a visitor's text can never become markup.
std::string HtmlEscape(std::string_view text);
