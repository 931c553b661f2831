// The text fields of a recording's header (job, note, sensor, scan position) are written by the
// instrument in Windows-1252; everything we show or print is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace quarv {

// Every byte is one character: 0x00-0x7F stay as they are (ASCII text is returned unchanged),
// 0x80-0x9F are the code page's typographic characters (the five it leaves unassigned map to the
// C1 controls of the same number) and 0xA0-0xFF are U+00A0-U+00FF.
std::string windows1252ToUtf8(std::string_view text);

} // namespace quarv
