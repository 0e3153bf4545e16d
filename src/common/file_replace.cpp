#include "common/file_replace.h"

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "platform/file_system.h"

namespace {

// The file a name stands for: the target of a symbolic link, else the name itself.
std::string ReplacedPath(const std::string& file_name) {
  if (LinkInfoOf(file_name).kind != TFileKind::kLink) return file_name;
  std::string resolved = ResolvedPath(file_name);
  return resolved.empty() ? file_name : resolved;
}

}  // namespace

bool ReplaceFileContents(const std::string& file_name, std::string_view bytes) {
  const std::string target = ReplacedPath(file_name);
  const TFileInfo old = FileInfoOf(target);
  const bool existed = old.Exists();
  if (existed && old.kind != TFileKind::kRegular) return false;
  // Writing needs permission on the file itself too, as an in-place write would.
  if (existed && !MayWrite(target)) return false;

  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // A new file of our own (created exclusively): we never write into someone else's file.
  std::string temp = folder + ".bx-save-XXXXXX";
  TFileDescriptor file = CreateUniqueFile(temp);
  if (!file) return false;

  bool ok = WriteAll(file.Get(), bytes);
  if (ok) {
    unsigned mode = 0;
    if (existed) {
      mode = old.mode;
      // The group too: a file shared with the web server's group must stay readable to it.
      // Where this user may not give the group, the file keeps the user's own (the mode below
      // still limits who reads it).
      SetOpenFileGroup(file.Get(), old.group);
    } else {
      mode = 0666 & ~CreationMask();
    }
    ok = SetOpenFileMode(file.Get(), mode);
  }
  if (ok) ok = SyncFile(file.Get());
  if (!CloseFile(file.Release())) ok = false;
  if (ok) ok = RenameFile(temp, target);
  if (!ok) RemoveFile(temp);
  return ok;
}

bool ShareFileWithGroup(const std::string& path, const std::string& group, std::string& reason) {
  unsigned id = 0;
  if (group.empty()) {
    reason = "no web server group was given";
  } else if (!LookUpGroupId(group, id)) {
    reason = "this machine has no group " + group;
  } else if (!SetFileGroup(path, id)) {
    reason = "its group could not be set to " + group + " (" + std::strerror(errno) + ")";
  } else if (SetFileMode(path, 0640)) {
    return true;
  }
  return false;
}

bool KeepFileToOwner(const std::string& path) {
  return SetFileMode(path, 0600);
}
