#include "screen/lcd_page_image.h"

#include <stdexcept>

void DrawLcdPageImage(std::string_view image, QImage& screenV, QImage& screenH,
                      const std::function<void()>& yield) {
  // Writing goes straight to memory: a picture too small would be overrun.
  if (screenV.depth() != 32 || screenH.depth() != 32 || screenV.width() < kLcdHeight ||
      screenV.height() < kLcdWidth || screenH.width() < kLcdWidth || screenH.height() < kLcdHeight)
    throw std::invalid_argument("display pictures of the wrong size or format");
  for (std::size_t i = 0; i < kLcdPageImageBytes && i < image.size(); ++i) {
    const auto byte = static_cast<unsigned char>(image[i]);
    const int page = static_cast<int>(i / kLcdWidth);
    const int c = static_cast<int>(i % kLcdWidth);
    for (int k = 0; k < 8; ++k) {
      const int r = 8 * page + k;
      const QRgb colour = ((byte >> k) & 1) != 0 ? kMirrorInkColor : kMirrorPaperColor;
      // Straight into the scan lines: opaque colours are the same premultiplied
      // or not, and setPixel's checks would cost more than the decode itself.
      reinterpret_cast<QRgb*>(screenV.scanLine(c))[r] = colour;
      reinterpret_cast<QRgb*>(screenH.scanLine(kLcdHeight - 1 - r))[c] = colour;
      if (yield) yield();
    }
    if (yield) yield();
  }
}
