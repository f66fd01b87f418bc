#include "app/sources/FileAdder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/report/ReportSink.h"
#include "app/sources/SourceList.h"
#include "media/batch/FolderWalk.h"
#include "media/batch/SourceTags.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/CancelToken.h"

namespace quorvel {

namespace {

// What the probe found of one file: what its row needs (tags included)
// when the decoder opened it, why not otherwise. The row itself is made on
// the user-interface thread, which keeps it: what a thread allocates for
// long stays in that thread's heap between the probes' large buffers, and
// the probing threads' heaps are kept free of it (see TRowFeed::Append).
struct TProbe {
  const TFoundFile* Found = nullptr;  // the walk's entry (lives as long as the run)
  bool Ok = false;
  QString Error;
  int64_t Duration = 0;
  TSourceAudio Audio;
  std::map<std::string, std::string> Tags;
  bool HasPictures = false;
};

// The rows appended in one go, the time spent on them in one step of the
// user-interface thread (then the event loop runs again), and how often a
// step comes. A row costs the grid its cells and the events log its line,
// about a tenth of a millisecond, so a step stays far below a pause anyone
// notices however many files the add brings, and twenty steps a second
// take in rows faster than the files are probed.
constexpr int kRowsPerStep = 32;
constexpr int kStepBudgetMs = 10;
constexpr int kStepIntervalMs = 50;

// Probing is background work: when the cores are busy (the probing threads
// alone fill them) the user-interface thread must still run at once. On
// Linux a nice value belongs to the calling thread, and the threads it
// starts inherit it.
void LowerThisThreadsPriority() {
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, 0);
  if (errno == 0) ::setpriority(PRIO_PROCESS, 0, std::min(now + 10, 19));
}

// The probing side: the folders among the paths walked (off the
// user-interface thread too: a large tree takes a while), then the files
// probed by a few threads at once (opening and analysing a file is the
// whole cost of an add, and the files do not depend on each other), each
// taking the next file not yet taken. The results are handed over in the
// order of the files while the probing goes on.
class TProbeRun {
public:
  explicit TProbeRun(const QStringList& APaths) : FPaths(APaths) {}
  ~TProbeRun() {
    FCancel.Cancel();
    Join();
  }
  TProbeRun(const TProbeRun&) = delete;
  TProbeRun& operator=(const TProbeRun&) = delete;

