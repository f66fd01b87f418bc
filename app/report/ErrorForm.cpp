#include "app/report/ErrorForm.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace quorvel {

TErrorForm::TErrorForm(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("ErrorForm");
  setWindowTitle(tr("Error!"));
  auto* grid = new QGridLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);
  grid->addWidget(icon, 0, 0, 3, 1);
  grid->addWidget(new QLabel(tr("The following error occured:"), this), 0, 1);
  lblErrorText = new QLabel(QStringLiteral("..."), this);
  lblErrorText->setObjectName("lblErrorText");
  lblErrorText->setWordWrap(true);
  lblErrorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(lblErrorText, 1, 1);
  grid->addWidget(new QLabel(tr("Error report is generated. Please send it to developers."), this), 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* send = new QPushButton(tr("Send"), this);
  send->setObjectName("btnSend");
  send->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName("btnCancel");
  buttons->addWidget(send);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 3, 0, 1, 2);
  connect(send, &QPushButton::clicked, this, [this] { done(mrSend); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
  setMinimumWidth(420);
}

int TErrorForm::Execute(const QString& AErrorText) {
  lblErrorText->setText(AErrorText);
  adjustSize();
  resize(width(), std::max(118, sizeHint().height()));
  // Closing the window any other way than Send is a Cancel.
  const int result = exec();
  return result == mrSend ? mrSend : mrCancel;
}

}  // namespace quorvel
