// The stored screenshot: the BMP bytes and name, the exchanges on a line
// with a clock of its own, saving, and the button's ends in the window.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "framework/exceptions.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "screen/screenshot_bmp.h"
#include "screen/screenshot_transfer.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

fs::path TestDir() {
  const fs::path dir =
      fs::temp_directory_path() / ("maglyx-shot-" + std::to_string(getpid()) + "-" +
                                   testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::create_directories(dir);
  return dir;
}

// ---- The file ---------------------------------------------------------------

TEST(ScreenshotBmp, HeaderAndSize) {
  const std::string bmp = ComposeScreenshotBmp(std::string(1024, '\0'));
  ASSERT_EQ(bmp.size(), 393270u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(bmp.substr(2, 4), std::string("\x36\x00\x06\x00", 4));
  EXPECT_EQ(bmp.substr(18, 8), std::string("\x00\x02\x00\x00\x00\x01\x00\x00", 8));
  // Pixel data at 54, 40-byte header, 1 plane, 24 bits; everything else zero.
  std::string rest(54, '\0');
  rest.replace(2, 4, bmp.substr(2, 4));
  rest.replace(18, 8, bmp.substr(18, 8));
  rest[0] = 'B', rest[1] = 'M', rest[10] = 54, rest[14] = 40, rest[26] = 1, rest[28] = 24;
  EXPECT_EQ(bmp.substr(0, 54), rest);
}

TEST(ScreenshotBmp, EachDisplayPixelIsAFourByFourBlockFromTheBottomLeft) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> set;
    std::function<bool(int x, int y)> ink;  // y counts file rows, the first stored row is 0
  };
  const Case cases[] = {
      {"all clear", [](std::string&) {}, [](int, int) { return false; }},
      {"all set", [](std::string& i) { i.assign(1024, '\xFF'); }, [](int, int) { return true; }},
      {"byte 0 bit 0", [](std::string& i) { i[0] = 1; },
       [](int x, int y) { return x < 4 && y < 4; }},
      {"byte 128 bit 0", [](std::string& i) { i[128] = 1; },
       [](int x, int y) { return x < 4 && y >= 32 && y < 36; }},
      {"byte 127 bit 7", [](std::string& i) { i[127] = '\x80'; },
       [](int x, int y) { return x >= 508 && y >= 28 && y < 32; }},
  };
  for (const Case& c : cases) {
    std::string image(1024, '\0');
    c.set(image);
    const std::string bmp = ComposeScreenshotBmp(image);
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 512; ++x)
        wrong +=
            bmp.substr(54 + y * 1536 + x * 3, 3) != (c.ink(x, y) ? "\x2D\x2D\x2D" : "\xFD\xC8\xB4");
    EXPECT_EQ(wrong, 0) << c.name;
  }
  std::string image(1024, '\0');
  image[0] = 1;
  const std::string bmp = ComposeScreenshotBmp(image);
  for (std::size_t start : {54, 1590, 3126, 4662}) {
    EXPECT_EQ(bmp.substr(start, 12), std::string(12, '\x2D')) << start;
    EXPECT_EQ(bmp.substr(start + 12, 3), "\xFD\xC8\xB4") << start;
  }
}

TEST(ScreenshotFileName, DateGroupsInTheirOrderWithTwoDigitsAtLeast) {
  EXPECT_EQ(ScreenshotFileName({20, 7, 125, 3, 0, 45}), "emfscreenshot_1250720_030045.bmp");
  for (const auto& [value, text] : std::vector<std::pair<std::uint8_t, std::string>>{
           {0, "00"}, {9, "09"}, {10, "10"}, {99, "99"}, {100, "100"}, {255, "255"}}) {
    EXPECT_EQ(ScreenshotFileName({value, 1, 2, 3, 4, value}),
              "emfscreenshot_0201" + text + "_0304" + text + ".bmp");
  }
}

