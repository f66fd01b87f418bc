#include "media/batch/FolderWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace quorvel {

namespace {

bool IsDigit(char C) { return C >= '0' && C <= '9'; }
char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

// -1, 0, 1 for the natural order of two names.
int NaturalCompare(const std::string& A, const std::string& B) {
  size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    if (IsDigit(A[i]) && IsDigit(B[j])) {
      // Leading zeros do not change the value; the longer run of
      // significant digits is the larger number.
      size_t a0 = i, b0 = j;
      while (a0 < A.size() && A[a0] == '0') ++a0;
      while (b0 < B.size() && B[b0] == '0') ++b0;
      size_t a1 = a0, b1 = b0;
      while (a1 < A.size() && IsDigit(A[a1])) ++a1;
      while (b1 < B.size() && IsDigit(B[b1])) ++b1;
      if (a1 - a0 != b1 - b0) return a1 - a0 < b1 - b0 ? -1 : 1;
      if (const int c = A.compare(a0, a1 - a0, B, b0, b1 - b0); c != 0) return c < 0 ? -1 : 1;
      i = a1;
      j = b1;
      continue;
    }
    const char a = Lower(A[i]), b = Lower(B[j]);
    if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < A.size()) return 1;
  if (j < B.size()) return -1;
  return 0;
}

using TFolderId = std::pair<dev_t, ino_t>;

class TWalker {
public:
  TWalker(std::string ARoot, const std::function<bool()>& ACancelled, TWalkResult& AResult)
      : FRoot(std::move(ARoot)), FCancelled(ACancelled), FResult(AResult) {}

  void Walk(const std::string& AFolder, const struct stat& AInfo) {
    if (Stop()) return;
    const TFolderId id{AInfo.st_dev, AInfo.st_ino};
    if (FOpen.count(id)) {
      // A link to a folder that holds it: following it would never end.
      Problem(AFolder, "symbolic link loop");
      return;
    }
    // A folder reached twice through links (not a loop) is walked once.
    if (!FSeen.insert(id).second) return;
    DIR* dir = ::opendir(AFolder.c_str());
    if (!dir) {
      Problem(AFolder, std::strerror(errno));
      return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
      // Hidden entries, "." and ".." among them, are the system's or the
      // user's own business, not music.
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) Problem(AFolder, std::strerror(readError));
    std::sort(names.begin(), names.end(), NaturalLess);
    FOpen.insert(id);
    for (const std::string& name : names) {
      if (Stop()) break;
      const std::string path = AFolder.back() == '/' ? AFolder + name : AFolder + "/" + name;
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) {
        // A dangling link, or an entry that went meanwhile.
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
          Problem(path, errno == ELOOP ? "symbolic link loop" : std::strerror(errno));
        continue;
      }
      if (S_ISDIR(st.st_mode))
        Walk(path, st);
      else if (S_ISREG(st.st_mode))
        FResult.Files.push_back({path, FRoot});
    }
    FOpen.erase(id);
  }

private:
  bool Stop() {
    if (!FResult.Cancelled && FCancelled && FCancelled()) FResult.Cancelled = true;
    return FResult.Cancelled;
  }
  void Problem(const std::string& APath, const std::string& AReason) {
    if (FReported.insert(APath).second) FResult.Problems.push_back({APath, AReason});
  }

  const std::string FRoot;
  const std::function<bool()>& FCancelled;
  TWalkResult& FResult;
  std::set<TFolderId> FOpen;  // the folders between the root and here
  std::set<TFolderId> FSeen;  // every folder walked
  std::set<std::string> FReported;
};

void WalkInto(const std::string& ARoot, const std::function<bool()>& ACancelled, TWalkResult& AResult) {
  std::string root = ARoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0) {
    AResult.Problems.push_back({root, std::strerror(errno)});
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    AResult.Problems.push_back({root, std::strerror(ENOTDIR)});
    return;
  }
  TWalker(root, ACancelled, AResult).Walk(root, st);
}

}  // namespace

bool NaturalLess(const std::string& A, const std::string& B) {
  const int c = NaturalCompare(A, B);
  return c != 0 ? c < 0 : A < B;
}

TWalkResult WalkFolder(const std::string& ARoot, const std::function<bool()>& ACancelled) {
  TWalkResult result;
  WalkInto(ARoot, ACancelled, result);
  return result;
}

TWalkResult ExpandSources(const std::vector<std::string>& APaths, bool ARecursive,
                          const std::function<bool()>& ACancelled) {
  TWalkResult result;
  for (const std::string& path : APaths) {
    if (ACancelled && ACancelled()) {
      result.Cancelled = true;
      break;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (ARecursive)
        WalkInto(path, ACancelled, result);
      else
        result.Problems.push_back({path, "is a folder"});
      if (result.Cancelled) break;
      continue;
    }
    // Files, and names that do not exist: whoever opens them says why not.
    result.Files.push_back({path, std::string()});
  }
  return result;
}

}  // namespace quorvel
