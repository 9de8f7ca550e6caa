#pragma once
// How received bytes read in the console. Pure text work, kept apart from the
// widget so that it can be checked byte by byte.

#include <QString>
#include <string_view>

// Turns bytes into console text for the ASCII view:
// - printable ASCII and tabs show as they are;
// - CR LF, a lone CR and a lone LF each end a line, also when a CR LF pair is
//   split between two reads (`pendingCR` carries a CR that ended the previous
//   read; keep one per console);
// - every other byte (controls, DEL, bytes above 127) shows as a middle dot,
//   which keeps binary noise from garbling the text; the HEX view shows the
//   values.
QString ConsoleAsciiText(std::string_view bytes, bool& pendingCR);

// The HEX view: each byte as two upper-case digits followed by one space, so
// that successive reads run on as one sequence ("41 42 " + "43 ").
QString ConsoleHexText(std::string_view bytes);
