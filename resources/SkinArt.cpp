// Draws the pictures of the "aqua" skin into a folder, and the program's
// icon at the desktop's usual sizes. Run at build time; every picture is
// drawn here from shapes and text, nothing is taken from elsewhere.
//   quorvel_skinart <output folder>
//   quorvel_skinart --icons <folder>   (<folder>/NxN/apps/quorvel.png)
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The skin's colours; skin.ini names the same ones for the style sheet.
const QColor kDeep(0x0f, 0x4c, 0x5c);
const QColor kAccent(89, 203, 213);  // the hover glow of the buttons
const QColor kLight(0xee, 0xf7, 0xf9);
const QColor kInk(0x1d, 0x2b, 0x33);
const QColor kWarm(0xf2, 0x8c, 0x28);

QString g_out;
bool g_ok = true;

void Save(const QImage& AImage, const char* AName) {
  const QString path = QDir(g_out).filePath(QString::fromLatin1(AName));
  const bool bmp = path.endsWith(".bmp");
  const QImage img = bmp ? AImage.convertToFormat(QImage::Format_RGB32) : AImage;
  if (!img.save(path)) {
    std::fprintf(stderr, "skinart: cannot write %s\n", qPrintable(path));
    g_ok = false;
  }
}

QImage Canvas(int AWidth, int AHeight) {
  QImage img(AWidth, AHeight, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

QFont UiFont(double APoints, bool ABold = true) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPointSizeF(APoints);
  f.setBold(ABold);
  return f;
}

// A glossy rounded plate; AOver brightens it and rings it with the glow.
void Plate(QPainter& P, const QRectF& R, const QColor& ATop, const QColor& ABottom, bool AOver) {
  P.setRenderHint(QPainter::Antialiasing);
  const double radius = R.height() / 3.2;
  if (AOver) {
    for (int i = 3; i >= 1; --i) {
      QColor glow = kAccent;
      glow.setAlpha(40 * (4 - i));
      P.setPen(QPen(glow, i * 1.5));
      P.setBrush(Qt::NoBrush);
      P.drawRoundedRect(R.adjusted(1, 1, -1, -1), radius, radius);
    }
  }
  QLinearGradient g(R.topLeft(), R.bottomLeft());
  g.setColorAt(0, AOver ? ATop.lighter(112) : ATop);
  g.setColorAt(1, AOver ? ABottom.lighter(110) : ABottom);
  P.setPen(QPen(ABottom.darker(135), 1));
  P.setBrush(g);
  P.drawRoundedRect(R.adjusted(2.5, 2.5, -2.5, -2.5), radius, radius);
  // The gloss: a pale band over the upper half.
  QLinearGradient shine(R.topLeft(), QPointF(R.left(), R.center().y()));
  shine.setColorAt(0, QColor(255, 255, 255, 150));
  shine.setColorAt(1, QColor(255, 255, 255, 10));
  P.setPen(Qt::NoPen);
  P.setBrush(shine);
  P.drawRoundedRect(QRectF(R.left() + 4, R.top() + 3.5, R.width() - 8, R.height() / 2 - 3), radius * 0.7,
                    radius * 0.7);
}

using TGlyph = std::function<void(QPainter&, const QRectF&, const QColor&)>;

void PlusGlyph(QPainter& P, const QRectF& R, const QColor& C) {
  P.setPen(QPen(C, R.width() / 5, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(QPointF(R.center().x(), R.top() + 2), QPointF(R.center().x(), R.bottom() - 2));
  P.drawLine(QPointF(R.left() + 2, R.center().y()), QPointF(R.right() - 2, R.center().y()));
}

void CrossGlyph(QPainter& P, const QRectF& R, const QColor& C) {
  P.setPen(QPen(C, R.width() / 5.5, Qt::SolidLine, Qt::RoundCap));
  const QRectF r = R.adjusted(3, 3, -3, -3);
  P.drawLine(r.topLeft(), r.bottomRight());
  P.drawLine(r.topRight(), r.bottomLeft());
}

void ScissorsGlyph(QPainter& P, const QRectF& R, const QColor& C) {
  P.setPen(QPen(C, 2));
  P.setBrush(Qt::NoBrush);
  const double d = R.width() / 3.2;
  P.drawEllipse(QRectF(R.left(), R.bottom() - d, d, d));
  P.drawEllipse(QRectF(R.right() - d, R.bottom() - d, d, d));
  P.setPen(QPen(C, 2.2, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(QPointF(R.left() + d * 0.8, R.bottom() - d * 0.9), QPointF(R.right() - 2, R.top() + 1));
  P.drawLine(QPointF(R.right() - d * 0.8, R.bottom() - d * 0.9), QPointF(R.left() + 2, R.top() + 1));
}

void ArrowGlyph(QPainter& P, const QRectF& R, const QColor& C) {
  QPainterPath path;
  const double mid = R.center().y();
  path.moveTo(R.left(), mid - R.height() * 0.18);
  path.lineTo(R.center().x(), mid - R.height() * 0.18);
  path.lineTo(R.center().x(), R.top());
  path.lineTo(R.right(), mid);
  path.lineTo(R.center().x(), R.bottom());
  path.lineTo(R.center().x(), mid + R.height() * 0.18);
  path.lineTo(R.left(), mid + R.height() * 0.18);
  path.closeSubpath();
  P.setPen(Qt::NoPen);
  P.setBrush(C);
  P.drawPath(path);
}

// A button picture: plate, glyph at the left, caption.
QImage LabelButton(int W, int H, const QString& ACaption, const TGlyph& AGlyph, const QColor& ATop,
                   const QColor& ABottom, const QColor& AInk, bool AOver, double APoints = 10) {
  QImage img = Canvas(W, H);
  QPainter p(&img);
  Plate(p, QRectF(0, 0, W, H), ATop, ABottom, AOver);
  const double g = H * 0.42;
  const QRectF glyph(H * 0.38, (H - g) / 2, g, g);
  AGlyph(p, glyph, AInk);
  p.setPen(AInk);
  p.setFont(UiFont(APoints));
  p.drawText(QRectF(glyph.right() + 6, 0, W - glyph.right() - 12, H), Qt::AlignVCenter | Qt::AlignLeft, ACaption);
  return img;
}

void LeftButtons(const char* ASuffix, const QColor& ATop, const QColor& ABottom) {
  struct TB {
    const char* Name;
    const char* Caption;
    TGlyph Glyph;
  };
  const TB buttons[] = {{"open", "Add", PlusGlyph}, {"remove", "Clear", CrossGlyph}, {"trim", "Trim", ScissorsGlyph}};
  for (const TB& b : buttons)
    for (bool over : {false, true}) {
      const QString name = QStringLiteral("%1%2%3.png").arg(b.Name, over ? "_over" : "", ASuffix);
      Save(LabelButton(104, 34, b.Caption, b.Glyph, ATop, ABottom, kDeep, over), qPrintable(name));
    }
}

// Round transport buttons of the player.
QImage RoundButton(const std::function<void(QPainter&, const QRectF&)>& AGlyph) {
  const int s = 30;
  QImage img = Canvas(s, s);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(s * 0.4, s * 0.3), s * 0.75);
  g.setColorAt(0, kAccent.lighter(130));
  g.setColorAt(1, kDeep);
  p.setPen(QPen(kDeep.darker(130), 1));
  p.setBrush(g);
  p.drawEllipse(QRectF(1.5, 1.5, s - 3, s - 3));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  AGlyph(p, QRectF(9, 9, s - 18, s - 18));
  return img;
}

void Triangle(QPainter& P, const QRectF& R) {
  QPainterPath t;
  t.moveTo(R.left() + 1, R.top());
  t.lineTo(R.right(), R.center().y());
  t.lineTo(R.left() + 1, R.bottom());
  t.closeSubpath();
  P.drawPath(t);
}

void PlayerButtons() {
  Save(RoundButton(Triangle), "play.png");
  Save(RoundButton([](QPainter& P, const QRectF& R) {
         P.drawRect(QRectF(R.left() + 1, R.top(), R.width() / 3, R.height()));
         P.drawRect(QRectF(R.right() - 1 - R.width() / 3, R.top(), R.width() / 3, R.height()));
       }),
       "pause.png");
  Save(RoundButton([](QPainter& P, const QRectF& R) { P.drawRect(R.adjusted(1, 1, -1, -1)); }), "stop.png");
  auto bracket = [](bool AStart) {
    return [AStart](QPainter& P, const QRectF& R) {
      const double x = AStart ? R.left() : R.right() - 2.5;
      P.drawRect(QRectF(x, R.top() - 1, 2.5, R.height() + 2));
      QRectF t = R.adjusted(AStart ? 4 : 0, 2, AStart ? 0 : -4, -2);
      QPainterPath path;
      if (AStart) {
        path.moveTo(t.left(), t.top());
        path.lineTo(t.right(), t.center().y());
        path.lineTo(t.left(), t.bottom());
      } else {
        path.moveTo(t.right(), t.top());
        path.lineTo(t.left(), t.center().y());
        path.lineTo(t.right(), t.bottom());
      }
      path.closeSubpath();
      P.drawPath(path);
    };
  };
  Save(RoundButton(bracket(true)), "setstart.png");
  Save(RoundButton(bracket(false)), "setend.png");
  Save(RoundButton([](QPainter& P, const QRectF& R) {
         P.drawRect(QRectF(R.left() - 1, R.top() - 1, 2, R.height() + 2));
         P.drawRect(QRectF(R.right() - 1, R.top() - 1, 2, R.height() + 2));
         Triangle(P, R.adjusted(3, 2, -3, -2));
       }),
       "playpart.png");
}

void ListPictures() {
  QImage row(16, 20, QImage::Format_RGB32);
  {
    QPainter p(&row);
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0, kAccent.lighter(135));
    g.setColorAt(1, kAccent);
    p.fillRect(row.rect(), g);
    p.setPen(kAccent.darker(115));
    p.drawLine(0, 19, 15, 19);
  }
  Save(row, "tablerow.bmp");
  QImage bar(16, 20, QImage::Format_RGB32);
  {
    QPainter p(&bar);
    // Light, so that the black captions over it stay readable.
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, kAccent.lighter(150));
    p.fillRect(bar.rect(), g);
    p.setPen(kAccent);
    p.drawLine(0, 19, 15, 19);
  }
  Save(bar, "tablecolumncaptionbar.bmp");
  QImage icon(16, 16, QImage::Format_RGB32);
  icon.fill(Qt::white);
  {
    // A strip of film with a note on it.
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(1, 2, 14, 12), kDeep);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    for (int x = 2; x < 14; x += 3) {
      p.drawRect(QRect(x, 3, 2, 1));
      p.drawRect(QRect(x, 12, 2, 1));
    }
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(4, 8, 4, 3.2));
    p.fillRect(QRectF(7, 5, 1.2, 4.5), kAccent);
    p.fillRect(QRectF(7, 5, 4, 1.2), kAccent);
  }
  Save(icon, "filmicon.bmp");
}

