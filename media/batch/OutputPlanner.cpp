#include "media/batch/OutputPlanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace fs = std::filesystem;

namespace quorvel {

namespace {

std::string Normal(const std::string& APath) {
  std::error_code error;
  const fs::path absolute = fs::absolute(APath, error);
  return (error ? fs::path(APath) : absolute).lexically_normal().string();
}

}  // namespace

TOutputPlanner::TOutputPlanner(std::string AFolder, TEarlierOutputs AEarlier, const std::vector<std::string>& AInputs)
    : FFolder(std::move(AFolder)), FEarlier(AEarlier) {
  for (const std::string& input : AInputs) {
    FInputs.insert(Normal(input));
    struct stat st {};
    if (::stat(input.c_str(), &st) == 0) FInputFiles.insert({st.st_dev, st.st_ino});
  }
}

TOutputPlanner::~TOutputPlanner() = default;

std::string TOutputPlanner::Title(const std::string& APath) { return fs::path(APath).stem().string(); }

bool TOutputPlanner::IsInput(const std::string& APath) const {
  if (FInputs.count(Normal(APath))) return true;
  // Another name of the same file: a link, or a folder reached twice. Looked
  // up by identity, so that a batch of n files costs n look-ups, not n².
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && FInputFiles.count({st.st_dev, st.st_ino}) > 0;
}

TOutputPlanner::TVerdict TOutputPlanner::Check(const std::string& APath) const {
  if (IsInput(APath)) return TVerdict::IsInput;
  if (FClaimed.count(Normal(APath))) return TVerdict::Taken;
  std::error_code error;
  if (fs::symlink_status(APath, error).type() != fs::file_type::not_found &&
      FEarlier == TEarlierOutputs::Keep) return TVerdict::Exists;
  return TVerdict::Free;
}

TClaimedOutput TOutputPlanner::Claim(const std::string& ATitle, const std::string& AExt) {
  const std::string plain = (fs::path(FFolder) / (ATitle + AExt)).string();
  std::string note;
  switch (Check(plain)) {
    case TVerdict::Free: break;
    case TVerdict::Exists: note = plain + " exists"; break;
    case TVerdict::IsInput: note = plain + " is an input"; break;
    case TVerdict::Taken: note = plain + " is the output of an earlier file"; break;
  }
  for (int n = 1; n < 10000; ++n) {
    const std::string path =
        n == 1 ? plain : (fs::path(FFolder) / Format("%s (%d)%s", ATitle.c_str(), n, AExt.c_str())).string();
    if (Check(path) != TVerdict::Free) continue;
    if (FEarlier == TEarlierOutputs::Replace) {
      std::error_code error;
      const auto changed = fs::last_write_time(path, error);
      if (!error) FPreexisting[path] = changed;
    }
    FClaimed.insert(Normal(path));
    return {path, note.empty() ? std::string() : note + ", writing " + path};
  }
  throw Exception(Format("%s: no free name", plain.c_str()));
}

void TOutputPlanner::Create(const std::string& APath) {
  if (FEarlier != TEarlierOutputs::Keep) return;
  const int fd = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw Exception(Format("%s: %s", APath.c_str(), std::strerror(errno)));
  ::close(fd);
  std::lock_guard<std::mutex> lock(FCreatedLock);
  FCreated.insert(APath);
}

bool TOutputPlanner::Remove(const std::string& APath) {
  std::error_code error;
  if (FEarlier == TEarlierOutputs::Keep) {
    // Only what this batch made: a file that appeared under the name since
    // the claim is someone else's.
    std::lock_guard<std::mutex> lock(FCreatedLock);
    if (!FCreated.count(APath)) return !fs::exists(fs::symlink_status(APath, error));
  }
  if (const auto old = FPreexisting.find(APath); old != FPreexisting.end()) {
    const auto changed = fs::last_write_time(APath, error);
    if (!error && changed == old->second) return false;
  }
  fs::remove(APath, error);
  // Gone, also when the conversion took away an output it never wrote to.
  return !fs::exists(fs::symlink_status(APath, error));
}

}  // namespace quorvel
