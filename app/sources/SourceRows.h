// The rows of the source list as a model: every edit goes through here, so
// that the derived fields stay right (the trimmed length follows the trim
// points, the estimated size follows the length and the row's profile) and
// every edit is announced (the grid redraws from it; the batch reads it).
//
// Owner: the user-interface thread.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "profiles/Profile.h"

namespace quorvel {

// Where a row stands in the last conversion that included it.
enum class TRowState { None, Waiting, Converting, Done, Failed, Stopped, Skipped };

struct TRowStatus {
  TRowState State = TRowState::None;
  int Percent = 0;  // while converting
  QString Reason;   // why it failed; for a done row, what its output measured (or empty)
};

// The text of the list's Status column: "waiting", "converting 42%", "done",
// "failed", "stopped", "skipped" (its output is newer than the source);
// empty before any conversion.
QString RowStatusText(const TRowStatus& AStatus);

struct TAudioFile {
  QString Source;
  // The folder it was added from when a folder was added ("" for a file
  // added itself): an output name pattern's {folder} is its place beneath.
  QString Root;
  QString SourceTitleExt;
  int64_t Duration = 0;       // µs, the whole source as probed (the Duration column)
  int64_t TrimmedLength = 0;  // derived: TimeEnd - TimeStart
  double EstimatedSize = 0;   // derived: MB at the profile's bit rate
  QString DestinationTitle;
  QString Status = QStringLiteral("-");
  int64_t TimeStart = 0;
  int64_t TimeEnd = 0;
  int ProfileInd = 0;
  TSourceAudio SourceAudio;  // the first audio stream's values, for "Original"
  // The source's tags (keys in lower case), read where it was probed when
  // it was added (TagsKnown): output name patterns use them, so naming the
  // outputs never opens the sources on the user-interface thread.
  std::map<std::string, std::string> Tags;
  bool TagsKnown = false;
  // The source has a picture stream (a video, or a cover picture): the
  // preview box shows it while the row plays.
  bool HasPictures = false;
  // Given by Append to every row (0 until then), never reused in this list:
  // a conversion finds its rows by it even when rows moved or went meanwhile.
  uint64_t Id = 0;
  TRowStatus Conversion;  // shown in the Status column
};

class TSourceRows : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

  // The profile set the rows' indexes refer to.
  void SetProfiles(const TProfiles* AProfiles) { FProfiles = AProfiles; }
  const TProfile* ProfileOf(const TAudioFile& AFile) const;

  const std::vector<TAudioFile>& All() const { return FRows; }
  int Count() const { return static_cast<int>(FRows.size()); }
  const TAudioFile& At(int AIndex) const { return FRows[static_cast<size_t>(AIndex)]; }

  // Each edit ignores an index out of range. Both appends give each row its
  // id (whatever AFile.Id held) and its derived fields.
  void Append(TAudioFile AFile);
  // Many rows as one change.
  void Append(std::vector<TAudioFile> AFiles);
  void SetTrim(int AIndex, int64_t AStart, int64_t AEnd);
  void SetTitle(int AIndex, const QString& ATitle);
  void SetProfile(int AIndex, int AProfileInd);
  void SetProfileOfAll(int AProfileInd);
  void SetStatus(int AIndex, const TRowStatus& AStatus);
  // The row with AId; -1 when it is gone. Throws std::logic_error for id 0
  // or an id two rows hold: a programming fault, never a row to guess.
  int IndexOfId(uint64_t AId) const;
  void Exchange(int A, int B);
  // Puts the rows in a new order: row i becomes the row that was at
  // AOrder[i]. Ignored unless AOrder holds every index once.
  void Reorder(const std::vector<int>& AOrder);
  void RemoveAt(int AIndex);
  // The id the next row appended gets.
  uint64_t NextId() const { return FNextId; }
  // Takes out every row appended since NextId() was AFirstId, in one change
  // (an add that was given up takes its rows back).
  void RemoveAddedSince(uint64_t AFirstId);
  // While an add runs: the id of its first row (0: no add runs). Its rows
  // are not the user's list yet: an add given up takes them back, so a list
  // kept meanwhile (the window closing during the add) leaves them out.
  void SetAddInProgressFrom(uint64_t AFirstId) { FAddFrom = AFirstId; }
  bool IsOfAddInProgress(const TAudioFile& ARow) const { return FAddFrom != 0 && ARow.Id >= FAddFrom; }
  void Clear();
  // After a profile's values changed: the estimates that depend on it. An
  // unusable bit rate keeps the estimate before.
  void UpdateEstimate(int AIndex);
  void UpdateAllEstimates();

signals:
  // Rows AFirst to ALast changed; after a change of the count, up to the
  // last row (ALast may be -1: no rows are left).
  void Changed(int AFirst, int ALast);

private:
  bool Valid(int AIndex) const { return AIndex >= 0 && AIndex < Count(); }
  void Estimate(TAudioFile& AFile) const;

  const TProfiles* FProfiles = nullptr;
  std::vector<TAudioFile> FRows;
  uint64_t FNextId = 1;
  uint64_t FAddFrom = 0;
};

}  // namespace quorvel
