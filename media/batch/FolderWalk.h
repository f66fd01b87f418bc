// The files beneath folders, as both programs add them: every regular file
// under a folder, recursively, in natural order ("track 2" before
// "track 10"), without hidden entries (a name starting with "."). A folder
// that cannot be read, or a symbolic link that leads back into a folder
// being walked (a loop), is reported once and the walk goes on with the
// rest. Each file keeps the folder it was found from, so that its place
// beneath that root can name its output.
//
// Threads: a walk belongs to the thread that calls it; ACancelled is asked
// between entries and may be set from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvel {

struct TFoundFile {
  std::string Path;  // as found: the root given, then the names beneath it
  std::string Root;  // the folder it was found from; empty for a file given itself
};

struct TWalkProblem {
  std::string Path;
  std::string Reason;  // "Permission denied", "symbolic link loop", ...
};

struct TWalkResult {
  std::vector<TFoundFile> Files;
  std::vector<TWalkProblem> Problems;
  bool Cancelled = false;
};

// Natural order of names: runs of digits compare by their value, the rest
// without regard to letter case (ASCII); ties fall back to the bytes.
bool NaturalLess(const std::string& A, const std::string& B);

// The files beneath ARoot (which must be a folder) in natural order of their
// paths, component by component. Links to files are taken; links to
// folders are followed unless they lead back into the walk.
TWalkResult WalkFolder(const std::string& ARoot, const std::function<bool()>& ACancelled = {});

// What to make of a list of paths given by a user: files stay as they are,
// in the order given (their Root empty); a folder is walked in its place when
// ARecursive is set, otherwise it becomes a problem ("is a folder") so the
// caller can refuse it as it always did.
TWalkResult ExpandSources(const std::vector<std::string>& APaths, bool ARecursive,
                          const std::function<bool()>& ACancelled = {});

}  // namespace quorvel
