#include "wizard/editor_text_file.h"

#include <QByteArray>
#include <QStringDecoder>

#include "common/exception.h"
#include "common/file_replace.h"
#include "common/file_tool.h"
#include "common/string_list.h"

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void ThrowCannotCreate(const std::string& file_name) {
  throw Exception("Cannot create file \"" + file_name + "\"");
}

[[noreturn]] void ThrowCannotOpen(const std::string& file_name) {
  throw Exception("Cannot open file \"" + file_name + "\"");
}

bool FitsLatin1(const QString& text) {
  for (QChar c : text) {
    if (c.unicode() > 0xFF) return false;
  }
  return true;
}

}  // namespace

TEditorText DecodeEditorText(std::string_view bytes) {
  TStringList lines;
  lines.SetText(bytes);
  const std::string joined = lines.Join("\n");
  const QByteArray raw(joined.data(), static_cast<qsizetype>(joined.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(raw);
  if (!utf8.hasError()) return {std::move(text), false};
  return {QString::fromLatin1(raw), true};
}

std::string EncodeEditorText(const QString& text, bool latin1) {
  if (text.isEmpty()) return std::string();
  QString plain = text;
  plain.replace(u"\r\n"_s, u"\n"_s);
  plain.replace(u'\r', u'\n');
  plain.replace(QChar::ParagraphSeparator, u'\n');
  plain.replace(QChar::LineSeparator, u'\n');
  const QByteArray raw = latin1 && FitsLatin1(plain) ? plain.toLatin1() : plain.toUtf8();
  // Every "\n" separates two lines, so an empty last line of the text area is kept; each line,
  // the last one included, then ends with CR LF.
  std::string bytes;
  bytes.reserve(static_cast<size_t>(raw.size()) + static_cast<size_t>(raw.count('\n')) + 2);
  for (const char c : raw) {
    if (c == '\n') {
      bytes += "\r\n";
    } else {
      bytes += c;
    }
  }
  bytes += "\r\n";
  return bytes;
}

std::string ReadMessageTextFile(const std::string& file_name) {
  std::string content;
  if (!ReadWholeFile(file_name, content)) ThrowCannotOpen(file_name);
  return content;
}

void WriteMessageTextFile(const std::string& file_name, std::string_view bytes) {
  if (!ReplaceFileContents(file_name, bytes)) ThrowCannotCreate(file_name);
}
