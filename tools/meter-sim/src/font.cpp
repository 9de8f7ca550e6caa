// The display font. Each glyph is drawn as seven rows of text so it can be
// read and edited here directly; '#' is a dark pixel. All rows of a glyph
// have the same length, which is the glyph's width.
#include <algorithm>
#include <array>
#include <cstring>

#include "meter_sim/display.h"

namespace meter_sim {
namespace {

struct GlyphArt {
  char c;
  std::array<const char*, kGlyphHeight> rows;
};

constexpr GlyphArt kGlyphs[] = {
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'.', {"  ", "  ", "  ", "  ", "  ", "##", "##"}},
    {':', {"  ", "##", "##", "  ", "##", "##", "  "}},
    {'-', {"    ", "    ", "    ", "####", "    ", "    ", "    "}},
    {'/', {"    #", "    #", "   # ", "  #  ", " #   ", "#    ", "#    "}},
    {' ', {"   ", "   ", "   ", "   ", "   ", "   ", "   "}},
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {"###", " # ", " # ", " # ", " # ", " # ", "###"}},
    {'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "#   #", "##  #", "# # #", "#  ##", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
    {'c', {"    ", "    ", " ###", "#   ", "#   ", "#   ", " ###"}},
    {'k', {"#   ", "#   ", "#  #", "# # ", "##  ", "# # ", "#  #"}},
    {'m', {"     ", "     ", "## # ", "# # #", "# # #", "#   #", "#   #"}},
    {'s', {"    ", "    ", " ###", "#   ", " ## ", "   #", "### "}},
    {'u', {"     ", "     ", "#   #", "#   #", "#   #", "#  ##", " ## #"}},
    {'z', {"    ", "    ", "####", "   #", "  # ", " #  ", "####"}},
};

// Drawn for characters the font lacks, so a missing glyph is visible.
constexpr GlyphArt kMissing = {'?',
                               {"#####", "#   #", "#   #", "#   #", "#   #", "#   #", "#####"}};

const GlyphArt& Find(char c) {
  for (const GlyphArt& g : kGlyphs) {
    if (g.c == c) return g;
  }
  return kMissing;
}

int GlyphWidth(const GlyphArt& g) { return static_cast<int>(std::strlen(g.rows[0])); }

}  // namespace

bool HasGlyph(char c) { return &Find(c) != &kMissing; }

int TextWidth(std::string_view text, int scale) {
  int width = 0;
  for (char c : text) width += (GlyphWidth(Find(c)) + 1) * scale;
  return std::max(0, width - scale);  // no gap after the last glyph
}

int DrawText(ScreenImage& image, int x, int top_row, std::string_view text, int scale) {
  int cursor = x;
  for (char c : text) {
    const GlyphArt& g = Find(c);
    const int w = GlyphWidth(g);
    for (int r = 0; r < kGlyphHeight; ++r) {
      for (int col = 0; col < w; ++col) {
        if (g.rows[r][col] != '#') continue;
        for (int dy = 0; dy < scale; ++dy) {
          for (int dx = 0; dx < scale; ++dx) {
            const int row_from_top = top_row + r * scale + dy;
            SetPixel(image, cursor + col * scale + dx, kDisplayHeight - 1 - row_from_top);
          }
        }
      }
    }
    cursor += (w + 1) * scale;
  }
  return TextWidth(text, scale);
}

}  // namespace meter_sim
