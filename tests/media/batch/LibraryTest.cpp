// Whole libraries: the walk of a folder tree (natural order, hidden entries,
// a link loop, an unreadable folder), output names from patterns (fields,
// padding, fallbacks, safe names, the POSIX choice) and the mirror policy
// of the planner (an output newer than its source stands for it).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/batch/Batch.h"
#include "media/batch/FolderWalk.h"
#include "media/batch/NamePattern.h"
#include "media/batch/SourceTags.h"
#include "media/runtime/FFLoad.h"
#include "support/LibraryTree.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Paths(const TWalkResult& AResult) {
  std::vector<std::string> paths;
  for (const TFoundFile& f : AResult.Files) paths.push_back(f.Path);
  return paths;
}

int CountProblems(const TWalkResult& AResult, const std::string& APath) {
  int n = 0;
  for (const TWalkProblem& p : AResult.Problems) n += p.Path == APath ? 1 : 0;
  return n;
}

TEST(Library, NaturalOrderReadsNumbersAsNumbers) {
  const std::pair<const char*, const char*> less[] = {
      {"track 2", "track 10"}, {"2 - b", "10 - a"}, {"a", "B"},      {"Disc 1/9", "Disc 1/10"},
      {"x07", "x8"},           {"abc", "abcd"},     {"007", "7a"},   {"Artist A", "\xC3\x89lodie"},
  };
  for (const auto& [a, b] : less) {
    SCOPED_TRACE(std::string(a) + " < " + b);
    EXPECT_TRUE(NaturalLess(a, b));
    EXPECT_FALSE(NaturalLess(b, a));
  }
}

TEST(Library, AWalkFindsEveryFileInNaturalOrderAndReportsEachProblemOnce) {
  const test::TLibraryTree tree(test::ScratchDir());
  bool asked = false;
  const TWalkResult walk = WalkFolder(tree.Root() + "/", [&] { return asked = true, false; });
  EXPECT_TRUE(asked);
  EXPECT_FALSE(walk.Cancelled);
  // Hidden entries and what only the loop reaches are not there; the text
  // file is (the decoder decides about it, not the walk).
  EXPECT_EQ(Paths(walk), tree.ExpectedFiles(true));
  for (const TFoundFile& f : walk.Files) EXPECT_EQ(f.Root, tree.Root());
  EXPECT_EQ(CountProblems(walk, tree.LoopLink()), 1);
  EXPECT_EQ(CountProblems(walk, tree.LockedFolder()), tree.LockedReadable() ? 0 : 1);
  EXPECT_EQ(walk.Problems.size(), tree.LockedReadable() ? 1u : 2u);

  // A cancel ends the walk with what it had.
  int entries = 0;
  const TWalkResult cut = WalkFolder(tree.Root(), [&] { return ++entries > 5; });
  EXPECT_TRUE(cut.Cancelled);
  EXPECT_LT(cut.Files.size(), 5u);

  // Files and folders given together: each file in its place, a folder
  // walked there, or refused without recursion.
  const std::string single = tree.Tracks()[0].Path;
  const TWalkResult mixed = ExpandSources({single, tree.Root() + "/Artist A/First Album", "/no/such.wav"}, true);
  ASSERT_EQ(mixed.Files.size(), 12u);
  EXPECT_EQ(mixed.Files[0].Path, single);
  EXPECT_EQ(mixed.Files[0].Root, "");
  EXPECT_EQ(mixed.Files[1].Root, tree.Root() + "/Artist A/First Album");
  EXPECT_EQ(mixed.Files[11].Path, "/no/such.wav");
  const TWalkResult flat = ExpandSources({tree.Root()}, false);
  EXPECT_TRUE(flat.Files.empty());
  ASSERT_EQ(flat.Problems.size(), 1u);
  EXPECT_EQ(flat.Problems[0].Reason, "is a folder");
}

