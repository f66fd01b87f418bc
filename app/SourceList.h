// The source list: the rows to convert (AudioFiles) and their grid.
//
// Grid row r shows element r; the column captions sit in the header. Rows
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

#include "app/Profile.h"

class QLineEdit;
class QPixmap;
class QTableWidget;
class QTimeEdit;
class QWidget;

namespace quorvel {

class TFFDecoder;
class TListDelegate;
class TReportSink;

struct TAudioFile {
  QString Source;
  QString SourceTitleExt;
  int64_t TrimmedLength = 0;
  double EstimatedSize = 0;
  QString DestinationTitle;
  QString Status = QStringLiteral("-");
  int64_t TimeStart = 0;
  int64_t TimeEnd = 0;
  int ProfileInd = 0;
};

// "hh:mm:ss" of a media time (µs); hours are not limited to 24.
QString FormatMediaTime(int64_t ATime);
// µs of a time of day.
int64_t TextTimeToMediaTime(const QTime& ATime);
// The name without the part from its last "." on.
QString RemoveExtension(const QString& AFileName);

class TSourceList : public QObject {
  Q_OBJECT
public:
  explicit TSourceList(QWidget* AGridParent);
  // The profile set the rows' indexes refer to.
  void SetProfiles(const TProfiles* AProfiles) { FProfiles = AProfiles; }
  // The fields that show the selected row's trim points.
  void SetTimeFields(QTimeEdit* AStart, QTimeEdit* AEnd) {
    FTimeStart = AStart;
    FTimeEnd = AEnd;
  }

  // The skin's pictures of the selected row and of the film icon.
  void SetPictures(const QPixmap& ASelectedRow, const QPixmap& AFilmIcon);

  QTableWidget* Grid() const { return FGrid; }
  QLineEdit* NameEditor() const { return FNameEditor; }
  std::vector<TAudioFile>& AudioFiles() { return FAudioFiles; }
  const std::vector<TAudioFile>& AudioFiles() const { return FAudioFiles; }
  int RowCount() const { return static_cast<int>(FAudioFiles.size()); }

  // Element index of the selected file row; -1 when no file row is selected.
  int SelectedIndex() const;
  void SelectIndex(int AIndex);

  // Probes AMediaFile with ADecoder and appends it with AProfileInd; on
  // failure logs and tells the user, and adds nothing.
  bool AddMediaFile(const QString& AMediaFile, TFFDecoder& ADecoder, int AProfileInd, TReportSink& AReport);

  // The estimate of a row's output size from its profile's bit rate and its
  // trimmed length; an unusable profile keeps the old estimate.
  void UpdateEstimatedSize(int AIndex);
  void UpdateAllEstimatedSizes();

  // Row operations of the pop-up menu. Each returns false when there was
  // nothing to do.
  void ExchangeRows(int A, int B);
  bool Remove();  // false: the last row went, the caller clears the list
  void ClearAll();
  bool MoveUp();
  bool MoveDown();
  // Places the name editor over the selected row's "Destination File" cell.
  void BeginRename();
  void EndRename();
  // Enter in the Start or End field: the selected row takes both times
  // when the end is not before the start.
  void ApplyTimeFields();

  // Brings the grid in line with AudioFiles: one grid row per element.
  void Repaint();

  const TProfile* ProfileOf(const TAudioFile& AFile) const;

private:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

  const TProfiles* FProfiles = nullptr;
  QTableWidget* FGrid = nullptr;
  TListDelegate* FDelegate = nullptr;  // owned by the grid
  QLineEdit* FNameEditor = nullptr;
  QTimeEdit* FTimeStart = nullptr;
  QTimeEdit* FTimeEnd = nullptr;
  bool FRenaming = false;  // guards the editor's end against its own hide
  std::vector<TAudioFile> FAudioFiles;
};

}  // namespace quorvel
