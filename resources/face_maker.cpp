// Draws the two meter faces of the live mirror: a hand-held field meter seen
// from the front, landscape (261 x 136 points) and portrait (136 x 261).
// The display picture lands in the LCD window and the key canvases lie over
// the four keys: sizes and places come from the window's own face geometry.
// Each face is written at 1x and at 2x (name@2x.png) for high-density screens.

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <vector>

#include "../src/mainwindow/face_geometry.h"

namespace {

struct FaceLayout {
  const char* name;
  QSize size;               // points
  QRect lcd;                // where the display picture's written area lands
  std::vector<QRect> keys;  // key 1 first
  bool portrait;
};

// A face in its own coordinates: the window's key canvases less the face
// canvas's own position.
FaceLayout Layout(const char* name, const FaceGeometry& face, bool portrait) {
  const Box& c = face.canvas;
  const Box& d = face.display;
  FaceLayout layout{name, {c.width, c.height}, {d.left, d.top, d.width, d.height}, {}, portrait};
  for (const Box& k : face.keys)
    layout.keys.emplace_back(k.left - c.left, k.top - c.top, k.width, k.height);
  return layout;
}

const QColor kBodyTop(58, 66, 78);
const QColor kBodyBottom(34, 39, 47);
const QColor kEdge(15, 18, 22);
const QColor kBezel(20, 23, 28);
const QColor kGlass(184, 201, 230);  // a shade under the display's paper colour
const QColor kAccent(245, 166, 35);
const QColor kPrint(214, 220, 228);

void Body(QPainter& p, const QRectF& r) {
  QLinearGradient fill(r.topLeft(), r.bottomLeft());
  fill.setColorAt(0, kBodyTop);
  fill.setColorAt(1, kBodyBottom);
  p.setPen(QPen(kEdge, 1.2));
  p.setBrush(fill);
  p.drawRoundedRect(r.adjusted(0.6, 0.6, -0.6, -0.6), 16, 16);
  // A thin highlight along the upper edge gives the shell some roundness.
  p.setPen(QPen(QColor(255, 255, 255, 40), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 14, 14);
}

void LcdWindow(QPainter& p, const QRect& lcd) {
  const QRectF bezel = QRectF(lcd).adjusted(-8, -8, 8, 8);
  p.setPen(QPen(QColor(0, 0, 0, 160), 1));
  p.setBrush(kBezel);
  p.drawRoundedRect(bezel, 6, 6);
  const QRectF glass = QRectF(lcd).adjusted(-3, -3, 3, 3);
  p.setPen(Qt::NoPen);
  p.setBrush(kGlass);
  p.drawRoundedRect(glass, 2, 2);
  // The display area itself, lighter, with a soft sheen: what shows before
  // the first image arrives.
  QLinearGradient sheen(lcd.topLeft(), lcd.bottomRight());
  sheen.setColorAt(0, QColor(206, 222, 250));
  sheen.setColorAt(1, QColor(190, 208, 240));
  p.setBrush(sheen);
  p.drawRect(lcd);
}

void KeyPanel(QPainter& p, const std::vector<QRect>& keys) {
  QRect all = keys.front();
  for (const QRect& k : keys) all = all.united(k);
  p.setPen(QPen(QColor(0, 0, 0, 110), 1));
  p.setBrush(QColor(24, 28, 34));
  p.drawRoundedRect(QRectF(all).adjusted(-5, -5, 5, 5), 8, 8);
}

void Key(QPainter& p, const QRect& key, int number) {
  const QRectF r = QRectF(key).adjusted(0.5, 0.5, -0.5, -0.5);
  QLinearGradient cap(r.topLeft(), r.bottomLeft());
  cap.setColorAt(0, QColor(244, 246, 249));
  cap.setColorAt(1, QColor(190, 198, 209));
  p.setPen(QPen(QColor(8, 10, 12), 1));
  p.setBrush(cap);
  p.drawRoundedRect(r, 4, 4);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(10);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(52, 60, 72));
  p.drawText(r, Qt::AlignCenter, QString::number(number));
}

void Label(QPainter& p, const QRectF& r, const QString& text, int pixels, const QColor& colour,
           Qt::Alignment align, bool bold = true, double spacing = 0) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  p.setFont(font);
  p.setPen(colour);
  p.drawText(r, align, text);
}

