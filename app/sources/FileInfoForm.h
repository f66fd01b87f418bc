// The file information dialog: a row's file name, length and the audio
// stream's rate, channels and bit rate, probed again each time.
#pragma once

#include <QDialog>

class QLabel;

namespace quorvel {

class TFileInfoForm : public QDialog {
  Q_OBJECT
public:
  explicit TFileInfoForm(QWidget* AParent = nullptr);

  QLabel* spSkinLabel2 = nullptr;  // file name
  QLabel* spSkinLabel3 = nullptr;  // media length
  QLabel* spSkinLabel6 = nullptr;  // sample rate
  QLabel* spSkinLabel7 = nullptr;  // channels
  QLabel* spSkinLabel8 = nullptr;  // bit rate

protected:
  void showEvent(QShowEvent* AEvent) override;
};

// The bit rate label's text: kbit/s, or the note that the file does not say.
QString BitRateText(int64_t ABitRate);

}  // namespace quorvel
