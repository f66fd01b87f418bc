#include "app/conversion/OutputFolderField.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

namespace quorvel {

QString TypedOutputFolder(const QString& AText) {
  QString text = AText.trimmed();
  if (text.isEmpty()) return text;
  if (text == u'~' || text.startsWith(QStringLiteral("~/"))) text = QDir::homePath() + text.mid(1);
  return QDir::isAbsolutePath(text) ? QDir::cleanPath(text) : text;
}

QString OutputFolderProblem(const QString& AText) {
  const QString folder = TypedOutputFolder(AText);
  if (folder.isEmpty()) return {};
  if (!QDir::isAbsolutePath(folder))
    return QObject::tr("\"%1\" is not a full path: type one that starts with \"/\" or \"~\".").arg(AText.trimmed());
  // The nearest part of the path that is there must be a folder, or nothing
  // can be made beneath it.
  QString part = folder;
  while (!QFileInfo::exists(part) && part != QDir::rootPath()) part = QFileInfo(part).absolutePath();
  if (!QFileInfo(part).isDir())
    return QObject::tr("\"%1\" is a file, not a folder.").arg(QDir::toNativeSeparators(part));
  return {};
}

TOutputFolderField::TOutputFolderField(QLineEdit& AEdit) : QObject(&AEdit), FEdit(AEdit) {
  FEdit.setReadOnly(false);
  FEdit.setPlaceholderText(tr("Type a folder or choose one with Browse..."));
  connect(&FEdit, &QLineEdit::textChanged, this, [this] { Check(); });
  Check();
}

void TOutputFolderField::Check() {
  const QString problem = OutputFolderProblem(FEdit.text());
  FEdit.setToolTip(problem.isEmpty() ? QDir::toNativeSeparators(TypedOutputFolder(FEdit.text())) : problem);
  QPalette palette = FEdit.palette();
  palette.setColor(QPalette::Text, problem.isEmpty() ? QApplication::palette(&FEdit).color(QPalette::Text) : Qt::red);
  FEdit.setPalette(palette);
  FEdit.setProperty("problem", problem);
}

QString TOutputFolderField::CreateQuestion(const QString& AFolder) {
  return tr("The output folder \"%1\" does not exist. Create it?\n\n"
            "No converts to the temporary folder instead; Cancel converts nothing.")
      .arg(QDir::toNativeSeparators(AFolder));
}

QString TOutputFolderField::FolderForConvert(QWidget& AWindow, bool& ADeclined) const {
  ADeclined = false;
  const QString folder = TypedOutputFolder(FEdit.text());
  if (QFileInfo(folder).isDir()) return folder;
  const QString problem = OutputFolderProblem(FEdit.text());
  if (!problem.isEmpty()) {
    QMessageBox::warning(&AWindow, QApplication::applicationDisplayName(), problem, QMessageBox::Ok);
    return {};
  }
  const auto answer = QMessageBox::question(&AWindow, QApplication::applicationDisplayName(), CreateQuestion(folder),
                                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
  if (answer != QMessageBox::Yes) {
    ADeclined = answer == QMessageBox::No;
    return {};
  }
  if (!QDir().mkpath(folder)) {
    QMessageBox::warning(&AWindow, QApplication::applicationDisplayName(),
                         tr("Could not create the folder \"%1\". Please choose another output folder.")
                             .arg(QDir::toNativeSeparators(folder)),
                         QMessageBox::Ok);
    return {};
  }
  return folder;
}

}  // namespace quorvel
