#include "wizard/qt_text.h"

#include <QByteArray>
#include <QStringDecoder>

QString ToQString(std::string_view bytes) {
  const QByteArray raw(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(raw);
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(raw);
}

std::string FromQString(const QString& text) {
  return text.toUtf8().toStdString();
}
