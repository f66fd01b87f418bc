// The player's latencies and load, on SDL's disk audio driver (latencies)
// and its dummy driver (real-time playback):
//   Open -> OnFileOpen, Open -> first samples at the device (p95 of 20),
//   seek -> first new samples (p95 of 20), Stop(true) (p95 of 20),
//   the audio callback's duration (p99) and starved callbacks over minutes of
//   real-time playback while two conversions load the cores,
//   CPU time of 60 s of MP3 played at real time against
//   gst-launch-1.0 playbin with a synchronised fake audio sink.
// Inputs are made with sox in --dir (default: quorvel-player-bench in the
// temporary folder). bench/run-player builds a release tree and runs it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/player/FFPlay.h"
#include "media/runtime/MediaRuntime.h"

using namespace quorvel;
using Clock = std::chrono::steady_clock;

namespace {

std::string g_dir;
std::string g_sdlFolder;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double P95(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(std::ceil(0.95 * v.size())) - 1)];
}

bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

std::string SystemSDL() {
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu/", "/usr/lib64/", "/usr/lib/"})
    if (std::filesystem::exists(std::string(folder) + "libSDL-1.2.so.0")) return std::string(folder) + "libSDL-1.2.so.0";
  return "";
}

bool LoadPlayer(TFFPlayer& APlayer, int ACopy) {
  const std::string name = "SDL_" + std::to_string(ACopy);
  if (!APlayer.LoadSDLLib(g_sdlFolder, name)) {
    std::fprintf(stderr, "SDL: %s\n", APlayer.LastErrMsg().c_str());
    return false;
  }
  return true;
}

// One measured playback on the disk driver at full speed.
struct TLatencies {
  std::vector<double> FileOpen, FirstSamples, Seek, Stop;
};

void MeasureLatencies(const std::string& AFile, TLatencies& AOut) {
  TFFPlayer player;
  if (!LoadPlayer(player, 0)) return;
  SetSDLEnv("SDL_AUDIODRIVER", "disk");
  SetSDLEnv("SDL_DISKAUDIOFILE", g_dir + "/device.raw");
  SetSDLEnv("SDL_DISKAUDIODELAY", "5");
  std::atomic<int64_t> firstSound{0};
  std::atomic<int64_t> seekTarget{-1};
  std::atomic<int64_t> seekSound{0};
  Clock::time_point fileOpen;
  player.SetAudioHook(true);
  player.SetOnAudioHook([&](TObject*, int64_t APTS, uint8_t*, int, int, int) {
    const int64_t now = Clock::now().time_since_epoch().count();
    int64_t none = 0;
    firstSound.compare_exchange_strong(none, now);
    const int64_t target = seekTarget;
    if (target >= 0 && std::llabs(APTS - target) < 100000) {
      none = 0;
      seekSound.compare_exchange_strong(none, now);
    }
  });
  player.SetOnFileOpen([&](TObject*, int64_t, int, int, int&, int&) { fileOpen = Clock::now(); });
  const auto start = Clock::now();
  if (!player.Open(AFile)) {
    std::fprintf(stderr, "Open: %s\n", player.LastErrMsg().c_str());
    return;
  }
  while (!firstSound) std::this_thread::sleep_for(std::chrono::microseconds(200));
  AOut.FileOpen.push_back(Ms(fileOpen - start));
  AOut.FirstSamples.push_back(Ms(Clock::duration(firstSound.load()) - start.time_since_epoch()));
  seekTarget = 20000000;
  const auto seekStart = Clock::now();
  player.Seek(int64_t{20000000}, 0, false);
  while (!seekSound) std::this_thread::sleep_for(std::chrono::microseconds(200));
  AOut.Seek.push_back(Ms(Clock::duration(seekSound.load()) - seekStart.time_since_epoch()));
  const auto stopStart = Clock::now();
  player.Stop(true);
  AOut.Stop.push_back(Ms(Clock::now() - stopStart));
}

// Plays AFile at real time on the dummy driver for ASeconds (or to its end).
TCustomPlayer::TCallbackStats PlayRealTime(const std::string& AFile, double ASeconds, uint64_t& AStarved) {
  TFFPlayer player;
  TCustomPlayer::TCallbackStats stats;
  if (!LoadPlayer(player, 1)) return stats;
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");
  // As the window's preview plays: sound only, no audio display drawn.
  player.SetDisableDisplay(true);
  // The measuring thread sleeps until the first sound and the end: a
  // polling loop here would be counted as the player's CPU.
  std::mutex lock;
  std::condition_variable changed;
  bool ended = false;
  bool sound = false;
  player.SetOnState([&](TObject*, TPlayState AState) {
    if (AState != psEnd) return;
    std::lock_guard guard(lock);
    ended = true;
    changed.notify_all();
  });
  player.SetAudioHook(true);
  // The hook runs on the audio thread: it only takes the lock for the first call.
  std::atomic<bool> heard{false};
  player.SetOnAudioHook([&](TObject*, int64_t, uint8_t*, int, int, int) {
    if (heard.exchange(true)) return;
    std::lock_guard guard(lock);
    sound = true;
    changed.notify_all();
  });
  if (!player.Open(AFile)) {
    std::fprintf(stderr, "Open: %s\n", player.LastErrMsg().c_str());
    return stats;
  }
  std::unique_lock guard(lock);
  changed.wait(guard, [&] { return sound; });
  const uint64_t starvedBefore = player.CallbackStats().Starved;
  changed.wait_for(guard, std::chrono::duration<double>(std::min(ASeconds, 1e6)), [&] { return ended; });
  guard.unlock();
  stats = player.CallbackStats();
  AStarved = stats.Starved - starvedBefore;
  player.Stop(true);
  return stats;
}

