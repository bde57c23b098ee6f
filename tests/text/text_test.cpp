// Text routines over code-page byte strings. Texts in the tables are written
// with %XX for every byte that is not plain ASCII, and %25 for a percent sign.
// Code-page bytes used below:
//   %D6%D0 中, %CE%C4 文 (GBK)          %81%40 丂, %81%5D, %81%41 (ASCII trail bytes)
//   %94%39%FC%36 an emoji (a four-byte GB18030 character with digit bytes inside)
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace korvani {
namespace {

using test::unhex;

struct FindCase {
  const char* text;
  const char* needle;
  int start;
  bool ignore_case;
  int expected;
  const char* note;
};

const FindCase kFind[] = {
    {"abcabc", "bc", 1, false, 2, "first occurrence"},
    {"abcabc", "bc", 3, false, 5, "from a start position"},
    {"abcabc", "bc", 0, false, 2, "start 0 means the whole text"},
    {"abcabc", "bc", -7, false, 2, "negative start means the whole text"},
    {"abc", "c", 3, false, 3, "start on the last byte"},
    {"abc", "c", 4, false, -1, "start past the end finds nothing"},
    {"abc", "abcd", 1, false, -1, "needle longer than the text"},
    {"abc", "", 1, false, 1, "empty needle found at 1"},
    {"abc", "", 3, false, 1, "empty needle found at 1 while a byte lies at the start"},
    {"abc", "", 4, false, -1, "empty needle past the end"},
    {"", "", 1, false, -1, "empty needle in the empty text"},
    {"ABC", "bc", 1, false, -1, "exact unless told otherwise"},
    {"ABC", "bc", 1, true, 2, "ASCII case ignored"},
    {"%D6%D0%CE%C4", "%D0%CE", 1, false, -1, "no match across a character boundary"},
    {"%D6%D0%CE%C4", "%CE%C4", 1, false, 3, "a whole character matches"},
    {"%81%40@", "@", 1, false, 3, "an ASCII trail byte is part of its character"},
    {"%81%40", "@", 1, false, -1, "only a trail byte matches: not found"},
    {"%81%41a", "a", 1, true, 3, "folding does not reach into a character"},
    {"%C1%C2", "%E1%E2", 1, true, -1, "only ASCII letters are folded"},
    {"%94%39%FC%36%FC%36", "%FC%36", 1, false, 5, "four-byte character stepped over whole"},
    {"%94%39%FC%369", "9", 1, false, 5, "digit byte inside a four-byte character"},
    {"%94%39%FC%36", "6", 1, false, -1, "last byte of a four-byte character"},
    {"x%D6", "%D6", 1, false, 2, "lead byte cut off at the end"},
};

TEST(TextFind, FindsAtCharacterStartsOnly) {
  for (const auto& c : kFind) {
    EXPECT_EQ(text_find(unhex(c.text), unhex(c.needle), c.start, c.ignore_case), c.expected) << c.note;
  }
}

struct FindLastCase {
  const char* text;
  const char* needle;
  int expected;
  const char* note;
};

const FindLastCase kFindLast[] = {
    {"a,b,c", ",", 4, "last of several"},
    {"abc", "x", -1, "absent"},
    {"", "x", -1, "empty text"},
    {"aaa", "aa", 2, "overlapping occurrences"},
    {"%D6%D0%CE%C4%D6%D0", "%D0%CE", -1, "no match across a character boundary"},
    {"x%D6%D0%CE%C4%D6%D0", "%D6%D0", 6, "whole characters only"},
    {"<option value=\"11111111\" >A</option><option value=\"22222222\" >A</option>", "\" >A</option>", 60,
     "the last option of a name wins"},
};

TEST(TextFindLast, FindsTheLastAlignedOccurrence) {
  for (const auto& c : kFindLast) {
    EXPECT_EQ(text_find_last(unhex(c.text), unhex(c.needle)), c.expected) << c.note;
  }
}

struct BetweenCase {
  const char* text;
  const char* left;
  const char* right;
  const char* expected;
  const char* note;
};

const BetweenCase kBetween[] = {
    {"a[b]c", "[", "]", "b", "plain"},
    {"[]", "[", "]", "", "markers side by side"},
    {"abc", "[", "]", "", "no left marker"},
    {"a[bc", "[", "]", "", "no right marker after the left one"},
    {"]x[y]", "[", "]", "y", "right marker searched only after the left one"},
    {"[[x]]", "[", "]", "[x", "first left marker, first right marker after it"},
    {"ab[", "[", "]", "", "left marker at the very end"},
    {"abc]d", "", "]", "abc", "empty left marker: from the beginning"},
    {"a[b]", "[", "", "", "empty right marker: always empty"},
    {"[%81%5Dx]", "[", "]", "%81%5Dx", "a right marker byte inside a character is skipped"},
    {"<b>%D6%D0%CE%C4</b>", "<b>", "</b>", "%D6%D0%CE%C4", "code-page text between markers"},
    {"%D6%D0%CE%C4x", "%D0%CE", "x", "", "left marker across a character boundary"},
};

TEST(TextBetween, TakesTheTextBetweenMarkers) {
  for (const auto& c : kBetween) {
    EXPECT_EQ(text_between(unhex(c.text), unhex(c.left), unhex(c.right)), unhex(c.expected)) << c.note;
  }
}

struct LeftOfCase {
  const char* text;
  const char* marker;
  int start;
  const char* expected;
  const char* note;
};

const LeftOfCase kLeftOf[] = {
    {"abc,def", ",", 0, "abc", "start left out"},
    {"abc,def", ",", -3, "abc", "negative start means 1"},
    {"abc,def", ",", 5, "", "no marker at or after the start"},
    {"12,34,", ",", 6, "12,34", "start at the byte length: only a final comma"},
    {"12,34", ",", 5, "", "no final comma"},
    {"12,34,", ",", 7, "", "start past the end"},
    {",abc", ",", 0, "", "marker at position 1"},
    {"abc", ",", 0, "", "no marker"},
    {"%81%40x@y", "@", 0, "%81%40x", "a marker byte inside a character is skipped"},
};

TEST(TextLeftOf, TakesTheTextBeforeTheMarker) {
  for (const auto& c : kLeftOf) {
    EXPECT_EQ(text_left_of(unhex(c.text), unhex(c.marker), c.start), unhex(c.expected)) << c.note;
  }
}

struct ReplaceCase {
  const char* text;
  const char* old_text;
  const char* new_text;
  const char* expected;
  const char* note;
};

const ReplaceCase kReplace[] = {
    {"http://h/admin/Index.HTML", "index.html", "main.html", "http://h/admin/main.html", "case ignored"},
    {"abcabc", "B", "", "acac", "every occurrence, replaced by nothing"},
    {"aaa", "a", "aa", "aaaaaa", "inserted text is not scanned again"},
    {"abc", "", "x", "abc", "empty old text"},
    {"", "a", "x", "", "empty text"},
    {"%D6%D0%CE%C4", "%D0%CE", "x", "%D6%D0%CE%C4", "no match across a character boundary"},
    {"%81%41a", "a", "b", "%81%41b", "trail byte left alone"},
    {"%D6%D0a%D6%D0", "%D6%D0", "%CE%C4", "%CE%C4a%CE%C4", "code-page characters"},
};

TEST(TextReplace, ReplacesEveryOccurrence) {
  for (const auto& c : kReplace) {
    EXPECT_EQ(text_replace(unhex(c.text), unhex(c.old_text), unhex(c.new_text)), unhex(c.expected)) << c.note;
  }
}

struct Conversion {
  const char* input;
  const char* expected;
  const char* note;
};

const Conversion kPercentDecode[] = {
    {"%25E4%25B8%25AD%25E6%2596%2587", "%D6%D0%CE%C4", "percent-coded UTF-8 of two characters"},
    {"%25e4%25b8%25ad%25e6%2596%2587", "%D6%D0%CE%C4", "lower-case digits"},
    {"%E4%B8%AD%E6%96%87", "%D6%D0%CE%C4", "raw UTF-8 is converted too"},
    {"a+b", "a+b", "a plus sign stays"},
    {"a%2500b", "ab", "%00 disappears"},
    {"100%25%E4%B8%AD%E6%96%87", "100%25%D6%D0%CE%C4", "a percentage before Chinese text"},
    {"100%25", "100%25", "percent sign at the end"},
    {"%254", "%254", "one digit at the end"},
    {"%25G1x", "%25G1x", "not a hexadecimal digit"},
    {"%254G%E4%B8%AD", "%254G%D6%D0", "only the first of the two bytes is a digit"},
    {"%25%2541", "%25A", "a lone percent sign before an encoded byte"},
    {"%252541", "%2541", "decoded once"},
    {"%25E4%25B8", "?", "a cut-off character becomes one ?"},
    {"%25F0%259F%2598%2580", "%94%39%FC%36", "an emoji survives"},
    {"ab%00%2541", "ab", "a raw zero byte ends the text"},
};

TEST(PercentDecode, DecodesThenConvertsFromUtf8) {
  for (const auto& c : kPercentDecode) {
    EXPECT_EQ(percent_decode(unhex(c.input)), unhex(c.expected)) << c.note;
  }
}

TEST(Conversion, EmojiAndRareHanziSurviveTheRoundTrip) {
  const Conversion cases[] = {
      {"%F0%9F%98%80", "%94%39%FC%36", "emoji"},
      {"%F0%A0%80%80", "%95%32%82%36", "rare hanzi outside GBK"},
      {"a%E4%B8%AD%C2%B7b", "a%D6%D0%A1%A4b", "GBK characters keep their bytes"},
  };
  for (const auto& c : cases) {
    const Text text = utf8_to_ansi(unhex(c.input));
    EXPECT_EQ(text, unhex(c.expected)) << c.note;
    EXPECT_EQ(ansi_to_utf8(text), unhex(c.input)) << c.note;
  }
  EXPECT_EQ(utf8_to_ansi(unhex("x%80%E4%B8y")), "x??y") << "malformed UTF-8, one ? per bad sequence";
  EXPECT_EQ(ansi_to_utf8(unhex("x%80y")), "x?y") << "malformed code-page text";
}

const Conversion kUrlEncode[] = {
    {"", "", "empty text"},
    {"aZ09-.", "aZ09-.", "letters, digits, hyphen, full stop"},
    {" /:_", "%2520%252F%253A%255F", "space, slash, colon, underscore"},
    {"~*+&=", "%257E%252A%252B%2526%253D", "every other ASCII sign"},
    {"%0A", "%250A", "one-digit value gets a leading 0"},
    {"%D6%D0", "%25D6%25D0", "code-page bytes, no conversion to UTF-8"},
    {"10:5:7", "10%253A5%253A7", "the time of a date stamp"},
};

TEST(UrlEncode, EncodesAllButLettersDigitsHyphenAndFullStop) {
  for (const auto& c : kUrlEncode) {
    EXPECT_EQ(url_encode(unhex(c.input)), unhex(c.expected)) << c.note;
  }
}

TEST(TextByteLength, CountsBytesBeforeTheEnd) {
  EXPECT_EQ(text_byte_length(""), 0);
  EXPECT_EQ(text_byte_length("abc"), 3);
  EXPECT_EQ(text_byte_length(unhex("%D6%D0%CE%C4")), 4) << "two characters, four bytes";
  EXPECT_EQ(text_byte_length(unhex("ab%00cd")), 2) << "a zero byte ends the text";
}

const Conversion kFormValue[] = {
    {"", "", "empty"},
    {"a%25b&c=d+e", "a%2525b%2526c%253Dd%252Be", "the four bytes that change a form"},
    {"A B/?%E4%B8%AD%F0%9F%98%80#", "A B/?%E4%B8%AD%F0%9F%98%80#", "everything else as typed"},
};

TEST(FormValue, EncodesOnlyWhatChangesTheForm) {
  for (const auto& c : kFormValue) {
    EXPECT_EQ(form_value(unhex(c.input)), unhex(c.expected)) << c.note;
  }
}

const Conversion kHtmlUnescape[] = {
    {"&amp;&lt;&gt;&quot;&#39;", "&<>\"'", "the named and common references"},
    {"&amp;lt;", "&lt;", "decoded once"},
    {"&#65;&#x42;&#X43;&#0068;", "ABCD", "decimal, hexadecimal, leading zeros"},
    {"&#20013;&#x6587;", "%D6%D0%CE%C4", "numeric references become code-page bytes"},
    {"&#x1F600;", "%94%39%FC%36", "a character outside GBK"},
    {"&#0;&#xD800;&#1114112;", "&#0;&#xD800;&#1114112;", "no character: kept"},
    {"&#99999999999999999999;", "&#99999999999999999999;", "too many digits: kept"},
    {"&#;&#x;&#65&amp", "&#;&#x;&#65&amp", "malformed references kept"},
    {"&nbsp;&copy; a & b &", "&nbsp;&copy; a & b &", "unknown references and lone ampersands kept"},
    {"%D6%D0&amp;%CE%C4", "%D6%D0&%CE%C4", "among code-page characters"},
};

TEST(HtmlUnescape, DecodesKnownReferencesOnce) {
  for (const auto& c : kHtmlUnescape) {
    EXPECT_EQ(html_unescape(unhex(c.input)), unhex(c.expected)) << c.note;
  }
}

TEST(HtmlEscape, EscapesTheFiveCharactersAndRoundTrips) {
  EXPECT_EQ(html_escape("<a title=\"x\">Tom & 'Jerry'</a>"),
            "&lt;a title=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;");
  for (const char* s : {"", "plain", "&amp; already", "%D6%D0<%CE%C4>&'\""}) {
    EXPECT_EQ(html_unescape(html_escape(unhex(s))), unhex(s)) << s;
  }
}

}  // namespace
}  // namespace korvani