// The trim dialog's two handles, 12 x 12: a marker pointing up at the
// slider, its bar on the side of the part kept.
void TrimHandles() {
  for (bool left : {true, false}) {
    QImage img(12, 12, QImage::Format_RGB32);
    img.fill(kLight);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kDeep);
    QPainterPath arrow;
    arrow.moveTo(6, 0.5);
    arrow.lineTo(11.5, 8);
    arrow.lineTo(0.5, 8);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.fillRect(QRectF(left ? 5 : 5, 8, 2, 4), kWarm);
    p.fillRect(QRectF(left ? 6 : 1, 10, 5, 2), kWarm);
    p.end();
    Save(img, left ? "trim_left.bmp" : "trim_right.bmp");
  }
}

void ShareButtons() {
  auto heart = [](QPainter& P, const QRectF& R, const QColor& C) {
    QPainterPath h;
    const double w = R.width(), x = R.left(), y = R.top();
    h.moveTo(x + w / 2, y + w * 0.95);
    h.cubicTo(x - w * 0.35, y + w * 0.35, x + w * 0.2, y - w * 0.2, x + w / 2, y + w * 0.25);
    h.cubicTo(x + w * 0.8, y - w * 0.2, x + w * 1.35, y + w * 0.35, x + w / 2, y + w * 0.95);
    P.setPen(Qt::NoPen);
    P.setBrush(C);
    P.drawPath(h);
  };
  auto bubble = [](QPainter& P, const QRectF& R, const QColor& C) {
    P.setPen(Qt::NoPen);
    P.setBrush(C);
    P.drawRoundedRect(QRectF(R.left(), R.top(), R.width(), R.height() * 0.75), 3, 3);
    QPainterPath tail;
    tail.moveTo(R.left() + R.width() * 0.25, R.top() + R.height() * 0.7);
    tail.lineTo(R.left() + R.width() * 0.15, R.bottom());
    tail.lineTo(R.left() + R.width() * 0.5, R.top() + R.height() * 0.7);
    P.drawPath(tail);
  };
  for (bool over : {false, true}) {
    Save(LabelButton(68, 24, "Like", heart, QColor(0xfd, 0xfd, 0xfd), QColor(0xdd, 0xe6, 0xea), kWarm.darker(110),
                     over, 8.5),
         over ? "like_over.png" : "like.png");
    Save(LabelButton(68, 24, "Tweet", bubble, QColor(0xfd, 0xfd, 0xfd), QColor(0xdd, 0xe6, 0xea), kDeep, over, 8.5),
         over ? "tweet_over.png" : "tweet.png");
  }
}

