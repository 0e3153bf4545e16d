#pragma once

#include <string>

// A folder that only this program's user may enter: the request spool and the upload folder,
// which hold visitors' data and the hand-over between processes.
//
// Creates `dir` (one level, mode 0700) when it is missing. An existing folder is used only when
// it is a real folder (not a link) owned by this process's user; one of ours with wider rights
// is narrowed to 0700. Returns "" when the folder may be used, else a sentence saying why not
// (another user's folder, a link, not a folder, cannot be created), for the log. Never throws.
std::string PreparePrivateFolder(const std::string& folder);
