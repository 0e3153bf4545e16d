#pragma once

#include <string>

#include "engine/text_filter.h"

// A template filter over a page file: Execute reads the whole file FileName and runs the page
// template language over it into the current request's answer.
//
// File names follow the gateway's rules for configured names: "\" and "/" both separate
// folders; a name starting with a drive letter and a colon ("c:\pages\a.htm") is absolute with
// the drive dropped ("/pages/a.htm"), and so is one starting with "/"; any other name lies below
// the program's folder (a leading "\" is dropped first). An empty FileName becomes the
// program's own name with the extension "htm" ("/srv/cgi-bin/brevix.cgi" reads
// "/srv/cgi-bin/brevix.htm"), and the property keeps that value.
//
// Execute throws Exception("Cannot open file \"<path>\"") when the file is missing and
// Exception("Cannot read file \"<path>\"") when it cannot be read; nothing is written then.
class THttpFileFilter : public THttpTextFilterComponent {
 public:
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& value) { file_name_ = value; }

  void Execute() override;

  // The path Execute reads for a FileName, below `program_dir` (which ends with "/") when
  // relative. Pure; exposed for the gateway's checks and for tests.
  static std::string ResolvePagePath(const std::string& file_name, const std::string& program_dir);
  // The page file named after a program file: its name up to the first "." of the file name
  // itself (not of a folder), then "htm"; a name without "." gets ".htm" appended.
  static std::string DefaultPageFile(const std::string& module_file);

 private:
  std::string file_name_;
};
