// The mirror panel: its frame, the two meter faces with the display drawn
// over them, the orientation check box, and the orientation step that ends
// every Timer100ms tick.

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPainter>
#include <algorithm>

#include "framework/picture.h"
#include "mainwindow/face_geometry.h"
#include "mainwindow/maglyx.h"

namespace {

// In the painting surface's own format, so that no repaint converts it
// again. Converted here pixel by pixel: Qt's own conversion of an image this
// size would hand the work to its thread pool.
fw::Picture Premultiplied(const QImage& loaded, qreal ratio) {
  auto image = std::make_shared<QImage>(loaded.size(), QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < loaded.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image->scanLine(y));
    for (int x = 0; x < loaded.width(); ++x) line[x] = qPremultiply(loaded.pixel(x, y));
  }
  image->setDevicePixelRatio(ratio);
  return image;
}

// Loads the picture of this name from the program's resources, in the
// resolution that suits the screen (a double-size drawing on high-density
// screens); none when there is no such picture.
fw::Picture OpenPictureFromApp(const char* name) {
  const QString base = QStringLiteral(":/") + QLatin1String(name);
  // A screen of more than one device pixel per point gets the double-size
  // drawing, which Qt then draws at the picture's own size in points.
  if (qApp != nullptr && qApp->devicePixelRatio() > 1.0) {
    const QImage image(base + QStringLiteral("@2x.png"));
    if (!image.isNull()) return Premultiplied(image, 2.0);
  }
  const QImage image(base + QStringLiteral(".png"));
  if (image.isNull()) return nullptr;
  return Premultiplied(image, 1.0);
}

// A face picture kept once loaded; retried on every use until a load works.
fw::Picture KeptPicture(fw::Picture& kept, const char* name) {
  if (!kept) kept = OpenPictureFromApp(name);
  return kept;
}

// Unscaled, at the picture's own size; none draws nothing. Drawn in bands of
// 32 rows: Qt blends a taller image on its thread pool, which for a picture
// this small costs more in waking threads than it saves, ten times a second.
void DrawPicture(QPainter& g, const fw::Picture& picture, int x, int y) {
  if (!picture) return;
  constexpr int kBand = 32;
  const qreal ratio = picture->devicePixelRatio();
  for (int row = 0; row < picture->height(); row += kBand) {
    const int rows = std::min(kBand, picture->height() - row);
    g.drawImage(QRectF(x, y + row / ratio, picture->width() / ratio, rows / ratio), *picture,
                QRectF(0, row, picture->width(), rows));
  }
}

// The two face pictures, loaded by name on first use and kept for the run;
// while a load fails the picture stays none and the next use tries again.
fw::Picture MXR420H() {
  static fw::Picture kept;
  return KeptPicture(kept, "MXR420H");
}

fw::Picture MXR420V() {
  static fw::Picture kept;
  return KeptPicture(kept, "MXR420V");
}

}  // namespace

void MAGLYX::SimBorder_Paint(fw::Canvas* sender, QPainter& g) {
  // A 2-point black outline of the whole canvas from (0, 0), lying inside its
  // edge: a pen centred on the edge would lose its outer half.
  QPen pen(QColor(0, 0, 0));
  pen.setWidth(2);
  pen.setJoinStyle(Qt::MiterJoin);
  g.setPen(pen);
  g.setBrush(Qt::NoBrush);
  g.drawRect(QRectF(1, 1, sender->width() - 2, sender->height() - 2));
}

void MAGLYX::CScreenH_Paint(fw::Canvas*, QPainter& g) {
  DrawPicture(g, MXR420H(), 0, 0);
  DrawPicture(g, ScreenH, kHorizontalFace.display.left, kHorizontalFace.display.top);
}

void MAGLYX::CScreenV_Paint(fw::Canvas*, QPainter& g) {
  DrawPicture(g, MXR420V(), 0, 0);
  DrawPicture(g, ScreenV, kVerticalFace.display.left, kVerticalFace.display.top);
}

void MAGLYX::bIsVerticalCheck_Action(QCheckBox* sender) { bIsVerticalLCD = sender->isChecked(); }

void MAGLYX::ShowScreenMirror() {
  // Repeated on every tick whether or not anything changed: the repaint is
  // what shows a newly captured display.
  if (bIsVerticalLCD) {
    if (ScreenV) {
      for (fw::Canvas* key : {S1V(), S2V(), S3V(), S4V()}) key->setVisible(true);
      for (fw::Canvas* key : {S1H(), S2H(), S3H(), S4H()}) key->setVisible(false);
    }
    CScreenH()->setVisible(false);
    CScreenV()->setVisible(true);
    CScreenV()->Refresh();
  } else {
    CScreenV()->setVisible(false);
    CScreenH()->setVisible(true);
    CScreenH()->Refresh();
    if (ScreenV) {
      for (fw::Canvas* key : {S1V(), S2V(), S3V(), S4V()}) key->setVisible(false);
      for (fw::Canvas* key : {S1H(), S2H(), S3H(), S4H()}) key->setVisible(true);
    }
  }
}
