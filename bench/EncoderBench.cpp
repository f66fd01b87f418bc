// Task manager benchmark: a batch of 8 conversions (WAV -> MP3 128 kbit/s)
// run with one worker and with two, printing the speed-up of the second.
//
//   bench_encoder [--seconds N] [--dir DIR]
//
// Makes its own input (N seconds, default 60, of 44.1 kHz stereo 16-bit
// noise, written directly). Each figure is the best of three batches.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "media/encoder/FFEncode.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/MediaRuntime.h"

namespace {

void WriteWav(const std::string& APath, double ASeconds) {
  const uint32_t frames = static_cast<uint32_t>(ASeconds * 44100), bytes = frames * 4;
  std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
  std::mt19937 random(1);
  std::normal_distribution<double> noise(0, 4000);
  for (auto& s : samples) s = static_cast<int16_t>(std::clamp(noise(random), -32768.0, 32767.0));
  FILE* f = std::fopen(APath.c_str(), "wb");
  if (!f) {
    std::perror(APath.c_str());
    std::exit(2);
  }
  const uint32_t header[] = {0x46464952, 36 + bytes, 0x45564157, 0x20746d66, 16, 0x00020001, 44100, 176400,
                             0x00100004, 0x61746164, bytes};
  std::fwrite(header, sizeof(header), 1, f);
  std::fwrite(samples.data(), 2, samples.size(), f);
  std::fclose(f);
}

// One batch of 8 conversions; seconds of wall clock, or -1 on a failure.
double Batch(const std::string& AInput, const std::string& ADir, int AThreads) {
  quorvel::TFFEncoder encoder;
  std::mutex lock;
  std::condition_variable ended;
  bool done = false, failed = false;
  encoder.TriggerEventInMainThread = false;
  encoder.OnTerminate = [&](quorvel::TObject*, const quorvel::TTerminateInfo& AInfo) {
    std::lock_guard<std::mutex> guard(lock);
    if (AInfo.Exception) {
      std::fprintf(stderr, "task %d: %s\n", AInfo.TaskIndex, AInfo.ExceptionMsg.c_str());
      failed = true;
    }
    if (AInfo.TaskIndex < 0) done = true;
    ended.notify_all();
  };
  for (int i = 0; i < 8; ++i) {
    const int t = encoder.AddTask(AInput);
    quorvel::TOutputOptions o;
    o.AudioCodec = "libmp3lame";
    o.AudioBitrate = 128000;
    if (t < 0 || !encoder.SetOutputFile(t, ADir + "/out" + std::to_string(i) + ".mp3", &o)) {
      std::fprintf(stderr, "%s\n", encoder.LastErrMsg().c_str());
      return -1;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  encoder.Start(AThreads);
  std::unique_lock<std::mutex> guard(lock);
  ended.wait(guard, [&] { return done; });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  guard.unlock();
  encoder.ClearTasks();
  return failed ? -1 : seconds;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  std::string dir = (std::filesystem::temp_directory_path() / "quorvel-bench-encoder").string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
  }
  quorvel::MediaRuntime runtime;
  quorvel::FFLogger().SetLogLevel(quorvel::llError);
  quorvel::FFLogger().SetTriggerEventInMainThread(false);
  if (!quorvel::FFLoader().Load(quorvel::kEncoderLibraries)) {
    std::fprintf(stderr, "cannot load the media libraries: %s\n", quorvel::FFLoader().LastErrMsg().c_str());
    return 2;
  }
  std::filesystem::create_directories(dir);
  const std::string input = dir + "/input.wav";
  WriteWav(input, seconds);
  std::printf("batch of 8 x %.0f s WAV -> MP3 128 kbit/s (best of 3)\n", seconds);
  double best[3] = {0, 1e99, 1e99};
  for (int round = 0; round < 3; ++round)
    for (const int threads : {1, 2}) {
      const double t = Batch(input, dir, threads);
      if (t < 0) return 3;
      best[threads] = std::min(best[threads], t);
    }
  std::printf("Start(1): %.2f s\nStart(2): %.2f s\nspeed-up: %.2f\n", best[1], best[2], best[1] / best[2]);
  return 0;
}
