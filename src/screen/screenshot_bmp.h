// The stored screenshot as a file: the meter's 128 x 64 one-bit display
// blown up four times into a 512 x 256 24-bit BMP, its default name, and the
// writing of the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/files.h"
#include "screen/lcd_page_image.h"  // kLcdPageImageBytes

// A display pixel becomes a square of this many file pixels a side.
inline constexpr int kScreenshotScale = 4;
// 54 header bytes and 256 rows of 512 pixels x 3 bytes.
inline constexpr std::size_t kScreenshotBmpBytes = 54 + 3 * 512 * 256;

// The whole BMP file for a page image: byte 0 bit 0 (the display's bottom-left
// pixel) becomes the bottom-left block of the picture. std::invalid_argument
// unless `lcdPageImage` holds exactly 1024 bytes.
std::string ComposeScreenshotBmp(std::string_view lcdPageImage);

// "emfscreenshot_" + b2 b1 b0 + "_" + b3 b4 b5 + ".bmp", each value in at
// least two decimal digits: {20, 7, 125, 3, 0, 45} gives
// "emfscreenshot_1250720_030045.bmp".
std::string ScreenshotFileName(const std::array<std::uint8_t, 6>& info);

// Replaces the file with `content`. Refuses (IOException, nothing touched) a
// path that is not a regular file. When the new content cannot be written
// whole, the partial file is removed before the IOException goes on: a
// truncated picture under the chosen name would pass for a good one.
void SaveScreenshotBmp(const fw::FolderItem& file, std::string_view content);
