// url_host, url_port and url_path over arbitrary addresses.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "text/text.h"
#include "web/url.h"

namespace {

using namespace korvani;

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string folded(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = fold(c);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view url = korvani_fuzz::bytes_of(data, size);

  const Text host = url_host(url);
  const Text host_port = url_host(url, true);
  // The host is cut out of the address, before any port.
  FUZZ_CHECK(host_port.compare(0, host.size(), host) == 0);
  FUZZ_CHECK(text_find(host, ":") == -1);
  FUZZ_CHECK(korvani_fuzz::contains(folded(url), folded(host_port)));
  for (std::size_t i = 0; i < host_port.size(); ++i) {
    // Lower-cased, a multi-byte character's second byte aside.
    if (static_cast<unsigned char>(host_port[i]) >= 0x80) {
      ++i;
      continue;
    }
    FUZZ_CHECK(!(host_port[i] >= 'A' && host_port[i] <= 'Z'));
  }

  // A port is never negative and never wraps: a number above 65535 is
  // answered as such (the request refuses it), not folded into range.
  const int port = url_port(url);
  FUZZ_CHECK(port >= 0);
  const int colon = text_find_last(host_port, ":");
  if (colon == -1) {
    FUZZ_CHECK(port == 80 || port == 443);
  } else {
    std::string_view tail = std::string_view(host_port).substr(static_cast<std::size_t>(colon));
    tail.remove_prefix(std::min(tail.find_first_not_of(" \t"), tail.size()));
    const std::string_view digits =
        tail.substr(0, std::min(tail.find_first_not_of("0123456789"), tail.size()));
    const std::string_view significant =
        digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    if (significant.size() <= 5 && (significant.empty() ? 0 : std::stoi(std::string(significant))) <= 65535) {
      FUZZ_CHECK(port == (significant.empty() ? 0 : std::stoi(std::string(significant))));
    } else {
      FUZZ_CHECK(port > 65535);
    }
  }

  // The path begins with "/" and is the address's own end, in its own case.
  const Text path = url_path(url);
  FUZZ_CHECK(!path.empty() && path[0] == '/');
  FUZZ_CHECK(path == "/" || (path.size() <= url.size() && url.substr(url.size() - path.size()) == path));
  return 0;
}
