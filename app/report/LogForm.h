// The events log window: time-stamped lines about what the user did and how
// it went. Lines are only appended; the user may copy them all or save them
// to a file (to attach to a message, say).
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace quorvel {

class TLogForm : public QDialog {
  Q_OBJECT
public:
  explicit TLogForm(QWidget* AParent = nullptr);

  void AppendLine(const QString& ALine);
  QStringList Lines() const { return FLines; }
  // Shows the window modally, centred on the screen, at the start of its
  // lines (long paths would otherwise scroll the times out of sight) and
  // the newest lines in view.
  void Execute();
  // "Copy all": every line to the clipboard.
  void CopyAllClick();
  // "Save as...": every line to a text file the user names; false when
  // nothing was written (cancelled, or the file could not be written, which
  // is told).
  bool SaveAsClick();

  QPlainTextEdit* mmoLog = nullptr;
  QPushButton* btnCopyAll = nullptr;
  QPushButton* btnSaveAs = nullptr;

private:
  QStringList FLines;  // the box's lines, kept whole for the error report
};

}  // namespace quorvel
