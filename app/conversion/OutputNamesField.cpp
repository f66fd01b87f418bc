#include "app/conversion/OutputNamesField.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/sources/SourceList.h"
#include "media/batch/Batch.h"
#include "media/batch/NamePattern.h"

namespace quorvel {

TOutputNamesField::TOutputNamesField(QWidget* AParent) : QWidget(AParent) {
  setObjectName("fldOutputNames");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  auto* caption = new QLabel(tr("File names:"), this);
  row->addWidget(caption);
  FEditor = new QLineEdit(this);
  FEditor->setObjectName("edNamePattern");
  FEditor->setPlaceholderText(tr("{name}: each output in the output folder, named after its row"));
  FEditor->setToolTip(tr("Fields: {artist} {albumartist} {album} {track} {track:02} {disc} {title} {genre} {year} "
                         "{name} {folder} {ext}; {field|fallback} when a tag is missing; \"/\" makes folders"));
  caption->setBuddy(FEditor);
  row->addWidget(FEditor, 2);
  FPresets = new QComboBox(this);
  FPresets->setObjectName("cbNamePresets");
  // The first entry is the combo's caption: choosing a preset fills the
  // field and the combo returns to it, so the same preset can be chosen
  // again after an edit.
  FPresets->addItem(tr("Presets"));
  FPresets->addItem(tr("Flat"), QString::fromLatin1(kFlatPattern));
  FPresets->addItem(tr("Keep folders"), QString::fromLatin1(kMirrorPattern));
  FPresets->addItem(tr("Artist/Album/Track"), QString::fromLatin1(kArtistAlbumPattern));
  row->addWidget(FPresets);
  FExample = new QLabel(this);
  FExample->setObjectName("lbNameExample");
  FExample->setTextFormat(Qt::PlainText);
  row->addWidget(FExample, 3);

  connect(FEditor, &QLineEdit::textChanged, this, [this] { ShowExample(); });
  connect(FPresets, &QComboBox::activated, this, [this](int AIndex) {
    if (AIndex <= 0) return;
    SetPattern(FPresets->itemData(AIndex).toString());
    FPresets->setCurrentIndex(0);
  });
}

void TOutputNamesField::Bind(TSourceList& AList, const TProfiles& AProfiles) {
  FList = &AList;
  FProfiles = &AProfiles;
  connect(&AList.Rows(), &TSourceRows::Changed, this, [this](int AFirst, int) {
    if (AFirst <= 0) ShowExample();
  });
  ShowExample();
}

QString TOutputNamesField::Pattern() const { return FEditor->text().trimmed(); }

void TOutputNamesField::SetPattern(const QString& APattern) { FEditor->setText(APattern); }

QString TOutputNamesField::ExampleName(const QString& APattern) {
  if (!FList || FList->RowCount() == 0) return {};
  const TAudioFile& first = FList->AudioFiles().front();
  QString ext;
  if (FProfiles && first.ProfileInd >= 0 && first.ProfileInd < static_cast<int>(FProfiles->size()))
    ext = (*FProfiles)[static_cast<size_t>(first.ProfileInd)].FormatExt;
  const std::string pattern = APattern.trimmed().toStdString();
  if (pattern.empty()) return first.DestinationTitle + ext;
  TBatchRow row;
  row.Source = first.Source.toStdString();
  row.Root = first.Root.toStdString();
  row.Title = first.DestinationTitle.toStdString();
  // The tags read when the row was added; the source is not opened here.
  row.Tags = first.Tags;
  row.TagsKnown = first.TagsKnown;
  // The window's batch writes safe names (no POSIX-only choice here).
  return QString::fromStdString(PatternOutputTitle(pattern, false, row)) + ext;
}

void TOutputNamesField::ShowExample() {
  const QString name = ExampleName(FEditor->text());
  FExample->setText(name.isEmpty() ? QString() : tr("e.g. %1").arg(name));
  FExample->setToolTip(FExample->text());
}

}  // namespace quorvel
