#pragma once
#include <string>

// Who may read the brevix.ini that the defaults task saves: the site owner, and the web server,
// which runs the gateway under its own user. The file is given mode 0640 and the web server's
// group, so the gateway can read the mail server's login and nobody else can. The group is asked
// once and kept in brevix.ini under kWebServerGroupKey (the wizard's key; the gateway ignores it).

inline constexpr const char* kWebServerGroupKey = "Web_Server_Group";
inline constexpr const char* kDefaultWebServerGroup = "www-data";

// The group kept in `ini_file_name`; empty when the owner has not been asked yet (or the file
// cannot be read).
std::string WebServerGroup(const std::string& ini_file_name);

// Writes `group` into `ini_file_name` (kWebServerGroupKey). Throws Exception("Unable to write to
// <name>") as the settings file's writer does.
void RememberWebServerGroup(const std::string& ini_file_name, const std::string& group);

// Makes the existing `ini_file_name` readable by its owner and the members of `group` only
// (mode 0640, that group). When the group does not exist here or this user may not give it
// away, the file is made readable by its owner alone (0600) and the answer is the text to show
// the owner, naming the commands to run on the web server; otherwise the answer is empty.
// Throws Exception("Unable to make <name> readable by its owner only") when not even the mode
// can be set; the caller must then write no password into the file.
std::string ShareWithWebServerGroup(const std::string& ini_file_name, const std::string& group);
