#include "app/sources/SourceList.h"

#include <QApplication>
#include <QEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimeEdit>

#include <algorithm>

#include "app/report/ReportSink.h"
#include "media/batch/FolderWalk.h"
#include "media/batch/SourceTags.h"
#include "media/decoder/FFDecode.h"

namespace quorvel {

namespace {

// Thin vertical lines between the columns, in the list's own grey.
const QColor kSeparatorColour(209, 209, 209);

}  // namespace

// Every cell is drawn here: white (or the skin's selected-row picture)
// behind black text cut with an ellipsis, the skin's film icon before the
// source name, and a separator line at the right edge of each column.
class TListDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QPixmap SelectedRow;  // stretched over each cell of the selected row
  QPixmap FilmIcon;     // at the start of every row
  void paint(QPainter* P, const QStyleOptionViewItem& AOption, const QModelIndex& AIndex) const override {
    const QRect r = AOption.rect;
    const bool selected = AOption.state & QStyle::State_Selected;
    P->save();
    if (!selected)
      P->fillRect(r, Qt::white);
    else if (!SelectedRow.isNull())
      P->drawPixmap(r, SelectedRow);
    else
      P->fillRect(r, AOption.palette.color(QPalette::Highlight).lighter(160));
    P->setPen(Qt::black);
    const QString text = AIndex.data().toString();
    QRect textRect;
    int align = Qt::AlignVCenter;
    switch (AIndex.column()) {
      case 0:
        if (!FilmIcon.isNull()) P->drawPixmap(r.left() + 2, r.top() + 1, FilmIcon);
        textRect = QRect(QPoint(r.left() + 23, r.top() + 2), r.bottomRight());
        align = Qt::AlignTop | Qt::AlignLeft;
        break;
      case 1:
        textRect = r;
        align = Qt::AlignCenter;
        break;
      default:
        textRect = QRect(QPoint(r.left() + 5, r.top()), r.bottomRight());
        align = Qt::AlignVCenter | Qt::AlignLeft;
        break;
    }
    P->drawText(textRect, align | Qt::TextSingleLine,
                AOption.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
    P->setPen(kSeparatorColour);
    P->drawLine(r.right(), r.top(), r.right(), r.bottom());
    P->restore();
  }
};

QString FormatMediaTime(int64_t ATime) {
  const int64_t seconds = ATime / 1000000;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(seconds / 60 / 60),
                           static_cast<long long>((seconds / 60) % 60), static_cast<long long>(seconds % 60));
}

QTime MediaTimeToTimeOfDay(int64_t ATime) {
  constexpr int64_t kLastMs = 24LL * 3600 * 1000 - 1;
  const int64_t ms = std::clamp<int64_t>(ATime / 1000, 0, kLastMs);
  return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
}

int64_t TextTimeToMediaTime(const QTime& ATime) {
  return ((int64_t{ATime.hour()} * 3600 + ATime.minute() * 60 + ATime.second()) * 1000 + ATime.msec()) * 1000;
}

QString RemoveExtension(const QString& AFileName) {
  const qsizetype dot = AFileName.lastIndexOf(u'.');
  return dot < 0 ? AFileName : AFileName.left(dot);
}

