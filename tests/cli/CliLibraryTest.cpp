// quorvel-convert over a whole library tree made at test time: folders
// walked with -r (the tree's media, nothing hidden, the loop not followed),
// a mirror run that converts nothing the second time and exactly the
// touched source the third, --delete-extra, --shard and --json.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "media/runtime/FFLoad.h"
#include "support/DecodeBack.h"
#include "support/LibraryTree.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

int Count(const std::string& AText, const std::string& AWhat) {
  int n = 0;
  for (size_t at = AText.find(AWhat); at != std::string::npos; at = AText.find(AWhat, at + 1)) ++n;
  return n;
}

std::set<std::string> Outputs(const std::string& AFolder) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(AFolder))
    if (e.is_regular_file()) files.insert(fs::relative(e.path(), AFolder).string());
  return files;
}

TEST(CliLibrary, AMirrorOfATreeConvertsOnlyWhatChanged) {
  const std::string dir = ScratchDir();
  const TLibraryTree tree(dir);
  const size_t media = tree.ExpectedFiles().size();  // 60, or 61 when the locked folder reads
  const std::vector<std::string> mirror = {"-p", "mp3", "-r", "--existing", "skip", "-o", "out", "--json", tree.Root()};

  // Without -r a folder is refused with a clear line.
  const TCliRun flat = RunConvert(dir, {"-p", "mp3", "-o", "flat", tree.Root()});
  EXPECT_EQ(flat.Status, 1);
  EXPECT_NE(flat.Err.find("is a folder (--recursive"), std::string::npos) << flat.Err;

  const TCliRun first = RunConvert(dir, mirror);
  // The text file fails (not media); the locked folder when it is locked.
  EXPECT_EQ(first.Status, 1) << first.Err;
  EXPECT_EQ(Count(first.Out, "\"status\": \"done\""), static_cast<int>(media)) << first.Out << first.Err;
  EXPECT_EQ(Count(first.Out, "\"status\": \"failed\""), tree.LockedReadable() ? 1 : 2) << first.Out;
  EXPECT_EQ(Count(first.Err, "symbolic link loop"), 1) << first.Err;
  const std::set<std::string> outputs = Outputs(dir + "/out");
  EXPECT_EQ(outputs.size(), media);
  // The tree is kept, with names safe on FAT/NTFS.
  EXPECT_TRUE(outputs.count("Artist A/Album_ Live/10 - Song 10.mp3"));
  EXPECT_TRUE(outputs.count("Who_ Band/Why_/3 - Song 3 ça va_.mp3"));

  const TCliRun second = RunConvert(dir, mirror);
  EXPECT_EQ(Count(second.Out, "\"status\": \"done\""), 0) << second.Out;
  EXPECT_EQ(Count(second.Out, "\"status\": \"skipped\""), static_cast<int>(media)) << second.Out;

  // One source touched: exactly that one again.
  fs::last_write_time(tree.Tracks()[7].Path, fs::file_time_type::clock::now() + std::chrono::seconds(5));
  const TCliRun third = RunConvert(dir, mirror);
  EXPECT_EQ(Count(third.Out, "\"status\": \"done\""), 1) << third.Out;
  EXPECT_NE(third.Out.find("\"source\": \"" + tree.Tracks()[7].Path + "\", \"output\": \"out/" +
                           "Artist A/Album_ Live/8 - Song 8.mp3\", \"status\": \"done\""),
            std::string::npos)
      << third.Out;

  // An orphan of the profile's type is listed, and removed only when asked;
  // a file of another type is never touched.
  fs::copy_file(dir + "/out/Artist A/Album_ Live/1 - Song 1.mp3", dir + "/out/orphan.mp3");
  std::ofstream(dir + "/out/mine.txt") << "mine";
  std::vector<std::string> extra = mirror;
  extra.push_back("--delete-extra");
  const TCliRun listed = RunConvert(dir, extra);
  EXPECT_NE(listed.Err.find("extra: out/orphan.mp3"), std::string::npos) << listed.Err;
  EXPECT_TRUE(fs::exists(dir + "/out/orphan.mp3"));
  extra.push_back("--yes");
  const TCliRun removed = RunConvert(dir, extra);
  EXPECT_NE(removed.Err.find("removed: out/orphan.mp3"), std::string::npos) << removed.Err;
  EXPECT_FALSE(fs::exists(dir + "/out/orphan.mp3"));
  EXPECT_TRUE(fs::exists(dir + "/out/mine.txt"));
  EXPECT_EQ(Outputs(dir + "/out").size(), media + 1);
}

