#pragma once

#include <string>

// The running program's own file (/proc/self/exe, looked up once per process), e.g.
// "/srv/www/cgi-bin/brevix.cgi"; inside the shared library, the library's file (e.g.
// "/srv/www/brevix/brevix.so", links resolved).
std::string ModuleFileName();

// The folder of ModuleFileName() with its trailing "/", e.g. "/srv/www/cgi-bin/".
std::string ProgramDir();
