// Output names of a batch and the rules that keep a batch from destroying
// data: an input is never written over and no two outputs share one path;
// a file left by an earlier run is kept, replaced, or left alone when it is
// newer than its source (a mirror: the source is not converted again), as
// the caller chooses (the command line keeps it unless told otherwise; the
// window asks). A name that breaks a rule gives way to the first free
// "NAME (n).EXT", with a note that says why. A name may hold folders
// ("Artist/Album/01 Title"): they are made beneath the output folder when
// the output is queued, and those left empty by a removed output go again.
// An output is written under a part file's name and only published under
// its own once complete (PartFile.h): a file under a planned name is either
// whole or not ours.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "media/batch/PartFile.h"

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
  // Whether a file stands under the plain name ATitle + AExt already (an
  // earlier run's, or the user's own): what the window asks about.
  bool PlainExists(const std::string& ATitle, const std::string& AExt) const;
  // Where the conversion of a claimed output writes its bytes: its part
  // file, in the same folder.
  static std::string WritePath(const std::string& APath) { return PartFileName(APath); }
  // Called as the conversion that writes a claimed output starts (any
  // thread): its part file is created, exclusively. When earlier files are
  // kept, a file that another program or another run made under the name
  // since the claim fails the task here ("PATH: File exists") and is never
  // written over.
  void Create(const std::string& APath);
  // Publishes a finished output under its name (any thread): its part file
  // is put on the disk and renamed. When earlier files are kept a file that
  // appeared under the name meanwhile stays and this throws Exception
  // ("PATH: File exists"); when they are replaced, it is replaced.
  void Publish(const std::string& APath);
  // Removes the part file of a claimed output (a failed, stopped or
  // never-started conversion); returns whether nothing of the batch is left
  // under its name. A file under the final name is never taken away: the
  // batch only ever published whole outputs there, and one it did not
  // publish is someone else's (or an earlier run's, replaced only by a
  // finished conversion).
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
  // The part files of the conversions that started, by output path.
  std::mutex FPartsLock;
  std::map<std::string, std::unique_ptr<TPartFile>> FParts;  // FPartsLock
  // The folders MakeFolders made, deepest last: Remove and Unclaim take
  // those they leave empty.
  std::mutex FFoldersLock;
  std::vector<std::string> FMadeFolders;  // FFoldersLock
};

}  // namespace quorvel
