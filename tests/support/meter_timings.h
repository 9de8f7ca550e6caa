// Meters that answer every request with the right bytes at any pace, and meters that do not:
// the table that the transfers' tests and the timing table of the benchmarks share.
#pragma once

#include <string>
#include <vector>

#include "history/history_reader.h"
#include "screen/lcd_page_image.h"
#include "support/clocked_meter.h"

namespace meter_timings {

inline constexpr std::size_t kPage = kHistoryPageSize, kPages = 3;

// Bytes that differ from reply to reply and hold the end marker here and there, so that a join
// could end on one.
inline std::string Pattern(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i % 97 == 40 ? 0xAA : (seed * 31 + i * 7) % 251);
  return bytes;
}
inline std::string MemoryPage(std::size_t n) {
  return n + 1 < kPages ? Pattern(kPage, static_cast<int>(n)) : Pattern(kPage - 2, 9) + "\xFF\xFF";
}
inline const std::string kInfo{"\x14\x07\x7D\x03\x00\x2D\xAA", 7};
// Bytes 823 and 1017 are the end marker too: 1018 bytes of it after a 7-byte information reply
// make 1025 bytes ending in one.
inline const std::string kImage = Pattern(1017, 5) + '\xAA' + Pattern(6, 6);
inline std::string ScreenFrame(int request) { return Pattern(1024, request) + '\xAA'; }

// The meter: pages, the screenshot in slot 2, and a new display at every request.
inline std::string Answer(const std::string& frame, int request) {
  if (frame.rfind("<SPIR", 0) == 0)
    return MemoryPage((static_cast<std::uint8_t>(frame[5]) << 4) |
                      (static_cast<std::uint8_t>(frame[6]) >> 4));
  if (frame == "<GETSSN2>>") return kInfo;
  if (frame == "<GETSS2>>") return kImage + '\xAA';
  return ScreenFrame(request);
}

struct Case {
  const char* name;
  MeterTiming timing;
  bool honest;          // the right bytes to every request, only their timing varies
  bool inTime = false;  // and within every window
};

inline MeterTiming Paced(double latencyMs) { return MeterTiming{.latencyMs = latencyMs}; }
inline MeterTiming Pieces(double latencyMs, std::size_t piece, int pauseMs,
                          bool afterLast = false) {
  return {.latencyMs = latencyMs, .piece = piece, .pauseMs = pauseMs, .pauseAfterLast = afterLast};
}

inline std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {"InTime", Paced(5), true, true},
      {"AtOnce", {.latencyMs = 0, .paced = false}, true, true},
      {"Late150", Paced(150), true, true},
      {"Late246", Paced(246), true},
      {"Late700", Paced(700), true},
      {"Late1500", Paced(1500), true},
      {"Late3000", Paced(3000), true},
      {"HalvesWith400msBetween", Pieces(100, 2048, 400), true},
      {"PiecesOf206With218msBetween", Pieces(190, 206, 218), true},
      {"SlowPiecesOf1000With300msBetween", Pieces(5, 1000, 300), true},
      {"PausesOf1000msAfterEveryPiece", Pieces(5, 1500, 1000, true), true},
      {"LateInPiecesOf1018", Pieces(700, 1018, 500), true},
      {"PausesOf1000msLate", Pieces(2000, 2500, 1000), true},
      {"Short", {.cut = 1}, false},
      {"ShortAndLate", {.latencyMs = 700, .cut = 1}, false},
      {"Silent", {.lost = [](int) { return true; }}, false},
      {"FirstAndThirdRequestsLost", {.lost = [](int n) { return n == 1 || n == 3; }}, false},
      {"DiesMidReply", {.dieAtMs = 800}, false},
  };
  // Six bytes of junk and a page whose 4096th byte, junk included, comes just before the end of
  // the window (at 243.6 ms late), or just after.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (int us = 243400; us <= 243800; us += 50) n.push_back("JunkAt" + std::to_string(us) + "us");
    return n;
  }();
  for (int i = 0; i < static_cast<int>(names.size()); ++i)
    cases.push_back({names[i].c_str(), {.latencyMs = 243.4 + i * 0.05, .junk = 6}, false});
  cases.push_back({"JunkInTime", {.junk = 6}, false});
  return cases;
}

// What the mirror made of `ticks` ticks of 500 ms, each capture asking only while the line is
// quiet, as the capture does: frames shown, and frames shown that no reply held.
struct MirrorSeen {
  int shown = 0, strange = 0;
};
inline MirrorSeen Mirror(ClockedMeter& meter, MeterLine& line, int ticks) {
  MirrorSeen seen;
  for (int tick = 0; tick < ticks; ++tick) {
    if (meter.NowMs() < tick * 500L) meter.Sleep(static_cast<int>(tick * 500L - meter.NowMs()));
    const std::uint64_t connection = line.Connection();
    if (connection == 0 || !line.Quiet()) continue;
    const ExchangeResult r = line.Exchange(connection, "<GETSCREEN>>", kGetScreenRule);
    if (r.end != ExchangeEnd::kReply) meter.Sleep(300);
    line.ReadAll();
    if (r.end != ExchangeEnd::kReply) continue;
    ++seen.shown;
    bool sent = false;
    for (int n = 1; n <= static_cast<int>(meter.writes.size()); ++n)
      sent = sent || r.reply == ScreenFrame(n);
    seen.strange += !sent;
  }
  return seen;
}

}  // namespace meter_timings
