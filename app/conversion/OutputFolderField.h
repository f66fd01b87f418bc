// The output folder field takes a typed path as well as one chosen with
// "Browse...". What is typed is checked as it is typed (the field says what
// is wrong in its tooltip and red text) and again at Convert, where a folder
// that does not exist yet is created once the user agrees.
//
// Owner: the user-interface thread.
#pragma once

#include <QObject>
#include <QString>

class QLineEdit;
class QWidget;

namespace quorvel {

// The folder a typed text means: blanks around it dropped, a leading "~"
// taken as the home folder, "." and ".." parts resolved. Empty for an empty
// text.
QString TypedOutputFolder(const QString& AText);

// Why AText cannot be an output folder ("" when it can, also when the
// folder does not exist yet but could be made): not a full path, or a path
// that names a file.
QString OutputFolderProblem(const QString& AText);

class TOutputFolderField : public QObject {
  Q_OBJECT
public:
  // Watches AEdit (which stays the window's); its text is the setting.
  explicit TOutputFolderField(QLineEdit& AEdit);

  // At Convert, for a non-empty text: the folder to write to, made after
  // asking when it is missing. Empty when there is none to use: a problem
  // was shown or the user cancelled, or (ADeclined) the user chose not to
  // make it, and the temporary folder is used as for an empty field.
  QString FolderForConvert(QWidget& AWindow, bool& ADeclined) const;

  static QString CreateQuestion(const QString& AFolder);

private:
  void Check();

  QLineEdit& FEdit;
};

}  // namespace quorvel
