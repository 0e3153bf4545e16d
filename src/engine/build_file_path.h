#pragma once

#include <string>

// Builds the path of a file that lives next to a base file (usually the running program).
//
// Names may be written Windows-style: "/" and "\" are both separators and the result always uses
// "/". A name starting with a drive letter and ":" is absolute (the drive is dropped), and so is
// a name starting with "/"; any other name is relative (a leading "\" is dropped).
//
// - An absolute `file_name` is the result, in this system's form.
// - The folder is an absolute `dir`, or the base file's folder followed by `dir`.
// - With `keep_base_name` the base file's name up to its first "." (the whole name when it has
//   none) starts the name; with `keep_base_ext` the base file's text after its first "." starts
//   the extension.
// - `file_name` is appended to the name; when its last component has a ".", only the text in
//   front of that "." is, and the text behind it goes to the extension unless `ext` is given.
// - `ext` is appended to the extension; the result is folder, name, ".", extension, with every
//   "/./" and then every "//" collapsed to one "/".
// Never throws.
//
// Example: base "/srv/cgi-bin/brevix.cgi", dir "Temp", name "1234", ext "tmp" gives
// "/srv/cgi-bin/Temp/1234.tmp".
std::string BuildFilePath(const std::string& base_file, const std::string& dir, bool keep_base_name,
                          const std::string& file_name, bool keep_base_ext, const std::string& ext);