// As root every folder reads, so the unreadable folder is walked by a child
// that gives its rights up first (to the "nobody" user).
TEST(Library, AnUnreadableFolderIsReportedAndTheRestWalked) {
  const test::TLibraryTree tree(test::ScratchDir());
  if (tree.LockedReadable() && ::geteuid() != 0) GTEST_SKIP() << "the folder reads and there are no rights to give up";
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeEnds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    const TWalkResult walk = WalkFolder(tree.Root());
    std::string report = std::to_string(walk.Files.size()) + "\n";
    for (const TWalkProblem& p : walk.Problems) report += p.Path + ": " + p.Reason + "\n";
    (void)!::write(pipeEnds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
  // The 60 tracks and the text file, the locked folder's file not.
  EXPECT_EQ(report.substr(0, report.find('\n')), "61");
  EXPECT_NE(report.find(tree.LockedFolder() + ": Permission denied\n"), std::string::npos) << report;
  EXPECT_NE(report.find(tree.LoopLink() + ": symbolic link loop\n"), std::string::npos) << report;
}

struct TPatternCase {
  const char* Name;
  const char* Pattern;
  bool Posix;
  const char* Expected;
};

TEST(Library, PatternsNameOutputsSafely) {
  TNameFields fields;
  fields.Tags = {{"artist", "AC/DC"},      {"album_artist", "Various"}, {"album", "Live: 1991?"},
                 {"track", "3/12"},        {"disc", "2/2"},             {"title", "Who <Made> Who"},
                 {"genre", "Rock"},        {"date", "1991-05-01"}};
  fields.Name = "03 who made who";
  fields.Folder = "Rock/AC DC";
  fields.Ext = "flac";
  const std::string longTitle(300, 'x');
  const TPatternCase cases[] = {
      {"the name alone", "{name}", false, "03 who made who"},
      {"each field", "{artist} {albumartist} {album} {track} {disc} {title} {genre} {year} {ext}", false,
       "AC_DC Various Live_ 1991_ 3 2 Who _Made_ Who Rock 1991 flac"},
      {"padding", "{track:02}-{disc:03}", false, "03-002"},
      {"a tag's slash makes no folder", "{artist}/{title}", false, "AC_DC/Who _Made_ Who"},
      {"the pattern's slash makes folders", "{genre}/{year}/{name}", false, "Rock/1991/03 who made who"},
      {"the folder keeps its folders", "{folder}/{name}", false, "Rock/AC DC/03 who made who"},
      {"a missing tag falls back", "{composer|Nobody}/{comment|{title}}", false, "Nobody/Who _Made_ Who"},
      {"a known field falls back", "{lyricist|x} {label|{genre|y}}", false, "x Rock"},
      {"empty gives the name", "{composer}", false, "03 who made who"},
      {"only folders give the name inside", "{genre}/", false, "Rock/03 who made who"},
      {"trailing dots and spaces", "{name}. . ", false, "03 who made who"},
      {"reserved names", "con/NUL.txt/Com1/lpt9 x", false, "con_/NUL_.txt/Com1_/lpt9 x"},
      {"climbing out is not possible", "../{name}/./..", false, "03 who made who"},
      {"POSIX keeps what Linux takes", "{album} {title}", true, "Live: 1991? Who <Made> Who"},
      {"POSIX still makes no folder of a tag", "{artist}", true, "AC_DC"},
  };
  for (const TPatternCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ExpandNamePattern(c.Pattern, fields, c.Posix), c.Expected);
  }
  // 255 bytes at most, cut before a character that does not fit whole.
  TNameFields longer = fields;
  longer.Name = longTitle;
  EXPECT_EQ(ExpandNamePattern("{name}", longer, false), std::string(255, 'x'));
  longer.Name = std::string(254, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(ExpandNamePattern("{name}", longer, true), std::string(254, 'a'));
  // Control characters are replaced, "\t" included.
  longer.Name = "a\tb\x01" "c";
  EXPECT_EQ(ExpandNamePattern("{name}", longer, false), "a_b_c");
  EXPECT_TRUE(PatternUsesTags(kArtistAlbumPattern));
  EXPECT_FALSE(PatternUsesTags(kMirrorPattern));
}

TEST(Library, PathFieldsPlaceASourceBeneathItsRoot) {
  EXPECT_EQ(PathFields("/m/lib/A/B/x.flac", "/m/lib/").Folder, "A/B");
  EXPECT_EQ(PathFields("/m/lib/x.flac", "/m/lib").Folder, "");
  EXPECT_EQ(PathFields("/m/lib/x.flac", "").Folder, "");
  EXPECT_EQ(PathFields("/m/lib/x.tar.flac", "").Name, "x.tar");
  EXPECT_EQ(PathFields("/m/lib/x.tar.flac", "").Ext, "flac");
}

// The tags sox wrote, read as the patterns read them (also from Ogg, where
// they belong to the stream).
TEST(Library, TheTreesTagsNameItsOutputs) {
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  const test::TLibraryTree tree(test::ScratchDir());
  int tagged = 0;
  for (const test::TLibraryTrack& t : tree.Tracks()) {
    SCOPED_TRACE(t.Relative);
    TNameFields fields = PathFields(t.Path, tree.Root());
    fields.Tags = ReadSourceTags(t.Path);
    const std::string name = ExpandNamePattern(kArtistAlbumPattern, fields, false);
    if (t.Tagged) {
      ++tagged;
      EXPECT_EQ(name, SafeNameComponent(t.Artist, false) + "/" + SafeNameComponent(t.Album, false) + "/" +
                          (t.Track < 10 ? "0" : "") + std::to_string(t.Track) + " " + SafeNameComponent(t.Title, false));
    } else {
      EXPECT_EQ(name, "Unknown Artist/Unknown Album/" + SafeNameComponent(fields.Name, false));
    }
  }
  EXPECT_EQ(tagged, 45);
}

void Touch(const std::string& APath, int ASecondsAgo) {
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(APath, now - std::chrono::seconds(ASecondsAgo));
}

TEST(Library, TheMirrorPolicySkipsNewerOutputsAndReplacesOlderOnes) {
  const std::string dir = test::ScratchDir(), out = dir + "/out";
  fs::create_directories(out + "/A");
  for (const char* name : {"/a.wav", "/b.wav", "/c.wav"}) std::ofstream(dir + name) << "source";
  std::ofstream(out + "/A/a.mp3") << "earlier a";
  std::ofstream(out + "/A/b.mp3") << "earlier b";
  Touch(dir + "/a.wav", 100);
  Touch(out + "/A/a.mp3", 50);   // newer than its source: stands for it
  Touch(out + "/A/b.mp3", 200);  // older: converted again
  TOutputPlanner planner(out, TEarlierOutputs::SkipNewer, {dir + "/a.wav", dir + "/b.wav", dir + "/c.wav"});
  EXPECT_TRUE(planner.PlainExists("A/a", ".mp3"));
  EXPECT_FALSE(planner.PlainExists("A/c", ".mp3"));
  const TClaimedOutput a = planner.Claim("A/a", ".mp3", dir + "/a.wav");
  EXPECT_TRUE(a.Skip);
  EXPECT_EQ(a.Path, out + "/A/a.mp3");
  // A second source of the same name does not take the skipped one's file.
  const TClaimedOutput a2 = planner.Claim("A/a", ".mp3", dir + "/c.wav");
  EXPECT_FALSE(a2.Skip);
  EXPECT_EQ(a2.Path, out + "/A/a (2).mp3");
  const TClaimedOutput b = planner.Claim("A/b", ".mp3", dir + "/b.wav");
  EXPECT_FALSE(b.Skip);
  EXPECT_EQ(b.Path, out + "/A/b.mp3");
  // A name in folders that do not exist: made as it is queued, and taken
  // away with the output when it does not finish.
  const TClaimedOutput deep = planner.Claim("X/Y/c", ".mp3", dir + "/c.wav");
  EXPECT_FALSE(fs::exists(out + "/X"));
  planner.MakeFolders(deep.Path);
  EXPECT_TRUE(fs::is_directory(out + "/X/Y"));
  // The conversion writes its part file; a stopped one leaves it half done.
  planner.Create(deep.Path);
  std::ofstream(TOutputPlanner::WritePath(deep.Path)) << "half";
  EXPECT_TRUE(planner.Remove(deep.Path));
  EXPECT_FALSE(fs::exists(out + "/X"));
  // A failed row's claim is given back.
  planner.Unclaim(a2.Path);
  EXPECT_EQ(planner.Claim("A/a", ".mp3", dir + "/c.wav").Path, out + "/A/a (2).mp3");
  // The replaced earlier file the conversion never touched stays.
  EXPECT_FALSE(planner.Remove(b.Path));
  EXPECT_TRUE(fs::exists(b.Path));
}

}  // namespace
}  // namespace quorvel
