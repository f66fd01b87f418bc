// The About dialog: name, version, notice and the home page and support links.
#pragma once

#include <QDialog>

class QLabel;

namespace quorvel {

class TDesktop;
struct TEndpoints;

class TAboutForm : public QDialog {
  Q_OBJECT
public:
  TAboutForm(const TEndpoints& AEndpoints, TDesktop& ADesktop, QWidget* AParent = nullptr);
  // Shows the dialog modally, centred on ACentreOn.
  void Execute(QWidget* ACentreOn);

  QLabel* lblHomePage = nullptr;
  QLabel* lblSupport = nullptr;
};

}  // namespace quorvel
