#include "media/batch/OutputPlanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// Whether AOutput was written at or after ASource's last change (to the
// nanosecond the file system keeps).
bool NewerThanSource(const std::string& AOutput, const std::string& ASource) {
  struct stat out {}, in {};
  if (ASource.empty() || ::stat(AOutput.c_str(), &out) != 0 || !S_ISREG(out.st_mode) ||
      ::stat(ASource.c_str(), &in) != 0)
    return false;
  if (out.st_mtim.tv_sec != in.st_mtim.tv_sec) return out.st_mtim.tv_sec > in.st_mtim.tv_sec;
  return out.st_mtim.tv_nsec >= in.st_mtim.tv_nsec;
}

}  // namespace

bool TOutputPlanner::PlainExists(const std::string& ATitle, const std::string& AExt) const {
  const std::string plain = (fs::path(FFolder) / (ATitle + AExt)).string();
  std::error_code error;
  // Only a file is an earlier output the user can choose to keep, replace or
  // skip; a folder in the way is never replaced, and the row fails as it is
  // queued.
  const fs::file_type type = fs::symlink_status(plain, error).type();
  return !IsInput(plain) && (type == fs::file_type::regular || type == fs::file_type::symlink);
}

void TOutputPlanner::Unclaim(const std::string& APath) {
  FClaimed.erase(Normal(APath));
  RemoveMadeFolders(APath);
}

TClaimedOutput TOutputPlanner::Claim(const std::string& ATitle, const std::string& AExt, const std::string& ASource) {
  const std::string plain = (fs::path(FFolder) / (ATitle + AExt)).string();
  if (FEarlier == TEarlierOutputs::SkipNewer && !IsInput(plain) && !FClaimed.count(Normal(plain)) &&
      NewerThanSource(plain, ASource)) {
    FClaimed.insert(Normal(plain));
    return {plain, plain + " is newer than its source", true};
  }
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
    FClaimed.insert(Normal(path));
    return {path, note.empty() ? std::string() : note + ", writing " + path, false};
  }
  throw Exception(Format("%s: no free name", plain.c_str()));
}

void TOutputPlanner::MakeFolders(const std::string& APath) {
  // Made one by one so that those this batch made are known (and only those
  // go again when the output is removed).
  const fs::path parent = fs::path(APath).parent_path();
  if (parent.empty()) return;
  std::vector<fs::path> missing;
  std::error_code error;
  for (fs::path p = parent; !p.empty() && !fs::exists(fs::symlink_status(p, error)); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST)
      throw Exception(Format("%s: %s", it->c_str(), std::strerror(errno)));
    std::lock_guard<std::mutex> lock(FFoldersLock);
    FMadeFolders.push_back(it->string());
  }
}

void TOutputPlanner::RemoveMadeFolders(const std::string& APath) {
  // The folders made for it that hold nothing now (rmdir refuses the others).
  std::lock_guard<std::mutex> lock(FFoldersLock);
  for (fs::path p = fs::path(APath).parent_path(); !p.empty(); p = p.parent_path()) {
    const auto made = std::find(FMadeFolders.begin(), FMadeFolders.end(), p.string());
    if (made == FMadeFolders.end() || ::rmdir(p.c_str()) != 0) break;
    FMadeFolders.erase(made);
  }
}

void TOutputPlanner::Create(const std::string& APath) {
  if (FEarlier == TEarlierOutputs::Keep) {
    struct stat st {};
    if (::lstat(APath.c_str(), &st) == 0) throw Exception(Format("%s: %s", APath.c_str(), std::strerror(EEXIST)));
  }
  auto part = std::make_unique<TPartFile>(APath);
  part->Create();
  std::lock_guard<std::mutex> lock(FPartsLock);
  FParts[APath] = std::move(part);
}

void TOutputPlanner::Publish(const std::string& APath) {
  std::unique_ptr<TPartFile> part;
  {
    std::lock_guard<std::mutex> lock(FPartsLock);
    const auto found = FParts.find(APath);
    if (found == FParts.end()) throw Exception(Format("%s: the conversion made no file", APath.c_str()));
    part = std::move(found->second);
    FParts.erase(found);
  }
  try {
    // A mirror replaces the older outputs it did not skip.
    part->Publish(FEarlier != TEarlierOutputs::Keep);
  } catch (...) {
    // Kept for Remove, which takes the part away.
    std::lock_guard<std::mutex> lock(FPartsLock);
    FParts[APath] = std::move(part);
    throw;
  }
}

bool TOutputPlanner::Remove(const std::string& APath) {
  std::unique_ptr<TPartFile> part;
  {
    std::lock_guard<std::mutex> lock(FPartsLock);
    const auto found = FParts.find(APath);
    if (found != FParts.end()) {
      part = std::move(found->second);
      FParts.erase(found);
    }
  }
  const bool partGone = !part || part->Discard();
  if (partGone) RemoveMadeFolders(APath);
  std::error_code error;
  return partGone && !fs::exists(fs::symlink_status(APath, error));
}

}  // namespace quorvel
