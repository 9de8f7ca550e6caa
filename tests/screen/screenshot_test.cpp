// The stored screenshot's pure parts: the BMP bytes and name, and saving.

#include <csignal>

#include "framework/exceptions.h"
#include "framework/format.h"
#include "screen/screenshot_bmp.h"
#include "screen/screenshot_transfer.h"
#include "support/meter_window.h"

TEST(ScreenshotBmp, HeaderThenFourByFourBlocksFromTheBottomLeft) {
  const std::string header = fw::EncodeHex(ComposeScreenshotBmp(std::string(1024, 0)), false);
  EXPECT_EQ(header.substr(0, 108),
            "424D36000600000000003600000028000000000200000001000001001800" + std::string(48, '0'));
  // Byte, value, and the ink's columns and file rows (the first stored is 0), end excluded.
  for (const auto& [byte, value, x0, x1, y0, y1] :
       std::initializer_list<std::array<int, 6>>{{-1, 0xFF, 0, 512, 0, 256},
                                                 {0, 0x01, 0, 4, 0, 4},
                                                 {128, 0x01, 0, 4, 32, 36},
                                                 {127, 0x80, 508, 512, 28, 32}}) {
    std::string image(1024, byte < 0 ? static_cast<char>(value) : 0);
    if (byte >= 0) image[byte] = static_cast<char>(value);
    const std::string bmp = ComposeScreenshotBmp(image);
    ASSERT_EQ(bmp.size(), 393270u);
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 512; ++x)
        wrong += bmp.substr(54 + y * 1536 + x * 3, 3) !=
                 (x >= x0 && x < x1 && y >= y0 && y < y1 ? "\x2D\x2D\x2D" : "\xFD\xC8\xB4");
    EXPECT_EQ(wrong, 0) << byte << " " << value;
  }
}

TEST(ScreenshotFileName, DateGroupsInTheirOrderWithTwoDigitsAtLeast) {
  EXPECT_EQ(ScreenshotFileName({20, 7, 125, 3, 0, 45}), "emfscreenshot_1250720_030045.bmp");
  for (const int v : {0, 9, 10, 99, 100, 255}) {
    const std::string t = v < 10 ? "0" + std::to_string(v) : std::to_string(v);
    EXPECT_EQ(ScreenshotFileName({std::uint8_t(v), 1, 2, 3, 4, std::uint8_t(v)}),
              "emfscreenshot_0201" + t + "_0304" + t + ".bmp");
  }
}

TEST(ScreenshotInfo, AFirstValueBelow19Or255MeansAnEmptySlot) {
  std::string empty;
  for (const int v : {0, 18, 19, 20, 254, 255}) empty += IsEmptyScreenshotSlot(v) ? 'E' : '-';
  EXPECT_EQ(empty, "EE---E");
}

// The window fixture only for its scratch folder.
TEST_F(MeterWindow, SaveScreenshotBmpReplacesAFileWhole) {
  std::ofstream(dir / "a.bmp") << std::string(500000, 'x');
  const std::string content = ComposeScreenshotBmp(std::string(1024, '\x5A'));
  SaveScreenshotBmp(fw::FolderItem(dir / "a.bmp"), content);
  EXPECT_EQ(ReadFile(dir / "a.bmp"), content);
}

// A process starts with the system's default for a write past its file-size limit, which ends it
// with the file cut short; the save must fail like any write instead and keep no part of the file.
TEST(ScreenshotSaveDeathTest, UnderAFileSizeLimitTheProgramGoesOnAndKeepsNoFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // Qt's threads run in this process
  const fs::path path = fs::temp_directory_path() / "maglyx-size-limit.bmp";
  const auto save = [&] {
    signal(SIGXFSZ, SIG_DFL);  // as a process starts
    DiskFullBeyond full(10000);
    try {
      SaveScreenshotBmp(fw::FolderItem(path), std::string(393270, 'x'));
    } catch (const fw::IOException& e) {
      std::exit(e.ErrorNumber() == EFBIG ? 0 : 1);
    }
  };
  EXPECT_EXIT(save(), testing::ExitedWithCode(0), "");
  EXPECT_FALSE(fs::exists(path));
}
