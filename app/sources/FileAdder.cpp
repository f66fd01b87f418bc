#include "app/sources/FileAdder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "app/report/ReportSink.h"
#include "app/sources/SourceList.h"
#include "media/batch/FolderWalk.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/CancelToken.h"

namespace quorvel {

namespace {

// What the probe found of one file.
struct TProbe {
  bool Ok = false;
  QString Error;
  int64_t Duration = 0;
  TSourceAudio Audio;
};

// The probing thread's side: the folders among the paths walked (off the
// user-interface thread too: a large tree takes a while), then its results,
// in the order of the files.
class TProbeRun {
public:
  explicit TProbeRun(const QStringList& APaths) : FPaths(APaths) {}
  ~TProbeRun() {
    FCancel.Cancel();
    Join();
  }
  TProbeRun(const TProbeRun&) = delete;
  TProbeRun& operator=(const TProbeRun&) = delete;

  void Start() { FThread = std::thread([this] { Run(); }); }
  void Cancel() { FCancel.Cancel(); }
  int Done() const { return FDone.load(); }
  // The files to probe; -1 while the folders are being walked.
  int Total() const { return FTotal.load(); }
  bool Finished() const { return FFinished.load(); }
  // The files found and what the walk could not read; read once the
  // thread has ended (Take).
  const std::vector<TFoundFile>& Files() const { return FFiles; }
  const std::vector<TWalkProblem>& Problems() const { return FProblems; }
  // The results of the files probed, in order. Waits for the thread to end
  // first (a cancelled one ends after the file in hand): until then it
  // writes into the results, so they are not touched before.
  std::vector<TProbe> Take() {
    Join();
    std::lock_guard<std::mutex> lock(FLock);
    FResults.resize(static_cast<size_t>(FDone.load()));
    return std::move(FResults);
  }

private:
  void Join() {
    if (FThread.joinable()) FThread.join();
  }
  void Run() {
    std::vector<std::string> paths;
    for (const QString& path : FPaths) paths.push_back(path.toStdString());
    TWalkResult walk = ExpandSources(paths, true, [this] { return FCancel.Cancelled(); });
    FFiles = std::move(walk.Files);
    FProblems = std::move(walk.Problems);
    {
      std::lock_guard<std::mutex> lock(FLock);
      FResults.resize(FFiles.size());
    }
    FTotal = static_cast<int>(FFiles.size());
    // The thread's own decoder: the window's belongs to its thread.
    TFFDecoder decoder;
    for (int i = 0; i < static_cast<int>(FFiles.size()) && !FCancel.Cancelled(); ++i) {
      TProbe probe;
      try {
        probe.Ok = decoder.LoadFile(FFiles[static_cast<size_t>(i)].Path);
        if (probe.Ok) {
          probe.Duration = decoder.FileStreamInfo().Duration;
          probe.Audio = SourceAudioOf(decoder.FirstAudioStreamInfo());
        } else
          probe.Error = QString::fromStdString(decoder.LastErrMsg());
      } catch (const std::exception& e) {
        // Without its libraries the decoder throws: the file cannot be read.
        probe.Error = QString::fromUtf8(e.what());
      }
      decoder.CloseFile();
      {
        std::lock_guard<std::mutex> lock(FLock);
        FResults[static_cast<size_t>(i)] = std::move(probe);
      }
      FDone = i + 1;
    }
    FFinished = true;
  }

