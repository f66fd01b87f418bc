#include "app/shell/ShellFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <dlfcn.h>
#include <link.h>

#include <memory>

#include "profiles/ShippedFiles.h"

namespace quorvel {

namespace {

QString WithSlash(const QString& APath) {
  return APath.isEmpty() || APath.endsWith(u'/') ? APath : APath + u'/';
}

// The full path of the SDL library the system search finds, found by
// loading it briefly; empty when there is none.
QString SystemSdlPath() {
  struct TCloser {
    void operator()(void* AHandle) const { dlclose(AHandle); }
  };
  std::unique_ptr<void, TCloser> handle(dlopen(kSdlLibraryName, RTLD_LAZY | RTLD_LOCAL));
  if (!handle) return {};
  link_map* map = nullptr;
  if (dlinfo(handle.get(), RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return QString::fromLocal8Bit(map->l_name);
}

}  // namespace

QString GetShellFolder(TShellFolder AFolder) {
  const auto location =
      AFolder == TShellFolder::Documents ? QStandardPaths::DocumentsLocation : QStandardPaths::MusicLocation;
  const QString path = QStandardPaths::writableLocation(location);
  if (path.isEmpty() || !QDir().mkpath(path)) return {};
  return path;
}

QString ProgramFolder() { return ShippedFilesFolder(QCoreApplication::applicationDirPath()); }

QString SystemTempFolder() { return WithSlash(QDir::tempPath()); }

QStringList DataFolders(const QString& ADocuments) {
  // Without a documents folder the names would land in the working folder.
  if (ADocuments.isEmpty()) return {};
  const QString sabrivo = QDir(ADocuments).filePath("Sabrivo");
  const QString quorvel = QDir(sabrivo).filePath("Quorvel");
  return {sabrivo, quorvel, QDir(quorvel).filePath("Output")};
}

void CreateDataFolders(const QStringList& AFolders) {
  for (const QString& folder : AFolders)
    if (!QFileInfo(folder).isDir()) QDir().mkdir(folder);
}

QString PrepareSdlCopy(int APlayer, const QString& AProgramFolder, const QString& ATempFolder) {
  const QString name = QStringLiteral("SDL_%1.so").arg(APlayer);
  const QString target = WithSlash(ATempFolder) + name;
  if (QFileInfo::exists(target)) return name;
  QString source = WithSlash(AProgramFolder) + "LibAV/" + kSdlLibraryName;
  if (!QFileInfo::exists(source)) source = SystemSdlPath();
  if (!source.isEmpty()) QFile::copy(source, target);
  return name;
}

}  // namespace quorvel
