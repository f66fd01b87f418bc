#include "cli/SourceFiles.h"

#include <cerrno>
#include <cstring>

#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

std::string ReadAll(std::FILE* AFile) {
  std::string text;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, AFile)) > 0;) text.append(buffer, n);
  return text;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& AText, bool ANulSeparated) {
  std::vector<std::string> names;
  const char separator = ANulSeparated ? '\0' : '\n';
  size_t from = 0;
  while (from < AText.size()) {
    size_t end = AText.find(separator, from);
    if (end == std::string::npos) end = AText.size();
    std::string name = AText.substr(from, end - from);
    if (!ANulSeparated && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(std::move(name));
    from = end + 1;
  }
  return names;
}

std::string ShardName(const TFoundFile& AFile) {
  if (!AFile.Root.empty() && AFile.Path.size() > AFile.Root.size() && AFile.Path.rfind(AFile.Root, 0) == 0)
    return AFile.Path.substr(AFile.Root.size() + 1);
  return AFile.Path;
}

int ShardOf(const TFoundFile& AFile, int ACount) {
  // FNV-1a, 64 bits: fixed by definition, unlike std::hash.
  uint64_t hash = 1469598103934665603ull;
  for (const unsigned char c : ShardName(AFile)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return static_cast<int>(hash % static_cast<uint64_t>(ACount)) + 1;
}

TWalkResult GatherSources(const TCliOptions& AOptions, std::FILE* AStdin) {
  std::vector<std::string> paths = AOptions.Files;
  if (!AOptions.FilesFrom.empty()) {
    std::string text;
    if (AOptions.FilesFrom == "-") {
      text = ReadAll(AStdin);
    } else {
      std::FILE* list = std::fopen(AOptions.FilesFrom.c_str(), "rb");
      if (!list) throw EUsage(Format("--files-from %s: %s", AOptions.FilesFrom.c_str(), std::strerror(errno)));
      text = ReadAll(list);
      std::fclose(list);
    }
    for (std::string& name : SplitList(text, AOptions.NulSeparated)) paths.push_back(std::move(name));
  }
  TWalkResult result = ExpandSources(paths, AOptions.Recursive);
  if (AOptions.ShardCount > 1) {
    std::vector<TFoundFile> mine;
    for (TFoundFile& f : result.Files)
      if (ShardOf(f, AOptions.ShardCount) == AOptions.ShardIndex) mine.push_back(std::move(f));
    result.Files = std::move(mine);
  }
  return result;
}

}  // namespace quorvel::cli
