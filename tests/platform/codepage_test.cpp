// UTF-8 <-> GB18030 conversion: the GBK bytes of every GBK character, the
// characters outside GBK kept, and malformed input turned into one "?" per
// bad sequence without losing what follows.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace korvani::platform {
namespace {

using test::unhex;

struct Case {
  const char* input;     // %XX-escaped bytes
  const char* expected;  // %XX-escaped bytes
  const char* note;
};

// Well-formed UTF-8 and its GB18030 bytes; each row also makes the round trip.
const Case kCharacters[] = {
    {"", "", "empty text"},
    {"abc<a href=\"x\">", "abc<a href=\"x\">", "ASCII passes unchanged"},
    {"%E4%B8%AD%E6%96%87", "%D6%D0%CE%C4", "GBK characters keep their GBK bytes"},
    {"%E2%82%AC", "%A2%E3", "euro sign, two bytes in GB18030"},
    {"%C2%B7", "%A1%A4", "middle dot"},
    {"%F0%9F%98%80", "%94%39%FC%36", "emoji outside the BMP: four bytes"},
    {"%F0%A0%80%80", "%95%32%82%36", "rare hanzi U+20000"},
    {"%E3%90%80", "%81%39%EE%39", "CJK extension A, outside GBK"},
    {"%C2%80", "%81%30%81%30", "two UTF-8 bytes that grow to four"},
    {"%F4%8F%BF%BF", "%E3%32%9A%35", "the last code point"},
    {"a%E4%B8%ADb%F0%9F%98%80c", "a%D6%D0b%94%39%FC%36c", "mixed with ASCII"},
};

TEST(Codepage, ConvertsCharactersBothWays) {
  for (const auto& c : kCharacters) {
    const std::string utf8 = unhex(c.input);
    const std::string gb = unhex(c.expected);
    EXPECT_EQ(utf8_to_codepage(utf8), gb) << c.note;
    EXPECT_EQ(codepage_to_utf8(gb), utf8) << c.note;
  }
}

const Case kMalformedUtf8[] = {
    {"a%80b", "a?b", "lone continuation byte"},
    {"%FF%FEx", "??x", "bytes that never occur in UTF-8, one ? each"},
    {"%E4%B8", "?", "character cut off at the end: one ?"},
    {"%E4%B8A%E4%B8%AD", "?A%D6%D0", "cut-off character followed by more text"},
    {"%F0%9F%98x", "?x", "emoji missing its last byte"},
    {"%C0%AF", "??", "overlong form of /"},
    {"%E0%80%80", "???", "overlong three-byte form"},
    {"%ED%A0%80", "???", "UTF-16 surrogate"},
    {"%F4%90%80%80", "????", "above U+10FFFF"},
    {"%D6%D0%CE%C4", "????", "GBK bytes read as UTF-8"},
    {"ab%00cd", "ab", "a zero byte ends the text"},
};

TEST(Codepage, MalformedUtf8BecomesOneQuestionMarkPerBadSequence) {
  for (const auto& c : kMalformedUtf8) {
    EXPECT_EQ(utf8_to_codepage(unhex(c.input)), unhex(c.expected)) << c.note;
  }
}

const Case kMalformedCodepage[] = {
    {"%80", "?", "0x80 is no character"},
    {"a%FFb", "a?b", "0xFF is no character"},
    {"x%D6", "x?", "lead byte cut off at the end"},
    {"%D6 %D6%D0", "? %E4%B8%AD", "lead byte before a space: the space is kept"},
    {"%81%30", "?", "four-byte character cut off after two bytes"},
    {"%81%30%81", "?", "four-byte character cut off after three bytes"},
    {"%81%30 x", "?0 x", "a digit after a lead byte that does not continue"},
    {"%84%31%A5%30z", "?z", "unassigned four-byte sequence: one ?"},
    {"%FE%39%FE%39", "?", "four-byte sequence past the last code point"},
    {"%D6%D0%00%CE%C4", "%E4%B8%AD", "a zero byte ends the text"},
};

TEST(Codepage, MalformedCodepageTextBecomesOneQuestionMarkPerBadSequence) {
  for (const auto& c : kMalformedCodepage) {
    EXPECT_EQ(codepage_to_utf8(unhex(c.input)), unhex(c.expected)) << c.note;
  }
}

// Long ASCII runs are handled apart from the characters around them; a
// character or a bad sequence next to such a run must come out as it would
// anywhere else. In these rows "~" stands for forty bytes "A" (0x41, which
// is also a trail byte in the code page).
std::string with_runs(const char* escaped) {
  std::string out;
  for (const char c : unhex(escaped)) {
    if (c == '~') {
      out += std::string(40, 'A');
    } else {
      out += c;
    }
  }
  return out;
}

const Case kRunsToUtf8[] = {
    {"%D6A~", "%E8%AB%A5~", "the run's first byte is the trail byte of a character"},
    {"%81%30%810~", "%C2%80~", "the run's first byte ends a four-byte character"},
    {"%81%30~", "?0~", "a lead byte and a digit, then the run"},
    {"~%D6", "~?", "a lead byte cut off after the run"},
    {"x%D6%D0~%CE%C4y", "x%E4%B8%AD~%E6%96%87y", "characters on both sides"},
};

const Case kRunsToCodepage[] = {
    {"%E4%B8~", "?~", "a cut-off character before the run"},
    {"%F0%9F%98~%E4%B8%AD", "?~%D6%D0", "a cut-off emoji, a character after the run"},
    {"~%F0%9F%98%80~", "~%94%39%FC%36~", "an emoji between runs"},
};

TEST(Codepage, CharactersNextToLongAsciiRunsAreConvertedAsAnywhere) {
  // Where a run is split off depends on its offset from the last character
  // before it, so each row is tried behind a character and 0-7 bytes "x".
  for (int shift = 0; shift < 8; ++shift) {
    const std::string pad(shift, 'x');
    for (const auto& c : kRunsToUtf8) {
      EXPECT_EQ(codepage_to_utf8(unhex("%D6%D0") + pad + with_runs(c.input)),
                unhex("%E4%B8%AD") + pad + with_runs(c.expected))
          << c.note << ", shift " << shift;
    }
    for (const auto& c : kRunsToCodepage) {
      EXPECT_EQ(utf8_to_codepage(unhex("%E4%B8%AD") + pad + with_runs(c.input)),
                unhex("%D6%D0") + pad + with_runs(c.expected))
          << c.note << ", shift " << shift;
    }
  }
}

TEST(Codepage, LongTextsAreConvertedWhole) {
  // Output larger than the first buffer guess, and bad bytes far apart: the
  // loop must grow and carry on, never stop early.
  std::string utf8, gb;
  for (int i = 0; i < 50000; ++i) {
    utf8 += unhex("%C2%80x%E4%B8%AD");
    gb += unhex("%81%30%81%30x%D6%D0");
  }
  utf8 += unhex("%80end");
  EXPECT_EQ(utf8_to_codepage(utf8), gb + "?end");
  EXPECT_EQ(codepage_to_utf8(gb + "?end"), utf8.substr(0, utf8.size() - 4) + "?end");
}

TEST(Codepage, ThreadsConvertAtTheSameTime) {
  const std::string utf8 = unhex("%E4%B8%AD%F0%9F%98%80%80");
  const std::string gb = unhex("%D6%D0%94%39%FC%36?");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (utf8_to_codepage(utf8) != gb || codepage_to_utf8(gb) != unhex("%E4%B8%AD%F0%9F%98%80?")) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace korvani::platform
