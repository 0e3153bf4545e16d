#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

// Growable text buffers for template expansion, with the operations and results of the
// zero-terminated buffers they stand for: a buffer is either absent (null) or holds text, and
// the null buffer and the empty text count alike as empty. A TPChar owns its text; operations
// that grow it replace the caller's buffer in place, as the originals store a new pointer in
// the caller's variable. None of these operations fail other than by std::bad_alloc.
class TPChar {
 public:
  // The null buffer.
  TPChar() = default;
  // A buffer holding `text` (an empty text gives an empty, non-null buffer).
  explicit TPChar(std::string text) : text_(std::move(text)), null_(false) {}

  bool IsNull() const { return null_; }
  // The text; empty for the null buffer.
  const std::string& Text() const { return text_; }
  std::string_view View() const { return text_; }
  size_t Length() const { return text_.size(); }
  // A zero-terminated view of the text, or nullptr for the null buffer. Valid until the buffer
  // changes.
  const char* c_str() const { return null_ ? nullptr : text_.c_str(); }

 private:
  friend void FreePChar(TPChar& buffer);
  friend void AppendPChar(TPChar& buffer, std::string_view text);
  friend void AppendPCharN(TPChar& buffer, std::string_view text, size_t count);
  friend void ReplaceAllPChar(TPChar& buffer, std::string_view pattern,
                              std::string_view replacement);
  friend TPChar NewZeroPChar(size_t size);

  std::string text_;
  bool null_ = true;
};

// True when the buffer is null or holds no text.
bool IsEmptyPChar(const TPChar& buffer);

// A new, empty (all-zero) buffer with room for `size` bytes.
TPChar NewZeroPChar(size_t size);

// Releases the text and makes the buffer null.
void FreePChar(TPChar& buffer);

// Nothing when `text` is empty; otherwise the buffer (null counts as empty) becomes its old
// text followed by `text`.
void AppendPChar(TPChar& buffer, std::string_view text);

// Nothing when `text` is empty or `count` is 0; otherwise appends the first `count` characters
// of `text` (all of it when it is shorter).
void AppendPCharN(TPChar& buffer, std::string_view text, size_t count);

// Replaces every occurrence of `pattern` (exact, case-sensitive, scanned left to right without
// overlaps) with `replacement`. Nothing happens when the buffer, the pattern or the replacement
// is empty: an empty replacement never deletes anything.
void ReplaceAllPChar(TPChar& buffer, std::string_view pattern, std::string_view replacement);
