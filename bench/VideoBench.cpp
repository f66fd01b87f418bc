// The player's pictures: 60 s of 720p25 H.264 with sound, played at real
// time on SDL's X11 driver in its own window (run under Xvfb by
// bench/run-video) with the dummy audio driver:
//   A/V error of the shown pictures (picture time - audio clock when shown):
//     mean and p95; pictures shown more than one frame late; dropped;
//   Open -> first picture and seek -> first picture (p95 of 20);
//   CPU time and peak memory of the whole playback against
//   mpv --no-config --vo=x11 --ao=null on the same file.
// The input is made by the engine in --dir (default: quorvel-video-bench in
// the temporary folder); --size WxH makes and plays another picture size.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "media/player/FFPlay.h"
#include "media/runtime/MediaRuntime.h"

namespace quorvel::bench {
bool MakeVideoBenchFile(const std::string& ADir, const std::string& AOutput, int ASeconds, const std::string& ASize);
}

using namespace quorvel;

namespace {

std::string g_dir;

double P95(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(std::ceil(0.95 * v.size())) - 1)];
}

std::string SystemSDL() {
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu/", "/usr/lib64/", "/usr/lib/"})
    if (std::filesystem::exists(std::string(folder) + "libSDL-1.2.so.0")) return std::string(folder) + "libSDL-1.2.so.0";
  return "";
}

bool LoadPlayer(TFFPlayer& APlayer) {
  if (!APlayer.LoadSDLLib(g_dir + "/", "SDL_0")) {
    std::fprintf(stderr, "SDL: %s\n", APlayer.LastErrMsg().c_str());
    return false;
  }
  return true;
}

void WaitUntil(const std::function<bool()>& ADone, double ALimitMs = 10000) {
  const auto start = std::chrono::steady_clock::now();
  while (!ADone() && std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() < ALimitMs)
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

// Open -> first picture and seek -> first picture, AOut in ms.
void MeasureLatencies(const std::string& AFile, std::vector<double>& AOpen, std::vector<double>& ASeek) {
  TFFPlayer player;
  if (!LoadPlayer(player)) return;
  const int64_t start = avutil.av_gettime_relative();
  if (!player.Open(AFile)) {
    std::fprintf(stderr, "Open: %s\n", player.LastErrMsg().c_str());
    return;
  }
  WaitUntil([&] { return player.VideoStats().FirstPicture > 0; });
  AOpen.push_back((player.VideoStats().FirstPicture - start) / 1000.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int64_t seekStart = avutil.av_gettime_relative();
  player.Seek(int64_t{30000000}, 0, false);
  WaitUntil([&] { return player.VideoStats().FirstPicture > seekStart; });
  ASeek.push_back((player.VideoStats().FirstPicture - seekStart) / 1000.0);
  player.Stop(true);
}

// The child: plays AFile to its end and prints its picture figures.
int PlayChild(const std::string& AFile) {
  TFFPlayer player;
  if (!LoadPlayer(player)) return 1;
  std::atomic<bool> ended{false};
  player.SetTriggerEventInMainThread(false);
  player.SetOnState([&](TObject*, TPlayState AState) {
    if (AState == psEnd) ended = true;
  });
  if (!player.Open(AFile)) {
    std::fprintf(stderr, "Open: %s\n", player.LastErrMsg().c_str());
    return 1;
  }
  while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const TCustomPlayer::TVideoStats stats = player.VideoStats();
  player.Stop(true);
  uint64_t measured = 0;
  for (uint64_t n : stats.ErrorSteps) measured += n;
  std::printf("%llu %llu %llu %.6f %.6f %lld\n", static_cast<unsigned long long>(stats.Shown),
              static_cast<unsigned long long>(stats.Dropped), static_cast<unsigned long long>(stats.Late),
              measured ? stats.ErrorSum / measured : 0.0, measured ? stats.AbsErrorSum / measured : 0.0,
              static_cast<long long>(stats.PercentileMs(0.95)));
  return 0;
}

struct TChild {
  double Cpu = -1;      // s
  double PeakMb = -1;   // MB
  std::string Output;
};

TChild RunChild(const std::vector<std::string>& AArgs) {
  TChild child;
  int fds[2];
  if (pipe(fds) != 0) return child;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) child.Output.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return child;
  child.Cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  child.PeakMb = usage.ru_maxrss / 1024.0;
  return child;
}

}  // namespace

int main(int argc, char** argv) {
  MediaRuntime runtime;
  signal(SIGPIPE, SIG_IGN);
  g_dir = (std::filesystem::temp_directory_path() / "quorvel-video-bench").string();
  std::string childFile;
  int seconds = 60;
  std::string size = "1280x720";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) g_dir = argv[++i];
    else if (arg == "--play" && i + 1 < argc) childFile = argv[++i];
    else if (arg == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
    else if (arg == "--size" && i + 1 < argc) size = argv[++i];
  }
  std::filesystem::create_directories(g_dir);
  if (!FFLoader().Load(TCustomPlayer::kLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 2;
  }
  if (!childFile.empty()) return PlayChild(childFile);
  // The child uses the parent's copy: rewriting a library file another
  // process has loaded crashes that process.
  std::filesystem::copy_file(SystemSDL(), g_dir + "/SDL_0", std::filesystem::copy_options::overwrite_existing);
  SetSDLEnv("SDL_AUDIODRIVER", "dummy");

  const std::string file = g_dir + "/video-" + size + "-" + std::to_string(seconds) + ".mkv";
  if (!std::filesystem::exists(file) && !bench::MakeVideoBenchFile(g_dir, file, seconds, size)) return 2;

  std::vector<double> open, seek;
  for (int i = 0; i < 20; ++i) MeasureLatencies(file, open, seek);
  std::printf("Open -> first picture      p95 %7.1f ms (target <= 200)\n", P95(open));
  std::printf("seek -> first picture      p95 %7.1f ms (target <= 150)\n", P95(seek));

  const TChild own = RunChild({"/proc/self/exe", "--dir", g_dir, "--play", file});
  unsigned long long shown = 0, dropped = 0, late = 0;
  double mean = 0, absMean = 0;
  long long p95 = 0;
  if (own.Cpu < 0 ||
      std::sscanf(own.Output.c_str(), "%llu %llu %llu %lf %lf %lld", &shown, &dropped, &late, &mean, &absMean, &p95) != 6) {
    std::printf("the playback failed\n");
    return 1;
  }
  std::printf("pictures shown %llu, dropped %llu, more than one frame late %llu (%.2f %%, target <= 1 %%)\n", shown,
              dropped, late, shown ? 100.0 * late / shown : 0.0);
  std::printf("A/V error mean %+.1f ms (|error| mean %.1f ms, target <= 15), p95 %lld ms (target <= 40)\n",
              mean * 1000, absMean * 1000, p95);
  std::printf("peak memory %.1f MB (target <= 64)\n", own.PeakMb);
  const TChild mpv = RunChild({"mpv", "--no-config", "--vo=x11", "--ao=null", "--really-quiet", file});
  if (mpv.Cpu > 0)
    std::printf("CPU for %d s: player %.2f s, mpv %.2f s, ratio %.2f (target <= 1.5); mpv peak memory %.1f MB\n",
                seconds, own.Cpu, mpv.Cpu, own.Cpu / mpv.Cpu, mpv.PeakMb);
  else
    std::printf("CPU for %d s: player %.2f s; mpv not measured (not installed?)\n", seconds, own.Cpu);
  return 0;
}
