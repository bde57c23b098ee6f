// web_request against the demo shop, in-process on 127.0.0.1: what the
// server received byte for byte, and what comes back in each situation.
#include "web/web_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "demo_shop.h"
#include "platform/http.h"

namespace korvani {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string user_agent_line() { return "User-Agent: " + std::string(default_user_agent) + "\r\n"; }

class WebRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::http_timeouts();
    platform::cookie_jar_clear();
    ASSERT_TRUE(shop_.start());
    backend_ = "http://127.0.0.1:" + std::to_string(shop_.backend_port());
    supplier_ = "http://" + shop_.supplier_host();
  }
  void TearDown() override {
    shop_.clear_faults();
    shop_.stop();
    platform::http_set_timeouts(saved_);
    platform::cookie_jar_clear();
  }

  std::vector<demo_shop::ReceivedRequest> received() { return shop_.requests(); }
  std::string host_line(int port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

  demo_shop::DemoShop shop_;
  std::string backend_;
  std::string supplier_;
  platform::HttpTimeouts saved_;
};

TEST_F(WebRequestTest, HeaderTextIsExactlyTheFourLinesInOrder) {
  EXPECT_EQ(web_request_header_text("http://h/x?a=1"),
            "Referer: http://h/x?a=1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded");
}

struct SentCase {
  const char* note;
  std::string path;  // after the back end's scheme and host
  int method;
  std::optional<std::string> body;
  std::string method_name;
  std::string length_line;
  std::string body_received;
};

TEST_F(WebRequestTest, TheServerReceivesTheRequestByteForByte) {
  // Form text as the callers build it: raw UTF-8 names, %-coded time, "&" inside a value coded.
  const std::string form = "userName=\xE4\xB8\xAD\xE6\x96\x87 100%25 A%26B \xF0\x9F\x98\x80&password=x";
  const std::vector<SentCase> cases = {
      {"GET, left out method", "/admin/index.html", 0, std::nullopt, "GET", "", ""},
      {"GET ignores a body", "/admin/index.html?from=Menu", 0, std::string("x=1"), "GET", "", ""},
      {"POST with a form", "/admin/login.html", 1, form, "POST",
       "Content-Length: " + std::to_string(form.size()) + "\r\n", form},
      {"POST without body", "/admin/login.html", 1, std::nullopt, "POST", "Content-Length: 0\r\n", ""},
      {"POST with an empty body", "/admin/login.html", 1, std::string(), "POST", "Content-Length: 0\r\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    shop_.clear_requests();
    const std::string url = backend_ + c.path;
    Bytes answer = c.body ? web_request(url, c.method, *c.body) : web_request(url, c.method);
    EXPECT_FALSE(answer.empty());
    auto requests = received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, c.method_name);
    EXPECT_EQ(requests[0].target, c.path);
    EXPECT_EQ(requests[0].header_text, host_line(shop_.backend_port()) + user_agent_line() +
                                           web_request_header_text(url) + "\r\n" + c.length_line);
    EXPECT_EQ(requests[0].body, c.body_received);
  }
}

TEST_F(WebRequestTest, GoesWhereTheUrlRoutinesSay) {
  // Capital scheme and host: the request line keeps the path's own case, the
  // Referer the address as given.
  const std::string url = "HTTP://127.0.0.1:" + std::to_string(shop_.supplier_port()) + "/Front/Index.HTM?Q=A";
  web_request(url);
  auto requests = received();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/Front/Index.HTM?Q=A");
  EXPECT_EQ(requests[0].header_text,
            host_line(shop_.supplier_port()) + user_agent_line() + web_request_header_text(url) + "\r\n");
}

TEST_F(WebRequestTest, BlanksInThePathGoAsPercentTwenty) {
  const std::string url = supplier_ + "/front/a b.htm?x=1 2 ";
  EXPECT_FALSE(web_request(url).empty());
  auto requests = received();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/front/a%20b.htm?x=1%202%20");
  EXPECT_THAT(requests[0].header_text, HasSubstr("Referer: " + url + "\r\n"));
}

