#include "common/file_tool.h"

#include "common/exception.h"

TPChar ReadFileToPChar(const std::string& file_name) {
  std::string text;
  const WholeFileRead read = ReadRegularFile(file_name, text);
  if (read == WholeFileRead::kReadFailed) throw Exception("Unable to read " + file_name);
  if (text.empty()) return TPChar();
  TPChar buffer = NewZeroPChar(text.size() + 1);
  AppendPChar(buffer, text);
  return buffer;
}
