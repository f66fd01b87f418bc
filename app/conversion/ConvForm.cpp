#include "app/conversion/ConvForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel {

TConvForm::TConvForm(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("ConvForm");
  setWindowTitle(tr("Conversion"));
  setModal(true);
  auto* root = new QVBoxLayout(this);
  lblConvertingTitle = new QLabel(this);
  lblConvertingTitle->setObjectName("lblConvertingTitle");
  lblConvertingTitle->setMinimumWidth(360);
  root->addWidget(lblConvertingTitle);
  for (QProgressBar** bar : {&ProgressCurrent, &ProgressTotal}) {
    *bar = new QProgressBar(this);
    (*bar)->setRange(0, 100);
    (*bar)->setValue(0);
    root->addWidget(*bar);
  }
  ProgressCurrent->setObjectName("ProgressCurrent");
  ProgressTotal->setObjectName("ProgressTotal");
  cbOpenOutput = new QCheckBox(tr("Open output folder when conversion completed"), this);
  cbOpenOutput->setObjectName("cbOpenOutput");
  cbOpenOutput->setChecked(true);
  cbShutdownPC = new QCheckBox(tr("Shut down computer when conversion completed"), this);
  cbShutdownPC->setObjectName("cbShutdownPC");
  root->addWidget(cbOpenOutput);
  root->addWidget(cbShutdownPC);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  PauseButton = new QPushButton(tr("Pause"), this);
  PauseButton->setObjectName("PauseButton");
  PauseButton->setAutoDefault(false);
  CancelButton = new QPushButton(tr("Cancel"), this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setAutoDefault(false);
  buttons->addWidget(PauseButton);
  buttons->addWidget(CancelButton);
  root->addLayout(buttons);
}

void TConvForm::SetTitle(const QString& AText) {
  FTitle = AText;
  lblConvertingTitle->setToolTip(AText);
  lblConvertingTitle->setText(
      lblConvertingTitle->fontMetrics().elidedText(AText, Qt::ElideRight, lblConvertingTitle->width()));
}

void TConvForm::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  resize(width(), 205);
  if (parentWidget()) {
    const QRect p = parentWidget()->window()->geometry();
    move(p.center() - rect().center());
  }
}

void TConvForm::resizeEvent(QResizeEvent* AEvent) {
  QDialog::resizeEvent(AEvent);
  SetTitle(FTitle);
}

}  // namespace quorvel