TSourceList::TSourceList(QWidget* AGridParent) : QObject(AGridParent) {
  FGrid = new QTableWidget(0, kListColumnCount, AGridParent);
  FGrid->setObjectName("sgList");
  FGrid->setHorizontalHeaderLabels({tr("Source"), tr("Estimated Size"), tr("Destination File"), tr("Format"),
                                    tr("Status"), tr("Duration"), tr("Folder")});
  // The status follows the four columns of the list; "converting 100%" fits.
  FGrid->setColumnWidth(colStatus, 100);
  FGrid->setColumnWidth(colDuration, 70);
  FGrid->setColumnWidth(colFolder, 200);
  FGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Shift and Ctrl clicks and Ctrl+A choose several rows for Remove; the
  // current row alone drives the profile choices and the trim fields.
  FGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FGrid->setShowGrid(false);
  FDelegate = new TListDelegate(FGrid);
  FGrid->setItemDelegate(FDelegate);
  FGrid->verticalHeader()->hide();
  FGrid->verticalHeader()->setDefaultSectionSize(20);
  FGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  FGrid->horizontalHeader()->setHighlightSections(false);
  FGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  FGrid->horizontalHeader()->setTextElideMode(Qt::ElideRight);
  FGrid->setTextElideMode(Qt::ElideRight);
  FGrid->setContextMenuPolicy(Qt::ActionsContextMenu);

  FNameEditor = new QLineEdit(FGrid->viewport());
  FNameEditor->setObjectName("edDestinationTitle");
  FNameEditor->hide();
  FNameEditor->installEventFilter(this);
  connect(FNameEditor, &QLineEdit::editingFinished, this, [this] { EndRename(); });
  connect(&FRows, &TSourceRows::Changed, this, [this](int AFirst, int ALast) {
    // Only the rows a change names are written again (a change of the count
    // names every row it moved): a conversion changes one row at a time,
    // often, and adding row n must not cost the n rows before it.
    if (FGrid->rowCount() != RowCount()) FGrid->setRowCount(RowCount());
    RepaintRows(AFirst, ALast);
  });
  // A click on a column's caption sorts the rows by it, a second click the
  // other way round. The arrow shows while the rows are in that order; a
  // row moved or added by hand takes it away.
  QHeaderView* header = FGrid->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  header->setToolTip(tr("Click a column to sort the list by it. Files are converted in the order shown."));
  // (The header turns its own arrow round on a click once it shows one: the
  // list keeps the order it sorted by itself.)
  connect(header, &QHeaderView::sectionClicked, this, [this](int AColumn) {
    const Qt::SortOrder order =
        FSortedBy == AColumn && FSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    SortByColumn(AColumn, order);
  });
  connect(FGrid, &QTableWidget::cellPressed, this, [this](int, int AColumn) {
    if (AColumn == 2) BeginRename();
  });
}

void TSourceList::SetPictures(const QPixmap& ASelectedRow, const QPixmap& AFilmIcon) {
  FDelegate->SelectedRow = ASelectedRow;
  FDelegate->FilmIcon = AFilmIcon;
  FGrid->viewport()->update();
}

bool TSourceList::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == FNameEditor && AEvent->type() == QEvent::FocusOut) EndRename();
  return QObject::eventFilter(AWatched, AEvent);
}

int TSourceList::SelectedIndex() const {
  const int row = FGrid->currentRow();
  return (row >= 0 && row < RowCount()) ? row : -1;
}

