#pragma once

#include <string>

// Builds the path of a file next to a base file (usually the running program).
//
// The directory part of `base_file` is joined with `dir` (an absolute `dir` -- one starting
// with "/" or "\", or with a drive letter and ":", whose drive is dropped -- replaces it), then
// with the file name and extension. "/" and "\" are both separators; the result uses "/".
// With `keep_base_name` the base file's name is used when `file_name` is empty; with
// `keep_base_ext` the base file's extension is used when `ext` is empty. Never throws.
//
// Example: base "/srv/cgi-bin/brevix.cgi", dir "Temp", name "1234", ext "tmp" gives
// "/srv/cgi-bin/Temp/1234.tmp".
std::string BuildFilePath(const std::string& base_file, const std::string& dir, bool keep_base_name,
                          const std::string& file_name, bool keep_base_ext, const std::string& ext);
