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

// The path with every link and "." or ".." resolved as far as it exists (the rest appended as
// it stands); the path itself when it cannot be resolved. Never throws.
std::string CanonicalPath(const std::string& path);

// True when the canonical path `canonical` lies below the folder `dir` (resolved the same way).
bool IsBelowDir(const std::string& canonical, const std::string& dir);

// True when a Results_File of the form "<folder>\auto.<ext>" (or "/auto.") asks for a new file
// per submission.
bool IsAutoResultsName(const std::string& name);

// True when the name (as configured) ends in ".htm" or ".html", without regard to case: such a
// message text or receipt text makes the mail an HTML mail.
bool HasHtmExtension(std::string_view name);