std::vector<int> TSourceList::SelectedIndexes() const {
  std::vector<int> rows;
  for (const QModelIndex& i : FGrid->selectionModel()->selectedRows())
    if (i.row() >= 0 && i.row() < RowCount()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (rows.empty() && SelectedIndex() >= 0) rows.push_back(SelectedIndex());
  return rows;
}

void TSourceList::SelectIndex(int AIndex) {
  if (AIndex >= 0 && AIndex < RowCount()) FGrid->selectRow(AIndex);
}

bool TSourceList::AddMediaFile(const QString& AMediaFile, TFFDecoder& ADecoder, int AProfileInd,
                               TReportSink& AReport) {
  const QString name = QFileInfo(AMediaFile).fileName();
  bool loaded = false;
  QString error;
  try {
    loaded = ADecoder.LoadFile(AMediaFile.toStdString());
    if (!loaded) error = QString::fromStdString(ADecoder.LastErrMsg());
  } catch (const std::exception& e) {
    // Without its libraries (a failed runtime load) the decoder throws: the
    // file cannot be read, and the other files of the add go on.
    error = QString::fromUtf8(e.what());
  }
  if (!loaded) {
    AReport.AppendLogText(QString());
    AReport.AddLogLine("-> File load error: " + error);
    AReport.AppendLogText(QString());
    QMessageBox::information(FGrid->window(), QApplication::applicationDisplayName(),
                             "File " + name + " is not a valid media file or its format is not supported.",
                             QMessageBox::Ok);
    return false;
  }
  AReport.AddLogLine("-> Added file " + AMediaFile);
  TAudioFile row = NewSourceRow(AMediaFile, ADecoder.FileStreamInfo().Duration,
                                SourceAudioOf(ADecoder.FirstAudioStreamInfo()), AProfileInd);
  // The tags with the row: naming its output never opens the file again.
  row.Tags = SourceTagsOf(ADecoder);
  row.TagsKnown = true;
  row.HasPictures = ADecoder.VideoStreamCount() > 0;
  FRows.Append(std::move(row));
  NoLongerSorted();
  UpdateEstimatedSize(RowCount() - 1);
  ADecoder.CloseFile();
  return true;
}

TSourceAudio SourceAudioOf(const TAudioStreamInfo& AAudio) {
  return {std::max(AAudio.SampleRate, 0), std::max(AAudio.Channels, 0), std::max(AAudio.BitsPerSample, 0)};
}

TAudioFile NewSourceRow(const QString& AFile, int64_t ADuration, const TSourceAudio& AAudio, int AProfileInd) {
  const QString name = QFileInfo(AFile).fileName();
  TAudioFile f;
  f.Source = AFile;
  f.SourceTitleExt = name;
  f.Duration = ADuration;
  f.DestinationTitle = RemoveExtension(name);
  f.TimeStart = 0;
  f.TimeEnd = ADuration;
  f.ProfileInd = AProfileInd;
  f.SourceAudio = AAudio;
  return f;
}

void TSourceList::UpdateEstimatedSize(int AIndex) {
  if (AIndex < 0 || AIndex >= RowCount()) return;
  FRows.UpdateEstimate(AIndex);
  const int sel = SelectedIndex();
  if (sel >= 0 && FTimeStart && FTimeEnd) {
    const TAudioFile& s = FRows.At(sel);
    FTimeStart->setTime(MediaTimeToTimeOfDay(s.TimeStart));
    FTimeEnd->setTime(MediaTimeToTimeOfDay(s.TimeEnd));
  }
}

void TSourceList::UpdateAllEstimatedSizes() {
  for (int i = 0; i < RowCount(); ++i) UpdateEstimatedSize(i);
}

void TSourceList::ExchangeRows(int A, int B) {
  FRows.Exchange(A, B);
  NoLongerSorted();
}

void TSourceList::NoLongerSorted() {
  FSortedBy = -1;
  FGrid->horizontalHeader()->setSortIndicatorShown(false);
}

bool TSourceList::Remove() {
  const std::vector<int> rows = SelectedIndexes();
  if (RowCount() == 0 || rows.empty()) return true;
  if (static_cast<int>(rows.size()) == RowCount()) return false;
  EndRename();
  // From the last, so that the numbers of the rows still to go stay right.
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) FRows.RemoveAt(*r);
  // The row that moved into the first removed row's place, as one removal
  // leaves it.
  FGrid->selectRow(std::min(rows.front(), RowCount() - 1));
  return true;
}

void TSourceList::ClearAll() {
  EndRename();
  FRows.Clear();
}

bool TSourceList::MoveUp() {
  const int sel = SelectedIndex();
  if (RowCount() < 2 || sel <= 0) return false;
  ExchangeRows(sel, sel - 1);
  FGrid->selectRow(sel - 1);
  return true;
}

bool TSourceList::MoveDown() {
  const int sel = SelectedIndex();
  if (RowCount() < 2 || sel < 0 || sel >= RowCount() - 1) return false;
  ExchangeRows(sel, sel + 1);
  FGrid->selectRow(sel + 1);
  return true;
}