TEST_F(WebRequestTest, ALogInCookieGoesWithTheNextRequestFromAnotherThread) {
  Bytes verdict = web_request(supplier_ + "/frontLogin.htm", 1, "userName=demo&password=demo123");
  EXPECT_THAT(verdict, HasSubstr("code"));

  Bytes catalog;
  std::thread([&] { catalog = web_request(supplier_ + "/front/inter/dirList.htm", 1); }).join();
  EXPECT_EQ(catalog, shop_.catalog_page());

  auto requests = received();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_THAT(requests[0].header_text, Not(HasSubstr("Cookie")));
  // libcurl puts the jar's line after the user agent; the caller's four lines follow unbroken.
  const std::string url = supplier_ + "/front/inter/dirList.htm";
  EXPECT_THAT(requests[1].header_text,
              ::testing::MatchesRegex(host_line(shop_.supplier_port()) + "User-Agent: [^\r]+\r\n" +
                                      "Cookie: FRONTSID=[0-9a-f]+\r\nReferer: [^\r]+\r\n"
                                      "Accept: [^\r]+\r\nAccept-Language: zh-cn\r\n"
                                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n"));
  EXPECT_THAT(requests[1].header_text, HasSubstr(web_request_header_text(url)));
}

// Docking threads log in and read pages while the window thread copies
// cookies in and out of the same jar: no request may go without a cookie the
// jar held all along, and no answer may come back other than whole.
TEST_F(WebRequestTest, ThreadsRequestingWhileAnotherChangesTheJarLoseNoCookie) {
  platform::Cookie probe;
  probe.name = "probe";
  probe.value = "0";
  probe.domain = "127.0.0.1";
  ASSERT_TRUE(platform::cookie_jar_put(probe));

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread jar([&] {
    platform::Cookie scratch = probe;
    scratch.name = "scratch";
    for (int i = 1; i < 100000; ++i) {
      probe.value = std::to_string(i);
      if (!platform::cookie_jar_put(probe)) ++torn;
      scratch.value = probe.value;
      platform::cookie_jar_put(scratch);
      bool probe_seen = false;
      for (const auto& c : platform::cookie_jar_all()) {
        if (c.name == "probe") probe_seen = true;
        if (c.name == "FRONTSID" && c.value.size() != 32) ++torn;
      }
      if (!probe_seen) ++torn;
      platform::cookie_jar_remove("127.0.0.1", "/", "scratch");
      if (done) break;
    }
  });

  const std::string catalog_url = supplier_ + "/front/inter/dirList.htm";
  std::atomic<int> whole{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 8; ++i) {
        // Every log-in replaces the session cookie; any of them is a valid session.
        if (web_request(supplier_ + "/frontLogin.htm", 1, "userName=demo&password=demo123").find("code") !=
            std::string::npos)
          ++whole;
        if (web_request(catalog_url, 1) == shop_.catalog_page()) ++whole;
      }
    });
  }
  for (auto& w : workers) w.join();
  done = true;
  jar.join();

  EXPECT_EQ(whole.load(), 4 * 8 * 2);
  EXPECT_EQ(torn.load(), 0);
  for (const auto& r : received()) {
    SCOPED_TRACE(r.target);
    EXPECT_THAT(r.header_text, ::testing::ContainsRegex("Cookie: [^\r]*probe=[0-9]+"));
  }
  // The jar thread's last word is what the next request carries.
  shop_.clear_requests();
  web_request(catalog_url, 1);
  ASSERT_EQ(received().size(), 1u);
  EXPECT_THAT(received()[0].header_text, HasSubstr("probe=" + probe.value));
  EXPECT_THAT(received()[0].header_text, Not(HasSubstr("scratch=")));
}

