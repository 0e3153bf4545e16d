#pragma once

#include <string>
#include <string_view>

// File names of the gateway. Names come in Windows style from "brevix.ini" and from hidden form
// fields; on disk both "\" and "/" separate directories.

// The file name to use for a configured name, relative to `program_dir` (which ends with "/"):
//  - a drive letter and ":" make the name absolute; the drive is dropped ("c:\data\x.txt" gives
//    "/data/x.txt");
//  - a leading "/" makes it absolute as it stands;
//  - any other name is taken relative to `program_dir`, less one leading "\" ("\data\x.txt" and
//    "data\x.txt" both give program_dir + "data/x.txt"); an empty name gives `program_dir`.
// Every "\" of the result is turned into "/". Never throws.
std::string ResolvePathIn(const std::string& program_dir, std::string_view name);

// ResolvePathIn with the directory of the running program (ProgramDir()).
std::string ResolvePath(std::string_view name);

// True when a file name that a visitor supplied through a form field may be used: it is not
// absolute (no leading "/", no drive letter), holds no control character, and no component,
// between "\" or "/", is "..".
// A name from "brevix.ini" is the site owner's and is not checked.
bool IsSafeFormFileName(std::string_view name);

// True when the name (as configured) ends in ".htm", without regard to case: such a message text
// makes the mail an HTML mail.
bool HasHtmExtension(std::string_view name);
