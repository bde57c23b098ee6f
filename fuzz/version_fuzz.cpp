// The version page: the input is the page's bytes as fetched, turned into
// text the way the fetch does (up to the first zero byte, percent-decoded).
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "text/text.h"
#include "update/version_check.h"

namespace {

using namespace korvani;
using korvani_fuzz::contains;

void check_page(const Text& page) {
  const Text version = announced_version(page);
  FUZZ_CHECK(contains(page, version));
  FUZZ_CHECK(update_offered(page) == (!version.empty() && version != own_version));

  const UpdatePrompt prompt = read_update_prompt(page);
  FUZZ_CHECK(contains(page, prompt.release_notes));
  FUZZ_CHECK(contains(prompt.release_notes, prompt.version));
  FUZZ_CHECK(contains(prompt.release_notes, prompt.download_url));
  FUZZ_CHECK(prompt.download_url == download_address(prompt.release_notes));
  const Text label = version_label_text(prompt.version);
  FUZZ_CHECK(label.size() >= prompt.version.size() &&
             label.compare(label.size() - prompt.version.size(), Text::npos, prompt.version) == 0);

  // Whatever follows, the first announcement decides: our own version
  // keeps the tool open, another one offers the update.
  const Text open = utf8_to_ansi("【");
  const Text close = utf8_to_ansi("】");
  FUZZ_CHECK(!update_offered(open + Text(own_version) + close + page));
  FUZZ_CHECK(update_offered(open + "0.0.1" + close + page));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = korvani_fuzz::bytes_of(data, size);
  check_page(percent_decode(korvani_fuzz::up_to_zero(bytes)));
  // The same searches over a text that skipped the decoding.
  check_page(Text(korvani_fuzz::up_to_zero(bytes)));
  return 0;
}
