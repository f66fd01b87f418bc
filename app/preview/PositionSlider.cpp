#include "app/preview/PositionSlider.h"

#include <QCoreApplication>
#include <QProxyStyle>
#include <QSlider>

namespace quorvel {

namespace {

// The application's style, except that the left button sets the slider's
// position where it is pressed and no button steps by pages.
class TJumpToClickStyle : public QProxyStyle {
public:
  int styleHint(StyleHint AHint, const QStyleOption* AOption, const QWidget* AWidget,
                QStyleHintReturn* AReturn) const override {
    if (AHint == SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
    if (AHint == SH_Slider_PageSetButtons) return Qt::NoButton;
    return QProxyStyle::styleHint(AHint, AOption, AWidget, AReturn);
  }
};

}  // namespace

void JumpToClickedPoint(QSlider* ASlider) {
  // One style for every such slider; it lives as long as the application,
  // which outlives every widget (a widget does not own the style it is given).
  static TJumpToClickStyle* style = [] {
    auto* s = new TJumpToClickStyle;
    s->setParent(QCoreApplication::instance());
    return s;
  }();
  ASlider->setStyle(style);
}

}  // namespace quorvel
