#include "platform/private_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string PreparePrivateFolder(const std::string& folder) {
  // Without its trailing "/", so that a link is looked at and not followed.
  std::string dir = folder;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (mkdir(dir.c_str(), 0700) == 0) return std::string();
  if (errno != EEXIST) {
    return "Cannot create folder \"" + dir + "\": " + std::strerror(errno);
  }
  struct stat info {};
  if (lstat(dir.c_str(), &info) != 0) return "Cannot use folder \"" + dir + "\"";
  // A link, or a folder another user made, could let that user read or replace what is put
  // there: another user's page served to a visitor, a results file read through a link.
  if (S_ISLNK(info.st_mode)) return "Folder \"" + dir + "\" is a link: not used";
  if (!S_ISDIR(info.st_mode)) return "\"" + dir + "\" is not a folder: not used";
  if (info.st_uid != geteuid()) {
    return "Folder \"" + dir + "\" belongs to another user: not used";
  }
  if ((info.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
    return "Folder \"" + dir + "\" is open to other users and cannot be narrowed: not used";
  }
  return std::string();
}