TEST(SaveScreenshotBmp, ReplacesAnExistingFileWhole) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "shot.bmp") << std::string(500000, 'x');
  const std::string content = ComposeScreenshotBmp(std::string(1024, '\x5A'));
  SaveScreenshotBmp(fw::FolderItem(dir / "shot.bmp"), content);
  EXPECT_EQ(ReadFile(dir / "shot.bmp"), content);
  fs::remove_all(dir);
}

TEST(SaveScreenshotBmp, AFailureLeavesNoPartialFileAndTouchesNothingElse) {
  const fs::path dir = TestDir();
  const std::string content = ComposeScreenshotBmp(std::string(1024, '\0'));
  fs::create_directory(dir / "folder.bmp");
  std::ofstream(dir / "folder.bmp" / "inside") << "kept";
  ASSERT_EQ(mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
  const auto isFolder = [&] { return ReadFile(dir / "folder.bmp" / "inside") == "kept"; };
  const auto isFifo = [&] { return fs::is_fifo(dir / "fifo.bmp"); };
  const auto absent = [&] { return !fs::exists(dir / "full.bmp") && !fs::exists(dir / "no"); };
  struct Case {
    fs::path path;
    std::function<bool()> afterwards;
  } cases[] = {{dir / "folder.bmp", isFolder},
               {dir / "fifo.bmp", isFifo},
               {dir / "no" / "such.bmp", absent},
               {dir / "full.bmp", absent}};
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  for (const Case& c : cases) {
    rlimit small = old;
    small.rlim_cur = c.path.filename() == "full.bmp" ? 10000 : old.rlim_cur;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(SaveScreenshotBmp(fw::FolderItem(c.path), content), fw::IOException) << c.path;
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(c.afterwards()) << c.path;
  }
  fs::remove_all(dir);
}

// ---- The exchanges ------------------------------------------------------------

// A meter on a clock that only `Sleep` moves: each reply starts its latency
// after the request (or when the line is free) and comes in a byte every
// 87 microseconds, as at 115200 baud.
class ClockedMeter : public fw::SerialLine {
 public:
  std::string info{"\x14\x07\x7D\x03\x00\x2D\xAA", 7};
  std::string image = std::string(1024, '\x11');
  std::deque<long> infoLatencyUs{5000}, imageLatencyUs{5000};  // the last one stays
  bool silent = false;
  std::vector<std::string> writes;

  void Sleep(int ms) { now_ += ms * 1000L; }
  void Write(const std::string& frame) override {
    writes.push_back(frame);
    if (silent) return;
    const bool isInfo = frame.rfind("<GETSSN", 0) == 0;
    std::deque<long>& latency = isInfo ? infoLatencyUs : imageLatencyUs;
    const long start = std::max(now_ + latency.front(), free_);
    if (latency.size() > 1) latency.pop_front();
    const std::string reply = isInfo ? info : image + '\xAA';
    for (std::size_t i = 0; i < reply.size(); ++i)
      coming_.push_back({start + static_cast<long>(i + 1) * 87, reply[i]});
    free_ = coming_.back().first;
  }
  std::string ReadAll() override {
    std::string got;
    while (!coming_.empty() && coming_.front().first <= now_) {
      got += coming_.front().second;
      coming_.pop_front();
    }
    return got;
  }
  ScreenshotFetch Fetch(int slot = 1) {
    return FetchScreenshot(*this, slot, [this](int ms) { Sleep(ms); });
  }
  int Count(const std::string& frame) const {
    return static_cast<int>(std::count(writes.begin(), writes.end(), frame));
  }

 private:
  long now_ = 0, free_ = 0;
  std::deque<std::pair<long, char>> coming_;
};

TEST(FetchScreenshot, SilentMeterGetsSixInformationRequestsAndNoImageRequest) {
  ClockedMeter meter;
  meter.silent = true;
  EXPECT_EQ(meter.Fetch(3).outcome, ScreenshotFetch::Outcome::kNoInformation);
  EXPECT_EQ(meter.writes, std::vector<std::string>(6, "<GETSSN3>>"));
}

TEST(FetchScreenshot, FirstInformationValueBelow19Or255MeansAnEmptySlot) {
  for (const auto& [first, empty] : {std::pair{18, true}, {19, false}, {255, true}}) {
    ClockedMeter meter;
    meter.info[0] = static_cast<char>(first);
    meter.image[5] = '\x42';
    const ScreenshotFetch fetch = meter.Fetch(2);
    EXPECT_EQ(fetch.info, meter.info);
    EXPECT_EQ(fetch.outcome,
              empty ? ScreenshotFetch::Outcome::kEmptySlot : ScreenshotFetch::Outcome::kImage);
    EXPECT_EQ(fetch.image, empty ? "" : meter.image) << first;
    EXPECT_EQ(meter.Count("<GETSS2>>"), empty ? 0 : 1) << first;
  }
}

TEST(FetchScreenshot, ALateReplyIsNeverJoinedWithAnotherIntoAFalseImage) {
  // A reply to an earlier information request, 600 ms late, comes in right
  // before the first 1018 bytes of the image; image byte 1017 is 0xAA, so the
  // two would make 1025 bytes ending in 0xAA. The first image reply comes 911.4
  // ms after its request: 1018 bytes at the 1000 ms read.
  ClockedMeter lateInfo;
  lateInfo.infoLatencyUs = {600000};
  lateInfo.imageLatencyUs = {911400, 5000};
  lateInfo.image[1017] = '\xAA';
  // An image that starts 10 ms before the read (114 bytes by then): its tail
  // and the head of the next reply would make 1025 bytes ending in byte 113.
  ClockedMeter lateImage;
  lateImage.imageLatencyUs = {990000};
  lateImage.image[113] = '\xAA';
  const ScreenshotFetch afterLateInfo = lateInfo.Fetch();
  EXPECT_EQ(afterLateInfo.outcome, ScreenshotFetch::Outcome::kImage);
  EXPECT_EQ(afterLateInfo.image, lateInfo.image);
  // Always late: every attempt fails, none takes a joined reply.
  EXPECT_EQ(lateImage.Fetch().outcome, ScreenshotFetch::Outcome::kNoImage);
  EXPECT_EQ(lateImage.Count("<GETSS1>>"), 4);
}

// ---- The button -----------------------------------------------------------------

// Records the caption each time the button is painted.
struct PaintSpy : QObject {
  std::vector<QString> captions;
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      captions.push_back(static_cast<QPushButton*>(object)->text());
    return false;
  }
};

