// Output names of a batch and the rules that keep a batch from destroying
// data: an input is never written over and no two outputs share one path;
// a file left by an earlier run is kept, replaced, or left alone when it is
// newer than its source (a mirror: the source is not converted again), as
// the caller chooses (the command line keeps it unless told otherwise; the
// window asks). A name that breaks a rule gives way to the first free
// "NAME (n).EXT", with a note that says why. A name may hold folders
// ("Artist/Album/01 Title"): they are made beneath the output folder when
// the output is queued, and those left empty by a removed output go again.
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
// SkipNewer: an output newer than its source stands for it (nothing is
// converted); an older one is replaced.
enum class TEarlierOutputs { Keep, Replace, SkipNewer };

struct TClaimedOutput {
  std::string Path;
  std::string Note;  // why Path is not the plain name; empty when it is
  // SkipNewer: Path is an earlier output newer than the source; it is
  // reserved (no other source takes it) but must not be written.
  bool Skip = false;
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

  // The output for ATitle + AExt in the folder (ATitle may hold folders,
  // "/"-separated, never "." or ".."), reserved in this batch; no file or
  // folder is made yet, so a task that never starts leaves nothing behind.
  // ASource: the input the output is made from (SkipNewer compares their
  // times). Throws Exception when no name can be had.
  TClaimedOutput Claim(const std::string& ATitle, const std::string& AExt, const std::string& ASource = {});
  // Gives a claim back (its row was not queued after all): the name is free
  // for the rows after it, as it was before the claim, and the folders made
  // for it go again.
  void Unclaim(const std::string& APath);
  // Makes the folders a claimed name holds (the task manager checks an
  // output's folder when it is queued). Remove and Unclaim take away those
  // it made that are left empty. Throws Exception when one cannot be made.
  void MakeFolders(const std::string& APath);
  // Whether the plain name ATitle + AExt stands in the folder already (a
  // file of an earlier run, or the user's own): what the window asks about.
  bool PlainExists(const std::string& ATitle, const std::string& AExt) const;
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
  void RemoveMadeFolders(const std::string& APath);
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
  // The folders Create made, deepest last: Remove takes those it left empty.
  std::vector<std::string> FMadeFolders;  // FCreatedLock
};

}  // namespace quorvel
