#pragma once

#include <string>
#include <string_view>

// An error message as a visitor may read it. Messages of file operations name whole paths
// ("Cannot create file \"/srv/forms/cgi-bin/Temp/x1\""): the log keeps them for the site owner,
// but no folder of the server's file system belongs on a visitor's screen. Every word that
// begins with "/" (it ends at a blank or a double quote; after an opening double quote, at the
// closing one) is cut to its last component, so the example reads "Cannot create file \"x1\"".
// Everything else is copied unchanged.
std::string WithoutFolders(std::string_view message);