class ScreenshotButton : public testing::Test {
 protected:
  void SetUp() override {
    fw::SetSleepSpeedup(4);
    dir = TestDir();
    meter_sim::SimulatorOptions options;
    options.paced = false;
    options.latency_ms = 1;
    sim = std::make_unique<meter_sim::Simulator>(options);
    sim->Start();
    ports.Set({{"meter", sim->SlavePath()}});
    window = std::make_unique<MAGLYX>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->RefreshPorts()->click();
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
    window->DSButton()->installEventFilter(&spy);
    desktop->Clear();
    desktop->whileMessageShows = [this](const std::string&) {
      captionAtMessage = window->DSButton()->text();
      timerAtMessage = window->GSTimer()->Mode();
    };
    sim->ClearLogs();
  }
  void TearDown() override {
    if (unplug.joinable()) unplug.join();
    window.reset();
    fw::SetSleepSpeedup(1);
    fs::remove_all(dir);
  }
  // The screenshot frames that reached the meter.
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& f : sim->Frames())
      if (f.name == "GETSSN" || f.name == "GETSS") out.emplace_back(f.raw.begin(), f.raw.end());
    return out;
  }
  void UnplugAfterFrames(std::size_t frames) {
    unplug = std::thread([this, frames] {
      sim->WaitForFrames(frames, std::chrono::seconds(20));
      sim->Stop();
    });
  }

  FakeDesktopScope desktop;
  TestPorts ports;
  std::unique_ptr<meter_sim::Simulator> sim;
  std::unique_ptr<MAGLYX> window;
  PaintSpy spy;
  fs::path dir;
  std::thread unplug;
  QString captionAtMessage;
  int timerAtMessage = -1;
};

