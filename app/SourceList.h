// The source list: the rows to convert (AudioFiles) and their grid.
//
// Only the part the shell needs today lives here: the row records, the grid
// with its columns, and the operations the profile choices call. Adding,
// probing, drawing, renaming and reordering rows, and the size estimate, come
// with the source list's own work; their entry points are marked below.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

#include "app/Profile.h"

class QTableWidget;
class QWidget;

namespace quorvel {

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

class TSourceList : public QObject {
  Q_OBJECT
public:
  explicit TSourceList(QWidget* AGridParent);
  // The profile set the rows' indexes refer to.
  void SetProfiles(const TProfiles* AProfiles) { FProfiles = AProfiles; }

  QTableWidget* Grid() const { return FGrid; }
  std::vector<TAudioFile>& AudioFiles() { return FAudioFiles; }
  const std::vector<TAudioFile>& AudioFiles() const { return FAudioFiles; }
  int RowCount() const { return static_cast<int>(FAudioFiles.size()); }

  // Element index of the selected file row; -1 when no file row is selected.
  int SelectedIndex() const;

  // SEAM (source list work): the estimate of a row's output size from its
  // profile's bit rate and trimmed length is not computed yet; the row
  // keeps the size it has.
  void UpdateEstimatedSize(int AIndex);
  void UpdateAllEstimatedSizes();

  // Brings the grid in line with AudioFiles: one grid row per element.
  void Repaint();

private:
  const TProfiles* FProfiles = nullptr;
  QTableWidget* FGrid = nullptr;
  std::vector<TAudioFile> FAudioFiles;
};

}  // namespace quorvel
