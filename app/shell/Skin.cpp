#include "app/shell/Skin.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPalette>

#include <algorithm>

#include "media/runtime/Exception.h"

namespace quorvel {

namespace {

[[noreturn]] void CannotRead(const QString& APath, const QString& AReason) {
  throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(QDir::toNativeSeparators(APath), AReason)
                      .toStdString());
}

}  // namespace

const QStringList& TSkin::FileNames() {
  static const QStringList names = {
      "skin.ini",
      "open.png", "remove.png", "trim.png", "open_over.png", "remove_over.png", "trim_over.png",
      "convert.png", "convert_over.png",
      "play.png", "pause.png", "stop.png", "setstart.png", "setend.png", "playpart.png",
      "tablerow.bmp", "tablecolumncaptionbar.bmp", "filmicon.bmp",
      "like.png", "tweet.png", "like_over.png", "tweet_over.png",
      "dragdrop.png", "open_for_gs.png",
      "open2.png", "remove2.png", "trim2.png", "open_over2.png", "remove_over2.png", "trim_over2.png",
      "dragdrop2.png", "open_for_gs2.png",
      kOptionalBackground,
  };
  return names;
}

void TSkin::Load(const QString& ASkinFolder) {
  FLoaded = false;
  FFolder = QDir(ASkinFolder).absolutePath();
  FPictures.clear();
  for (const QString& name : FileNames()) {
    const QString path = QDir(FFolder).filePath(name);
    if (name == QLatin1String(kOptionalBackground) && !QFileInfo::exists(path)) continue;
    if (!QFileInfo::exists(path)) CannotRead(path, QStringLiteral("No such file or directory"));
    if (name == QLatin1String("skin.ini")) {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly)) CannotRead(path, file.errorString());
      ParseIni(file.readAll());
      continue;
    }
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) CannotRead(path, reader.errorString());
    FPictures.insert(name, QPixmap::fromImage(image));
  }
  FLoaded = true;
}

QColor TSkin::Color(const QString& AName, const QColor& AFallback) const {
  return FColors.value(AName.toLower(), AFallback);
}

void TSkin::ParseIni(const QByteArray& AText) {
  FColors.clear();
  FBaseFont = QApplication::font();
  QString section;
  QStringList sheet;
  const QStringList lines = QString::fromUtf8(AText).split(u'\n');
  for (QString line : lines) {
    if (line.endsWith(u'\r')) line.chop(1);
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
      section = trimmed.mid(1, trimmed.size() - 2).toLower();
      continue;
    }
    if (section == u"stylesheet") {
      sheet << line;
      continue;
    }
    if (trimmed.isEmpty() || trimmed.startsWith(u';')) continue;
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq < 0) continue;
    const QString key = trimmed.left(eq).trimmed().toLower();
    const QString value = trimmed.mid(eq + 1).trimmed();
    if (section == u"colors") {
      const QColor c = QColor::fromString(value);
      if (c.isValid()) FColors.insert(key, c);
    } else if (section == u"fonts" && key == u"base") {
      const QStringList parts = value.split(u',');
      if (!parts.value(0).trimmed().isEmpty()) FBaseFont.setFamily(parts.value(0).trimmed());
      bool ok = false;
      const double points = parts.value(1).trimmed().toDouble(&ok);
      if (ok && points > 0) FBaseFont.setPointSizeF(points);
    }
  }
  // Longer names first, so that "@text" does not eat the start of "@textlight".
  QStringList names = FColors.keys();
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
  QString css = sheet.join(u'\n');
  css.replace(QStringLiteral("@skin"), FFolder);
  for (const QString& n : names) css.replace(u'@' + n, FColors.value(n).name(), Qt::CaseInsensitive);
  FStyleSheet = css;
}

void TSkin::Apply() const {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || !FLoaded) return;
  QPalette pal = app->palette();
  auto set = [&](QPalette::ColorRole ARole, const char* AName) {
    const QColor c = Color(QString::fromLatin1(AName));
    if (c.isValid()) pal.setColor(ARole, c);
  };
  set(QPalette::Window, "window");
  set(QPalette::WindowText, "text");
  set(QPalette::Base, "base");
  set(QPalette::Text, "text");
  set(QPalette::Button, "button");
  set(QPalette::ButtonText, "text");
  set(QPalette::Highlight, "accent");
  set(QPalette::HighlightedText, "highlighttext");
  app->setPalette(pal);
  app->setFont(FBaseFont);
  app->setStyleSheet(FStyleSheet);
}

}  // namespace quorvel
