#include "app/report/LogForm.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quorvel {

TLogForm::TLogForm(QWidget* AParent) : QDialog(AParent) {
  setObjectName("LogForm");
  setWindowTitle(tr("Events Log"));
  resize(760, 480);
  auto* layout = new QVBoxLayout(this);
  mmoLog = new QPlainTextEdit(this);
  mmoLog->setObjectName("mmoLog");
  mmoLog->setReadOnly(true);
  mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(mmoLog, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  btnCopyAll = buttons->addButton(tr("Copy all"), QDialogButtonBox::ActionRole);
  btnCopyAll->setObjectName("btnCopyAll");
  btnSaveAs = buttons->addButton(tr("Save as..."), QDialogButtonBox::ActionRole);
  btnSaveAs->setObjectName("btnSaveAs");
  // OK stays the button Enter presses.
  for (QPushButton* b : {btnCopyAll, btnSaveAs}) b->setAutoDefault(false);
  connect(btnCopyAll, &QPushButton::clicked, this, [this] { CopyAllClick(); });
  connect(btnSaveAs, &QPushButton::clicked, this, [this] { SaveAsClick(); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

void TLogForm::AppendLine(const QString& ALine) {
  FLines << ALine;
  mmoLog->appendPlainText(ALine);
}

void TLogForm::Execute() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r = frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }
  mmoLog->moveCursor(QTextCursor::End);
  mmoLog->moveCursor(QTextCursor::StartOfLine);
  mmoLog->horizontalScrollBar()->setValue(0);
  exec();
}

void TLogForm::CopyAllClick() { QGuiApplication::clipboard()->setText(FLines.join(u'\n') + u'\n'); }

bool TLogForm::SaveAsClick() {
  QFileDialog dialog(this, tr("Save the events log"), QDir::homePath(), tr("Text files (*.txt);;All files (*)"));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.selectFile(QStringLiteral("quorvel-events.txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  const QString path = dialog.selectedFiles().first();
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
    file.write((FLines.join(u'\n') + u'\n').toUtf8());
    if (file.commit()) return true;
  }
  QMessageBox::warning(this, windowTitle(), tr("Cannot write %1: %2").arg(path, file.errorString()));
  return false;
}

}  // namespace quorvel