TEST(CliLibrary, ShardsOfAListAreDisjointAndTogetherTheWholeList) {
  const std::string dir = ScratchDir();
  const TLibraryTree tree(dir);
  std::ofstream list(dir + "/list.txt", std::ios::binary);
  for (const TLibraryTrack& t : tree.Tracks()) list << t.Path << '\0';
  list.close();
  std::multiset<std::string> seen;
  for (int k = 1; k <= 3; ++k) {
    const TCliRun run = RunConvert(dir, {"-p", "wav", "--files-from", "list.txt", "-0", "--json", "--shard",
                                         std::to_string(k) + "/3", "-o", "s" + std::to_string(k)});
    EXPECT_EQ(run.Status, 0) << run.Err;
    for (const TLibraryTrack& t : tree.Tracks())
      if (run.Out.find("\"source\": \"" + t.Path + "\"") != std::string::npos) seen.insert(t.Path);
    EXPECT_GT(Count(run.Out, "\"status\": \"done\""), 5) << "a shard of 60 files holds about 20";
  }
  EXPECT_EQ(seen.size(), tree.Tracks().size());
  for (const TLibraryTrack& t : tree.Tracks()) EXPECT_EQ(seen.count(t.Path), 1u) << t.Path;
}

// The README's GNU Parallel recipe with two local "machines" (two job slots
// on this one, "--sshlogin 2/:"): each worker converts its shard of the
// tree, and together they convert every media file exactly once; a rerun
// of the same recipe converts nothing again.
TEST(CliLibrary, TheGnuParallelRecipeConvertsTheTreeOnceWithTwoWorkers) {
  if (test::Run("command -v parallel >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "GNU Parallel is missing: scripts/setup installs the Debian package \"parallel\"";
  const std::string dir = ScratchDir();
  const TLibraryTree tree(dir);
  const std::vector<std::string> media = tree.ExpectedFiles();
  const std::string recipe = "cd " + Quote(dir) + " && seq 1 2 | parallel --sshlogin 2/: " + Quote(QUORVEL_CONVERT) +
                             " -r -p mp3 --existing skip --json --shard {}/2 -o mirror Library"
                             " >results.json 2>errors.txt";
  // The text file beside the tracks fails in its shard: one job of two fails.
  EXPECT_EQ(test::Run(recipe), 1) << TextOf(dir + "/errors.txt");
  const std::string results = TextOf(dir + "/results.json");
  EXPECT_EQ(Count(results, "\"status\": \"done\""), static_cast<int>(media.size())) << results;
  for (const std::string& file : media) {
    const std::string relative = fs::relative(file, dir).string();
    EXPECT_EQ(Count(results, "\"source\": \"" + relative + "\""), 1) << relative << "\n" << results;
  }
  EXPECT_EQ(Count(results, "\"status\": \"failed\""), 1) << results;
  EXPECT_EQ(Outputs(dir + "/mirror").size(), media.size());
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const TDecodedAudio output = DecodeAudio(dir + "/mirror/Artist A/Album_ Live/10 - Song 10.mp3");
  EXPECT_EQ(output.CodecId, AV_CODEC_ID_MP3);
  EXPECT_NEAR(output.Seconds, 0.2, 0.06);

  // Run again (after a failure, say): every output stands and is newer.
  EXPECT_EQ(test::Run(recipe), 1) << TextOf(dir + "/errors.txt");
  const std::string again = TextOf(dir + "/results.json");
  EXPECT_EQ(Count(again, "\"status\": \"done\""), 0) << again;
  EXPECT_EQ(Count(again, "\"status\": \"skipped\""), static_cast<int>(media.size())) << again;
}

}  // namespace
}  // namespace quorvel::test