void TSourceList::SortByColumn(int AColumn, Qt::SortOrder AOrder) {
  if (AColumn < 0 || AColumn >= kListColumnCount) return;
  EndRename();
  const std::vector<TAudioFile>& rows = FRows.All();
  // The text each row shows in the column (the grid holds it).
  auto text = [&](int ARow) { return FGrid->item(ARow, AColumn) ? FGrid->item(ARow, AColumn)->text() : QString(); };
  std::vector<std::string> keys(rows.size());
  if (AColumn != colEstimatedSize && AColumn != colDuration)
    for (size_t i = 0; i < rows.size(); ++i) keys[i] = text(static_cast<int>(i)).toLower().toStdString();
  auto less = [&](int A, int B) {
    const TAudioFile& a = rows[static_cast<size_t>(A)];
    const TAudioFile& b = rows[static_cast<size_t>(B)];
    if (AColumn == colEstimatedSize) return a.EstimatedSize < b.EstimatedSize;
    if (AColumn == colDuration) return a.Duration < b.Duration;
    return NaturalLess(keys[static_cast<size_t>(A)], keys[static_cast<size_t>(B)]);
  };
  std::vector<int> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int A, int B) { return AOrder == Qt::AscendingOrder ? less(A, B) : less(B, A); });

  // The selection by the rows' ids, which the new order keeps.
  std::vector<uint64_t> selected;
  for (const int r : SelectedIndexes()) selected.push_back(rows[static_cast<size_t>(r)].Id);
  const int current = SelectedIndex();
  const uint64_t currentId = current >= 0 ? rows[static_cast<size_t>(current)].Id : 0;

  FRows.Reorder(order);
  QHeaderView* header = FGrid->horizontalHeader();
  header->setSortIndicator(AColumn, AOrder);
  header->setSortIndicatorShown(true);
  FSortedBy = AColumn;
  FSortOrder = AOrder;

  FGrid->clearSelection();
  QItemSelection selection;
  for (const uint64_t id : selected) {
    const int r = FRows.IndexOfId(id);
    if (r >= 0) selection.select(FGrid->model()->index(r, 0), FGrid->model()->index(r, kListColumnCount - 1));
  }
  if (currentId != 0) {
    const int r = FRows.IndexOfId(currentId);
    FGrid->setCurrentCell(r, FGrid->currentColumn() < 0 ? 0 : FGrid->currentColumn(), QItemSelectionModel::NoUpdate);
  }
  FGrid->selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TSourceList::BeginRename() {
  const int sel = SelectedIndex();
  if (sel < 0) return;
  const QRect cell = FGrid->visualRect(FGrid->model()->index(sel, 2));
  FNameEditor->setGeometry(cell.left(), cell.top() - 1, FGrid->columnWidth(2), cell.height() + 2);
  FNameEditor->setText(FRows.At(sel).DestinationTitle);
  FRenaming = true;
  FNameEditor->show();
  FNameEditor->setFocus();
  FNameEditor->selectAll();
}

void TSourceList::EndRename() {
  if (!FRenaming) return;
  FRenaming = false;
  const int sel = SelectedIndex();
  if (sel >= 0) FRows.SetTitle(sel, FNameEditor->text());
  FNameEditor->hide();
  Repaint();
}

void TSourceList::ApplyTimeFields() {
  const int sel = SelectedIndex();
  if (RowCount() == 0 || sel < 0 || !FTimeStart || !FTimeEnd) return;
  const int64_t start = TextTimeToMediaTime(FTimeStart->time());
  const int64_t end = TextTimeToMediaTime(FTimeEnd->time());
  if (end < start) return;
  FRows.SetTrim(sel, start, end);
  UpdateEstimatedSize(sel);
}

void TSourceList::AppendRows(std::vector<TAudioFile> AFiles) {
  FRows.Append(std::move(AFiles));
  NoLongerSorted();
  UpdateEstimatedSize(SelectedIndex());  // the trim fields
}

void TSourceList::Repaint() {
  FGrid->setRowCount(RowCount());
  RepaintRows(0, RowCount() - 1);
}

void TSourceList::ShowStatusColumn() {
  if (RowCount() == 0) return;
  FGrid->scrollTo(FGrid->model()->index(std::max(FGrid->currentRow(), 0), 4));
}

void TSourceList::RepaintRows(int AFirst, int ALast) {
  for (int r = std::max(AFirst, 0); r <= ALast && r < RowCount(); ++r) {
    const TAudioFile& f = FRows.At(r);
    const TProfile* p = ProfileOf(f);
    // Two files of one name from two folders differ in the Folder column.
    const QString folder = f.Source.isEmpty() ? QString() : QDir::toNativeSeparators(QFileInfo(f.Source).absolutePath());
    const QString cells[kListColumnCount] = {f.SourceTitleExt,
                                             QString::number(f.EstimatedSize, 'f', 2) + " MB",
                                             f.DestinationTitle,
                                             p ? p->FormatExt : QString(),
                                             RowStatusText(f.Conversion),
                                             f.Duration > 0 ? FormatMediaTime(f.Duration) : QString(),
                                             folder};
    for (int c = 0; c < kListColumnCount; ++c) {
      QTableWidgetItem* item = FGrid->item(r, c);
      if (!item) FGrid->setItem(r, c, item = new QTableWidgetItem);
      item->setText(cells[c]);
    }
    FGrid->item(r, colSource)->setToolTip(QDir::toNativeSeparators(f.Source));
    // Why a row failed, where the user looks for it.
    FGrid->item(r, colStatus)->setToolTip(
        f.Conversion.State == TRowState::Failed || f.Conversion.State == TRowState::Done ? f.Conversion.Reason : QString());
  }
  FGrid->viewport()->update();
}

}  // namespace quorvel
