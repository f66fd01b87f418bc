// Reader of the shipped profile set file. The file is stored with every byte
// complemented so that it is not edited by hand by accident; this turns it
// back into text lines.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quorvel {

// The text of complemented bytes: every byte v becomes 255 - v.
QByteArray ComplementBytes(QByteArray ABytes);

// Bytes to text: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark picks that
// encoding and is dropped; without one the bytes are in the locale's
// encoding. Lines end at CR LF, CR or LF.
QStringList BytesToLines(const QByteArray& ABytes);

// Reads the whole file, complements it and splits it into lines. Throws
// Exception when the file cannot be opened or read.
QStringList LoadProfileFile(const QString& APath);

}  // namespace quorvel
