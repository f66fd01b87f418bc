// The built quorvel-convert on real inputs: exit status, messages, and
// every output decoded back (format, rate, channels, duration, level).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"
#include "CliTestSupport.h"
#include "support/DecodeBack.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::TDecodedAudio;

// A sine of ASeconds at level AAmplitude (of full scale) as a 16-bit WAV.
void WriteWav(const std::string& APath, double ASeconds, int ARate = 44100, int AChannels = 2,
              double AAmplitude = 0.25) {
  const uint32_t frames = static_cast<uint32_t>(ASeconds * ARate);
  const uint32_t bytes = frames * AChannels * 2;
  std::vector<int16_t> samples(static_cast<size_t>(frames) * AChannels);
  for (uint32_t i = 0; i < frames; ++i)
    for (int c = 0; c < AChannels; ++c)
      samples[i * AChannels + c] = static_cast<int16_t>(32767 * AAmplitude * std::sin(2 * M_PI * 440.0 * i / ARate));
  std::ofstream f(APath, std::ios::binary);
  auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  f.write("RIFF", 4);
  u32(36 + bytes);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(static_cast<uint16_t>(AChannels));
  u32(static_cast<uint32_t>(ARate));
  u32(static_cast<uint32_t>(ARate * AChannels * 2));
  u16(static_cast<uint16_t>(AChannels * 2));
  u16(16);
  f.write("data", 4);
  u32(bytes);
  f.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(bytes));
}

// What an output decodes to.
TDecodedAudio Decode(const std::string& APath) {
  const TDecodedAudio d = test::DecodeAudio(APath);
  if (!d.Ok) ADD_FAILURE() << APath << ": " << d.Error;
  return d;
}

using TResult = test::TCliRun;
using test::Quote;
std::string ReadFile(const std::string& APath) { return test::TextOf(APath); }

const double kSineRms = 0.25 / std::sqrt(2.0);

class CliRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
    dir = test::ScratchDir();
    out = dir + "/out";
    fs::create_directory(out);
  }

  // Runs the program in the scratch folder with AArgs (each quoted).
  TResult Convert(const std::vector<std::string>& AArgs) { return test::RunConvert(dir, AArgs); }
  // The same, with Ctrl-C (SIGINT) sent once AWatched has data.
  TResult ConvertInterrupted(const std::vector<std::string>& AArgs, const std::string& AWatched) {
    TResult r;
    const pid_t child = fork();
    if (child < 0) {
      ADD_FAILURE() << "fork failed";
      return r;
    }
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::error_code error;
    while (fs::file_size(AWatched, error) == 0 || error) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << AWatched << " never written: " << ReadFile(dir + "/stderr.txt");
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGINT);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) ADD_FAILURE() << "no normal exit: " << status;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = ReadFile(dir + "/stdout.txt");
    r.Err = ReadFile(dir + "/stderr.txt");
    return r;
  }
  std::string Wav(const std::string& AName, double ASeconds, int ARate = 44100, int AChannels = 2) {
    const std::string path = dir + "/" + AName;
    WriteWav(path, ASeconds, ARate, AChannels);
    return path;
  }
  std::vector<std::string> Outputs() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir, out;
};

#define EXPECT_CONTAINS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

TEST_F(CliRunTest, ABadFileAmongGoodOnesFailsAloneWithTwoJobs) {
  const std::string a = Wav("a.wav", 2), b = Wav("b.wav", 1.5);
  std::ofstream(dir + "/bad.wav") << "not a sound file";
  const TResult r = Convert({"--profile", "mp3", "--bitrate", "128k", "--jobs", "2", "-o", "out", a, "bad.wav",
                             b, "missing.wav", test::SharedMedia("emacspeak__emacspeak.mp3")});
  EXPECT_EQ(r.Status, 1) << r.Out << r.Err;
  EXPECT_CONTAINS(r.Err, "error: bad.wav: Invalid data");
  EXPECT_CONTAINS(r.Err, "error: missing.wav: No such file or directory");
  EXPECT_CONTAINS(r.Out, "3 done, 2 failed");
  EXPECT_CONTAINS(r.Out, "done: " + a + " -> out/a.mp3");
  EXPECT_EQ(r.Out.find('\r'), std::string::npos);  // no bar outside a terminal
  EXPECT_EQ(Outputs(), (std::vector<std::string>{"a.mp3", "b.mp3", "emacspeak__emacspeak.mp3"}));
  const struct {
    const char* Name;
    double Seconds;
  } outputs[] = {{"a.mp3", 2}, {"b.mp3", 1.5}, {"emacspeak__emacspeak.mp3", 3.7}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.Name);
    const TDecodedAudio d = Decode(out + "/" + o.Name);
    EXPECT_EQ(d.Format, "mp3");
    EXPECT_EQ(d.SampleRate, 44100);
    EXPECT_EQ(d.Channels, 2);
    // The encoder's delay and padding add a few milliseconds.
    EXPECT_NEAR(d.Seconds, o.Seconds, 0.1);
  }
  EXPECT_NEAR(Decode(out + "/a.mp3").Rms, kSineRms, 0.01);
}

