// The meter's display as it travels on the line, and the two pictures the
// live mirror makes of it. No widgets here: the capture fills plain images.
//
// An LcdPageImage is 1024 bytes in 8 pages of 128: byte i is display column
// i % 128 of page i / 128, and its bit k (least significant first) is display
// row 8 * page + k; a set bit is a dark pixel. Row 0 is the bottom row and
// column 0 the left column. A ScreenFrame is such an image followed by the
// end marker 0xAA.
#pragma once

#include <QImage>
#include <cstddef>
#include <functional>
#include <string_view>

#include "link/meter_line.h"

inline constexpr int kLcdWidth = 128;
inline constexpr int kLcdHeight = 64;
inline constexpr std::size_t kLcdPageImageBytes = 1024;
inline constexpr std::size_t kScreenFrameBytes = kLcdPageImageBytes + 1;

// Opaque: a dark pixel, and a light one (the LCD's blue-white glass).
inline constexpr QRgb kMirrorInkColor = 0xFF000000u;
inline constexpr QRgb kMirrorPaperColor = 0xFFC8DCFFu;  // 200, 220, 255

// Sizes of the two pictures: the display fills a quarter of each, at its
// top-left corner; the rest stays transparent so the meter face shows there.
inline constexpr int kScreenHWidth = 256, kScreenHHeight = 128;
inline constexpr int kScreenVWidth = 128, kScreenVHeight = 256;

// The live mirror asks once per tick and takes the frame only when it has
// ended whole by the end of its 200 ms (or ends while still arriving then);
// the next tick asks again once the line is quiet.
inline constexpr ReplyRule kGetScreenRule{200, kScreenFrameBytes, true, 1, false, false};

// Writes the display held in the first 1024 bytes of `image` into the two
// pictures: ScreenH upright (row r, column c at x = c, y = 63 - r) and ScreenV
// turned a quarter turn clockwise (at x = r, y = c). The pictures must be at
// least the sizes above and ARGB32(_Premultiplied). `yield` (when given) runs
// after every bit and after every byte, so that others may run, and see the
// pictures filled as far as they are, while a frame is decoded.
void DrawLcdPageImage(std::string_view image, QImage& screenV, QImage& screenH,
                      const std::function<void()>& yield = {});
