#include "wizard/ini_file_access.h"

#include <cerrno>
#include <cstring>

#include "common/exception.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "platform/file_system.h"

std::string WebServerGroup(const std::string& ini_file_name) {
  return TProfileFile(ini_file_name).ReadString(kOptionsSection, kWebServerGroupKey, "");
}

void RememberWebServerGroup(const std::string& ini_file_name, const std::string& group) {
  TProfileFile file(ini_file_name);
  file.WriteString(kOptionsSection, kWebServerGroupKey, group);
  file.UpdateFile();
}

std::string ShareWithWebServerGroup(const std::string& ini_file_name, const std::string& group) {
  unsigned id = 0;
  std::string reason;
  if (group.empty()) {
    reason = "no web server group was given";
  } else if (!LookUpGroupId(group, id)) {
    reason = "this machine has no group " + group;
  } else if (!SetFileGroup(ini_file_name, id)) {
    reason =
        std::string("its group could not be set to ") + group + " (" + std::strerror(errno) + ")";
  } else if (SetFileMode(ini_file_name, 0640)) {
    return {};
  }
  // The group is not the web server's: only the owner may read the file until it is fixed.
  if (!SetFileMode(ini_file_name, 0600)) {
    throw Exception("Unable to make " + ini_file_name + " readable by its owner only");
  }
  const std::string shown_group = group.empty() ? kDefaultWebServerGroup : group;
  return ini_file_name + " is readable by you only: " + reason +
         ". On the web server, let the gateway read it with:\n  chgrp " + shown_group +
         " brevix.ini && chmod 640 brevix.ini";
}
