// The window with thousands of files: adds N one-second WAV files (default
// 5,000) to the source list the way the open dialog and a drop do, and
// prints the longest gap between two ticks of a 10 ms timer on the
// user-interface thread while they are added (the probing, and the rows
// and their log lines coming in, into an events log as the window keeps
// it), the whole time of the add, and then, with 10,000 rows, how long
// the grid takes to draw a screenful at the top, the middle and the end.
//
//   bench_window_add [--files N] [--dir DIR]
//   bench_window_add --folder ROOT
//
// With --folder the one folder is added as "Add folder..." and a drop add
// it (walked on the adding thread, every file beneath probed), and only the
// add is measured: the longest gap of the timer (and how many gaps passed
// 50 ms), the time, the rows, and the processor time of the user-interface
// thread.
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QScrollBar>
#include <QTableWidget>
#include <QTime>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <time.h>

#include "app/report/ErrorReport.h"
#include "app/report/LogForm.h"
#include "app/report/ReportSink.h"
#include "app/shell/QtMainThreadHost.h"
#include "app/sources/FileAdder.h"
#include "app/sources/SourceList.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/MediaRuntime.h"

namespace {

// The events log as the window keeps it (a log window that is not shown
// still lays out every line it is given): its lines are part of an add's
// cost on the user-interface thread.
class TLogSink : public quorvel::TReportSink {
public:
  void ReportError(const QString&, const QString&) override {}
  void AddLogLine(const QString& AText) override {
    AppendLogText(quorvel::LongTimeText(QTime::currentTime(), QLocale::system()) + AText);
  }
  void AppendLogText(const QString& AText) override { FLog.AppendLine(AText); }
  void FFLoggerLog(uint32_t, quorvel::TLogLevel, const std::string&) override {}

private:
  quorvel::TLogForm FLog;
};

bool WriteTone(const QString& APath) {
  const uint32_t frames = 44100, bytes = frames * 4;
  QByteArray data(static_cast<int>(44 + bytes), '\0');
  const uint32_t header[] = {0x46464952, 36 + bytes, 0x45564157, 0x20746d66, 16, 0x00020001, 44100, 176400,
                             0x00100004, 0x61746164, bytes};
  std::memcpy(data.data(), header, sizeof(header));
  auto* samples = reinterpret_cast<int16_t*>(data.data() + 44);
  for (uint32_t i = 0; i < frames * 2; ++i) samples[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
  QFile f(APath);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Milliseconds the grid takes to draw what is visible with the view at
// AFraction of its scroll range (the best of five).
double PaintMs(QTableWidget& AGrid, double AFraction) {
  QScrollBar* bar = AGrid.verticalScrollBar();
  bar->setValue(static_cast<int>(bar->maximum() * AFraction));
  QApplication::processEvents();
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    QElapsedTimer t;
    t.start();
    AGrid.viewport()->repaint();
    best = std::min(best, t.nsecsElapsed() / 1e6);
  }
  return best;
}

// Seconds of processor time the calling thread has used.
double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Adds AFolder whole to a list in a window and prints what the UI thread
// went through meanwhile.
int AddFolder(const QString& AFolder) {
  QWidget window;
  window.resize(900, 600);
  quorvel::TSourceList list(&window);
  list.Grid()->setGeometry(0, 0, 900, 600);
  window.show();
  TLogSink sink;
  QElapsedTimer clock;
  qint64 last = 0, longest = 0, longestAt = 0;
  int over50 = 0;  // gaps of more than 50 ms
  const double cpuBefore = ThreadCpuSeconds();
  clock.start();
  const auto tick = [&] {
    const qint64 now = clock.nsecsElapsed();
    if (now - last > longest) {
      longest = now - last;
      longestAt = now;
    }
    over50 += now - last > 50'000'000 ? 1 : 0;
    last = now;
  };
  const auto result = quorvel::TFileAdder::Add(&window, {AFolder}, list, 0, sink, tick);
  tick();
  std::printf("adding the folder %s: %.2f s, %d rows, %d refused; longest gap between 10 ms ticks on the UI "
              "thread %.1f ms (ending %.2f s into the add; %d gaps over 50 ms); the UI thread's processor time "
              "%.2f s\n",
              qPrintable(AFolder), clock.nsecsElapsed() / 1e9, result.Added, static_cast<int>(result.Refused.size()),
              longest / 1e6, longestAt / 1e9, over50, ThreadCpuSeconds() - cpuBefore);
  return result.Added > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int files = 5000;
  QString dir = QDir::tempPath() + "/quorvel-bench-window";
  QString folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
    if (!std::strcmp(argv[i], "--folder")) folder = argv[i + 1];
  }
  quorvel::MediaRuntime runtime;
  QApplication app(argc, argv);
  quorvel::QtMainThreadHost mainThread;
  if (!quorvel::FFLoader().Load(quorvel::kDecoderLibraries)) {
    std::fprintf(stderr, "media libraries: %s\n", quorvel::FFLoader().LastErrMsg().c_str());
    return 2;
  }
  if (!folder.isEmpty()) return AddFolder(folder);
  QDir().mkpath(dir);
  const QString tone = dir + "/tone.wav";
  if (!QFile::exists(tone) && !WriteTone(tone)) return 2;
  QStringList names;
  for (int i = 0; i < files; ++i) {
    const QString name = dir + QString("/f%1.wav").arg(i, 5, 10, QChar('0'));
    if (!QFile::exists(name)) QFile::copy(tone, name);
    names << name;
  }

  QWidget window;
  window.resize(900, 600);
  quorvel::TSourceList list(&window);
  list.Grid()->setGeometry(0, 0, 900, 600);
  window.show();
  TLogSink sink;

  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  clock.start();
  const auto tick = [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
  };
  const auto result = quorvel::TFileAdder::Add(&window, names, list, 0, sink, tick);
  tick();  // the append after the probing counts too
  const double total = clock.nsecsElapsed() / 1e9;
  bool ordered = list.RowCount() == files;
  for (int i = 0; ordered && i < files; ++i) ordered = list.Rows().At(i).Source == names[i];
  std::printf("adding %d files: %.2f s, %d rows (%s), longest gap between 10 ms ticks on the UI thread %.1f ms\n",
              files, total, result.Added, ordered ? "in order" : "NOT IN ORDER", longest / 1e6);

  // 10,000 rows: the same files again.
  while (list.RowCount() < 10000) {
    QStringList more = names.mid(0, std::min<int>(static_cast<int>(names.size()), 10000 - list.RowCount()));
    last = clock.nsecsElapsed();
    longest = 0;
    quorvel::TFileAdder::Add(&window, more, list, 0, sink, tick);
    tick();
  }
  std::printf("with %d rows: drawing the visible rows takes %.2f ms (top), %.2f ms (middle), %.2f ms (end)\n",
              list.RowCount(), PaintMs(*list.Grid(), 0), PaintMs(*list.Grid(), 0.5), PaintMs(*list.Grid(), 1));
  QElapsedTimer edit;
  edit.start();
  list.Rows().SetTitle(list.RowCount() - 1, "renamed");
  std::printf("renaming the last row: %.2f ms; longest gap while adding up to 10,000 rows %.1f ms\n",
              edit.nsecsElapsed() / 1e6, longest / 1e6);
  return ordered ? 0 : 1;
}
