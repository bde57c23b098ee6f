#pragma once
// Texts are byte strings in the program's code page (GB18030, which is GBK
// for every GBK character), holding no zero byte. Positions count bytes from
// 1; a search that finds nothing answers -1. Searches step over whole
// multi-byte characters, and case folding touches only ASCII letters.
#include <string>
#include <string_view>

namespace korvani {

using Text = std::string;   // code-page bytes
using Bytes = std::string;  // raw bytes as received from the web

// Position (from 1) of `needle` in `text` at or after `start`, or -1.
int text_find(std::string_view text, std::string_view needle, int start = 1, bool ignore_case = false);
// Position of the last occurrence of `needle`, or -1 (character-aligned).
int text_find_last(std::string_view text, std::string_view needle);

Text text_between(std::string_view text, std::string_view left, std::string_view right);
// start <= 0 means 1.
Text text_left_of(std::string_view text, std::string_view marker, int start = 0);
Text text_replace(std::string_view text, std::string_view old_text, std::string_view new_text);
Text percent_decode(std::string_view text);
Text utf8_to_ansi(std::string_view utf8);
std::string ansi_to_utf8(std::string_view text);
Text url_encode(std::string_view text);
int text_byte_length(std::string_view text);

// A value put into an x-www-form-urlencoded body as typed: only the bytes that
// would change the form's meaning ("%", "&", "=", "+") are percent-encoded.
std::string form_value(std::string_view value);

// Decodes HTML character references (&amp; &lt; &gt; &quot; &#39; &#NNN; &#xHH;)
// once, in a text of the program's code page.
Text html_unescape(std::string_view text);
// The reverse for the five characters a page escapes in text.
Text html_escape(std::string_view text);

}  // namespace korvani
