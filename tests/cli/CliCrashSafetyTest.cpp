// quorvel-convert when the process dies or the disk fills: a file under an
// output's name is always whole (it is written under a part file's name and
// renamed once complete), the next run removes what a killed one left, and a
// full folder fails the file that met it, plainly, and the files that would
// have been written there next.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>
#include <vector>

#include "CliTestSupport.h"
#include "media/runtime/FFLoad.h"
#include "support/DecodeBack.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::Quote;

#define EXPECT_CONTAINS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

// A 440 Hz tone of ASeconds, 16-bit stereo 44.1 kHz, made by sox.
std::string Tone(const std::string& APath, double ASeconds) {
  const std::string cmd = "sox -n -r 44100 -c 2 -b 16 " + Quote(APath) + " synth " + std::to_string(ASeconds) +
                          " sine 440 vol 0.5";
  EXPECT_EQ(test::Run(cmd), 0) << cmd;
  return APath;
}

std::vector<std::string> PartFiles(const std::string& AFolder) {
  std::vector<std::string> parts;
  for (const auto& e : fs::directory_iterator(AFolder)) {
    const std::string name = e.path().filename().string();
    if (name.size() > 13 && name.compare(name.size() - 13, 13, ".quorvel-part") == 0) parts.push_back(e.path().string());
  }
  return parts;
}

size_t Count(const std::string& AText, const std::string& APart) {
  size_t n = 0;
  for (size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1)) ++n;
  return n;
}

class CliCrashSafetyTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
    dir = test::ScratchDir();
    out = dir + "/out";
    fs::create_directory(out);
  }
  // quorvel-convert started in the scratch folder, its output in
  // stdout.txt and stderr.txt.
  pid_t Start(const std::vector<std::string>& AArgs) {
    // What this process has buffered is not the child's to print.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      std::vector<char*> argv{const_cast<char*>(QUORVEL_CONVERT)};
      for (const std::string& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      if (chdir(dir.c_str()) != 0 || !freopen((dir + "/stdout.txt").c_str(), "w", stdout) ||
          !freopen((dir + "/stderr.txt").c_str(), "w", stderr))
        _exit(99);
      execv(QUORVEL_CONVERT, argv.data());
      _exit(98);
    }
    return child;
  }
  // Runs a shell command line in the scratch folder; its status.
  int Shell(const std::string& ALine) { return test::Run("cd " + Quote(dir) + " && bash -c " + Quote(ALine)); }

  std::string dir, out;
};

