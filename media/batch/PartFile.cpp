#include "media/batch/PartFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace fs = std::filesystem;

namespace quorvel {

const char kPartSuffix[] = ".quorvel-part";

namespace {

// When this process started, near enough: the clock as the program's static
// objects are made. A part file last changed before it cannot be one this
// process is writing.
const timespec kProcessStart = [] {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}();

bool Before(const timespec& A, const timespec& B) {
  return A.tv_sec < B.tv_sec || (A.tv_sec == B.tv_sec && A.tv_nsec < B.tv_nsec);
}

std::string FolderOf(const std::string& APath) {
  const std::string folder = fs::path(APath).parent_path().string();
  return folder.empty() ? std::string(".") : folder;
}

// A rename or a new name is only durable once the folder that holds it is
// on the disk too. A file system that cannot sync a folder loses nothing by
// being asked.
void SyncFolder(const std::string& AFolder) {
  const int fd = ::open(AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool Exists(const std::string& APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0;
}

// Gives APart the name AFinal unless something has that name already.
// Returns 0 or an errno value.
int RenameNoReplace(const std::string& APart, const std::string& AFinal) {
  if (::renameat2(AT_FDCWD, APart.c_str(), AT_FDCWD, AFinal.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // The file system cannot rename without replacing: a second link is made
  // instead, which fails as well when the name is taken.
  if (::link(APart.c_str(), AFinal.c_str()) == 0) {
    ::unlink(APart.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
  // Neither (a file system without links): the name is checked just before
  // the rename, which leaves only that moment open.
  if (Exists(AFinal)) return EEXIST;
  return ::rename(APart.c_str(), AFinal.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string PartFileName(const std::string& AFinal) {
  const fs::path path(AFinal);
  return (path.parent_path() / ("." + path.filename().string() + kPartSuffix)).string();
}

TPartFile::TPartFile(std::string AFinal) : FFinal(std::move(AFinal)), FPart(PartFileName(FFinal)) {}

TPartFile::~TPartFile() { Discard(); }

void TPartFile::Create() {
  if (FFd >= 0) return;
  const int fd = ::open(FPart.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST)
      throw EPartFile(Format("%s: another conversion is writing this file (%s exists)", FFinal.c_str(), FPart.c_str()),
                      error);
    throw EPartFile(Format("%s: %s", FPart.c_str(), std::strerror(error)), error);
  }
  // Never waits: the file is new and nobody else opened it exclusively.
  ::flock(fd, LOCK_EX | LOCK_NB);
  FFd = fd;
  FPublished = false;
}

void TPartFile::Publish(bool AReplace) {
  if (FFd < 0 || FPublished) throw EPartFile(Format("%s: no part file to publish", FFinal.c_str()), ENOENT);
  if (::fsync(FFd) != 0) {
    const int error = errno;
    throw EPartFile(Format("%s: %s", FFinal.c_str(), std::strerror(error)), error);
  }
  const int error = AReplace ? (::rename(FPart.c_str(), FFinal.c_str()) == 0 ? 0 : errno)
                             : RenameNoReplace(FPart, FFinal);
  if (error != 0) throw EPartFile(Format("%s: %s", FFinal.c_str(), std::strerror(error)), error);
  FPublished = true;
  SyncFolder(FolderOf(FFinal));
  ::close(FFd);
  FFd = -1;
}

bool TPartFile::Discard() {
  if (FFd < 0) return true;
  // The name is removed while the lock is held: a clean-up in another
  // process never sees it unlocked.
  const bool gone = ::unlink(FPart.c_str()) == 0 || errno == ENOENT;
  ::close(FFd);
  FFd = -1;
  return gone;
}

std::vector<std::string> RemoveLeftoverParts(const std::string& AFolder) {
  std::vector<std::string> removed;
  DIR* dir = ::opendir(AFolder.c_str());
  if (!dir) return removed;
  const size_t suffix = std::strlen(kPartSuffix);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    // ".X" + suffix at least: the hidden part of a name of one character.
    if (name.size() < suffix + 2 || name[0] != '.' || name.compare(name.size() - suffix, suffix, kPartSuffix) != 0)
      continue;
    const std::string path = (fs::path(AFolder) / name).string();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;  // a link, or nothing we may read: not ours to judge
    struct stat st {};
    const bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                       Before(st.st_mtim, kProcessStart) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    // Removed while locked, and only if the name still leads to this file.
    struct stat now {};
    if (stale && ::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
        ::unlink(path.c_str()) == 0)
      removed.push_back(path);
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

}  // namespace quorvel
