#pragma once

#include <string>
#include <string_view>

// How much of a chosen file's path a gateway setting keeps. The site owner picks a file on the
// owner's own machine, but the gateway runs on the web server, where the folders may differ;
// the gateway takes a name that is not absolute relative to its own folder.
enum class TFileNameChoice {
  FileName,      // "Just the File Name": what follows the last "/" or "\"
  RelativePath,  // "Relative Path": the path without its root (see RelativePathOf)
  FullPath,      // "Full Path": the chosen name unchanged
};

// What follows the last "/" or "\" of `path`; the whole path when it has neither.
std::string FileNamePartOf(std::string_view path);

// What precedes and includes the last "/" or "\" of `path`; empty when it has neither.
std::string FolderPartOf(std::string_view path);

// The path without its root, so that the gateway reads it below its own folder:
// - "/srv/www/thanks.htm" gives "srv/www/thanks.htm" (every leading "/" is dropped);
// - a Windows name with a drive, "C:\web\thanks.htm", gives "\web\thanks.htm" (the drive letter
//   and colon are dropped, the root backslash stays, which the gateway drops in turn);
// - a network name, "\\server\share\page.htm", gives "server\share\page.htm";
// - any other name is already relative and stays as it is.
// The name is never cut short, however long it is.
std::string RelativePathOf(std::string_view path);

// The proposal for the file name dialog's edit field.
std::string ProposeFileName(std::string_view selected_file_path, TFileNameChoice choice);