TEST_F(WebRequestTest, AnAnswerThatRedirectsIsFollowed) {
  struct RedirectCase {
    const char* note;
    std::string path;
    int method;
    std::string body;
    std::vector<std::string> seen;  // method and target of each request the shop got
    std::string answer_holds;
  };
  const std::vector<RedirectCase> cases = {
      {"logged out main page leads to the log-in form", "/admin/main.html", 0, "",
       {"GET /admin/main.html", "GET /admin/index.html"}, "password"},
      // The session cookie arrives on the 302 itself and must go with the GET that follows.
      {"a posted log-in becomes a GET of the home page, logged in", "/admin/login.html", 1,
       "username=admin&password=demo123",
       {"POST /admin/login.html", "GET /admin/main.html"}, "admin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    shop_.clear_requests();
    Bytes answer = web_request(backend_ + c.path, c.method, c.body);
    std::vector<std::string> seen;
    for (const auto& r : received()) seen.push_back(r.method + " " + r.target);
    EXPECT_EQ(seen, c.seen);
    EXPECT_THAT(answer, HasSubstr(c.answer_holds));
  }
  // Logged in by now: the home page answers at once.
  shop_.clear_requests();
  web_request(backend_ + "/admin/main.html");
  EXPECT_EQ(received().size(), 1u);
}

TEST_F(WebRequestTest, AnErrorPageIsAnsweredLikeAnyOther) {
  shop_.add_fault({"index.html", demo_shop::Fault::status_500});
  WebAnswer answer = web_request_answer(backend_ + "/admin/index.html");
  EXPECT_EQ(answer.status, 500);
  EXPECT_TRUE(answer.complete);
  EXPECT_THAT(answer.body, HasSubstr("java.lang.NullPointerException"));
}

TEST_F(WebRequestTest, NoConnectionGivesEmptyBytes) {
  struct NoCase {
    const char* note;
    std::string url;
  };
  const std::vector<NoCase> cases = {
      {"nothing listens", "http://" + shop_.unreachable_host() + "/admin/index.html"},
      {"a port past 65535", "http://127.0.0.1:70000/"},
      {"a host with a user in it", "http://admin@127.0.0.1:" + std::to_string(shop_.backend_port()) + "/admin/"},
      {"no host at all", "http:///admin/"},
      {"a line break that would add a header line",
       backend_ + "/admin/index.html\r\nX-Injected: 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    WebAnswer answer = web_request_answer(c.url, 1, "a=1");
    EXPECT_TRUE(answer.body.empty());
    EXPECT_FALSE(answer.connected);
    EXPECT_FALSE(answer.error.empty());
    EXPECT_TRUE(web_request(c.url).empty());
  }
  EXPECT_TRUE(received().empty());
}

TEST_F(WebRequestTest, AnHttpsAddressInCapitalsIsSentOverTls) {
  // The shop speaks plain HTTP, so a TLS hello gets no page back; it waits
  // for more of a request, and the handshake runs into the connect time-out.
  platform::http_set_timeouts({500, 1000});
  WebAnswer answer = web_request_answer("HTTPS://127.0.0.1:" + std::to_string(shop_.backend_port()) + "/admin/");
  EXPECT_TRUE(answer.body.empty());
  EXPECT_FALSE(answer.complete);
  EXPECT_THAT(answer.error, ::testing::ContainsRegex("SSL|TLS"));
  for (const auto& r : received()) EXPECT_NE(r.target, "/admin/");
}

TEST_F(WebRequestTest, AStalledServerEndsWithinTheStallTimeOut) {
  platform::http_set_timeouts({2000, 1000});
  demo_shop::FaultRule rule;
  rule.path_suffix = "index.html";
  rule.fault = demo_shop::Fault::stall;
  rule.stall_ms = 20000;
  shop_.add_fault(rule);
  WebAnswer answer = web_request_answer(backend_ + "/admin/index.html");
  EXPECT_FALSE(answer.complete);
  EXPECT_TRUE(answer.connected);
  EXPECT_FALSE(answer.body.empty());  // half the page came before the stall
  EXPECT_THAT(answer.error, HasSubstr("1000 ms"));
}

TEST_F(WebRequestTest, AHundredMegabyteAnswerIsReadWhole) {
  std::string bytes;
  bytes.reserve(100 * 1024 * 1024 + 64);
  for (int i = 0; bytes.size() < 100u * 1024 * 1024; ++i) bytes += std::to_string(i) + "\n";
  shop_.set_download(bytes);
  WebAnswer answer = web_request_answer(shop_.download_url());
  EXPECT_TRUE(answer.complete) << answer.error;
  EXPECT_EQ(answer.body.size(), bytes.size());
  EXPECT_TRUE(answer.body == bytes);
}

}  // namespace
}  // namespace korvani
