#include "app/SourceList.h"

#include <QHeaderView>
#include <QTableWidget>

namespace quorvel {

TSourceList::TSourceList(QWidget* AGridParent) : QObject(AGridParent) {
  FGrid = new QTableWidget(0, 4, AGridParent);
  FGrid->setObjectName("sgList");
  FGrid->setHorizontalHeaderLabels({tr("Source"), tr("Estimated Size"), tr("Destination File"), tr("Format")});
  FGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  FGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  FGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FGrid->setShowGrid(false);
  FGrid->verticalHeader()->hide();
  FGrid->verticalHeader()->setDefaultSectionSize(20);
  FGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  FGrid->horizontalHeader()->setHighlightSections(false);
  FGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  FGrid->setContextMenuPolicy(Qt::ActionsContextMenu);
}

int TSourceList::SelectedIndex() const {
  const int row = FGrid->currentRow();
  return (row >= 0 && row < RowCount()) ? row : -1;
}

void TSourceList::UpdateEstimatedSize(int /*AIndex*/) {}

void TSourceList::UpdateAllEstimatedSizes() {
  for (int i = 0; i < RowCount(); ++i) UpdateEstimatedSize(i);
}

void TSourceList::Repaint() {
  FGrid->setRowCount(RowCount());
  for (int r = 0; r < RowCount(); ++r) {
    const TAudioFile& f = FAudioFiles[static_cast<size_t>(r)];
    const QString format =
        (FProfiles && f.ProfileInd >= 0 && f.ProfileInd < static_cast<int>(FProfiles->size()))
            ? (*FProfiles)[static_cast<size_t>(f.ProfileInd)].FormatExt
            : QString();
    const QString cells[4] = {f.SourceTitleExt, QString::number(f.EstimatedSize, 'f', 2) + " MB",
                              f.DestinationTitle, format};
    for (int c = 0; c < 4; ++c) {
      QTableWidgetItem* item = FGrid->item(r, c);
      if (!item) FGrid->setItem(r, c, item = new QTableWidgetItem);
      item->setText(cells[c]);
    }
  }
  FGrid->viewport()->update();
}

}  // namespace quorvel
