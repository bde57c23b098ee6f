#include "web/url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvani {
namespace {

struct UrlCase {
  const char* note;
  std::string url;
  std::string host;
  std::string host_with_port;
  int port;
  std::string path;
};

TEST(UrlTest, CutsHostPortAndPath) {
  const std::vector<UrlCase> cases = {
      {"capital scheme, mixed-case host with a port", "HTTP://Shop.Example.COM:8080/Admin/Index.html?Id=A",
       "shop.example.com", "shop.example.com:8080", 8080, "/Admin/Index.html?Id=A"},
      {"capital https with a port", "HTTPS://Pay.Example.com:8443/a", "pay.example.com", "pay.example.com:8443",
       8443, "/a"},
      {"no scheme is http", "shop.example.com/admin/main.html?a=1", "shop.example.com", "shop.example.com", 80,
       "/admin/main.html?a=1"},
      {"https with nothing after the host", "https://secure.example.com", "secure.example.com",
       "secure.example.com", 443, "/"},
      {"capital https, no path", "HtTpS://H.example.com", "h.example.com", "h.example.com", 443, "/"},
      {"http with a port, no path", "http://127.0.0.1:8080", "127.0.0.1", "127.0.0.1:8080", 8080, "/"},
      {"inner http:// in the query of an address without scheme", "shop.example.com/go?to=http://other.example/x",
       "other.example", "other.example", 80, "/x"},
      {"inner http:// does not matter after https", "https://a.example/r?u=http://b.example/", "a.example",
       "a.example", 443, "/r?u=http://b.example/"},
      {"a path that names the scheme", "http://h.example/http/x", "h.example", "h.example", 80, "/http/x"},
      {"a colon without digits is port 0", "http://h.example:/p", "h.example", "h.example:", 0, "/p"},
      {"blanks before the port are skipped", "http://h.example: 81/p", "h.example", "h.example: 81", 81, "/p"},
      {"the port ends at the first non-digit", "http://h.example:81abc/p", "h.example", "h.example:81abc", 81,
       "/p"},
      {"the last colon gives the port", "http://user:pw@h.example/", "user", "user:pw@h.example", 0, "/"},
      {"empty address", "", "", "", 80, "/"},
      {"a host found inside the scheme", "http://t/x", "t", "t", 80, "/x"},
      {"a host found inside https://", "https://ps:99/x", "ps", "ps:99", 99, "/x"},
      // 0x81 0x41 is one two-byte character whose second byte reads as "A".
      {"two-byte characters keep both bytes", "http://\x81\x41Z.example/P", "\x81\x41z.example",
       "\x81\x41z.example", 80, "/P"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    EXPECT_EQ(url_host(c.url), c.host);
    EXPECT_EQ(url_host(c.url, true), c.host_with_port);
    EXPECT_EQ(url_port(c.url), c.port);
    EXPECT_EQ(url_path(c.url), c.path);
  }
}

TEST(UrlTest, AHugePortDoesNotOverflow) {
  EXPECT_GT(url_port("http://h.example:99999999999999999999/"), 65535);
  EXPECT_EQ(url_port("http://h.example:65535/"), 65535);
}

}  // namespace
}  // namespace korvani
