// Output names of a batch and the rules that keep a batch from destroying
// data: without --overwrite an existing file is never replaced; in any mode
// an input is never written over and no two outputs share one path. A name
// that breaks a rule gives way to the first free "NAME (n).EXT".
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvel::cli {

struct TClaimedOutput {
  std::string Path;
  std::string Note;  // why Path is not the plain name; empty when it is
};

// Owner: the main thread (the planning happens before the run starts, and
// Release after it has ended).
class TOutputPlanner {
public:
  // AInputs: every input of the batch, also those that turn out unreadable.
  TOutputPlanner(std::string AFolder, bool AOverwrite, const std::vector<std::string>& AInputs);
  ~TOutputPlanner();
  TOutputPlanner(const TOutputPlanner&) = delete;
  TOutputPlanner& operator=(const TOutputPlanner&) = delete;

  // The output for ATitle + AExt in the folder. Without --overwrite the
  // file is created empty at once (exclusively), so that another program
  // or another quorvel-convert cannot take the same name before the
  // conversion opens it. Throws Exception when no name can be had.
  TClaimedOutput Claim(const std::string& ATitle, const std::string& AExt);
  // Removes a claimed output (a failed or stopped conversion). A file that
  // was there before (--overwrite) and that the conversion never touched
  // stays: a task stopped before it started must not cost the old file.
  void Remove(const std::string& APath);

  // The file name of APath without folder and last extension.
  static std::string Title(const std::string& APath);

private:
  enum class TVerdict { Free, Exists, IsInput, Taken };
  TVerdict Check(const std::string& APath) const;
  bool IsInput(const std::string& APath) const;

  std::string FFolder;
  bool FOverwrite;
  std::vector<std::string> FInputs;  // absolute, normalised
  std::set<std::string> FClaimed;    // absolute, normalised
  // Claimed files that existed already: their time of last change then.
  std::map<std::string, std::filesystem::file_time_type> FPreexisting;
};

}  // namespace quorvel::cli
