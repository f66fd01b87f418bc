// A small music library made at test time, the kind of tree users add
// whole: three levels (artist / album / track), 60 files in WAV, FLAC, Ogg
// and MP3 made with sox (tags in the three formats that keep them, none in
// WAV), names with spaces, accents, ":" and "?", track numbers unpadded so
// that natural order matters ("2 - ..." before "10 - ..."); beside them a
// text file (not media), a hidden file and a hidden folder of media, a
// symbolic link that loops back to its parent, and a folder that cannot be
// read.
//
// Run as root, the unreadable folder reads all the same (root passes file
// permissions): LockedReadable() says which it is, and the tests expect
// accordingly.
#pragma once

#include <string>
#include <vector>

namespace quorvel::test {

struct TLibraryTrack {
  std::string Path;  // absolute
  std::string Relative;  // beneath the root, e.g. "Artist A/Album: Live/2 - Two.flac"
  std::string Artist, Album, Title;
  int Track = 0;
  bool Tagged = false;  // WAV files carry no tags
};

class TLibraryTree {
public:
  // Makes the tree in AFolder/"Library" (AFolder must exist).
  explicit TLibraryTree(const std::string& AFolder);
  ~TLibraryTree();
  TLibraryTree(const TLibraryTree&) = delete;
  TLibraryTree& operator=(const TLibraryTree&) = delete;

  const std::string& Root() const { return FRoot; }
  // The 60 media files in natural order of their paths.
  const std::vector<TLibraryTrack>& Tracks() const { return FTracks; }
  // The folder that cannot be read, its media file, and whether this
  // process reads it all the same.
  const std::string& LockedFolder() const { return FLocked; }
  const std::string& LockedFile() const { return FLockedFile; }
  bool LockedReadable() const { return FLockedReadable; }
  const std::string& LoopLink() const { return FLoop; }
  const std::string& NotMedia() const { return FNotMedia; }
  // What a walk of the root finds, in order: the tracks, the locked
  // folder's file when this process reads it, and with AWithNotMedia the
  // text file.
  std::vector<std::string> ExpectedFiles(bool AWithNotMedia = false) const;

private:
  std::string FRoot, FLocked, FLockedFile, FLoop, FNotMedia;
  bool FLockedReadable = false;
  std::vector<TLibraryTrack> FTracks;
};

// Makes a short tone with sox; ATags are "KEY=value" comments.
void MakeTone(const std::string& APath, const std::vector<std::string>& ATags, double ASeconds = 0.2);

}  // namespace quorvel::test
