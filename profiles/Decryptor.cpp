#include "profiles/Decryptor.h"

#include <QFile>
#include <QStringDecoder>

#include "media/runtime/Exception.h"

namespace quorvel {

QByteArray ComplementBytes(QByteArray ABytes) {
  for (char& c : ABytes) c = static_cast<char>(~static_cast<unsigned char>(c));
  return ABytes;
}

QStringList BytesToLines(const QByteArray& ABytes) {
  QString text;
  if (ABytes.startsWith("\xEF\xBB\xBF")) {
    text = QString::fromUtf8(ABytes.mid(3));
  } else if (ABytes.startsWith("\xFF\xFE")) {
    QStringDecoder decoder(QStringDecoder::Utf16LE);
    text = decoder(ABytes.mid(2));
  } else if (ABytes.startsWith("\xFE\xFF")) {
    QStringDecoder decoder(QStringDecoder::Utf16BE);
    text = decoder(ABytes.mid(2));
  } else {
    text = QString::fromLocal8Bit(ABytes);
  }
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c != u'\r' && c != u'\n') continue;
    lines << text.mid(start, i - start);
    if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
    start = i + 1;
  }
  // A last line without a line end still counts; an empty tail does not.
  if (start < text.size()) lines << text.mid(start);
  return lines;
}

QStringList LoadProfileFile(const QString& APath) {
  QFile file(APath);
  if (!file.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(APath, file.errorString()).toStdString());
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    throw Exception(QStringLiteral("Cannot read file \"%1\". %2").arg(APath, file.errorString()).toStdString());
  return BytesToLines(ComplementBytes(bytes));
}

}  // namespace quorvel
