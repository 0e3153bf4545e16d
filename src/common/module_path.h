#pragma once

#include <string>

// The running program's own file (/proc/self/exe), e.g. "/srv/www/cgi-bin/brevix.cgi"; inside
// the shared library, the library's file (e.g. "/srv/www/brevix/brevix.so", links resolved).
// Looked up once, while the program or library is loaded: a host that loads brevix.so by a
// relative name and then changes its working folder still gets the library's absolute path.
std::string ModuleFileName();

// The folder of ModuleFileName() with its trailing "/", e.g. "/srv/www/cgi-bin/".
std::string ProgramDir();