void Led(QPainter& p, QPointF at) {
  QRadialGradient glow(at, 3.5);
  glow.setColorAt(0, QColor(140, 255, 160));
  glow.setColorAt(1, QColor(30, 140, 60));
  p.setPen(QPen(QColor(0, 0, 0, 150), 0.8));
  p.setBrush(glow);
  p.drawEllipse(at, 2.6, 2.6);
}

// Ribs of the grip: short rounded grooves across the hand's end.
void Grip(QPainter& p, QPointF from, QPointF step, QSizeF rib, int count) {
  p.setPen(Qt::NoPen);
  for (int i = 0; i < count; ++i) {
    const QPointF c = from + step * i;
    p.setBrush(QColor(16, 19, 23));
    p.drawRoundedRect(QRectF(c, rib), 1.5, 1.5);
    p.setBrush(QColor(255, 255, 255, 28));
    p.drawRoundedRect(QRectF(c + QPointF(0, rib.height() > rib.width() ? 0 : 1.5),
                             QSizeF(rib.width(), rib.height() > rib.width() ? rib.height() : 1)),
                      0.5, 0.5);
  }
}

void DrawFace(QPainter& p, const FaceLayout& f) {
  const QRectF all(QPointF(0, 0), QSizeF(f.size));
  Body(p, all);
  LcdWindow(p, f.lcd);
  KeyPanel(p, f.keys);
  for (std::size_t i = 0; i < f.keys.size(); ++i) Key(p, f.keys[i], static_cast<int>(i) + 1);

  if (!f.portrait) {
    // Name above the display, fields measured to its right, accent below.
    Label(p, QRectF(32, 8, 90, 16), QStringLiteral("MXR-420"), 12, Qt::white,
          Qt::AlignLeft | Qt::AlignVCenter);
    Label(p, QRectF(96, 9, 80, 14), QStringLiteral("EMF \u00b7 EF \u00b7 RF"), 8, kAccent,
          Qt::AlignRight | Qt::AlignVCenter, true, 0.4);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(32, 116, 144, 3), 1.5, 1.5);
    Label(p, QRectF(32, 120, 144, 12), QStringLiteral("FIELD METER"), 7, kPrint,
          Qt::AlignLeft | Qt::AlignVCenter, false, 1.2);
    Led(p, QPointF(208.5, 12));
    Grip(p, QPointF(236, 30), QPointF(0, 9), QSizeF(14, 3), 9);
  } else {
    Label(p, QRectF(0, 6, f.size.width(), 16), QStringLiteral("MXR-420"), 12, Qt::white,
          Qt::AlignHCenter | Qt::AlignVCenter);
    Label(p, QRectF(0, 19, f.size.width(), 10), QStringLiteral("EMF \u00b7 EF \u00b7 RF"), 7,
          kAccent, Qt::AlignHCenter | Qt::AlignVCenter, true, 0.4);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(28, 180, 80, 3), 1.5, 1.5);
    Led(p, QPointF(114, 14));
    Grip(p, QPointF(33, 228), QPointF(0, 6), QSizeF(70, 2.5), 5);
  }
}

bool Write(const FaceLayout& f, int scale, const QString& folder) {
  QImage image(f.size * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);
    DrawFace(p, f);
  }
  const QString path = folder + QStringLiteral("/") + QLatin1String(f.name) +
                       (scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale)) +
                       QStringLiteral(".png");
  if (!image.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  const FaceLayout horizontal = Layout("MXR420H", kHorizontalFace, false);
  const FaceLayout vertical = Layout("MXR420V", kVerticalFace, true);
  bool ok = true;
  for (const FaceLayout* f : {&horizontal, &vertical})
    for (int scale : {1, 2}) ok = Write(*f, scale, folder) && ok;
  return ok ? 0 : 1;
}
