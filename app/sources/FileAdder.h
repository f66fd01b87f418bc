// Adding many files to the source list at once (the open dialog, a drop,
// "Add folder..."): folders among them are walked (every file beneath, in
// natural order, hidden ones left out) and the files are probed on threads
// of their own, so the window stays responsive, while a progress dialog
// (shown once the probing takes more than a moment) tells how far it got
// and can cancel it. Each row is made whole where its file is probed (its
// length, audio and tags), and the readable files become rows in the order
// given while the probing goes on, a bounded step at a time, so that the
// user-interface thread never stops for long however many files come; each
// refused file gets the log lines a single add gives, and all of them (with
// the folders that could not be read) one message at the end.
//
// Threads: Add runs on the user-interface thread and returns when the rows
// are in; each probing thread owns its own decoder and hands back only the
// results, under the adder's lock.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class QWidget;

namespace quorvel {

class TReportSink;
class TSourceList;

class TFileAdder {
public:
  struct TResult {
    int Added = 0;
    QStringList Refused;  // file names, in the order given
    bool Cancelled = false;
    // The add was given up (the window closed, the application quit): no
    // row was added (those that came in while it ran went again) and
    // nothing was told.
    bool Abandoned = false;
  };

  // Probes AFiles and appends the readable ones with AProfileInd. A cancel
  // keeps the files probed until then (in order) and drops the rest.
  // AOnTick, when set, is called on the user-interface thread about every
  // 10 ms while the probing runs (the benchmark measures the gaps).
  // AAbandoned, when set, is asked as often: true gives the add up at once.
  // Add returns only once the probing thread has ended.
  static TResult Add(QWidget* AParent, const QStringList& AFiles, TSourceList& AList, int AProfileInd,
                     TReportSink& AReport, const std::function<void()>& AOnTick = {},
                     const std::function<bool()>& AAbandoned = {});

  // The message for refused files: the single add's text for one file,
  // one text naming them all (the first few) for several.
  static QString RefusalText(const QStringList& ANames);
};

}  // namespace quorvel