  void Start() { FWalker = std::thread([this] { Walk(); }); }
  void Cancel() { FCancel.Cancel(); }
  // Files probed so far (in any order).
  int Done() const { return FDone.load(); }
  // The files to probe; -1 while the folders are being walked.
  int Total() const { return FTotal.load(); }
  // Every probing thread has ended (a cancelled one after the file in hand).
  bool Finished() const { return FFinished.load(); }
  // What the walk could not read; read once Total() is known.
  const std::vector<TWalkProblem>& Problems() const { return FProblems; }
  // Up to AMax results not taken yet, in the order of the files: those
  // before the first file still being probed (the user-interface thread's
  // side). Files are claimed in order and a claimed file is always probed
  // to its end, so after a cancel what was probed is one unbroken run.
  std::vector<TProbe> TakeReady(int AMax) {
    std::vector<TProbe> ready;
    std::lock_guard<std::mutex> lock(FLock);
    while (static_cast<int>(ready.size()) < AMax && FTaken < static_cast<int>(FReady.size()) &&
           FReady[static_cast<size_t>(FTaken)]) {
      ready.push_back(std::move(FResults[static_cast<size_t>(FTaken)]));
      ++FTaken;
    }
    return ready;
  }
  // The probing has ended and every result it made has been taken.
  bool AllTaken() {
    if (!Finished()) return false;
    std::lock_guard<std::mutex> lock(FLock);
    return FTaken == static_cast<int>(FReady.size()) || !FReady[static_cast<size_t>(FTaken)];
  }
  // Waits for every thread of the run.
  void Join() {
    if (FWalker.joinable()) FWalker.join();
  }

private:
  void Walk() {
    LowerThisThreadsPriority();
    std::vector<std::string> paths;
    for (const QString& path : FPaths) paths.push_back(path.toStdString());
    TWalkResult walk = ExpandSources(paths, true, [this] { return FCancel.Cancelled(); });
    FFiles = std::move(walk.Files);
    FProblems = std::move(walk.Problems);
    {
      std::lock_guard<std::mutex> lock(FLock);
      FResults.resize(FFiles.size());
      FReady.assign(FFiles.size(), 0);
    }
    FTotal = static_cast<int>(FFiles.size());
    // One thread per core, the walking one among them; a few files do not
    // need more than one.
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = std::clamp(std::min(cores, static_cast<int>(FFiles.size()) / 8), 1, 2);
    std::vector<std::thread> more;
    for (int i = 1; i < threads; ++i) more.emplace_back([this] { Probe(); });
    Probe();
    for (std::thread& t : more) t.join();
    FFinished = true;
  }
  void Probe() {
    // Each thread's own decoder: the window's belongs to its thread.
    TFFDecoder decoder;
    while (!FCancel.Cancelled()) {
      const int i = FNext.fetch_add(1);
      if (i >= static_cast<int>(FFiles.size())) break;
      const TFoundFile& found = FFiles[static_cast<size_t>(i)];
      TProbe probe;
      probe.Found = &found;
      try {
        probe.Ok = decoder.LoadFile(found.Path);
        if (probe.Ok) {
          probe.Duration = decoder.FileStreamInfo().Duration;
          probe.Audio = SourceAudioOf(decoder.FirstAudioStreamInfo());
          probe.HasPictures = decoder.VideoStreamCount() > 0;
          // Read here, where the file is open anyway: naming the outputs
          // later needs no file opened on the user-interface thread.
          probe.Tags = SourceTagsOf(decoder);
        } else
          probe.Error = QString::fromStdString(decoder.LastErrMsg());
      } catch (const std::exception& e) {
        // Without its libraries the decoder throws: the file cannot be read.
        probe.Ok = false;
        probe.Error = QString::fromUtf8(e.what());
      }
      decoder.CloseFile();
      {
        std::lock_guard<std::mutex> lock(FLock);
        FResults[static_cast<size_t>(i)] = std::move(probe);
        FReady[static_cast<size_t>(i)] = 1;
      }
      ++FDone;
    }
  }

  const QStringList FPaths;
  // Written by the walk before FTotal is set, only read after that.
  std::vector<TFoundFile> FFiles;
  std::vector<TWalkProblem> FProblems;
  std::atomic<int> FTotal{-1};
  std::atomic<int> FNext{0};  // the next file to claim
  std::mutex FLock;
  std::vector<TProbe> FResults;  // FLock
  std::vector<char> FReady;      // FLock; the file's result is in FResults
  int FTaken = 0;                // FLock; results handed to the user-interface thread
  std::atomic<int> FDone{0};
  std::atomic<bool> FFinished{false};
  TCancelToken FCancel;
  std::thread FWalker;  // walks, probes, and waits for the other probing threads
};

// The user-interface thread's side of an add: the results become rows of
// the list (and lines of the log) a step at a time, as they come.
class TRowFeed {
public:
  TRowFeed(TProbeRun& ARun, TSourceList& AList, int AProfileInd, TReportSink& AReport, TFileAdder::TResult& AResult)
      : FRun(ARun), FList(AList), FProfileInd(AProfileInd), FReport(AReport), FResult(AResult) {}

