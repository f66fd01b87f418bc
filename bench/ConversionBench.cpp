// Conversion benchmark: the engine against the command-line encoders on the
// same inputs and settings.
//
//   bench_conversion [--quick] [--dir DIR]
//
// Makes its own inputs with sox (a 10-minute 44.1 kHz stereo 16-bit WAV of
// pink noise and the same as FLAC; without --quick also 2.5, 5 and 60
// minutes), then times each conversion in a child process (wall clock and
// peak resident memory from wait4) and prints the engine's time as a ratio
// to its peer's:
//   WAV -> MP3 CBR 128 kbit/s   engine (libmp3lame) vs lame --cbr -b 128 --noreplaygain
//                               (the engine's encoder computes no ReplayGain either)
//   WAV -> FLAC                 engine (flac)       vs sox
//   FLAC -> MP3 CBR 128 kbit/s  engine (libmp3lame) vs sox -C 128
// Each figure is the best of three runs. The engine's child is this program
// itself, started with "--convert IN OUT CODEC".
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/batch/LosslessCheck.h"
#include "media/encoder/EncoderOptions.h"
#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/MediaRuntime.h"

namespace {

using quorvel::TCustomFFmpeg;

// One engine conversion in this process; 0 on success.
int ConvertInProcess(const std::string& AInput, const std::string& AOutput, const std::string& ACodec) {
  quorvel::MediaRuntime runtime;
  quorvel::FFLogger().SetLogLevel(quorvel::llError);
  quorvel::FFLogger().SetTriggerEventInMainThread(false);
  if (!quorvel::FFLoader().Load(quorvel::kEncoderLibraries)) {
    std::fprintf(stderr, "cannot load the media libraries: %s\n", quorvel::FFLoader().LastErrMsg().c_str());
    return 2;
  }
  TCustomFFmpeg job(2);
  if (!job.open_input_file(AInput)) {
    std::fprintf(stderr, "%s\n", job.LastErrMsg().c_str());
    return 3;
  }
  job.SetExtOption("acodec", ACodec);
  if (ACodec == "libmp3lame") job.SetExtOption("ab", "128000");
  if (job.open_output_file(AOutput, false) < 1) {
    std::fprintf(stderr, "%s\n", job.LastErrMsg().c_str());
    return 4;
  }
  job.StartConvert(false);
  if (job.FatalException()) {
    std::fprintf(stderr, "%s\n", job.FatalMessage().c_str());
    return 5;
  }
  return 0;
}

struct TMeasure {
  double Seconds = 0;
  long PeakKB = 0;
  bool Ok = false;
};

// Runs AArgs in a child (stdout and stderr to /dev/null); wall time and peak
// resident memory of that child.
TMeasure RunChild(const std::vector<std::string>& AArgs) {
  TMeasure m;
  // The child must not repeat what this process has not written yet.
  std::fflush(stdout);
  std::fflush(stderr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return m;
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> argv;
    for (const std::string& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return m;
  m.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.PeakKB = usage.ru_maxrss;
  m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

TMeasure Best(const std::vector<std::string>& AArgs, int ARuns) {
  TMeasure best;
  for (int i = 0; i < ARuns; ++i) {
    const TMeasure m = RunChild(AArgs);
    if (!m.Ok) return m;
    if (!best.Ok || m.Seconds < best.Seconds) best = m;
    best.PeakKB = std::max(best.PeakKB, m.PeakKB);
  }
  return best;
}

bool Shell(const std::string& ACommand) { return std::system(ACommand.c_str()) == 0; }

std::string MakeWave(const std::string& ADir, double AMinutes) {
  char name[64];
  std::snprintf(name, sizeof(name), "/noise-%gmin.wav", AMinutes);
  const std::string path = ADir + name;
  if (!std::filesystem::exists(path) &&
      !Shell("sox -D -n -r 44100 -c 2 -b 16 '" + path + "' synth " + std::to_string(AMinutes * 60) +
             " pinknoise vol 0.3"))
    return "";
  return path;
}

}  // namespace

// The memory of the engine's process before any conversion: the media
// libraries loaded.
int LoadOnly() {
  quorvel::MediaRuntime runtime;
  return quorvel::FFLoader().Load(quorvel::kEncoderLibraries) ? 0 : 2;
}

// The check of a lossless output against its source, as --verify runs it.
int VerifyInProcess(const std::string& ASource, const std::string& AOutput) {
  quorvel::MediaRuntime runtime;
  if (!quorvel::FFLoader().Load(quorvel::kEncoderLibraries)) return 2;
  const quorvel::TLosslessCheck check = quorvel::CheckLossless(ASource, quorvel::kNoTime, quorvel::kNoTime, AOutput);
  if (!check.Same) std::fprintf(stderr, "%s\n", check.Reason.c_str());
  return check.Same ? 0 : 6;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--convert") == 0) return ConvertInProcess(argv[2], argv[3], argv[4]);
  if (argc == 4 && std::strcmp(argv[1], "--verify") == 0) return VerifyInProcess(argv[2], argv[3]);
  if (argc == 2 && std::strcmp(argv[1], "--load-only") == 0) return LoadOnly();

  bool quick = false;
  std::string dir = (std::filesystem::temp_directory_path() / "quorvel-bench").string();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) quick = true;
    if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) dir = argv[++i];
  }
  std::filesystem::create_directories(dir);
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const int runs = 3;

