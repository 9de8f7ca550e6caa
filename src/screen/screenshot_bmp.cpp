#include "screen/screenshot_bmp.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "framework/exceptions.h"
#include "framework/format.h"

namespace {

constexpr int kWidth = 128 * kScreenshotScale;
constexpr int kHeight = 64 * kScreenshotScale;
constexpr std::size_t kRowBytes = 3 * kWidth;  // a multiple of 4: rows need no padding
constexpr std::size_t kHeaderBytes = 54;

// Blue, green, red: the order of a 24-bit BMP pixel.
constexpr char kInk[3] = {45, 45, 45};
constexpr char kPaper[3] = {static_cast<char>(253), static_cast<char>(200), static_cast<char>(180)};

void PutLittleEndian(std::string& out, std::size_t offset, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string ComposeScreenshotBmp(std::string_view lcdPageImage) {
  if (lcdPageImage.size() != kLcdPageImageBytes)
    throw std::invalid_argument("a display page image has 1024 bytes");

  std::string bmp(kScreenshotBmpBytes, '\0');
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutLittleEndian(bmp, 2, static_cast<std::uint32_t>(kScreenshotBmpBytes), 4);
  PutLittleEndian(bmp, 10, kHeaderBytes, 4);
  PutLittleEndian(bmp, 14, 40, 4);
  PutLittleEndian(bmp, 18, kWidth, 4);
  PutLittleEndian(bmp, 22, kHeight, 4);  // positive: the first stored row is the bottom one
  PutLittleEndian(bmp, 26, 1, 2);
  PutLittleEndian(bmp, 28, 24, 2);

  // Display row r fills file rows 4r to 4r + 3, which are alike: build the
  // first, copy it to the other three.
  for (int r = 0; r < 64; ++r) {
    const std::size_t page = static_cast<std::size_t>(r / 8) * 128;
    const int bit = r % 8;
    char* row =
        bmp.data() + kHeaderBytes + static_cast<std::size_t>(r) * kScreenshotScale * kRowBytes;
    char* pixel = row;
    for (std::size_t c = 0; c < 128; ++c) {
      const bool dark = (static_cast<std::uint8_t>(lcdPageImage[page + c]) >> bit) & 1;
      const char* colour = dark ? kInk : kPaper;
      for (int dx = 0; dx < kScreenshotScale; ++dx, pixel += 3) {
        pixel[0] = colour[0];
        pixel[1] = colour[1];
        pixel[2] = colour[2];
      }
    }
    for (int dy = 1; dy < kScreenshotScale; ++dy)
      std::copy(row, row + kRowBytes, row + static_cast<std::size_t>(dy) * kRowBytes);
  }
  return bmp;
}

std::string ScreenshotFileName(const std::array<std::uint8_t, 6>& info) {
  auto f = [](std::uint8_t value) { return fw::Format(value, "00"); };
  return "emfscreenshot_" + f(info[2]) + f(info[1]) + f(info[0]) + "_" + f(info[3]) + f(info[4]) +
         f(info[5]) + ".bmp";
}

void SaveScreenshotBmp(const fw::FolderItem& file, std::string_view content) {
  // Delete refuses anything that is not a regular file, so a folder, device
  // or FIFO chosen in the dialog is left as it is.
  if (file.Exists()) file.Delete();
  std::unique_ptr<fw::BinaryStream> stream = fw::BinaryStream::Create(file, false);
  try {
    stream->Write(content);
    stream->Close();
  } catch (const fw::IOException&) {
    stream.reset();
    try {
      file.Delete();
    } catch (const fw::IOException&) {
      // The write's error is the one worth reporting.
    }
    throw;
  }
}