TEST_F(CliRunTest, ProfilesAndOverridesShapeTheOutput) {
  const std::string a = Wav("a.wav", 2);
  const struct {
    std::vector<std::string> Args;
    const char* File;
    const char* Codec;
    int Rate, Channels;
    double Level;
  } cases[] = {
      {{"--profile", "flac", "--samplerate", "22050", "--channels", "mono"}, "a.flac", "flac", 22050, 1, kSineRms},
      {{"--profile", "WAV", "--volume", "50"}, "a.wav", "pcm_s16le", 44100, 2, kSineRms / 2},
      {{"--profile", "OGG - Ogg Vorbis (*.ogg)", "--volume", "200"}, "a.ogg", "vorbis", 44100, 2, kSineRms * 2},
      {{"--profile", "aac", "--bitrate", "96000", "--samplerate", "48000"}, "a.m4a", "aac", 48000, 2, kSineRms},
      // An extension the libraries do not know; the profile names the format.
      {{"--profile", "m4r"}, "a.m4r", "aac", 44100, 2, kSineRms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    fs::remove_all(out);
    fs::create_directory(out);
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"-o", "out", a});
    const TResult r = Convert(args);
    ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
    const TDecodedAudio d = Decode(out + "/" + c.File);
    EXPECT_EQ(d.Codec.substr(0, d.Codec.find('(')), c.Codec);
    EXPECT_EQ(d.SampleRate, c.Rate);
    EXPECT_EQ(d.Channels, c.Channels);
    EXPECT_NEAR(d.Seconds, 2.0, 0.1);
    EXPECT_NEAR(d.Rms, c.Level, c.Level * 0.08);
  }
}

TEST_F(CliRunTest, TrimsApplyToEveryFile) {
  const std::string a = Wav("a.wav", 3), b = Wav("b.wav", 2.5);
  const struct {
    std::vector<std::string> Trim;
    double A, B;  // seconds of each output
  } cases[] = {
      {{"--start", "00:00:00.500", "--end", "00:00:01.500"}, 1.0, 1.0},
      {{"--end", "2"}, 2.0, 2.0},
      {{"--start", "0:01"}, 2.0, 1.5},
      {{"--start", "1", "--end", "2:00"}, 2.0, 1.5},  // an end past the file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Trim));
    fs::remove_all(out);
    fs::create_directory(out);
    std::vector<std::string> args = c.Trim;
    args.insert(args.end(), {"--profile", "wav", "-o", "out", a, b});
    const TResult r = Convert(args);
    ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
    EXPECT_NEAR(Decode(out + "/a.wav").Seconds, c.A, 0.03);
    EXPECT_NEAR(Decode(out + "/b.wav").Seconds, c.B, 0.03);
  }
}

TEST_F(CliRunTest, MergeJoinsEveryInputIntoOneFile) {
  const std::string a = Wav("a.wav", 1), b = Wav("b.wav", 1.5, 22050);
  const TResult r = Convert({"--merge", "--profile", "mp3", "-o", "out", a, b, a});
  ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
  EXPECT_EQ(Outputs(), std::vector<std::string>{"Joined.mp3"});
  const TDecodedAudio d = Decode(out + "/Joined.mp3");
  EXPECT_EQ(d.SampleRate, 44100);
  EXPECT_EQ(d.Channels, 2);
  EXPECT_NEAR(d.Seconds, 3.5, 0.15);
  EXPECT_NEAR(d.Rms, kSineRms, 0.01);

  // A joined file missing a part is not made at all.
  const TResult bad = Convert({"--merge", "-o", "out", "--overwrite", a, "missing.wav"});
  EXPECT_EQ(bad.Status, 1);
  EXPECT_CONTAINS(bad.Err, "missing.wav: No such file or directory");
  EXPECT_EQ(Outputs(), std::vector<std::string>{"Joined.mp3"});
}