  // The folders that could not be read (a link loop), logged once the
  // walk has ended and named with the refused files in the one message.
  void TellProblems() {
    if (FProblemsTold || FRun.Total() < 0) return;
    FProblemsTold = true;
    for (const TWalkProblem& problem : FRun.Problems()) {
      const QString path = QString::fromStdString(problem.Path);
      FReport.AddLogLine("-> Folder not added: " + path + ": " + QString::fromStdString(problem.Reason));
      FResult.Refused << path + " (" + QString::fromStdString(problem.Reason) + ")";
    }
  }
  // Appends what has been probed, for about AMs milliseconds at most (or
  // all of it when AMs is negative).
  void Step(int AMs) {
    TellProblems();
    QElapsedTimer spent;
    spent.start();
    do {
      std::vector<TProbe> probes = FRun.TakeReady(kRowsPerStep);
      if (probes.empty()) return;
      Append(probes);
    } while (AMs < 0 || spent.elapsed() < AMs);
  }

private:
  void Append(std::vector<TProbe>& AProbes) {
    std::vector<TAudioFile> rows;
    rows.reserve(AProbes.size());
    for (const TProbe& probe : AProbes) {
      const QString file = QString::fromStdString(probe.Found->Path);
      if (!probe.Ok) {
        FReport.AppendLogText(QString());
        FReport.AddLogLine("-> File load error: " + probe.Error);
        FReport.AppendLogText(QString());
        FResult.Refused << QFileInfo(file).fileName();
        continue;
      }
      FReport.AddLogLine("-> Added file " + file);
      TAudioFile row = NewSourceRow(file, probe.Duration, probe.Audio, FProfileInd);
      row.Root = QString::fromStdString(probe.Found->Root);
      // A copy made here, not the probing thread's map moved in: the row
      // lives long (see TProbe).
      row.Tags = probe.Tags;
      row.TagsKnown = true;
      row.HasPictures = probe.HasPictures;
      rows.push_back(std::move(row));
    }
    FResult.Added += static_cast<int>(rows.size());
    // One change of the list for the step's rows.
    FList.AppendRows(std::move(rows));
  }

  TProbeRun& FRun;
  TSourceList& FList;
  const int FProfileInd;
  TReportSink& FReport;
  TFileAdder::TResult& FResult;
  bool FProblemsTold = false;
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
  // The rows of this add are those with ids from here on (nothing else
  // appends while it runs).
  const uint64_t firstId = AList.Rows().NextId();
  AList.Rows().SetAddInProgressFrom(firstId);
  const struct TAddEnds {
    TSourceRows& Rows;
    ~TAddEnds() { Rows.SetAddInProgressFrom(0); }
  } addEnds{AList.Rows()};
  TProbeRun run(AFiles);
  TRowFeed feed(run, AList, AProfileInd, AReport, result);
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
    QElapsedTimer sinceStep;
    sinceStep.start();
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
      if (AOnTick) AOnTick();
      if (AAbandoned && AAbandoned()) {
        loop.quit();
        return;
      }
      if (dialog.wasCanceled() && !result.Cancelled) {
        result.Cancelled = true;
        run.Cancel();
      }
      // Rows and the bar change a few times a second, not at every tick:
      // each change redraws the list and the dialog, and at the timer's
      // pace the drawing alone would keep this thread busy.
      if (sinceStep.elapsed() >= kStepIntervalMs || run.Finished()) {
        sinceStep.restart();
        feed.Step(kStepBudgetMs);
        if (const int total = run.Total(); total >= 0) {
          if (dialog.maximum() != total) dialog.setMaximum(total);
          dialog.setValue(run.Done());
        }
      }
      if (run.AllTaken()) loop.quit();
    });
    timer.start();
    loop.exec();
    // The loop also ends without the add having ended: the window closed
    // (AAbandoned), or the application quit (which ends every event loop).
    // Nothing more of the add goes into a list that is going away.
    if (!run.AllTaken() && !result.Cancelled) result.Abandoned = true;
  }
  if (result.Abandoned || (AAbandoned && AAbandoned())) {
    result.Abandoned = true;
    run.Cancel();
    run.Join();  // the thread touches nothing of the add after this
    // No row is left half-added: those already in go again.
    AList.Rows().RemoveAddedSince(firstId);
    result.Added = 0;
    return result;
  }
  // A cancel heard as the loop ended: what was probed until the thread
  // stopped still comes in, in order.
  run.Join();
  feed.Step(-1);
  if (!result.Refused.isEmpty())
    QMessageBox::information(AParent, QApplication::applicationDisplayName(), RefusalText(result.Refused),
                             QMessageBox::Ok);
  return result;
}

}  // namespace quorvel
