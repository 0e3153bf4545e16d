#pragma once

#include <string>
#include <string_view>

// Configured file names (from "brevix.ini", hidden form fields, page components) come in Windows
// style; on disk both "\" and "/" separate directories.

// True when `name` begins with a drive letter and ":" ("c:\data", "D:x").
bool HasDriveLetter(std::string_view name);

// The file name to use for a configured name, relative to `program_dir`:
//  - a drive letter and ":" make the name absolute; the drive is dropped ("c:\data\x.txt" gives
//    "/data/x.txt", "c:x.txt" gives "/x.txt");
//  - a leading "/" makes it absolute as it stands;
//  - any other name is taken relative to `program_dir` (a "/" is added when it lacks one), less
//    one leading "\" ("\data\x.txt" and "data\x.txt" both give program_dir + "data/x.txt"); an
//    empty name gives the folder itself.
// Every "\" of the result is turned into "/". Never throws.
std::string ResolveConfiguredPath(const std::string& program_dir, std::string_view name);