// A batch of long conversions in every profile family killed with SIGKILL at
// ten moments drawn from a fixed seed over the length of an uninterrupted
// run: whatever has an output's name decodes to its full length, and the
// next run into the folder removes the part files and says so.
TEST_F(CliCrashSafetyTest, KilledAtTenMomentsLeavesOnlyWholeOutputs) {
  constexpr double kSeconds = 90;
  const std::vector<std::string> sources = {Tone(dir + "/a.wav", kSeconds), Tone(dir + "/b.wav", kSeconds),
                                            Tone(dir + "/c.wav", kSeconds)};
  const std::string shortTone = Tone(dir + "/short.wav", 0.5);
  const struct TFamily {
    const char* Name;
    std::vector<std::string> Args;
    double Length;  // of each output
  } families[] = {
      {"MP3", {"-p", "mp3"}, kSeconds},   {"AAC", {"-p", "AAC"}, kSeconds}, {"FLAC", {"-p", "flac"}, kSeconds},
      {"Opus", {"-p", "opus"}, kSeconds}, {"WAV", {"-p", "wav"}, kSeconds},
      {"joined MP3", {"-p", "mp3", "--merge"}, 3 * kSeconds},
  };
  auto argsOf = [&](const TFamily& AFamily, const std::vector<std::string>& AFiles) {
    std::vector<std::string> args = AFamily.Args;
    // One at a time: outputs finish one after another over the run, so the
    // kills fall before, between and after them.
    for (const std::string& a : {"--jobs", "1", "-o", "out"}) args.push_back(a);
    args.insert(args.end(), AFiles.begin(), AFiles.end());
    return args;
  };
  // Every file under a final name in the folder decodes to its full length.
  auto checkWhole = [&](const TFamily& AFamily) {
    int whole = 0;
    for (const auto& e : fs::directory_iterator(out)) {
      if (e.path().filename().string()[0] == '.') continue;
      const test::TDecodedAudio d = test::DecodeAudio(e.path().string());
      EXPECT_TRUE(d.Ok) << e.path() << ": " << d.Error;
      EXPECT_NEAR(d.Seconds, AFamily.Length, 0.1) << e.path();
      ++whole;
    }
    return whole;
  };

  // How long each family's batch takes whole: the kills fall within it.
  std::vector<double> spans;
  for (const TFamily& family : families) {
    SCOPED_TRACE(family.Name);
    fs::remove_all(out);
    fs::create_directory(out);
    const auto begin = std::chrono::steady_clock::now();
    const test::TCliRun r = test::RunConvert(dir, argsOf(family, sources));
    spans.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    EXPECT_EQ(checkWhole(family), family.Args.back() == "--merge" ? 1 : 3);
  }

  std::mt19937 random(20261211);
  int leftPartsTotal = 0, wholeTotal = 0;
  for (int moment = 0; moment < 10; ++moment) {
    const size_t f = static_cast<size_t>(moment) % std::size(families);
    const TFamily& family = families[f];
    const int delayMs = std::uniform_int_distribution<int>(0, static_cast<int>(spans[f] * 1000))(random);
    SCOPED_TRACE(std::string(family.Name) + " killed after " + std::to_string(delayMs) + " ms");
    fs::remove_all(out);
    fs::create_directory(out);
    const pid_t child = Start(argsOf(family, sources));
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    const int whole = checkWhole(family);
    const std::vector<std::string> parts = PartFiles(out);
    std::cout << "[ kill ] " << family.Name << " at " << delayMs << " ms of " << static_cast<int>(spans[f] * 1000)
              << ": " << whole << " whole output(s), " << parts.size() << " part file(s)"
              << (WIFSIGNALED(status) ? "" : " (it had ended)") << "\n";
    wholeTotal += whole;
    leftPartsTotal += static_cast<int>(parts.size());

    // The next run into the folder takes the leftovers away, and says so.
    const test::TCliRun next = test::RunConvert(dir, argsOf(families[0], {shortTone}));
    EXPECT_EQ(next.Status, 0) << next.Out << next.Err;
    for (const std::string& part : parts)
      EXPECT_CONTAINS(next.Out, "note: removed out/" + fs::path(part).filename().string() +
                                    ", left by a conversion that was interrupted");
    EXPECT_TRUE(PartFiles(out).empty());
    EXPECT_TRUE(test::DecodeAudio(out + "/short.mp3").Ok);
  }
  std::cout << "[ kill ] ten kills: " << wholeTotal << " whole outputs kept, " << leftPartsTotal
            << " part files removed by the next run\n";
}

