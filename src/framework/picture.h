#pragma once
// Pictures: shared images that a worker may fill while the user-interface
// thread paints them (the program lock keeps the two apart).

#include <QImage>
#include <memory>

namespace fw {

using Picture = std::shared_ptr<QImage>;

// A new picture with an alpha channel whose pixels are all fully transparent
// until written, so that what is drawn under it shows through.
inline Picture NewPicture(int width, int height) {
  auto image = std::make_shared<QImage>(width, height, QImage::Format_ARGB32_Premultiplied);
  image->fill(Qt::transparent);
  return image;
}

}  // namespace fw
