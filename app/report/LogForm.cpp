#include "app/report/LogForm.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quorvel {

TLogForm::TLogForm(QWidget* AParent) : QDialog(AParent) {
  setObjectName("LogForm");
  setWindowTitle(tr("Events Log"));
  resize(406, 330);
  auto* layout = new QVBoxLayout(this);
  mmoLog = new QPlainTextEdit(this);
  mmoLog->setObjectName("mmoLog");
  mmoLog->setReadOnly(true);
  mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(mmoLog, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
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
  exec();
}

}  // namespace quorvel
