// The preview panel and the trim dialog as the user meets them, offscreen,
// on SDL's disk driver paced at real time (one 1024-frame buffer every
// 23 ms):
//   - Play click to the first sound in the device file (a thread watches
//     the file for its first non-zero sample), over --runs runs (target:
//     150 ms);
//   - the loop of a trimmed part (2 s to 4 s of a 10 s file whose tone steps
//     every second): for every restart, what the device played past the end
//     point plus the silence before the start point came again, read from
//     the device's samples (target: 100 ms);
//   - the lateness of a 10 ms timer on the user-interface thread while the
//     preview and the loop play (target: never more than 30 ms).
// Each figure is printed with its target and the ratio to it.
//
//   bench_preview [--runs N] [--loop-seconds S] [--dir DIR]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QSlider>
#include <QTimeEdit>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "app/preview/ClipForm.h"
#include "app/preview/PreviewPanel.h"
#include "app/report/ReportSink.h"
#include "app/shell/Desktop.h"
#include "app/shell/MainForm.h"
#include "app/shell/MainFormUi.h"
#include "app/shell/PowerService.h"
#include "app/shell/QtMainThreadHost.h"
#include "app/shell/Widgets.h"
#include "app/sources/SourceList.h"
#include "BenchServices.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/MediaRuntime.h"
#include "media/player/FFPlay.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;

using quorvel::bench::TCountingSink;
using quorvel::bench::TQuietDesktop;
using quorvel::bench::TQuietPower;

bool Sox(const QString& AArgs) { return std::system(("sox " + AArgs + " 2>/dev/null").toLocal8Bit().constData()) == 0; }

std::vector<int16_t> ReadSamples(const QString& APath) {
  QFile f(APath);
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray b = f.readAll();
  std::vector<int16_t> s(static_cast<size_t>(b.size()) / 2);
  std::memcpy(s.data(), b.constData(), s.size() * 2);
  return s;
}

std::vector<int16_t> Decode(const QString& APath) {
  quorvel::TFFDecoder decoder;
  std::vector<int16_t> samples;
  if (!decoder.LoadFile(APath.toStdString())) return samples;
  decoder.SetDesireAudioChannels(2);
  decoder.SetDesireAudioSampleRate(kRate);
  decoder.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_S16);
  while (decoder.DecodeAudio(-1)) {
    const auto* v = reinterpret_cast<const int16_t*>(decoder.WaveInfo().Buffer);
    samples.insert(samples.end(), v, v + decoder.WaveInfo().Size / 2);
  }
  return samples;
}

bool Same(const std::vector<int16_t>& A, size_t AFrame, const std::vector<int16_t>& B, size_t BFrame, size_t ACount) {
  if ((AFrame + ACount) * 2 > A.size() || (BFrame + ACount) * 2 > B.size()) return false;
  return std::memcmp(&A[AFrame * 2], &B[BFrame * 2], ACount * 4) == 0;
}

// The source frame in [AFrom, ATo) where the device's frames from AGot
// continue for 256 frames; -1 when none.
int64_t Locate(const std::vector<int16_t>& AGot, size_t AGot0, const std::vector<int16_t>& AWant, int64_t AFrom,
               int64_t ATo) {
  for (int64_t w = std::max<int64_t>(AFrom, 0); w < ATo; ++w)
    if (Same(AGot, AGot0, AWant, static_cast<size_t>(w), 256)) return w;
  return -1;
}

size_t NextSound(const std::vector<int16_t>& AGot, size_t AFrame) {
  while (AFrame * 2 + 1 < AGot.size() && AGot[AFrame * 2] == 0 && AGot[AFrame * 2 + 1] == 0) ++AFrame;
  return AFrame;
}

// Milliseconds each restart of the loop [AFrom, ATo) came late: the frames
// played past ATo plus the silence before AFrom again.
std::vector<double> RestartLateness(const std::vector<int16_t>& AGot, const std::vector<int16_t>& AWant, int64_t AFrom,
                                    int64_t ATo) {
  std::vector<double> late;
  const size_t frames = AGot.size() / 2;
  size_t g = NextSound(AGot, 0);
  int64_t w = Locate(AGot, g, AWant, 0, static_cast<int64_t>(AWant.size() / 2));
  while (w >= 0 && g < frames) {
    while (g < frames && Same(AGot, g, AWant, static_cast<size_t>(w), 1)) ++g, ++w;
    const size_t next = NextSound(AGot, g);
    if (next + 256 >= frames) break;
    const int64_t again = Locate(AGot, next, AWant, AFrom - 4096, AFrom + 4096);
    if (again < 0) break;
    if (w >= ATo - 4096) late.push_back(1000.0 * static_cast<double>((w - ATo) + static_cast<int64_t>(next - g)) / kRate);
    g = next;
    w = again;
  }
  return late;
}

// Lateness of a 10 ms timer on this thread, in ms.
class TTimerWatch {
public:
  TTimerWatch() {
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      if (FLast != Clock::time_point{})
        FLate.push_back(std::chrono::duration<double, std::milli>(now - FLast).count() - 10.0);
      FLast = now;
    });
    FTimer.start();
  }
  std::vector<double> Late() const { return FLate; }

private:
  QTimer FTimer;
  Clock::time_point FLast{};
  std::vector<double> FLate;
};

double Percentile(std::vector<double> AValues, double AFraction) {
  if (AValues.empty()) return 0;
  std::sort(AValues.begin(), AValues.end());
  return AValues[std::min(AValues.size() - 1, static_cast<size_t>(AFraction * static_cast<double>(AValues.size())))];
}

