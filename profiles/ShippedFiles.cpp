#include "profiles/ShippedFiles.h"

#include <QDir>
#include <QFileInfo>

namespace quorvel {

QString ShippedFilesFolder(const QString& AProgramFolder) {
  const QDir program(AProgramFolder);
  const QString candidates[] = {program.absolutePath(), program.absoluteFilePath("../share/quorvel")};
  for (const QString& folder : candidates)
    if (QFileInfo(QDir(folder).filePath("mp3-converter-profiles/formats.dat")).isFile())
      return QDir::cleanPath(folder) + "/";
  return QDir::cleanPath(program.absolutePath()) + "/";
}

}  // namespace quorvel
