#include "wizard/ini_file_access.h"

#include "common/exception.h"
#include "common/file_replace.h"
#include "common/options.h"
#include "common/profile_file.h"

std::string WebServerGroup(const std::string& ini_file_name) {
  return TProfileFile(ini_file_name).ReadString(kOptionsSection, kWebServerGroupKey, "");
}

void RememberWebServerGroup(const std::string& ini_file_name, const std::string& group) {
  TProfileFile file(ini_file_name);
  file.WriteString(kOptionsSection, kWebServerGroupKey, group);
  file.UpdateFile();
}

std::string ShareWithWebServerGroup(const std::string& ini_file_name, const std::string& group) {
  std::string reason;
  if (ShareFileWithGroup(ini_file_name, group, reason)) return {};
  // The group is not the web server's: only the owner may read the file until it is fixed.
  if (!KeepFileToOwner(ini_file_name)) {
    throw Exception("Unable to make " + ini_file_name + " readable by its owner only");
  }
  const std::string shown_group = group.empty() ? kDefaultWebServerGroup : group;
  return ini_file_name + " is readable by you only: " + reason +
         ". On the web server, let the gateway read it with:\n  chgrp " + shown_group +
         " brevix.ini && chmod 640 brevix.ini";
}
