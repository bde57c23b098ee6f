#include "web/url.h"

namespace korvani {

namespace {

// Only A-Z change; a byte of 0x80 or above starts a two-byte character whose
// second byte may look like an ASCII letter and must stay as it is.
Text lower_ascii(std::string_view text) {
  Text out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 0x80) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

bool starts_https(std::string_view url) { return lower_ascii(url.substr(0, 5)) == "https"; }

}  // namespace

Text url_host(std::string_view url, bool keep_port) {
  Text address = lower_ascii(url);
  if (address.empty() || address.back() != '/') address += '/';
  std::string_view marker = "https://";
  if (address.compare(0, marker.size(), marker) != 0) {
    marker = "http://";
    if (text_find(address, marker) == -1) address.insert(0, marker);
  }
  int at = text_find(address, marker);
  if (at == -1) return {};
  int start = at + static_cast<int>(marker.size());
  int slash = text_find(address, "/", start);
  if (slash == -1) return {};
  Text host = address.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(slash - start));
  if (!keep_port) {
    int colon = text_find(host, ":");
    if (colon != -1) host.resize(static_cast<std::size_t>(colon - 1));
  }
  return host;
}

int url_port(std::string_view url) {
  Text host = url_host(url, true);
  int colon = text_find_last(host, ":");
  if (colon == -1) return starts_https(url) ? 443 : 80;
  std::size_t i = static_cast<std::size_t>(colon);
  while (i < host.size() && (host[i] == ' ' || host[i] == '\t')) ++i;
  // Past any real port the value stops growing, so that a long run of
  // digits cannot overflow; such a port is refused where it is used.
  int port = 0;
  for (; i < host.size() && host[i] >= '0' && host[i] <= '9'; ++i) {
    if (port < 1000000) port = port * 10 + (host[i] - '0');
  }
  return port;
}

Text url_path(std::string_view url) {
  Text host = url_host(url);
  // The host is looked for after a leading scheme: a host such as "t" or
  // "ps" would otherwise be found inside "https://" and the path would
  // start at the scheme's slashes.
  const Text head = lower_ascii(url.substr(0, 8));
  int from = 1;
  if (head.compare(0, 8, "https://") == 0) {
    from = 9;
  } else if (head.compare(0, 7, "http://") == 0) {
    from = 8;
  }
  int at = host.empty() ? -1 : text_find(url, host, from, true);
  int slash = text_find(url, "/", at < 1 ? 1 : at);
  if (slash == -1) return "/";
  return Text(url.substr(static_cast<std::size_t>(slash - 1)));
}

}  // namespace korvani
