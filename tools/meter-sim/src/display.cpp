#include "meter_sim/display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace meter_sim {
namespace {

constexpr int kTop = kDisplayHeight - 1;

// Layout is easier to read with rows counted from the top, as the eye does.
void Dot(ScreenImage& img, int x, int row) { SetPixel(img, x, kTop - row); }

void HLine(ScreenImage& img, int row, int x0, int x1) {
  for (int x = x0; x <= x1; ++x) Dot(img, x, row);
}

void VLine(ScreenImage& img, int x, int row0, int row1) {
  if (row0 > row1) std::swap(row0, row1);
  for (int r = row0; r <= row1; ++r) Dot(img, x, r);
}

void Frame(ScreenImage& img, int x0, int row0, int x1, int row1) {
  HLine(img, row0, x0, x1);
  HLine(img, row1, x0, x1);
  VLine(img, x0, row0, row1);
  VLine(img, x1, row0, row1);
}

void DrawRight(ScreenImage& img, int right_x, int top_row, std::string_view text, int scale = 1) {
  DrawText(img, right_x - TextWidth(text, scale) + 1, top_row, text, scale);
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double Unit(uint64_t x) { return static_cast<double>(Mix(x) >> 11) * 0x1.0p-53; }

// A sum of slow sine waves with seed-dependent phases: smooth, bounded by
// about +-1.2, never periodic on a human time scale.
double Drift(uint64_t seed, int channel, double t) {
  constexpr double kPeriods[] = {9.0, 31.0, 97.0, 421.0};
  constexpr double kAmps[] = {0.12, 0.25, 0.35, 0.45};
  double sum = 0;
  for (int k = 0; k < 4; ++k) {
    const double phase = 2 * std::numbers::pi * Unit(seed * 16 + channel * 4 + k);
    sum += kAmps[k] * std::sin(2 * std::numbers::pi * t / kPeriods[k] + phase);
  }
  return sum;
}

// Once every 53 s an appliance switches on nearby for a couple of seconds.
double MagneticSpike(uint64_t seed, double t) {
  constexpr double kPeriod = 53.0;
  const double n = std::floor(t / kPeriod);
  const double x = t - n * kPeriod - 40.0;
  const double height = 5.0 + 20.0 * Unit(seed ^ (0x5A5A0000ull + static_cast<uint64_t>(n)));
  return height * std::exp(-x * x / (2 * 1.5 * 1.5));
}

std::string Fixed(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

struct Shown {
  std::string value;
  std::string unit;
};

Shown ShowMagnetic(double mg, bool alt) {
  if (alt) return {Fixed(mg / 10.0, 2), "uT"};  // 1 uT = 10 mG
  return {Fixed(mg, mg < 1000 ? 1 : 0), "mG"};
}

Shown ShowElectric(double vm) { return {Fixed(vm, vm < 1000 ? 1 : 0), "V/m"}; }

Shown ShowRf(double mw_m2, bool alt) {
  const double v = alt ? mw_m2 / 10.0 : mw_m2;  // 1 uW/cm2 = 10 mW/m2
  const int decimals = v < 10 ? 3 : (v < 100 ? 2 : 1);
  return {Fixed(v, decimals), alt ? "uW/cm2" : "mW/m2"};
}

const char* ViewLabel(View v) {
  switch (v) {
    case View::kAll:
      return "ALL";
    case View::kMagnetic:
      return "MAG";
    case View::kElectric:
      return "ELEC";
    case View::kRf:
      return "RF";
    case View::kGraph:
      return "GRAPH";
    case View::kInfo:
      return "INFO";
  }
  return "";
}

// Logarithmic bar with a tick per decade, across the bottom of the display.
void DrawBar(ScreenImage& img, double value, double lo, double hi) {
  constexpr int kRow0 = 57, kRow1 = 63, kX0 = 0, kX1 = 127;
  Frame(img, kX0, kRow0, kX1, kRow1);
  const double decades = std::log10(hi / lo);
  for (int d = 1; d < static_cast<int>(decades + 0.5); ++d) {
    const int x = kX0 + static_cast<int>(std::lround((kX1 - kX0) * d / decades));
    VLine(img, x, kRow0 - 2, kRow0 - 1);
  }
  double f = std::log10(std::max(value, lo) / lo) / decades;
  f = std::clamp(f, 0.0, 1.0);
  const int fill_end = kX0 + 2 + static_cast<int>(std::lround(f * (kX1 - kX0 - 4)));
  for (int r = kRow0 + 2; r <= kRow1 - 2; ++r) HLine(img, r, kX0 + 2, fill_end);
}

void DrawStatus(ScreenImage& img, const MeterState& s, double t) {
  DrawText(img, 0, 0, ClockText(s, t));
  if (s.hold) DrawText(img, 52, 0, "HOLD");
  DrawRight(img, 112, 0, ViewLabel(s.view));
  // Battery: a frame with a nub and a three-quarter charge.
  Frame(img, 116, 0, 126, 6);
  VLine(img, 127, 2, 4);
  for (int r = 2; r <= 4; ++r) HLine(img, r, 118, 122);
  HLine(img, 9, 0, 127);
}

// One reading line of the overview: label, value right-aligned, unit.
void DrawReadingLine(ScreenImage& img, int row, const char* label, const Shown& shown, int scale) {
  const int height = kGlyphHeight * scale;
  const int base_row = row + height - kGlyphHeight;  // small text sits on the baseline
  DrawText(img, 0, base_row, label);
  // Units are left-aligned in a column wide enough for the longest, "uW/cm2".
  DrawRight(img, 91, row, shown.value, scale);
  DrawText(img, 94, base_row, shown.unit);
}

void DrawAll(ScreenImage& img, const MeterState& s, const Readings& r) {
  int row = 12;
  DrawReadingLine(img, row, "B", ShowMagnetic(r.magnetic_mg, s.alt_units), s.zoom);
  row += kGlyphHeight * s.zoom + 3;
  DrawReadingLine(img, row, "E", ShowElectric(r.electric_vm), 1);
  row += kGlyphHeight + 3;
  DrawReadingLine(img, row, "S", ShowRf(r.rf_mw_m2, s.alt_units), 1);
  DrawBar(img, r.magnetic_mg, 0.1, 1000.0);
}

void DrawSingle(ScreenImage& img, const MeterState& s, const Readings& r) {
  const char* title = "";
  Shown shown;
  double value = 0, lo = 1, hi = 10;
  switch (s.view) {
    case View::kMagnetic:
      title = "MAGNETIC";
      shown = ShowMagnetic(r.magnetic_mg, s.alt_units);
      value = r.magnetic_mg, lo = 0.1, hi = 1000.0;
      break;
    case View::kElectric:
      title = "ELECTRIC";
      shown = ShowElectric(r.electric_vm);
      value = r.electric_vm, lo = 1.0, hi = 1000.0;
      break;
    default:
      title = "RF POWER";
      shown = ShowRf(r.rf_mw_m2, s.alt_units);
      value = r.rf_mw_m2, lo = 0.001, hi = 100.0;
      break;
  }
  DrawText(img, 0, 12, title);
  DrawRight(img, 127, 12, shown.unit);
  DrawRight(img, 125, 22, shown.value, s.zoom + 1);
  DrawBar(img, value, lo, hi);
}

void DrawGraph(ScreenImage& img, const MeterState& s, const Readings& now, double t) {
  const double span = 60.0 * (1 << (s.zoom - 1));
  const Shown shown = ShowMagnetic(now.magnetic_mg, s.alt_units);
  DrawText(img, 0, 12, "B " + shown.value + " " + shown.unit);
  DrawRight(img, 127, 12, std::to_string(static_cast<int>(span / 60)) + " MIN");
  // Plot area: log scale 0.1 .. 100 mG between rows 62 (bottom) and 22.
  constexpr int kBottom = 62, kTopRow = 22;
  VLine(img, 0, kTopRow, kBottom + 1);
  HLine(img, kBottom + 1, 0, 127);
  for (int d = 0; d <= 3; ++d) Dot(img, 1, kBottom - d * (kBottom - kTopRow) / 3);
  int prev_row = -1;
  for (int x = 2; x < kDisplayWidth; ++x) {
    const double tx = t - (kDisplayWidth - 1 - x) * span / (kDisplayWidth - 3);
    if (tx < 0) continue;  // nothing measured before the meter started
    const double v = ReadingsAt(s.seed, tx).magnetic_mg;
    const double f = std::clamp((std::log10(std::max(v, 0.1)) + 1.0) / 3.0, 0.0, 1.0);
    const int row = kBottom - static_cast<int>(std::lround(f * (kBottom - kTopRow)));
    VLine(img, x, prev_row < 0 ? row : prev_row, row);
    prev_row = row;
  }
}

void DrawInfo(ScreenImage& img, const MeterState& s) {
  DrawText(img, 0, 12, "MXR-420 EMF");
  DrawText(img, 0, 21, "FW " + s.firmware);
  DrawText(img, 0, 30, "SN " + s.serial);
  DrawText(img, 0, 39, "LOG " + std::to_string(s.log_pages) + "/256");
  DrawText(img, 0, 48, "INT " + std::to_string(s.log_interval_s) + " s");
}

}  // namespace

void SetPixel(ScreenImage& image, int x, int y, bool dark) {
  if (x < 0 || x >= kDisplayWidth || y < 0 || y >= kDisplayHeight) return;
  uint8_t& b = image[static_cast<std::size_t>((y / 8) * kDisplayWidth + x)];
  const uint8_t mask = static_cast<uint8_t>(1u << (y % 8));
  b = dark ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
}

bool GetPixel(const ScreenImage& image, int x, int y) {
  if (x < 0 || x >= kDisplayWidth || y < 0 || y >= kDisplayHeight) return false;
  return (image[static_cast<std::size_t>((y / 8) * kDisplayWidth + x)] >> (y % 8)) & 1u;
}

std::optional<Key> KeyFromCommand(std::string_view name) {
  if (name == "KEY0") return Key::kNextView;
  if (name == "KEY1") return Key::kPrevView;
  if (name == "KEY2") return Key::kHold;
  if (name == "KEY3") return Key::kUnits;
  if (name == "KEYHOLD1") return Key::kZoomOut;
  if (name == "KEYHOLD2") return Key::kZoomIn;
  if (name == "KEYHOLD3") return Key::kPower;
  return std::nullopt;
}

void ResetDisplay(MeterState& state) {
  state.view = View::kAll;
  state.zoom = kDefaultZoom;
  state.hold = false;
  state.hold_time = 0;
  state.alt_units = false;
  state.power_on = true;
}

void ApplyKey(MeterState& state, Key key, double seconds) {
  if (!state.power_on && key != Key::kPower) return;
  switch (key) {
    case Key::kNextView:
      state.view = static_cast<View>((static_cast<int>(state.view) + 1) % kViewCount);
      break;
    case Key::kPrevView:
      state.view = static_cast<View>((static_cast<int>(state.view) + kViewCount - 1) % kViewCount);
      break;
    case Key::kHold:
      state.hold = !state.hold;
      state.hold_time = seconds;
      break;
    case Key::kUnits:
      state.alt_units = !state.alt_units;
      break;
    case Key::kZoomOut:
      state.zoom = std::max(kMinZoom, state.zoom - 1);
      break;
    case Key::kZoomIn:
      state.zoom = std::min(kMaxZoom, state.zoom + 1);
      break;
    case Key::kPower:
      if (state.power_on) {
        state.power_on = false;
      } else {
        ResetDisplay(state);  // the meter boots into its first screen
      }
      break;
  }
}

Readings ReadingsAt(uint64_t seed, double seconds) {
  const double t = std::floor(seconds * 2.0) / 2.0;
  Readings r;
  r.magnetic_mg = 1.8 * std::exp(0.9 * Drift(seed, 0, t)) + MagneticSpike(seed, t);
  r.electric_vm = 40.0 * std::exp(0.8 * Drift(seed, 1, t));
  r.rf_mw_m2 = 0.05 * std::exp(1.5 * Drift(seed, 2, t));
  return r;
}

std::string ClockText(const MeterState& state, double seconds) {
  long total = state.clock_start + static_cast<long>(std::floor(seconds));
  total %= 86400;
  if (total < 0) total += 86400;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return buf;
}

ScreenImage RenderDisplay(const MeterState& state, double seconds) {
  ScreenImage img{};
  if (!state.power_on) return img;
  const double reading_time = state.hold ? state.hold_time : seconds;
  const Readings r = ReadingsAt(state.seed, reading_time);
  DrawStatus(img, state, seconds);
  switch (state.view) {
    case View::kAll:
      DrawAll(img, state, r);
      break;
    case View::kMagnetic:
    case View::kElectric:
    case View::kRf:
      DrawSingle(img, state, r);
      break;
    case View::kGraph:
      DrawGraph(img, state, r, reading_time);
      break;
    case View::kInfo:
      DrawInfo(img, state);
      break;
  }
  return img;
}

}  // namespace meter_sim