double ChildCpuSeconds(const std::vector<std::string>& AArgs) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  MediaRuntime runtime;
  g_dir = (std::filesystem::temp_directory_path() / "quorvel-player-bench").string();
  bool playChild = false;
  std::string childFile;
  double loadSeconds = 180;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) g_dir = argv[++i];
    else if (arg == "--play" && i + 1 < argc) playChild = true, childFile = argv[++i];
    else if (arg == "--load-seconds" && i + 1 < argc) loadSeconds = std::atof(argv[++i]);
  }
  std::filesystem::create_directories(g_dir);
  g_sdlFolder = g_dir + "/";
  // The child that measures CPU uses the parent's copies: rewriting a
  // library file another process has loaded replaces its relocated pages
  // with the file's raw ones, and that process crashes at exit.
  if (!playChild)
    for (int n = 0; n < 2; ++n)
      std::filesystem::copy_file(SystemSDL(), g_sdlFolder + "SDL_" + std::to_string(n),
                                 std::filesystem::copy_options::overwrite_existing);
  if (!FFLoader().Load(TCustomPlayer::kLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 2;
  }
  if (playChild) {
    uint64_t starved = 0;
    PlayRealTime(childFile, 1e9, starved);
    return 0;
  }

  const std::string mp3 = g_dir + "/music.mp3";
  const std::string wav = g_dir + "/long.wav";
  if (!std::filesystem::exists(mp3) &&
      !Sh("sox -n -r 44100 -c 2 '" + mp3 + "' synth 60 pinknoise vol 0.3 2>/dev/null"))
    return 2;
  if (!std::filesystem::exists(wav) &&
      !Sh("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + std::to_string(loadSeconds + 10) +
          " pinknoise vol 0.3 2>/dev/null"))
    return 2;

  TLatencies lat;
  for (int i = 0; i < 20; ++i) MeasureLatencies(mp3, lat);
  std::printf("Open -> OnFileOpen         p95 %7.1f ms (target <= 80)\n", P95(lat.FileOpen));
  std::printf("Open -> first samples      p95 %7.1f ms (target <= 120)\n", P95(lat.FirstSamples));
  std::printf("seek -> first new samples  p95 %7.1f ms (target <= 60)\n", P95(lat.Seek));
  std::printf("Stop(true)                 p95 %7.1f ms (target <= 150)\n", P95(lat.Stop));

  // Two conversions load both cores meanwhile.
  std::vector<pid_t> load;
  for (int i = 0; i < 2; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);  // the loop and its encoder stop together
      const std::string out = g_dir + "/load" + std::to_string(i) + ".mp3";
      execlp("sh", "sh", "-c",
             ("while :; do lame --quiet -b 128 '" + wav + "' '" + out + "' || sox '" + wav + "' '" + out + "'; done")
                 .c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    load.push_back(pid);
  }
  uint64_t starved = 0;
  const auto stats = PlayRealTime(wav, loadSeconds, starved);
  for (pid_t pid : load) {
    kill(-pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  std::printf("audio callback             p99 %7.3f ms (target <= 2) over %llu callbacks\n",
              stats.Percentile(0.99) / 1000.0, static_cast<unsigned long long>(stats.Callbacks));
  std::printf("starved callbacks under load: %llu in %.0f s (target 0)\n", static_cast<unsigned long long>(starved),
              loadSeconds);

  const double own = ChildCpuSeconds({"/proc/self/exe", "--dir", g_dir, "--play", mp3});
  const double gst = ChildCpuSeconds({"gst-launch-1.0", "-q", "playbin", "uri=file://" + mp3,
                                      "audio-sink=fakesink sync=true", "video-sink=fakesink"});
  if (own > 0 && gst > 0)
    std::printf("CPU for 60 s of MP3: %.2f s, gst-launch playbin %.2f s, ratio %.2f (target <= 1.0)\n", own, gst,
                own / gst);
  else
    std::printf("CPU comparison not measured (player %.2f s, gst-launch %.2f s)\n", own, gst);
  return 0;
}