// A document sliding into a tray: what dropping files on the window does.
QImage DragDrop(const QColor& ATray) {
  QImage img = Canvas(200, 96);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kDeep, 2));
  p.setBrush(Qt::white);
  QPainterPath doc;
  doc.moveTo(78, 6);
  doc.lineTo(112, 6);
  doc.lineTo(124, 18);
  doc.lineTo(124, 52);
  doc.lineTo(78, 52);
  doc.closeSubpath();
  p.drawPath(doc);
  p.drawLine(QPointF(112, 6), QPointF(112, 18));
  p.drawLine(QPointF(112, 18), QPointF(124, 18));
  // A note on the page.
  p.setBrush(kAccent);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QRectF(88, 34, 9, 7));
  p.drawRect(QRectF(95.5, 20, 2, 17));
  p.drawRect(QRectF(95.5, 20, 10, 3));
  ArrowGlyph(p, QRectF(134, 40, 26, 22), kWarm);
  p.setPen(QPen(ATray.darker(130), 2));
  p.setBrush(ATray);
  QPainterPath tray;
  tray.moveTo(40, 62);
  tray.lineTo(70, 62);
  tray.lineTo(78, 74);
  tray.lineTo(122, 74);
  tray.lineTo(130, 62);
  tray.lineTo(160, 62);
  tray.lineTo(160, 90);
  tray.lineTo(40, 90);
  tray.closeSubpath();
  p.drawPath(tray);
  return img;
}