TEST_F(ScreenshotButton, EachEndSaysItsMessageThenRestoresTheCaptionAndTheMirror) {
  const std::string info1 = "<GETSSN1>>", image1 = "<GETSS1>>";
  struct End {
    const char* name;
    std::function<void()> setup;
    std::string message;  // "" for none
    QString captionAtMessage;
    std::vector<std::string> requests;
  };
  meter_sim::Misbehaviour noImage;
  noImage.only_command = "GETSS";
  noImage.silent = true;
  const End ends[] = {
      {"silent meter", [&] { sim->SetSilent(true); }, "Failed to download. Please try again.",
       "Download Screenshot", std::vector<std::string>(6, info1)},
      {"empty slot 4",
       [&] { window->SS4()->setChecked(true); },
       "Screenshot 4 not found.",
       "Please wait...",
       {"<GETSSN4>>"}},
      {"no image",
       [&] { sim->SetMisbehaviour(noImage); },
       "Download Failed.",
       "Download Screenshot",
       {info1, image1, image1, image1, image1}},
      {"dialog dismissed", [] {}, "", "", {info1, image1}},
      {"file written",
       [&] { desktop->saveAnswers.push_back(fw::FolderItem(dir / "a.bmp")); },
       "Download Finished.",
       "Please wait...",
       {info1, image1}},
      {"a folder chosen",
       [&] {
         fs::create_directory(dir / "f.bmp");
         desktop->saveAnswers.push_back(fw::FolderItem(dir / "f.bmp"));
       },
       "The screenshot could not be saved.\nCannot delete \"" + (dir / "f.bmp").string() +
           "\": it is not a regular file",
       "Please wait...",
       {info1, image1}},
      {"unplugged during the information",
       [&] { UnplugAfterFrames(1); },
       "Failed to download. Please try again.",
       "Download Screenshot",
       {info1}},
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.name);
    end.setup();
    window->DSButton()->click();
    if (unplug.joinable()) unplug.join();
    EXPECT_EQ(desktop->messages,
              end.message.empty() ? std::vector<std::string>{} : std::vector{end.message});
    if (!end.message.empty()) {
      EXPECT_EQ(captionAtMessage, end.captionAtMessage);
      EXPECT_EQ(timerAtMessage, fw::Timer::kModeOff);
    }
    EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeMultiple);
    EXPECT_EQ(Requests(), end.requests);
    EXPECT_EQ(std::count(spy.captions.begin(), spy.captions.end(), "Please wait..."), 1);

    sim->ClearMisbehaviour();
    sim->ClearLogs();
    desktop->Clear();
    spy.captions.clear();
    window->SS1()->setChecked(true);
  }
  EXPECT_EQ(fs::file_size(dir / "a.bmp"), 393270u);
  EXPECT_TRUE(fs::is_directory(dir / "f.bmp"));
}

TEST_F(ScreenshotButton, RefusedDuringAHistoryDownloadWithNothingChanged) {
  window->download_started = true;
  window->GSTimer()->SetMode(fw::Timer::kModeOff);
  window->DSButton()->click();
  window->download_started = false;
  EXPECT_EQ(desktop->events, std::vector<std::string>{"msg:Downloading history.\nPlease wait."});
  EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
  EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  EXPECT_TRUE(spy.captions.empty());
  QTest::qWait(50);
  EXPECT_TRUE(Requests().empty());
}

TEST_F(ScreenshotButton, UnpluggedDuringTheImageEndsInTheFailedMessage) {
  UnplugAfterFrames(2);
  window->DSButton()->click();
  EXPECT_EQ(desktop->messages, std::vector<std::string>{"Download Failed."});
  EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
  EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeMultiple);
}

}  // namespace