TEST_F(CliRunTest, ExistingFilesInputsAndTwinNamesAreNeverWrittenOver) {
  fs::create_directory(dir + "/x");
  const std::string a = Wav("a.wav", 1), twin = dir + "/x/a.wav";
  WriteWav(twin, 1.5);
  std::ofstream(out + "/a.mp3") << "keep me";
  // An MP3 input converted to MP3 in its own folder.
  ASSERT_EQ(Convert({"--profile", "mp3", "-o", "out", a}).Status, 0);
  fs::rename(out + "/a (2).mp3", dir + "/song.mp3");

  const TResult r = Convert({"--profile", "mp3", "-o", "out", a, twin});
  ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
  EXPECT_EQ(ReadFile(out + "/a.mp3"), "keep me");
  EXPECT_CONTAINS(r.Out, "note: out/a.mp3 exists, writing out/a (2).mp3");
  EXPECT_CONTAINS(r.Out, "note: out/a.mp3 exists, writing out/a (3).mp3");
  EXPECT_NEAR(Decode(out + "/a (2).mp3").Seconds, 1.0, 0.1);
  EXPECT_NEAR(Decode(out + "/a (3).mp3").Seconds, 1.5, 0.1);

  const std::string song = ReadFile(dir + "/song.mp3");
  const TResult self = Convert({"--profile", "mp3", "--overwrite", "song.mp3"});
  ASSERT_EQ(self.Status, 0) << self.Out << self.Err;
  EXPECT_EQ(ReadFile(dir + "/song.mp3"), song);
  EXPECT_CONTAINS(self.Out, "note: ./song.mp3 is an input, writing ./song (2).mp3");

  // --overwrite replaces what is not an input.
  const TResult over = Convert({"--profile", "mp3", "--overwrite", "-o", "out", a});
  ASSERT_EQ(over.Status, 0) << over.Out << over.Err;
  EXPECT_NEAR(Decode(out + "/a.mp3").Seconds, 1.0, 0.1);
}

TEST_F(CliRunTest, AFileWithoutAudioSaysSoPlainly) {
  // The picture track of a shared video, alone in its own file.
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  const std::string video = dir + "/picture-only.mp4";
  {
    TCustomFFmpeg job(2);
    ASSERT_TRUE(job.open_input_file(test::SharedMedia("golang-github-gabriel-vasile-mimetype-dev__mp4.mp4")));
    job.SetExtOption("an", "");
    job.SetExtOption("vcodec", "copy");
    ASSERT_EQ(job.open_output_file(video, false), 1) << job.LastErrMsg();
    job.StartConvert(false);
    ASSERT_FALSE(job.FatalException()) << job.FatalMessage();
  }
  const std::string a = Wav("a.wav", 1);
  for (const bool merge : {false, true}) {
    SCOPED_TRACE(merge ? "merge" : "one by one");
    fs::remove_all(out);
    fs::create_directory(out);
    std::vector<std::string> args = {"-p", "mp3", "-o", "out", "picture-only.mp4", a};
    if (merge) args.insert(args.begin(), "--merge");
    const TResult r = Convert(args);
    EXPECT_EQ(r.Status, 1) << r.Out << r.Err;
    EXPECT_CONTAINS(r.Err, "error: picture-only.mp4: the file has no audio to convert");
    EXPECT_EQ(r.Err.find("does not contain any stream"), std::string::npos) << r.Err;
    EXPECT_EQ(Outputs(), merge ? std::vector<std::string>{} : std::vector<std::string>{"a.mp3"});
  }
}

TEST_F(CliRunTest, CommandLineMistakesNameTheProblem) {
  const std::string a = Wav("a.wav", 1);
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } cases[] = {
      {{"--bitrate", "100k", a}, "offers 64000, 96000, 128000, 160000, 192000, 256000, 320000"},
      {{"--profile", "mp3", "--channels", "6", a}, "offers original, 1, 2"},
      {{"--profile", "nothing", a}, "no such profile"},
      {{"--volume", "0", a}, "from 1 to 5000"},
      {{"--start", "1:99", a}, "HH:MM:SS[.mmm]"},
      {{"--what", a}, "unknown option --what"},
      // A missing folder is made (see below); one that cannot be is refused.
      {{"-o", "a.wav/sub", a}, "error: cannot create output folder a.wav/sub: Not a directory"},
      {{"-o", "a.wav", a}, "error: cannot create output folder a.wav: it exists and is not a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    const TResult r = Convert(c.Args);
    EXPECT_EQ(r.Status, 2);
    EXPECT_CONTAINS(r.Err, c.Message);
  }
  EXPECT_EQ(Outputs(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dir + "/a.mp3"));
}

