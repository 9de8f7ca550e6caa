// What each transfer makes of a meter's timing: the history (3 pages), a stored screenshot and
// 30 s of the live mirror, against each meter of the transfers' test table. Times are on the
// fake meter's clock, which only the transfers' sleeps move: they are what the program's own
// rules cost, not measurements of this machine.

#include <cstdio>

#include "screen/screenshot_transfer.h"
#include "support/meter_timings.h"

using namespace meter_timings;

int main() {
  fw::ProgramLockHolder lock;  // the transfers are program code
  const char* readEnds[] = {"read", "did not answer", "replies unusable", "line lost"};
  const char* fetchEnds[] = {"no information", "empty slot", "no image", "exact", "line lost"};
  std::printf("| meter | history | time | screenshot | time | mirror: frames shown (wrong) |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Case& c : Cases()) {
    ClockedMeter meter(c.timing, Answer), shot(c.timing, Answer), mirror(c.timing, Answer);
    MeterLine line = meter.Line(), shotLine = shot.Line(), mirrorLine = mirror.Line();
    const HistoryImage image = ReadHistoryImage(line, {});
    std::string expected;
    for (std::size_t n = 0; n < kPages; ++n) expected += MemoryPage(n);
    expected.resize(image.readLength);
    expected.resize(kHistoryImageSize);
    const bool exact = std::string(image.bytes.begin(), image.bytes.end()) == expected;
    const ScreenshotFetch fetch = FetchScreenshot(shotLine, 2);
    const bool shotExact = fetch.image.empty() || fetch.image == kImage;
    const MirrorSeen seen = Mirror(mirror, mirrorLine, 60);
    std::printf("| %s | %s%s, %zu of %zu pages | %.1f s | %s%s | %.1f s | %d (%d) |\n", c.name,
                exact ? "" : "WRONG: ", readEnds[static_cast<int>(image.end)],
                image.readLength / kPage, kPages, meter.NowMs() / 1000.0,
                shotExact ? "" : "WRONG: ", fetchEnds[static_cast<int>(fetch.outcome)],
                shot.NowMs() / 1000.0, seen.shown, seen.strange);
  }
  return 0;
}
