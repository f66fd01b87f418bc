#include "app/sources/FileInfoForm.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quorvel {

QString BitRateText(int64_t ABitRate) {
  return ABitRate <= 0 ? QStringLiteral("is not preseted") : QString::number(ABitRate / 1000) + " Kb";
}

TFileInfoForm::TFileInfoForm(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("FileInfoForm");
  setWindowTitle(tr("File Information"));
  setModal(true);
  auto label = [this](const char* AName) {
    auto* l = new QLabel(this);
    l->setObjectName(AName);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  spSkinLabel2 = label("spSkinLabel2");
  spSkinLabel3 = label("spSkinLabel3");
  spSkinLabel6 = label("spSkinLabel6");
  spSkinLabel7 = label("spSkinLabel7");
  spSkinLabel8 = label("spSkinLabel8");
  auto* root = new QVBoxLayout(this);
  auto* file = new QFormLayout;
  file->addRow(tr("File name:"), spSkinLabel2);
  file->addRow(tr("Media Length:"), spSkinLabel3);
  root->addLayout(file);
  auto* audio = new QGroupBox(tr("Audio"), this);
  auto* a = new QFormLayout(audio);
  a->addRow(tr("Sample Rate:"), spSkinLabel6);
  a->addRow(tr("Channels:"), spSkinLabel7);
  a->addRow(tr("Bit Rate:"), spSkinLabel8);
  root->addWidget(audio);
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName("OKButton");
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(ok);
  root->addLayout(row);
}

void TFileInfoForm::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  resize(qMax(width(), 320), 250);
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

}  // namespace quorvel
