#pragma once

#include <QString>
#include <string>
#include <string_view>

// How the message text editor maps files (bytes) to its text area and back.
//
// A file is a run of lines; CR LF, LF or a lone CR ends a line on reading, and every line that
// is written, the last one included, ends with CR LF. No text is converted on the way: a file
// that is valid UTF-8 is shown as UTF-8 and written back as UTF-8; any other file is taken byte
// for byte as ISO-8859-1 and written back the same way, so opening and saving a file never
// changes a byte of its lines.

// The text area's content for `bytes`: lines joined by "\n". `latin1` tells how it was read.
struct TEditorText {
  QString text;
  bool latin1 = false;
};
TEditorText DecodeEditorText(std::string_view bytes);

// The file content for the text area's `text` (lines separated by "\n", CR LF, CR, U+2028 or
// U+2029): each line ended by CR LF, nothing at all for an empty text. So DecodeEditorText and
// EncodeEditorText give back the bytes read, except that a missing CR LF after the last line
// is added and lone CRs or LFs become CR LF. With `latin1` set the bytes are
// ISO-8859-1; when the text holds a character that ISO-8859-1 cannot carry, or `latin1` is
// clear, they are UTF-8, so that nothing typed is ever lost.
std::string EncodeEditorText(const QString& text, bool latin1);

// The whole content of `file_name`. Throws Exception("Cannot open file \"<name>\"") when it
// cannot be opened or read.
std::string ReadMessageTextFile(const std::string& file_name);

// Replaces `file_name` with `bytes` in one step: the bytes go to a temporary file in the same
// folder, which then takes the name with rename(), keeping the old file's permissions. Throws
// Exception("Cannot create file \"<name>\"") on failure, and the old file stays as it was.
void WriteMessageTextFile(const std::string& file_name, std::string_view bytes);