  std::printf("making inputs in %s ...\n", dir.c_str());
  std::fflush(stdout);
  const std::string wav = MakeWave(dir, 10);
  const std::string flac = dir + "/noise-10min.flac";
  if (wav.empty() || (!std::filesystem::exists(flac) && !Shell("sox '" + wav + "' '" + flac + "'"))) {
    std::fprintf(stderr, "cannot make the inputs (sox with libsox-fmt-all needed)\n");
    return 1;
  }

  struct TPair {
    const char* Name;
    std::vector<std::string> Engine, Peer;
    const char* PeerName;
  };
  const std::string out = dir + "/out";
  const std::vector<TPair> pairs{
      {"WAV -> MP3 128k CBR", {self, "--convert", wav, out + "-engine.mp3", "libmp3lame"},
       {"lame", "--quiet", "--cbr", "-b", "128", "--noreplaygain", wav, out + "-lame.mp3"}, "lame"},
      {"WAV -> FLAC", {self, "--convert", wav, out + "-engine.flac", "flac"},
       {"sox", wav, out + "-sox.flac"}, "sox"},
      {"FLAC -> MP3 128k CBR", {self, "--convert", flac, out + "-engine2.mp3", "libmp3lame"},
       {"sox", flac, "-C", "128", out + "-sox.mp3"}, "sox"},
  };

  const TMeasure base = RunChild({self, "--load-only"});
  std::printf("\nengine process with the media libraries loaded, no conversion: %.1f MB\n", base.PeakKB / 1024.0);
  std::printf("\n10-minute input, best of %d runs\n", runs);
  std::printf("%-22s %10s %10s %-6s %8s %12s %12s\n", "conversion", "engine s", "peer s", "peer", "ratio",
              "engine MB", "peer MB");
  for (const TPair& p : pairs) {
    const TMeasure e = Best(p.Engine, runs);
    const TMeasure q = Best(p.Peer, runs);
    if (!e.Ok || !q.Ok) {
      std::printf("%-22s failed (engine %s, %s %s)\n", p.Name, e.Ok ? "ok" : "failed", p.PeerName,
                  q.Ok ? "ok" : "failed");
      continue;
    }
    std::printf("%-22s %10.2f %10.2f %-6s %8.3f %12.1f %12.1f\n", p.Name, e.Seconds, q.Seconds, p.PeerName,
                e.Seconds / q.Seconds, e.PeakKB / 1024.0, q.PeakKB / 1024.0);
    std::fflush(stdout);
  }

  // What --verify adds to a lossless conversion: one decode of the output
  // and one of the source, against the conversion itself.
  {
    const TMeasure convert = Best({self, "--convert", wav, out + "-verify.flac", "flac"}, runs);
    const TMeasure verify = Best({self, "--verify", wav, out + "-verify.flac"}, runs);
    if (convert.Ok && verify.Ok)
      std::printf("\nverify WAV -> FLAC: conversion %.2f s, verification %.2f s, ratio %.3f (%.1f MB)\n",
                  convert.Seconds, verify.Seconds, verify.Seconds / convert.Seconds, verify.PeakKB / 1024.0);
    else
      std::printf("\nverify WAV -> FLAC failed (conversion %s, verification %s)\n", convert.Ok ? "ok" : "failed",
                  verify.Ok ? "ok" : "failed");
    std::fflush(stdout);
  }

  if (!quick) {
    std::printf("\nengine WAV -> MP3 by input length (time per minute should stay flat)\n");
    std::printf("%8s %10s %12s %12s\n", "minutes", "seconds", "s / minute", "peak MB");
    for (double minutes : {2.5, 5.0, 10.0, 60.0}) {
      const std::string input = MakeWave(dir, minutes);
      if (input.empty()) continue;
      const TMeasure e = Best({self, "--convert", input, out + "-len.mp3", "libmp3lame"}, minutes > 10 ? 1 : runs);
      std::printf("%8.1f %10.2f %12.3f %12.1f\n", minutes, e.Seconds, e.Seconds / minutes, e.PeakKB / 1024.0);
      std::fflush(stdout);
    }
    std::filesystem::remove(dir + "/noise-60min.wav");
  }
  return 0;
}
