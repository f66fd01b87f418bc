#include "support/LibraryTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/TestPaths.h"

namespace fs = std::filesystem;

namespace quorvel::test {

namespace {

std::string Quoted(const std::string& AText) {
  std::string q = "'";
  for (const char c : AText) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// sox writes MP3 tags as ID3 Latin-1 text, byte for byte: UTF-8 given to
// it would read back garbled, so it gets Latin-1 (what these names hold).
std::string Latin1(const std::string& AText) {
  std::string out;
  for (size_t i = 0; i < AText.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    if (c == 0xC3 && i + 1 < AText.size()) {
      out += static_cast<char>(static_cast<unsigned char>(AText[++i]) + 0x40);
    } else {
      out += AText[i];
    }
  }
  return out;
}

}  // namespace

void MakeTone(const std::string& APath, const std::vector<std::string>& ATags, double ASeconds) {
  std::string command = "sox -n";
  const bool mp3 = APath.size() > 4 && APath.substr(APath.size() - 4) == ".mp3";
  for (size_t i = 0; i < ATags.size(); ++i)
    command += (i ? " --add-comment " : " --comment ") + Quoted(mp3 ? Latin1(ATags[i]) : ATags[i]);
  command += " -r 44100 -c 2 " + Quoted(APath) + " synth " + std::to_string(ASeconds) + " sine 440 vol 0.3";
  if (Run(command + " 2>/dev/null") != 0) throw std::runtime_error("sox failed: " + command);
}

TLibraryTree::TLibraryTree(const std::string& AFolder) : FRoot(AFolder + "/Library") {
  struct TAlbum {
    const char* Artist;
    const char* Album;
  };
  // Three artists of two albums each: 6 folders of 10 tracks, in the order
  // a user reads them ("É" sorts after the ASCII letters).
  const TAlbum albums[] = {
      {"Artist A", "Album: Live"}, {"Artist A", "First Album"},       {"Who? Band", "Why?"},
      {"Who? Band", "Zeta"},       {"Élodie Brûlé", "Chansons d'été"}, {"Élodie Brûlé", "Deux"},
  };
  const char* const exts[] = {".flac", ".ogg", ".mp3", ".wav"};
  int n = 0;
  for (const TAlbum& a : albums) {
    const std::string folder = FRoot + "/" + a.Artist + "/" + a.Album;
    fs::create_directories(folder);
    for (int track = 1; track <= 10; ++track, ++n) {
      const std::string ext = exts[n % 4];
      TLibraryTrack t;
      t.Artist = a.Artist;
      t.Album = a.Album;
      t.Track = track;
      t.Title = "Song " + std::to_string(track) + (track == 3 ? " ça va?" : "");
      t.Tagged = ext != ".wav";
      t.Relative = std::string(a.Artist) + "/" + a.Album + "/" + std::to_string(track) + " - " + t.Title + ext;
      t.Path = FRoot + "/" + t.Relative;
      std::vector<std::string> tags;
      if (t.Tagged)
        tags = {"ARTIST=" + t.Artist, "ALBUM=" + t.Album, "TITLE=" + t.Title, "TRACKNUMBER=" + std::to_string(track)};
      MakeTone(t.Path, tags);
      FTracks.push_back(t);
    }
  }
  // Not media, hidden, a loop and a locked folder.
  FNotMedia = FRoot + "/Artist A/notes.txt";
  std::ofstream(FNotMedia) << "liner notes\n";
  MakeTone(FRoot + "/Artist A/.hidden.wav", {});
  fs::create_directories(FRoot + "/.cache");
  MakeTone(FRoot + "/.cache/cached.wav", {});
  FLoop = FRoot + "/Who? Band/Zeta/loop";
  fs::create_directory_symlink("..", FLoop);
  FLocked = FRoot + "/Élodie Brûlé/Locked";
  fs::create_directories(FLocked);
  FLockedFile = FLocked + "/secret.wav";
  MakeTone(FLockedFile, {});
  ::chmod(FLocked.c_str(), 0);
  if (DIR* dir = ::opendir(FLocked.c_str())) {
    FLockedReadable = true;
    ::closedir(dir);
  }
}

TLibraryTree::~TLibraryTree() {
  // The next run's scratch folder must be removable.
  ::chmod(FLocked.c_str(), 0755);
}

std::vector<std::string> TLibraryTree::ExpectedFiles(bool AWithNotMedia) const {
  std::vector<std::string> files;
  for (const TLibraryTrack& t : FTracks) {
    files.push_back(t.Path);
    // "notes.txt" follows the folder "First Album" in "Artist A".
    if (AWithNotMedia && t.Album == "First Album" && t.Track == 10) files.push_back(FNotMedia);
    // "Locked" comes after "Deux" and before nothing else of that artist.
    if (FLockedReadable && t.Artist == "Élodie Brûlé" && t.Album == "Deux" && t.Track == 10)
      files.push_back(FLockedFile);
  }
  return files;
}

}  // namespace quorvel::test