void GettingStarted() {
  Save(DragDrop(kAccent.lighter(120)), "dragdrop.png");
  Save(DragDrop(kAccent), "dragdrop2.png");
  Save(LabelButton(150, 34, "Open files...", PlusGlyph, QColor(0xff, 0xd2, 0x9a), kWarm, Qt::white, false, 10),
       "open_for_gs.png");
  Save(LabelButton(150, 34, "Open files...", PlusGlyph, QColor(0xff, 0xc0, 0x78), kWarm.darker(105), Qt::white,
                   false, 10),
       "open_for_gs2.png");
  QImage bg(452, 210, QImage::Format_RGB32);
  QPainter p(&bg);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 210);
  g.setColorAt(0, Qt::white);
  g.setColorAt(1, kLight.darker(104));
  p.fillRect(bg.rect(), g);
  // Sound waves along the bottom.
  for (int k = 0; k < 3; ++k) {
    QColor c = kAccent;
    c.setAlpha(60 - k * 15);
    p.setPen(QPen(c, 2));
    QPainterPath wave;
    for (int x = 0; x <= 452; x += 2) {
      const double y = 182 + k * 8 + std::sin((x + k * 40) / 38.0) * (10 - k * 2);
      if (x == 0) wave.moveTo(x, y); else wave.lineTo(x, y);
    }
    p.drawPath(wave);
  }
  p.setPen(QPen(kAccent, 2, Qt::DashLine));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(6, 6, 440, 198), 12, 12);
  Save(bg, "gettingstarted.bmp");
}

