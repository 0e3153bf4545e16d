#include "wizard/ini_file_access.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/exception.h"
#include "common/options.h"
#include "common/profile_file.h"

namespace {

// The group's id, or nothing when this machine does not know the group.
bool LookUpGroup(const std::string& group, gid_t& id) {
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  id = found->gr_gid;
  return true;
}

}  // namespace

std::string WebServerGroup(const std::string& ini_file_name) {
  return TProfileFile(ini_file_name).ReadString(kOptionsSection, kWebServerGroupKey, "");
}

void RememberWebServerGroup(const std::string& ini_file_name, const std::string& group) {
  TProfileFile file(ini_file_name);
  file.WriteString(kOptionsSection, kWebServerGroupKey, group);
  file.UpdateFile();
}

std::string ShareWithWebServerGroup(const std::string& ini_file_name, const std::string& group) {
  gid_t id = 0;
  std::string reason;
  if (group.empty()) {
    reason = "no web server group was given";
  } else if (!LookUpGroup(group, id)) {
    reason = "this machine has no group " + group;
  } else if (chown(ini_file_name.c_str(), static_cast<uid_t>(-1), id) != 0) {
    reason =
        std::string("its group could not be set to ") + group + " (" + std::strerror(errno) + ")";
  } else if (chmod(ini_file_name.c_str(), S_IRUSR | S_IWUSR | S_IRGRP) == 0) {
    return {};
  }
  // The group is not the web server's: only the owner may read the file until it is fixed.
  if (chmod(ini_file_name.c_str(), S_IRUSR | S_IWUSR) != 0) {
    throw Exception("Unable to make " + ini_file_name + " readable by its owner only");
  }
  const std::string shown_group = group.empty() ? kDefaultWebServerGroup : group;
  return ini_file_name + " is readable by you only: " + reason +
         ". On the web server, let the gateway read it with:\n  chgrp " + shown_group +
         " brevix.ini && chmod 640 brevix.ini";
}
