#pragma once
// How received bytes read in the console. Pure text work, kept apart from the
// widget so that it can be checked byte by byte.

#include <QString>
#include <string_view>

// What the console remembers between appends.
struct ConsoleLine {
  bool pendingCR = false;  // the last append ended with a CR; an LF next belongs to it
  int column = 0;          // characters (ASCII) or bytes (HEX) on the current line
  bool hex = false;        // the view of the last append; a switch starts counting anew
};

// The HEX view starts a new line after this many bytes, like a hex dump.
inline constexpr int kHexBytesPerLine = 16;
// The ASCII view starts a new line once a line grows this long without a line end.
inline constexpr int kAsciiMaxLine = 1024;

// The ASCII view:
// - printable ASCII and tabs show as they are;
// - CR LF, a lone CR and a lone LF each end a line, also when a CR LF pair is
//   split between two reads;
// - every other byte (controls, DEL, bytes above 127) shows as a middle dot,
//   which keeps binary noise from garbling the text; the HEX view shows the
//   values.
// Lines are kept short (see the limits above): the text widget lays out a
// whole paragraph again on every append, so one endless paragraph would make
// each append slower as the console grows.
QString ConsoleAsciiText(std::string_view bytes, ConsoleLine& line);

// The HEX view: each byte as two upper-case digits followed by one space, so
// that successive reads run on as one sequence ("41 42 " + "43 "), sixteen
// bytes to a line.
QString ConsoleHexText(std::string_view bytes, ConsoleLine& line);
