// The simulated meter's 128 x 64 monochrome LCD.
//
// The image is kept in the controller's page layout, exactly as the meter
// sends it: 8 pages of 128 bytes; byte i holds display column (i % 128) of
// page (i / 128); bit k of that byte (least significant first) is display
// row 8 * page + k; a set bit is a dark pixel. Row 0 is the BOTTOM row of
// the glass and row 63 the top; column 0 is the left edge.
//
// Rendering is a pure function of the meter state and the meter's time, so
// a screen can be recomputed anywhere (tests, stored screenshots).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace meter_sim {

inline constexpr int kDisplayWidth = 128;
inline constexpr int kDisplayHeight = 64;
inline constexpr std::size_t kImageBytes = 1024;

using ScreenImage = std::array<uint8_t, kImageBytes>;

// Pixel access with y counted from the bottom row (0) to the top row (63).
// Writes outside the display are ignored; reads outside return false.
void SetPixel(ScreenImage& image, int x, int y, bool dark = true);
bool GetPixel(const ScreenImage& image, int x, int y);

// The meter's screens, cycled by KEY0 (forward) and KEY1 (backward).
enum class View {
  kAll = 0,       // all three readings, magnetic field first, bar graph
  kMagnetic = 1,  // magnetic field alone, large, with bar graph
  kElectric = 2,  // electric field alone
  kRf = 3,        // RF power density alone
  kGraph = 4,     // magnetic field history chart
  kInfo = 5,      // firmware, serial number, logger settings
};
inline constexpr int kViewCount = 6;

// Face keys and the long-press functions.
enum class Key {
  kNextView,  // KEY0
  kPrevView,  // KEY1
  kHold,      // KEY2: freeze / release the readings
  kUnits,     // KEY3: mG <-> uT and mW/m2 <-> uW/cm2
  kZoomOut,   // KEYHOLD1
  kZoomIn,    // KEYHOLD2
  kPower,     // KEYHOLD3: display off / on
};

// Maps a command name such as "KEY2" or "KEYHOLD3" to its key.
std::optional<Key> KeyFromCommand(std::string_view name);

inline constexpr int kMinZoom = 1;
inline constexpr int kMaxZoom = 3;
inline constexpr int kDefaultZoom = 2;

struct MeterState {
  View view = View::kAll;
  // Size of the main reading: 1 small .. 3 large. In the graph view it
  // selects the time span (1, 2 or 4 minutes).
  int zoom = kDefaultZoom;
  bool hold = false;
  double hold_time = 0.0;  // meter time at which the readings were frozen
  bool alt_units = false;  // uT and uW/cm2 instead of mG and mW/m2
  bool power_on = true;

  // Everything below describes the instrument rather than the user's
  // choices and survives a reset.
  uint64_t seed = 1;                  // shapes the drifting readings
  int clock_start = 10 * 3600;        // time of day (s) on the meter's clock at time 0
  std::string firmware = "V1.12";     // shown on the info screen
  std::string serial = "MX42017733";  // shown on the info screen
  int log_pages = 40;                 // pages of logging memory in use
  int log_interval_s = 10;            // logger sample interval
};

// Puts the user-facing settings back to power-on defaults.
void ResetDisplay(MeterState& state);

// Applies a key press made at meter time `seconds`. While the display is off
// only the power key does anything.
void ApplyKey(MeterState& state, Key key, double seconds);

struct Readings {
  double magnetic_mg = 0;
  double electric_vm = 0;
  double rf_mw_m2 = 0;
};

// The field the simulated meter measures at meter time `seconds`. Values drift
// smoothly, with a short magnetic spike now and then, and change in 0.5 s
// steps as a real meter's display does.
Readings ReadingsAt(uint64_t seed, double seconds);

// The meter's clock as "hh:mm:ss" at meter time `seconds`.
std::string ClockText(const MeterState& state, double seconds);

// The whole display at meter time `seconds`. All zero while powered off.
ScreenImage RenderDisplay(const MeterState& state, double seconds);

// --- Bitmap font ----------------------------------------------------------
// A proportional font 7 pixels high. Glyphs exist for digits, upper-case
// letters, the lower-case letters the unit names need (c k m s u z) and
// ". : - / space". Unknown characters draw as a hollow box.

inline constexpr int kGlyphHeight = 7;

bool HasGlyph(char c);
// Width in pixels of `text` at `scale`, including the one-column gaps.
int TextWidth(std::string_view text, int scale = 1);
// Draws `text` with its top-left corner at column `x`, `top_row` rows below
// the top of the display (top-based to make layouts readable). Returns the
// width drawn.
int DrawText(ScreenImage& image, int x, int top_row, std::string_view text, int scale = 1);

}  // namespace meter_sim
