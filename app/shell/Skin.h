// The program's look: the "skin-aqua" folder beside the program holds
// "skin.ini" (colours, fonts and a style sheet) and the pictures of the
// buttons, the list and the getting-started panel.
//
// skin.ini is a sectioned text file:
//   [Colors]      name = #rrggbb          (used as @name in the style sheet)
//   [Fonts]       base = family, points   (the application font)
//   [StyleSheet]  Qt style sheet lines, taken as they stand; "@skin" is the
//                 skin folder, "@name" a colour of [Colors]
// In the other sections lines starting with ";" are comments.
#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace quorvel {

class TSkin {
public:
  // The skin's files in the order they are read; all but the last must exist.
  static const QStringList& FileNames();
  static constexpr const char* kOptionalBackground = "gettingstarted.bmp";

  // Reads every file of ASkinFolder. Throws Exception naming the first file
  // that is missing or cannot be read; what was read before stays.
  void Load(const QString& ASkinFolder);

  bool Loaded() const { return FLoaded; }
  const QString& Folder() const { return FFolder; }
  // A picture by file name; a null pixmap when it was not read.
  QPixmap Picture(const QString& AFileName) const { return FPictures.value(AFileName); }
  bool HasPicture(const QString& AFileName) const { return FPictures.contains(AFileName); }
  QColor Color(const QString& AName, const QColor& AFallback = QColor()) const;
  const QFont& BaseFont() const { return FBaseFont; }
  // The style sheet with its colour names and the folder filled in.
  const QString& StyleSheet() const { return FStyleSheet; }

  // Makes the skin the look of every window of the program.
  void Apply() const;

private:
  void ParseIni(const QByteArray& AText);

  bool FLoaded = false;
  QString FFolder;
  QHash<QString, QPixmap> FPictures;
  QHash<QString, QColor> FColors;
  QFont FBaseFont;
  QString FStyleSheet;
};

}  // namespace quorvel
