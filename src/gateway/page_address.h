#pragma once

#include <string>
#include <string_view>
#include <vector>

// Answer-page settings (Response_Page, Error_Page, Info_Missing_Page, and the form fields that
// override them) name either a page file of the site or an address the visitor is sent on to.

// True when `setting` is an address to redirect to: it begins with "http:" or "https:", without
// regard to case. Anything else is a file name.
bool IsPageAddress(std::string_view setting);

// The name of a page file as a built-in page may show it to a visitor: the last component of the
// configured name ("thanks.htm" for "C:\site\thanks.htm" or "/srv/site/thanks.htm"); an address
// as it stands. No folder of the server's file system ever reaches a visitor's screen.
std::string ShownPageName(std::string_view setting);

// The host an address sends a visitor's browser to, in lower case and without a port
// ("www.site.test" for "https://WWW.Site.test:8443/thanks"); empty when `address` is not plainly
// "http://" or "https://" followed by a host: a user part ("@"), a blank or control character,
// a backslash or a missing "//" makes browsers disagree on the host, so no host is read at all.
std::string RedirectHost(std::string_view address);

// True when a form may send the visitor on to `address`: its host (RedirectHost) is the host of
// `own_host` (HTTP_HOST, a port after it ignored) or one of `allowed_hosts` (Allowed_Redirects),
// compared without regard to case. A form's address to anywhere else would make the gateway an
// open redirect for any page that links to it.
bool IsAllowedRedirect(std::string_view address, std::string_view own_host,
                       const std::vector<std::string>& allowed_hosts);
