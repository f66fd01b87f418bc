// The events log window: time-stamped lines about what the user did and how
// it went. Lines are only appended; nothing is saved.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace quorvel {

class TLogForm : public QDialog {
  Q_OBJECT
public:
  explicit TLogForm(QWidget* AParent = nullptr);

  void AppendLine(const QString& ALine);
  QStringList Lines() const { return FLines; }
  // Shows the window modally, centred on the screen.
  void Execute();

  QPlainTextEdit* mmoLog = nullptr;

private:
  QStringList FLines;  // the box's lines, kept whole for the error report
};

}  // namespace quorvel