// The small arrows of the drop-down choices and the number fields.
void Arrows() {
  for (bool down : {true, false}) {
    QImage img = Canvas(10, 6);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kDeep);
    QPainterPath t;
    if (down) {
      t.moveTo(0, 0.5);
      t.lineTo(10, 0.5);
      t.lineTo(5, 5.5);
    } else {
      t.moveTo(0, 5.5);
      t.lineTo(10, 5.5);
      t.lineTo(5, 0.5);
    }
    t.closeSubpath();
    p.drawPath(t);
    p.end();
    Save(img, down ? "arrow_down.png" : "arrow_up.png");
  }
}

void ConvertButton() {
  for (bool over : {false, true})
    Save(LabelButton(150, 46, "Convert", ArrowGlyph, kAccent.lighter(125), kDeep, Qt::white, over, 13),
         over ? "convert_over.png" : "convert.png");
}

// The program's icon: a deep plate in the skin's colours, a sound wave
// turning into an arrow (audio in, audio out).
QImage ProgramIcon(int ASize) {
  QImage img = Canvas(ASize, ASize);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = ASize;
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, kAccent);
  g.setColorAt(1, kDeep);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  const QRectF plate(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
  p.drawRoundedRect(plate, s * 0.2, s * 0.2);
  // Five bars of a wave, the last ones pointing on like an arrow.
  const double heights[] = {0.22, 0.42, 0.58, 0.36, 0.18};
  const double bar = s * 0.085;
  p.setBrush(Qt::white);
  for (int i = 0; i < 5; ++i) {
    const double h = s * heights[i];
    const double x = s * 0.17 + i * bar * 1.6;
    p.drawRoundedRect(QRectF(x, s * 0.5 - h / 2, bar, h), bar / 2, bar / 2);
  }
  QPainterPath arrow;
  arrow.moveTo(s * 0.70, s * 0.32);
  arrow.lineTo(s * 0.86, s * 0.5);
  arrow.lineTo(s * 0.70, s * 0.68);
  arrow.closeSubpath();
  p.setBrush(kWarm);
  p.drawPath(arrow);
  p.end();
  return img;
}

int Icons(const QString& AFolder) {
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(AFolder).arg(size);
    QDir().mkpath(dir);
    if (!ProgramIcon(size).save(dir + "/quorvel.png")) {
      std::fprintf(stderr, "skinart: cannot write %s/quorvel.png\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc == 3 && QByteArray(argv[1]) == "--icons") return Icons(QString::fromLocal8Bit(argv[2]));
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorvel_skinart <output folder>\n");
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);
  LeftButtons("", QColor(0xf7, 0xfb, 0xfc), QColor(0xcf, 0xe4, 0xea));
  LeftButtons("2", QColor(0xff, 0xff, 0xff), QColor(0xbf, 0xe6, 0xec));
  ConvertButton();
  PlayerButtons();
  ListPictures();
  TrimHandles();
  ShareButtons();
  GettingStarted();
  Arrows();
  return g_ok ? 0 : 1;
}
