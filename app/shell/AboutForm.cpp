#include "app/shell/AboutForm.h"

#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/Desktop.h"
#include "app/shell/Endpoints.h"

namespace quorvel {

namespace {

QLabel* LinkLabel(const QString& ACaption, const QString& ATarget, TDesktop& ADesktop, QWidget* AParent) {
  auto* l = new QLabel(AParent);
  if (ATarget.isEmpty()) {
    l->setText(QObject::tr("(not configured)"));
  } else {
    l->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(ATarget.toHtmlEscaped(), ACaption.toHtmlEscaped()));
    QObject::connect(l, &QLabel::linkActivated, l, [&ADesktop](const QString& ALink) { ADesktop.OpenUrl(QUrl(ALink)); });
  }
  l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  return l;
}

}  // namespace

TAboutForm::TAboutForm(const TEndpoints& E, TDesktop& ADesktop, QWidget* AParent) : QDialog(AParent) {
  setObjectName("AboutForm");
  setWindowTitle(tr("About"));
  auto* layout = new QVBoxLayout(this);
  auto* name = new QLabel(QStringLiteral("Quorvel"), this);
  name->setObjectName("lblProgramName");
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 2);
  big.setBold(true);
  name->setFont(big);
  layout->addWidget(name);
  auto* version = new QLabel(tr("Version 1.0"), this);
  version->setObjectName("lblVersion");
  layout->addWidget(version);
  auto* notice = new QLabel(tr("Quorvel converts audio files and the sound of video files\n"
                               "into other audio formats, one by one or joined into one file.\n"
                               "It is free to use and to pass on to others.\n"
                               "It comes with no warranty of any kind."),
                            this);
  notice->setObjectName("lblNotice");
  layout->addWidget(notice);
  auto* links = new QGridLayout;
  links->addWidget(new QLabel(tr("Home page:"), this), 0, 0);
  lblHomePage = LinkLabel(E.HomePage, E.HomePage, ADesktop, this);
  links->addWidget(lblHomePage, 0, 1);
  links->addWidget(new QLabel(tr("Support:"), this), 1, 0);
  lblSupport = LinkLabel(E.SupportAddress, E.SupportAddress.isEmpty() ? QString() : "mailto:" + E.SupportAddress,
                         ADesktop, this);
  links->addWidget(lblSupport, 1, 1);
  links->setColumnStretch(1, 1);
  layout->addLayout(links);
  layout->addStretch(1);
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
  resize(400, 260);
}

void TAboutForm::Execute(QWidget* ACentreOn) {
  if (ACentreOn) {
    QRect r = frameGeometry();
    r.moveCenter(ACentreOn->frameGeometry().center());
    move(r.topLeft());
  }
  exec();
}

}  // namespace quorvel
