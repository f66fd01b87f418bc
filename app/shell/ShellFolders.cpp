#include "app/shell/ShellFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <memory>

#include "profiles/ShippedFiles.h"

namespace quorvel {

namespace {

QString WithSlash(const QString& APath) {
  return APath.isEmpty() || APath.endsWith(u'/') ? APath : APath + u'/';
}

// The full path of the SDL library the system search finds, found by
// loading it briefly; empty when there is none. While a player holds its
// copy, the copy answers to the library's name (it keeps SDL's SONAME):
// then the library is looked for where the search would find it.
QString SystemSdlPath() {
  struct TCloser {
    void operator()(void* AHandle) const { dlclose(AHandle); }
  };
  {
    std::unique_ptr<void, TCloser> handle(dlopen(kSdlLibraryName, RTLD_LAZY | RTLD_LOCAL));
    link_map* map = nullptr;
    if (handle && dlinfo(handle.get(), RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
      const QString path = QString::fromLocal8Bit(map->l_name);
      if (QFileInfo(path).fileName().startsWith(QLatin1String("libSDL"))) return path;
    }
  }
  QStringList folders = qEnvironmentVariable("LD_LIBRARY_PATH").split(u':', Qt::SkipEmptyParts);
  folders << "/usr/local/lib" << "/lib/x86_64-linux-gnu" << "/usr/lib/x86_64-linux-gnu" << "/lib64" << "/usr/lib64"
          << "/lib" << "/usr/lib";
  for (const QString& folder : folders) {
    const QString path = WithSlash(folder) + kSdlLibraryName;
    if (QFileInfo::exists(path)) return path;
  }
  return {};
}

// Copies ASource to ATarget through a temporary file beside the target that
// is renamed over it once complete; the copy takes the source's times, by
// which the next start recognises it as up to date.
bool CopyByRename(const QByteArray& ASource, const QByteArray& ATarget, const struct stat& ASourceStat,
                  QString& AError) {
  struct TFd {
    int Fd = -1;
    ~TFd() {
      if (Fd >= 0) ::close(Fd);
    }
  };
  TFd in;
  in.Fd = ::open(ASource.constData(), O_RDONLY | O_CLOEXEC);
  if (in.Fd < 0) {
    AError = QString::fromLocal8Bit(strerror(errno));
    return false;
  }
  QByteArray temp = ATarget + ".XXXXXX";
  TFd out;
  out.Fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out.Fd < 0) {
    AError = QString::fromLocal8Bit(strerror(errno));
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in.Fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out.Fd, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  const struct timespec times[2] = {ASourceStat.st_atim, ASourceStat.st_mtim};
  ok = ok && ::fchmod(out.Fd, 0700) == 0 && ::futimens(out.Fd, times) == 0 && ::fsync(out.Fd) == 0;
  const int closed = ::close(out.Fd);
  out.Fd = -1;
  ok = ok && closed == 0 && ::rename(temp.constData(), ATarget.constData()) == 0;
  if (!ok) {
    AError = QString::fromLocal8Bit(strerror(errno));
    ::unlink(temp.constData());
  }
  return ok;
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

bool IsPrivateFolder(const QString& APath) {
  // lstat: a link planted under the name is no folder of ours either.
  struct stat st {};
  return ::lstat(QFile::encodeName(APath).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QString PrivateTempFolder(const QString& ATempFolder, QString& AError) {
  const QString path = WithSlash(ATempFolder) + QStringLiteral("quorvel-%1/").arg(::getuid());
  // Without the final "/": with it, lstat would follow a link planted under
  // the folder's name.
  const QByteArray folder = QFile::encodeName(path.chopped(1));
  if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
    AError = QStringLiteral("Cannot create the folder %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
    return {};
  }
  if (!IsPrivateFolder(path.chopped(1))) {
    AError = QStringLiteral("The folder %1 is not a private folder of this user").arg(path);
    return {};
  }
  return path;
}

TSdlCopy PrepareSdlCopy(int APlayer, const QString& AProgramFolder, const QString& ATempFolder) {
  TSdlCopy copy;
  copy.Name = QStringLiteral("SDL_%1.so").arg(APlayer);
  copy.Folder = PrivateTempFolder(ATempFolder, copy.Error);
  if (copy.Folder.isEmpty()) {
    copy.Folder = WithSlash(ATempFolder) + QStringLiteral("quorvel-%1/").arg(::getuid());
    return copy;
  }
  QString source = WithSlash(AProgramFolder) + "LibAV/" + kSdlLibraryName;
  if (!QFileInfo::exists(source)) source = SystemSdlPath();
  struct stat from {};
  if (source.isEmpty() || ::stat(QFile::encodeName(source).constData(), &from) != 0) {
    copy.Error = QStringLiteral("No SDL library (%1) was found").arg(kSdlLibraryName);
    return copy;
  }
  const QByteArray target = QFile::encodeName(copy.Folder + copy.Name);
  struct stat to {};
  if (::lstat(target.constData(), &to) == 0 && S_ISREG(to.st_mode) && to.st_size == from.st_size &&
      to.st_mtim.tv_sec == from.st_mtim.tv_sec && to.st_mtim.tv_nsec == from.st_mtim.tv_nsec)
    return copy;
  QString error;
  if (!CopyByRename(QFile::encodeName(source), target, from, error))
    copy.Error = QStringLiteral("Cannot copy %1 to %2: %3").arg(source, copy.Folder + copy.Name, error);
  return copy;
}

}  // namespace quorvel