// A folder that takes no more: the file that met it fails with a message
// naming the folder and leaves nothing; the one converted before stays
// whole; the files that would have been written there next are not started
// (said once); the exit status is 1. Two ways to fill it: a file size limit
// of the process (RLIMIT_FSIZE, with SIGXFSZ ignored as a shell's "trap"
// does, so that the write fails with EFBIG instead of killing it), and a
// file system of 1 MB (a tmpfs mounted in a mount namespace of the run's
// own, which needs no privileges where user namespaces are allowed).
TEST_F(CliCrashSafetyTest, AFullFolderFailsItsFilePlainlyAndLeavesNothing) {
  Tone(dir + "/small0.wav", 0.5);
  Tone(dir + "/big.wav", 30);
  Tone(dir + "/small1.wav", 0.5);
  Tone(dir + "/small2.wav", 0.5);
  const std::string convert = Quote(QUORVEL_CONVERT) + " -p wav --jobs 1 -o out small0.wav big.wav small1.wav small2.wav";
  // After the run: what the folder holds, and a copy of the file that was
  // finished (the tmpfs goes with its namespace).
  const std::string keep = "; status=$?; ls -A out > listing.txt; mkdir -p kept; cp out/small0.wav kept/ 2>/dev/null; exit $status";
  const struct {
    const char* Name;
    std::string Line;
    const char* Message;
  } cases[] = {
      {"a file size limit", "trap '' XFSZ; ulimit -f 1024; " + convert + " >stdout.txt 2>stderr.txt" + keep,
       "error: big.wav: File too large: no file this large can be written in the output folder out; the unfinished "
       "output was removed, and the files still waiting to be written there are not converted"},
      {"a full file system",
       "unshare -rm bash -c " + Quote("mount -t tmpfs -o size=1m tmpfs out && " + convert +
                                      " >stdout.txt 2>stderr.txt" + keep),
       "error: big.wav: No space left on device in the output folder out; the unfinished output was removed, and "
       "the files still waiting to be written there are not converted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(out);
    fs::remove_all(dir + "/kept");
    fs::create_directory(out);
    if (std::string(c.Name) == "a full file system" &&
        Shell("unshare -rm bash -c 'mount -t tmpfs -o size=1m tmpfs out'") != 0) {
      std::cout << "[ skip ] no private tmpfs here: " << c.Name << "\n";
      continue;
    }
    const int status = Shell(c.Line);
    const std::string err = test::TextOf(dir + "/stderr.txt"), text = test::TextOf(dir + "/stdout.txt");
    EXPECT_EQ(status, 1) << text << err;
    EXPECT_CONTAINS(err, c.Message);
    EXPECT_EQ(Count(err, "not converted"), 1u) << err;
    EXPECT_CONTAINS(text, "done: small0.wav -> out/small0.wav");
    EXPECT_CONTAINS(text, "not started: small1.wav");
    EXPECT_CONTAINS(text, "not started: small2.wav");
    EXPECT_CONTAINS(text, "1 done, 1 failed, 2 not started");
    EXPECT_EQ(test::TextOf(dir + "/listing.txt"), "small0.wav\n");
    const test::TDecodedAudio kept = test::DecodeAudio(dir + "/kept/small0.wav");
    EXPECT_TRUE(kept.Ok) << kept.Error;
    EXPECT_NEAR(kept.Seconds, 0.5, 0.01);
  }
}

// A batch that writes into several folders (a tree kept by -r): a full
// folder stops only the files that would be written there; those bound for
// another folder are converted.
TEST_F(CliCrashSafetyTest, AFullFolderLeavesTheFilesForOtherFoldersConverting) {
  fs::create_directories(dir + "/src/a-full");
  fs::create_directories(dir + "/src/b-free");
  Tone(dir + "/src/a-full/big.wav", 30);
  Tone(dir + "/src/a-full/small.wav", 0.5);
  Tone(dir + "/src/b-free/x.wav", 0.5);
  Tone(dir + "/src/b-free/y.wav", 0.5);
  fs::remove_all(out);
  fs::create_directories(out + "/a-full");
  if (Shell("unshare -rm bash -c 'mount -t tmpfs -o size=1m tmpfs out/a-full'") != 0) {
    GTEST_SKIP() << "no private tmpfs here";
  }
  const std::string convert = Quote(QUORVEL_CONVERT) + " -p wav --jobs 1 -r -o out src";
  const int status = Shell("unshare -rm bash -c " +
                           Quote("mount -t tmpfs -o size=1m tmpfs out/a-full && " + convert +
                                 " >stdout.txt 2>stderr.txt; status=$?; ls -A out/a-full > listing.txt; exit $status"));
  const std::string err = test::TextOf(dir + "/stderr.txt"), text = test::TextOf(dir + "/stdout.txt");
  EXPECT_EQ(status, 1) << text << err;
  EXPECT_CONTAINS(err, "No space left on device in the output folder out/a-full");
  EXPECT_EQ(Count(err, "not converted"), 1u) << err;
  EXPECT_CONTAINS(text, "2 done, 1 failed, 1 not started");
  EXPECT_EQ(test::TextOf(dir + "/listing.txt"), "") << "a part or an output left in the full folder";
  for (const char* name : {"x.wav", "y.wav"}) {
    const test::TDecodedAudio got = test::DecodeAudio(out + "/b-free/" + name);
    EXPECT_TRUE(got.Ok) << name << ": " << got.Error;
    EXPECT_NEAR(got.Seconds, 0.5, 0.01) << name;
  }
}

}  // namespace
}  // namespace quorvel
