// The source list: the rows to convert (a TSourceRows model) and their grid.
//
// Grid row r shows row r of the model and is redrawn whenever the model
// announces a change; the column captions sit in the header. Rows
// come in through AddMediaFile, which probes each file first; the grid is
// drawn by the list itself (see the delegate in the .cpp), renamed in place
// with a line editor over the "Destination File" cell, and reordered with
// ExchangeRows.
#pragma once

#include <QObject>
#include <QString>
#include <QTime>

#include <cstdint>
#include <vector>

#include "app/sources/SourceRows.h"
#include "profiles/Profile.h"

class QLineEdit;
class QPixmap;
class QTableWidget;
class QTimeEdit;
class QWidget;

namespace quorvel {

class TFFDecoder;
struct TAudioStreamInfo;
class TListDelegate;
class TReportSink;

// The list's columns, in the order shown: the four of the list, the row's
// status, then the source's length and folder.
enum TListColumn {
  colSource,
  colEstimatedSize,
  colDestination,
  colFormat,
  colStatus,
  colDuration,
  colFolder,
  kListColumnCount
};

// "hh:mm:ss" of a media time (µs); hours are not limited to 24.
QString FormatMediaTime(int64_t ATime);
// µs of a time of day.
int64_t TextTimeToMediaTime(const QTime& ATime);
// The time of day a trim field shows for a media time (µs), to the
// millisecond; a negative time is 0, one of a day or more the last
// millisecond of the day (the fields cannot show more).
QTime MediaTimeToTimeOfDay(int64_t ATime);
// The trim fields' display format: hours to milliseconds.
inline constexpr const char* kTrimTimeFormat = "HH:mm:ss.zzz";
// The name without the part from its last "." on.
QString RemoveExtension(const QString& AFileName);
// What the decoder's first audio stream says of the source's sample rate,
// channels and depth (0 where it says nothing).
TSourceAudio SourceAudioOf(const TAudioStreamInfo& AAudio);
// The row of a file just probed: the whole file, with the given profile.
TAudioFile NewSourceRow(const QString& AFile, int64_t ADuration, const TSourceAudio& AAudio, int AProfileInd);

class TSourceList : public QObject {
  Q_OBJECT
public:
  explicit TSourceList(QWidget* AGridParent);
  // The profile set the rows' indexes refer to.
  void SetProfiles(const TProfiles* AProfiles) { FRows.SetProfiles(AProfiles); }
  // The fields that show the selected row's trim points.
  void SetTimeFields(QTimeEdit* AStart, QTimeEdit* AEnd) {
    FTimeStart = AStart;
    FTimeEnd = AEnd;
  }

  // The skin's pictures of the selected row and of the film icon.
  void SetPictures(const QPixmap& ASelectedRow, const QPixmap& AFilmIcon);

  QTableWidget* Grid() const { return FGrid; }
  QLineEdit* NameEditor() const { return FNameEditor; }
  // The rows: every edit goes through the model.
  TSourceRows& Rows() { return FRows; }
  const std::vector<TAudioFile>& AudioFiles() const { return FRows.All(); }
  int RowCount() const { return FRows.Count(); }

  // Element index of the selected file row; -1 when no file row is selected.
  // With several rows selected this is the current one (the row the
  // profile choices and the trim fields show).
  int SelectedIndex() const;
  // Every selected row, ascending; the current row alone when the
  // selection holds none.
  std::vector<int> SelectedIndexes() const;
  void SelectIndex(int AIndex);

  // Probes AMediaFile with ADecoder and appends it with AProfileInd; on
  // failure logs and tells the user, and adds nothing.
  bool AddMediaFile(const QString& AMediaFile, TFFDecoder& ADecoder, int AProfileInd, TReportSink& AReport);
  // Rows probed elsewhere (TFileAdder), appended in one change.
  void AppendRows(std::vector<TAudioFile> AFiles);

  // The estimate of a row's output size from its profile's bit rate and its
  // trimmed length (an unusable profile keeps the old estimate), and the
  // trim fields from the selected row.
  void UpdateEstimatedSize(int AIndex);
  void UpdateAllEstimatedSizes();

  // Row operations of the pop-up menu. Each returns false when there was
  // nothing to do.
  void ExchangeRows(int A, int B);
  // Removes every selected row (SelectedIndexes).
  bool Remove();  // false: every row would go, the caller clears the list
  void ClearAll();
  bool MoveUp();
  bool MoveDown();
  // Puts the rows in the order of AColumn's values (names in natural order,
  // sizes and lengths by value; rows of equal values keep their order).
  // The order is the rows' own: the batch converts them as they are shown.
  // The selection and the current row stay on their rows.
  void SortByColumn(int AColumn, Qt::SortOrder AOrder);
  // Places the name editor over the selected row's "Destination File" cell.
  void BeginRename();
  void EndRename();
  // Enter in the Start or End field: the selected row takes both times
  // when the end is not before the start.
  void ApplyTimeFields();

  // Brings the grid in line with the rows: one grid row per row.
  void Repaint();
  // Writes rows AFirst to ALast again (the grid has a row for each).
  void RepaintRows(int AFirst, int ALast);
  // Scrolls the grid as little as needed to show the Status column, which
  // lies beyond the list's width.
  void ShowStatusColumn();

  const TProfile* ProfileOf(const TAudioFile& AFile) const { return FRows.ProfileOf(AFile); }

private:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
  // Rows moved or added by hand: the header's sort arrow goes.
  void NoLongerSorted();

  QTableWidget* FGrid = nullptr;
  TListDelegate* FDelegate = nullptr;  // owned by the grid
  QLineEdit* FNameEditor = nullptr;
  QTimeEdit* FTimeStart = nullptr;
  QTimeEdit* FTimeEnd = nullptr;
  bool FRenaming = false;  // guards the editor's end against its own hide
  int FSortedBy = -1;      // the column the rows are in the order of; -1: none
  Qt::SortOrder FSortOrder = Qt::AscendingOrder;
  TSourceRows FRows;
};

}  // namespace quorvel
