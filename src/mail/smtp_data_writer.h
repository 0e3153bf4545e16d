#pragma once

#include <string>
#include <string_view>

// Frames the message of an SMTP DATA command: every line end becomes CR LF (a lone CR or LF
// would otherwise let a line such as "." hide from the reader and end the data early), and every
// line that begins with "." gets one more "." in front (dot-stuffing), so the reader sees the
// text exactly as written. Output collects in a buffer that the caller sends in few, large
// writes.
class TSmtpDataWriter {
 public:
  // Appends `text` (any line ends) to the buffer.
  void Add(std::string_view text);
  // Appends the end of the data: CR LF "." CR LF (after completing a pending CR).
  void Finish();

  // Bytes framed so far and not yet taken.
  std::string& Buffer() { return out_; }
  size_t Size() const { return out_.size(); }
  // Hands over the buffered bytes and empties the buffer.
  std::string Take();

 private:
  void EndLine();

  std::string out_;
  bool line_start_ = true;
  bool pending_cr_ = false;
};