void Print(const char* AWhat, const std::vector<double>& AValues, double ATarget) {
  const double worst = AValues.empty() ? 0 : *std::max_element(AValues.begin(), AValues.end());
  std::printf("%-44s n=%3zu  median %7.1f ms  p95 %7.1f ms  max %7.1f ms  target %5.0f ms  max/target %.2f\n", AWhat,
              AValues.size(), Percentile(AValues, 0.5), Percentile(AValues, 0.95), worst, ATarget, worst / ATarget);
}

void WaitMs(int AMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < AMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int runs = 20;
  double loopSeconds = 20;
  QString dir = QDir::tempPath() + "/quorvel-bench-preview";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--runs") runs = std::atoi(argv[i + 1]);
    else if (a == "--loop-seconds") loopSeconds = std::atof(argv[i + 1]);
    else if (a == "--dir") dir = QString::fromLocal8Bit(argv[i + 1]);
  }
  quorvel::MediaRuntime runtime;
  QApplication app(argc, argv);
  QDir().mkpath(dir + "/config");
  qputenv("XDG_CONFIG_HOME", (dir + "/config").toUtf8());
  quorvel::QtMainThreadHost mainThread;

  const QString tone = dir + "/tone.wav", steps = dir + "/steps.wav", device = dir + "/device.raw";
  if (!Sox(QString("-n -r %1 -c 2 -b 16 '%2' synth 5 sine 100-3000 vol 0.5").arg(kRate).arg(tone))) return 2;
  QStringList parts;
  for (int i = 0; i < 10; ++i) {
    const QString part = dir + QString("/step%1.wav").arg(i);
    if (!Sox(QString("-n -r %1 -c 2 -b 16 '%2' synth 1 sine %3-%4 vol 0.5").arg(kRate).arg(part).arg(200 + 150 * i).arg(260 + 150 * i)))
      return 2;
    parts << "'" + part + "'";
  }
  if (!Sox(parts.join(' ') + " '" + steps + "'")) return 2;
  quorvel::SetSDLEnv("SDL_AUDIODRIVER", "disk");
  quorvel::SetSDLEnv("SDL_DISKAUDIOFILE", device.toStdString());
  quorvel::SetSDLEnv("SDL_DISKAUDIODELAY", "23");

  TQuietDesktop desktop;
  TQuietPower power;
  TCountingSink sink;
  quorvel::TMainForm form({QStringLiteral(QUORVEL_APP_DIR) + "/", {}, &desktop, &power}, sink);
  form.FormCreate();
  if (!form.PrepareSourceList()) return 2;
  if (!form.AddMediaFile(tone) || !form.AddMediaFile(steps)) return 2;
  quorvel::TSourceList& list = form.SourceList();
  quorvel::TPreviewPanel& preview = form.Preview();

  // Play click -> first samples in the device file.
  std::vector<double> firstSamples;
  std::vector<double> timerLate;
  list.SelectIndex(0);
  for (int r = 0; r < runs; ++r) {
    QFile::remove(device);
    std::atomic<bool> watching{true};
    std::atomic<int64_t> seenNs{-1};
    const auto clicked = Clock::now();
    // The first sound, not the first bytes: the device may start on silence.
    std::thread watcher([&] {
      const QByteArray path = device.toLocal8Bit();
      qint64 checked = 0;
      while (watching) {
        QFile f(QString::fromLocal8Bit(path));
        if (f.open(QIODevice::ReadOnly) && f.size() > checked) {
          f.seek(checked);
          const QByteArray more = f.read(f.size() - checked);
          for (qsizetype i = 0; i + 1 < more.size(); i += 2)
            if (more[i] != 0 || more[i + 1] != 0) {
              seenNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - clicked).count();
              return;
            }
          checked += more.size() & ~qsizetype{1};
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    TTimerWatch timer;
    form.Ui().btnPlay->click();
    QElapsedTimer t;
    t.start();
    while (seenNs < 0 && t.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 5);
    WaitMs(1500);  // playing: the timer keeps count
    watching = false;
    watcher.join();
    preview.StopButtonClick();
    if (seenNs >= 0) firstSamples.push_back(static_cast<double>(seenNs) / 1e6);
    const auto late = timer.Late();
    timerLate.insert(timerLate.end(), late.begin(), late.end());
  }

  // The loop of the trimmed part.
  list.SelectIndex(1);
  QFile::remove(device);
  quorvel::TClipForm& clip = form.ClipForm();
  std::vector<double> loopTimer;
  {
    TTimerWatch timer;
    clip.show();
    WaitMs(300);
    clip.TimeStart()->setTime(QTime(0, 0, 2));
    clip.StartFieldOkClick();
    clip.TimeEnd()->setTime(QTime(0, 0, 4));
    clip.EndFieldOkClick();
    clip.PlayTrimmedClick();
    WaitMs(static_cast<int>(loopSeconds * 1000));
    clip.done(0);
    loopTimer = timer.Late();
  }
  const std::vector<double> restarts = RestartLateness(ReadSamples(device), Decode(steps), 2 * kRate, 4 * kRate);

  std::printf("preview and trim dialog, %d runs, disk driver at real time, 2 cores\n", runs);
  Print("Play click -> first samples at the device", firstSamples, 150);
  Print("loop restart: past the end point + gap", restarts, 100);
  Print("10 ms timer lateness while previewing", timerLate, 30);
  Print("10 ms timer lateness while the loop plays", loopTimer, 30);
  return sink.Errors == 0 ? 0 : 1;
}
