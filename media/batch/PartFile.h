// An output is made under a hidden temporary name in its own folder
// (".NAME.quorvel-part", a name no planner or pattern produces) and appears
// under its final name only once it is complete: its trailer written, its
// bytes on the disk, any check passed. A process killed or a machine that
// loses power at any moment therefore leaves no file under a final name that
// is not whole; what it leaves is a part file, which the next run that writes
// into that folder removes (RemoveLeftoverParts).
#pragma once

#include <string>
#include <vector>

#include "media/runtime/Exception.h"

namespace quorvel {

// A part file that could not be made or published, with the system's
// reason (errno), so that a full disk can be told apart.
class EPartFile : public Exception {
public:
  EPartFile(const std::string& AMessage, int ACode) : Exception(AMessage), Code(ACode) {}
  int Code;
};

extern const char kPartSuffix[];  // ".quorvel-part"

// The temporary name an output AFinal is made under: same folder.
std::string PartFileName(const std::string& AFinal);

// One output's part file. Owner: the batch's planner, under its lock.
class TPartFile {
public:
  explicit TPartFile(std::string AFinal);
  ~TPartFile();  // a part never published is removed
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  // Creates the part file exclusively and holds a lock on it for as long as
  // this object lives: a later run's clean-up leaves a locked part alone (its
  // conversion is alive), and the lock goes with the process however it
  // ends. Throws EPartFile ("PATH: reason").
  void Create();
  const std::string& Path() const { return FPart; }
  const std::string& Final() const { return FFinal; }

  // Puts the part's bytes on the disk and renames it to its final name.
  // AReplace: a file under the final name is replaced; otherwise such a file
  // (also one another program made a moment ago) is never touched and the
  // publication fails with "FINAL: File exists". Throws EPartFile; the part
  // stays for Discard.
  void Publish(bool AReplace);
  // Removes the part unless it was published; returns whether no part of
  // this object's is left.
  bool Discard();

private:
  std::string FFinal;
  std::string FPart;
  int FFd = -1;  // open and locked while the part is ours
  bool FPublished = false;
};

// Removes the part files ".*.quorvel-part" in AFolder that a run killed
// before this process started left behind: only regular files of that exact
// pattern, last changed before this process started, that no living
// conversion holds locked. Returns their paths.
std::vector<std::string> RemoveLeftoverParts(const std::string& AFolder);

}  // namespace quorvel