// A run's outcome must say what happened to each file: nothing converted
// is never "done", a file cut short is named, a missing output folder is
// made, and a file Ctrl-C kept from starting is not said to be stopped.
TEST_F(CliRunTest, EachFileIsReportedAsWhatHappenedToIt) {
  auto tone = [&](const std::string& AName, double ASeconds) {
    const std::string cmd = "sox -D -n -r 44100 -c 2 -b 16 " + Quote(dir + "/" + AName) + " synth " +
                            std::to_string(ASeconds) + " sine 440 vol 0.25";
    EXPECT_EQ(test::Run(cmd), 0) << cmd;
  };
  tone("ten.wav", 10);
  tone("three.wav", 3);
  // A download cut short: the header still says 10 s, 14 sample frames follow.
  tone("cut.wav", 10);
  ASSERT_EQ(test::Run("truncate -s 100 " + Quote(dir + "/cut.wav")), 0);
  // Long enough that the run is still going when Ctrl-C comes.
  for (const char* name : {"long-a.wav", "long-b.wav", "long-c.wav"}) Wav(name, 60);

  struct TOutput {
    std::string Path;  // in the scratch folder
    double Seconds;    // decoded back; < 0: must not exist
  };
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    // Sends Ctrl-C once this output (in the scratch folder) has data.
    const char* InterruptWhenWritten;
    int Status;
    std::vector<std::string> Err, Out;  // texts each must contain
    std::vector<std::string> NotErr, NotOut;  // texts each must not contain
    std::vector<TOutput> Outputs;
  } cases[] = {
      {"start past the end",
       {"-p", "wav", "--start", "0:20", "-o", "out", "ten.wav"},
       nullptr,
       1,
       {"error: ten.wav: the start 00:00:20.000 is at or past the end of the file (00:00:10.000)"},
       {"0 done, 1 failed"},
       {},
       {"done: ten.wav"},
       {{"out/ten.wav", -1}}},
      {"start at the end of one file, inside the other",
       {"-p", "wav", "--start", "0:10", "-o", "out", "three.wav", "ten.wav"},
       nullptr,
       1,
       {"error: three.wav: the start 00:00:10.000 is at or past the end of the file (00:00:03.000)",
        "error: ten.wav: the start 00:00:10.000 is at or past the end of the file (00:00:10.000)"},
       {"0 done, 2 failed"},
       {},
       {},
       {{"out/three.wav", -1}, {"out/ten.wav", -1}}},
      {"start inside a long file, past a short one",
       {"-p", "wav", "--start", "0:05", "-o", "out", "three.wav", "ten.wav"},
       nullptr,
       1,
       {"error: three.wav: the start 00:00:05.000 is at or past the end of the file (00:00:03.000)"},
       {"done: ten.wav -> out/ten.wav", "1 done, 1 failed"},
       {"warning"},
       {},
       {{"out/three.wav", -1}, {"out/ten.wav", 5}}},
      {"a file cut short",
       {"-p", "mp3", "-o", "out", "cut.wav", "three.wav"},
       nullptr,
       0,
       {"warning: cut.wav: the file ends early: only 00:00:00.", " of the 00:00:10.000 it states could be converted"},
       {"done: cut.wav -> out/cut.mp3", "done: three.wav -> out/three.mp3", "2 done, 0 failed"},
       {"warning: three.wav"},
       {},
       {{"out/three.mp3", 3}}},
      {"a file cut short, trimmed",
       {"-p", "wav", "--end", "0:05", "-o", "out", "cut.wav"},
       nullptr,
       0,
       {"warning: cut.wav: the file ends early: only 00:00:00.", " of the 00:00:05.000 it states could be converted"},
       {"done: cut.wav -> out/cut.wav"},
       {},
       {},
       {}},
      // Its end is where its data ends, not where its header says.
      {"a start past the data of a file cut short",
       {"-p", "wav", "--start", "0:01", "-o", "out", "cut.wav"},
       nullptr,
       1,
       {"error: cut.wav: the start 00:00:01.000 is at or past the end of the file (00:00:00.000)"},
       {"0 done, 1 failed"},
       {},
       {},
       {{"out/cut.wav", -1}}},
      {"an output folder that does not exist",
       {"-p", "wav", "-o", "new/deeper", "three.wav"},
       nullptr,
       0,
       {},
       {"note: created output folder new/deeper", "done: three.wav -> new/deeper/three.wav"},
       {"error"},
       {},
       {{"new/deeper/three.wav", 3}}},
      {"Ctrl-C with files not started",
       {"-p", "mp3", "--jobs", "1", "-o", "out", "long-a.wav", "long-b.wav", "long-c.wav"},
       // Its first output, written under its part file's name until it is whole.
       "out/.long-a.mp3.quorvel-part",
       130,
       {"stopping"},
       {"stopped: long-a.wav (unfinished output removed)", "not started: long-b.wav", "not started: long-c.wav",
        "1 stopped, 2 not started"},
       {},
       {"stopped: long-b.wav", "stopped: long-c.wav"},
       {{"out/long-a.mp3", -1}, {"out/long-b.mp3", -1}, {"out/long-c.mp3", -1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(out);
    fs::remove_all(dir + "/new");
    fs::create_directory(out);
    const TResult r = c.InterruptWhenWritten ? ConvertInterrupted(c.Args, dir + "/" + c.InterruptWhenWritten)
                                             : Convert(c.Args);
    EXPECT_EQ(r.Status, c.Status) << r.Out << r.Err;
    for (const std::string& text : c.Err) EXPECT_CONTAINS(r.Err, text);
    for (const std::string& text : c.Out) EXPECT_CONTAINS(r.Out, text);
    for (const std::string& text : c.NotErr) EXPECT_EQ(r.Err.find(text), std::string::npos) << r.Err;
    for (const std::string& text : c.NotOut) EXPECT_EQ(r.Out.find(text), std::string::npos) << r.Out;
    for (const TOutput& o : c.Outputs) {
      SCOPED_TRACE(o.Path);
      const std::string path = dir + "/" + o.Path;
      EXPECT_EQ(fs::exists(path), o.Seconds >= 0);
      if (o.Seconds >= 0 && fs::exists(path)) {
        const TDecodedAudio d = Decode(path);
        EXPECT_NEAR(d.Seconds, o.Seconds, 0.1);
        EXPECT_NEAR(d.Rms, kSineRms, 0.01);
      }
    }
    // However a run ends, it leaves no part file behind.
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      EXPECT_EQ(entry.path().string().find(".quorvel-part"), std::string::npos) << entry.path();
  }
}

TEST_F(CliRunTest, HelpNamesEveryOptionAndTheListShowsEveryProfile) {
  const TResult help = Convert({"--help"});
  EXPECT_EQ(help.Status, 0);
  for (const char* option : {"--profile", "--list-profiles", "--codec", "--bitrate", "--samplerate", "--channels",
                             "--volume", "--start", "--end", "--output-dir", "--merge", "--jobs", "--overwrite",
                             "Ctrl-C", "removed"})
    EXPECT_CONTAINS(help.Out, option);
  const TResult list = Convert({"--list-profiles"});
  EXPECT_EQ(list.Status, 0);
  EXPECT_CONTAINS(list.Out, "MP3 - MPEG Layer 3 (*.mp3)  (default)");
  EXPECT_CONTAINS(list.Out, "FLAC - Free Lossless Audio Codec (*.flac)");
}

TEST_F(CliRunTest, CtrlCStopsTheBatchAndRemovesUnfinishedOutputs) {
  // Long enough inputs that the run is still going when the signal comes.
  std::vector<std::string> inputs;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) inputs.push_back(Wav(name, 60));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!freopen((dir + "/stdout.txt").c_str(), "w", stdout) || !freopen((dir + "/stderr.txt").c_str(), "w", stderr))
      _exit(99);
    execl(QUORVEL_CONVERT, QUORVEL_CONVERT, "--jobs", "1", "-o", out.c_str(), inputs[0].c_str(), inputs[1].c_str(),
          inputs[2].c_str(), static_cast<char*>(nullptr));
    _exit(98);
  }
  // Wait until the first output is being written.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  std::error_code error;
  while (fs::file_size(out + "/a.mp3", error) == 0 || error) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << ReadFile(dir + "/stderr.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  const std::string text = ReadFile(dir + "/stdout.txt");
  EXPECT_CONTAINS(text, " stopped, ");
  EXPECT_CONTAINS(text, "(unfinished output removed)");
  // What is left decodes whole; what was stopped is gone.
  for (const char* name : {"a", "b", "c"}) {
    const std::string path = out + "/" + name + ".mp3";
    const bool done = text.find(std::string("-> ") + path) != std::string::npos;
    EXPECT_EQ(fs::exists(path), done) << name;
    if (done) {
      EXPECT_NEAR(Decode(path).Seconds, 60, 0.1);
    }
  }
}

}  // namespace
}  // namespace quorvel
