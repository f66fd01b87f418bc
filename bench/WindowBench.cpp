// The window's conversion benchmark: 8 rows of 60 s WAV (44.1 kHz stereo
// pink noise, made with sox) to MP3 through the main window's own Convert
// path (offscreen: the list, the batch, the conversion dialog), with one
// and with two simultaneous conversions, side by side. Each figure is the
// best of three batches, run alternately.
//
//   bench_window [--seconds N] [--dir DIR] [--runs N]
//
// With --gaps: how responsive the window stays during a long lossless
// conversion. One row of 600 s WAV (--seconds sets it) to FLAC through the
// window's Convert, without and with "Verify lossless outputs" (each output
// decoded again and compared with its source), while a 10 ms timer on the
// user-interface thread measures the longest gap between its ticks.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/conversion/BatchConversion.h"
#include "app/conversion/ConvForm.h"
#include "app/conversion/ProfilePanel.h"
#include "app/conversion/SimultaneousChoice.h"
#include "app/report/ReportSink.h"
#include "app/shell/Desktop.h"
#include "app/shell/MainForm.h"
#include "app/shell/PowerService.h"
#include "app/shell/QtMainThreadHost.h"
#include "app/sources/SourceList.h"
#include "BenchServices.h"
#include "media/runtime/MediaRuntime.h"

namespace {

// CPU seconds of the whole process so far (every thread).
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Calls AOnShow each time AWidget is shown.
class TShown : public QObject {
public:
  TShown(QWidget& AWidget, std::function<void()> AOnShow) : FWidget(AWidget), FOnShow(std::move(AOnShow)) {
    FWidget.installEventFilter(this);
  }
  ~TShown() override { FWidget.removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* AEvent) override {
    if (AEvent->type() == QEvent::Show) FOnShow();
    return false;
  }

private:
  QWidget& FWidget;
  std::function<void()> FOnShow;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  double seconds = 0;
  int runs = 3;
  bool gaps = false;
  QString dir = QDir::tempPath() + "/quorvel-bench-window";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--gaps") {
      gaps = true;
      continue;
    }
    if (i + 1 >= argc) break;
    if (a == "--seconds") seconds = std::atof(argv[++i]);
    else if (a == "--dir") dir = QString::fromLocal8Bit(argv[++i]);
    else if (a == "--runs") runs = std::atoi(argv[++i]);
  }
  quorvel::MediaRuntime runtime;
  QApplication app(argc, argv);
  // The settings of a home of its own: the bench never changes the user's.
  QDir().mkpath(dir + "/config");
  qputenv("XDG_CONFIG_HOME", (dir + "/config").toUtf8());
  quorvel::QtMainThreadHost mainThread;
  if (seconds <= 0) seconds = gaps ? 600 : 60;
  QDir().mkpath(dir + "/in");
  QStringList inputs;
  for (int i = 1; i <= (gaps ? 1 : 8); ++i) {
    const QString f = dir + QString("/in/track%1.wav").arg(i);
    if (!QFileInfo(f).size()) {
      const std::string cmd =
          QString("sox -n -r 44100 -c 2 -b 16 '%1' synth %2 pinknoise vol 0.3").arg(f).arg(seconds).toStdString();
      if (std::system(cmd.c_str()) != 0) return 2;
    }
    inputs << f;
  }

  quorvel::bench::TQuietDesktop desktop;
  quorvel::bench::TQuietPower power;
  quorvel::bench::TCountingSink sink;
  quorvel::TMainForm form({QStringLiteral(QUORVEL_APP_DIR) + "/", {}, &desktop, &power}, sink);
  form.FormCreate();
  if (!form.PrepareSourceList()) return 2;
  for (const QString& f : inputs)
    if (!form.AddMediaFile(f)) return 2;
  form.Conversion().ConvForm().cbOpenOutput->setChecked(false);

  // How many rows were converting at once: the workers really overlap.
  int converting = 0, mostAtOnce = 0;
  quorvel::TSourceRows& rows = form.SourceList().Rows();
  QObject::connect(&rows, &quorvel::TSourceRows::Changed, [&] {
    converting = 0;
    for (const quorvel::TAudioFile& f : rows.All()) converting += f.Conversion.State == quorvel::TRowState::Converting;
    mostAtOnce = std::max(mostAtOnce, converting);
  });
  auto batch = [&](int AWorkers) {
    mostAtOnce = 0;
    const QString out = dir + QString("/out%1").arg(AWorkers);
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    form.Ui().edDestinationFolder->setText(out);
    form.Simultaneous().SetValue(AWorkers);
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ProcessCpuSeconds();
    form.Conversion().ConvertButtonClick();  // returns when the dialog closes
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // CPU per wall second: near the worker count on an idle machine; on a
    // busy one it shows how much of the machine the batch got.
    std::printf(" %.2f s (%.2f CPU s per wall s, at most %d rows converting at once)\n", wall,
                (ProcessCpuSeconds() - cpu) / wall, mostAtOnce);
    return wall;
  };
  if (gaps) {
    int flac = -1;
    QComboBox* profiles = form.ProfilePanel().cmbProfile;
    for (int i = 0; i < profiles->count() && flac < 0; ++i)
      if (profiles->itemText(i).startsWith("FLAC")) flac = i;
    if (flac < 0) return 2;
    profiles->setCurrentIndex(flac);
    form.ProfilePanel().cmbProfileClick();
    std::printf("1 row x %.0f s WAV -> FLAC through the window; the UI thread's 10 ms timer:\n", seconds);
    for (int r = 0; r < runs; ++r)
      for (const bool verify : {false, true}) {
        form.Ui().chVerify->setChecked(verify);
        const QString out = dir + "/out-gaps";
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        form.Ui().edDestinationFolder->setText(out);
        quorvel::bench::TTickGaps ticks;
        // The click's own work (planning, queueing, the first job built)
        // apart from the run: counted anew once the progress dialog shows.
        TShown shown(form.Conversion().ConvForm(), [&] { ticks.Mark(); });
        const auto start = std::chrono::steady_clock::now();
        form.Conversion().ConvertButtonClick();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("  run %d, %-9s %6.2f s; the click %5.1f ms; during the run: longest gap %5.1f ms (%.2f s "
                    "in), %d gaps over 30 ms\n",
                    r + 1, verify ? "verified:" : "plain:", wall, ticks.Before, ticks.Longest, ticks.LongestEnd,
                    ticks.Over30);
      }
    return sink.Errors ? 1 : 0;
  }

  double best[3] = {1e9, 1e9, 1e9};
  for (int r = 0; r < runs; ++r)
    for (int workers : {1, 2}) {
      std::printf("run %d, %d at once:", r + 1, workers);
      const double t = batch(workers);
      best[workers] = std::min(best[workers], t);
    }
  if (sink.Errors) return 1;
  std::printf("8 rows x %.0f s WAV -> MP3 through the window, best of %d:\n", seconds, runs);
  std::printf("  1 at a time  %.2f s\n  2 at once    %.2f s\n  ratio 2/1    %.2f\n", best[1], best[2],
              best[2] / best[1]);
  return 0;
}
