#pragma once
// Conversion between UTF-8 and the program's code page (GB18030).
// Malformed input becomes "?", one per bad sequence; nothing is cut short
// except at a zero byte, where a text ends.
#include <string>
#include <string_view>

namespace korvani::platform {

std::string utf8_to_codepage(std::string_view utf8);
std::string codepage_to_utf8(std::string_view text);

}  // namespace korvani::platform
