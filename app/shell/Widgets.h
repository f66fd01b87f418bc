// Small widget variants the windows share.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace quorvel {

// A choice that reports when its drop-down list closes, whether or not the
// item changed. Qt hides the list before it applies the chosen item, so the
// report is queued to arrive after the selection.
class TCloseUpComboBox : public QComboBox {
  Q_OBJECT
public:
  using QComboBox::QComboBox;
  void hidePopup() override;
signals:
  void closedUp();
};

// A flat button drawn from a normal and a pointer-over picture.
class TImageButton : public QPushButton {
  Q_OBJECT
public:
  explicit TImageButton(QWidget* AParent = nullptr);
  void SetImages(const QPixmap& ANormal, const QPixmap& AOver);

protected:
  void enterEvent(QEnterEvent* AEvent) override;
  void leaveEvent(QEvent* AEvent) override;
  void changeEvent(QEvent* AEvent) override;

private:
  void ShowImage();
  QPixmap FNormal, FOver;
  bool FHover = false;
};

}  // namespace quorvel
