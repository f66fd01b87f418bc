#include "app/MainWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QVBoxLayout>

#include "media/runtime/FFLoad.h"

namespace quorvel {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Quorvel");
  setFixedSize(737, 452);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  FStatus = new QLabel(central);
  FStatus->setWordWrap(true);
  FStatus->setAlignment(Qt::AlignCenter);
  layout->addWidget(FStatus);
  setCentralWidget(central);

  // The media libraries come from "LibAV" beside the program when it holds
  // them, else from the system.
  FMediaLoaded = AVLibLoaded(kEncoderLibraries) ||
                 LoadAVLib(kEncoderLibraries,
                           QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString(),
                           FLastErrMsg);
  FStatus->setText(MediaStatusText());
}

MainWindow::~MainWindow() = default;

QString MainWindow::MediaStatusText() const {
  if (!FMediaLoaded) return tr("The media libraries could not be loaded:\n%1").arg(QString::fromStdString(FLastErrMsg));
  return tr("Media libraries loaded (%1).").arg(QString::fromUtf8(avutil.av_util_ffversion));
}

}  // namespace quorvel