  const QStringList FPaths;
  // Written by the thread before FTotal is set, read after it has ended.
  std::vector<TFoundFile> FFiles;
  std::vector<TWalkProblem> FProblems;
  std::atomic<int> FTotal{-1};
  std::mutex FLock;
  std::vector<TProbe> FResults;  // FLock
  std::atomic<int> FDone{0};     // results written so far
  std::atomic<bool> FFinished{false};
  TCancelToken FCancel;
  std::thread FThread;
};

}  // namespace

QString TFileAdder::RefusalText(const QStringList& ANames) {
  if (ANames.size() == 1)
    return "File " + ANames[0] + " is not a valid media file or its format is not supported.";
  constexpr int kShown = 10;
  QString text = QString("%1 files are not valid media files or their format is not supported:\n").arg(ANames.size());
  for (int i = 0; i < ANames.size() && i < kShown; ++i) text += "\n" + ANames[i];
  if (ANames.size() > kShown) text += QString("\n... and %1 more (see the events log)").arg(ANames.size() - kShown);
  return text;
}

TFileAdder::TResult TFileAdder::Add(QWidget* AParent, const QStringList& AFiles, TSourceList& AList,
                                    int AProfileInd, TReportSink& AReport, const std::function<void()>& AOnTick,
                                    const std::function<bool()>& AAbandoned) {
  TResult result;
  if (AFiles.isEmpty()) return result;
  TProbeRun run(AFiles);
  run.Start();
  {
    // The dialog comes up only when the probing takes a while; the event
    // loop runs meanwhile, so the window is redrawn and Cancel is heard.
    // A busy bar while folders are walked, then the files probed.
    QProgressDialog dialog(QObject::tr("Adding files..."), QObject::tr("Cancel"), 0, 0, AParent);
    dialog.setObjectName("AddFilesProgress");
    dialog.setWindowTitle(QApplication::applicationDisplayName());
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
      if (AOnTick) AOnTick();
      if (AAbandoned && AAbandoned()) {
        loop.quit();
        return;
      }
      if (dialog.wasCanceled()) {
        result.Cancelled = true;
        run.Cancel();
      }
      if (const int total = run.Total(); total >= 0) {
        if (dialog.maximum() != total) dialog.setMaximum(total);
        dialog.setValue(run.Done());
      }
      if (run.Finished()) loop.quit();
    });
    timer.start();
    loop.exec();
    // The loop also ends without the probing having ended: the window
    // closed (AAbandoned), or the application quit (which ends every event
    // loop). Nothing of the add goes into a list that is going away.
    if (!run.Finished() && !result.Cancelled) result.Abandoned = true;
  }
  if (result.Abandoned || (AAbandoned && AAbandoned())) {
    result.Abandoned = true;
    run.Cancel();
    run.Take();  // waits for the thread: the results are not written after this
    return result;
  }
  const std::vector<TProbe> probes = run.Take();

  std::vector<TAudioFile> rows;
  rows.reserve(probes.size());
  // A folder that could not be read, a link loop: logged, and named with
  // the refused files in the one message.
  for (const TWalkProblem& problem : run.Problems()) {
    const QString path = QString::fromStdString(problem.Path);
    AReport.AddLogLine("-> Folder not added: " + path + ": " + QString::fromStdString(problem.Reason));
    result.Refused << path + " (" + QString::fromStdString(problem.Reason) + ")";
  }
  for (size_t i = 0; i < probes.size(); ++i) {
    const QString file = QString::fromStdString(run.Files()[i].Path);
    const QString name = QFileInfo(file).fileName();
    const TProbe& probe = probes[i];
    if (!probe.Ok) {
      AReport.AppendLogText(QString());
      AReport.AddLogLine("-> File load error: " + probe.Error);
      AReport.AppendLogText(QString());
      result.Refused << name;
      continue;
    }
    AReport.AddLogLine("-> Added file " + file);
    rows.push_back(NewSourceRow(file, probe.Duration, probe.Audio, AProfileInd));
    rows.back().Root = QString::fromStdString(run.Files()[i].Root);
  }
  result.Added = static_cast<int>(rows.size());
  AList.AppendRows(std::move(rows));
  if (!result.Refused.isEmpty())
    QMessageBox::information(AParent, QApplication::applicationDisplayName(), RefusalText(result.Refused),
                             QMessageBox::Ok);
  return result;
}

}  // namespace quorvel
