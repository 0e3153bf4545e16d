#pragma once

#include <string>

// The running program's own file (/proc/self/exe), e.g. "/srv/www/cgi-bin/brevix.cgi"; inside
// the shared library, the library's file (e.g. "/srv/www/brevix/brevix.so", links resolved).
// Looked up once, while the program or library is loaded: a host that loads brevix.so by a
// relative name and then changes its working folder still gets the library's absolute path.
const std::string& ModuleFileName();

// The folder of ModuleFileName() with its trailing "/", e.g. "/srv/www/cgi-bin/"; while a
// TProgramFolderOverride lives, the folder it names. Both are kept for the process's life (a
// request asks for them some forty times): no copy is made for a caller that only reads them.
const std::string& ProgramDir();

// For in-process tests of rules that read the program folder (brevix.ini, the gateway's own
// files): ProgramDir() gives `folder` (with a trailing "/") until the override goes. One at a
// time, process-wide; not for use while requests run on other threads.
class TProgramFolderOverride {
 public:
  explicit TProgramFolderOverride(std::string folder);
  ~TProgramFolderOverride();
  TProgramFolderOverride(const TProgramFolderOverride&) = delete;
  TProgramFolderOverride& operator=(const TProgramFolderOverride&) = delete;

 private:
  std::string folder_;
};
