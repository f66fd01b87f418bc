// Output names of a batch and the rules that keep a batch from destroying
// data: an input is never written over and no two outputs share one path;
// a file left by an earlier run is kept or replaced as the caller chooses
// (the command line keeps it unless told to overwrite; the window replaces
// it). A name that breaks a rule gives way to the first free
// "NAME (n).EXT", with a note that says why.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

// What happens to a file that is in the way but belongs to no batch.
enum class TEarlierOutputs { Keep, Replace };

struct TClaimedOutput {
  std::string Path;
  std::string Note;  // why Path is not the plain name; empty when it is
};

// Owner: the thread that plans the batch (planning happens before the run
// starts, and Remove after it has ended); Create comes from the threads
// that start the tasks.
class TOutputPlanner {
public:
  // AInputs: every input of the batch, also those that turn out unreadable.
  TOutputPlanner(std::string AFolder, TEarlierOutputs AEarlier, const std::vector<std::string>& AInputs);
  ~TOutputPlanner();
  TOutputPlanner(const TOutputPlanner&) = delete;
  TOutputPlanner& operator=(const TOutputPlanner&) = delete;

  // The output for ATitle + AExt in the folder, reserved in this batch; no
  // file is made yet, so a task that never starts leaves nothing behind.
  // Throws Exception when no name can be had.
  TClaimedOutput Claim(const std::string& ATitle, const std::string& AExt);
  // Called as the conversion that writes a claimed output starts (any
  // thread). When earlier files are kept the file is created empty here,
  // exclusively, so that another program or another run that took the name
  // since the claim is never written over: that throws Exception
  // ("PATH: File exists") and the task fails instead.
  void Create(const std::string& APath);
  // Removes a claimed output (a failed, stopped or never-started
  // conversion); returns whether it is gone. A file that was there before
  // (replaced) and that the conversion never touched stays: a task stopped
  // before it started must not cost the old file.
  bool Remove(const std::string& APath);

  // The file name of APath without folder and last extension.
  static std::string Title(const std::string& APath);

private:
  enum class TVerdict { Free, Exists, IsInput, Taken };
  TVerdict Check(const std::string& APath) const;
  bool IsInput(const std::string& APath) const;

  std::string FFolder;
  TEarlierOutputs FEarlier;
  std::set<std::string> FInputs;  // absolute, normalised
  std::set<std::pair<dev_t, ino_t>> FInputFiles;  // the inputs that exist, by identity
  std::set<std::string> FClaimed;    // absolute, normalised
  // Claimed files that existed already: their time of last change then.
  std::map<std::string, std::filesystem::file_time_type> FPreexisting;
  // Kept-policy outputs created by Create: the only ones Remove may take
  // away under that policy.
  std::mutex FCreatedLock;
  std::set<std::string> FCreated;  // FCreatedLock
};

}  // namespace quorvel
