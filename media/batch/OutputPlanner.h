// Output names of a batch and the rules that keep a batch from destroying
// data: an input is never written over and no two outputs share one path;
// a file left by an earlier run is kept or replaced as the caller chooses
// (the command line keeps it unless told to overwrite; the window replaces
// it). A name that breaks a rule gives way to the first free
// "NAME (n).EXT", with a note that says why. An output is written under a
// part file's name and only published under its own once complete
// (PartFile.h): a file under a planned name is either whole or not ours.
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
  bool IsInput(const std::string& APath) const;

  std::string FFolder;
  TEarlierOutputs FEarlier;
  std::set<std::string> FInputs;  // absolute, normalised
  std::set<std::pair<dev_t, ino_t>> FInputFiles;  // the inputs that exist, by identity
  std::set<std::string> FClaimed;    // absolute, normalised
  // The part files of the conversions that started, by output path.
  std::mutex FPartsLock;
  std::map<std::string, std::unique_ptr<TPartFile>> FParts;  // FPartsLock
};

}  // namespace quorvel
