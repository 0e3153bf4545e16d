#pragma once

#include <string>
#include <string_view>

// Answer-page settings (Response_Page, Error_Page, Info_Missing_Page, and the form fields that
// override them) name either a page file of the site or an address the visitor is sent on to.

// True when `setting` is an address to redirect to: it begins with "http:" or "https:", without
// regard to case. Anything else is a file name.
bool IsPageAddress(std::string_view setting);

// The name of a page file as a built-in page may show it to a visitor: the last component of the
// configured name ("thanks.htm" for "C:\site\thanks.htm" or "/srv/site/thanks.htm"); an address
// as it stands. No folder of the server's file system ever reaches a visitor's screen.
std::string ShownPageName(std::string_view setting);
