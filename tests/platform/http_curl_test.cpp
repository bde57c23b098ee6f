// http_perform and the cookie jar against a bare socket server on
// 127.0.0.1 that records every request byte for byte, so the tests see
// exactly what went out on the wire.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/http.h"

namespace korvani::platform {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct RawRequest {
  std::string head;   // request line and header lines, through the blank line
  std::string body;
  bool tls = false;   // the client opened with a TLS handshake instead
};

struct Reply {
  std::string bytes;   // written as they are
  bool stall = false;  // then send nothing more and keep the connection open
  bool close = false;  // then close the connection
};

Reply http_reply(int status, const std::string& body, const std::string& extra_headers = "") {
  return {"HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n" + extra_headers + "\r\n" + body,
          false, false};
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class RawServer {
 public:
  using Responder = std::function<Reply(const RawRequest&, int index)>;

  explicit RawServer(Responder responder) : responder_(std::move(responder)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 64) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~RawServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : connections_) t.join();
    if (listener_ >= 0) close(listener_);
  }

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<RawRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  int connections() const { return accepted_.load(); }

 private:
  bool wait_readable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      int r = poll(&p, 1, 20);
      if (r > 0) return true;
      if (r < 0) return false;
    }
    return false;
  }

  void accept_loop() {
    while (wait_readable(listener_)) {
      int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++accepted_;
      connections_.emplace_back([this, fd] { serve(fd); });
    }
  }

  bool send_all(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  void serve(int fd) {
    std::string buffer;
    char chunk[65536];
    while (true) {
      // One request: the head, then as many body bytes as Content-Length says.
      std::size_t head_end;
      while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!buffer.empty() && static_cast<unsigned char>(buffer[0]) == 0x16) break;
        if (!wait_readable(fd)) return finish(fd);
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return finish(fd);
        buffer.append(chunk, static_cast<std::size_t>(n));
      }
      RawRequest request;
      if (static_cast<unsigned char>(buffer[0]) == 0x16) {
        request.tls = true;
        request.head = buffer;
        record(request);
        return finish(fd);
      }
      request.head = buffer.substr(0, head_end + 4);
      buffer.erase(0, head_end + 4);
      std::size_t length = 0;
      auto at = lower(request.head).find("\r\ncontent-length:");
      if (at != std::string::npos) length = std::stoul(request.head.substr(at + 17));
      while (buffer.size() < length) {
        if (!wait_readable(fd)) return finish(fd);
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return finish(fd);
        buffer.append(chunk, static_cast<std::size_t>(n));
      }
      request.body = buffer.substr(0, length);
      buffer.erase(0, length);
      int index = record(request);
      Reply reply = responder_(request, index);
      if (!send_all(fd, reply.bytes)) return finish(fd);
      if (reply.stall) {
        while (!stop_) {
          pollfd p{fd, POLLIN, 0};
          if (poll(&p, 1, 20) > 0 && recv(fd, chunk, sizeof chunk, 0) <= 0) break;
        }
        return finish(fd);
      }
      if (reply.close) return finish(fd);
    }
  }

  void finish(int fd) { close(fd); }

  int record(const RawRequest& request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    return static_cast<int>(requests_.size()) - 1;
  }

  Responder responder_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // touched by the acceptor thread only, until the join
  mutable std::mutex mutex_;
  std::vector<RawRequest> requests_;
};

// A port nothing listens on: bound, then closed again.
int closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

const std::vector<std::string> kFormHeaders = {"Referer: http://x/", "Accept: */*", "Accept-Language: zh-cn",
                                               "Content-Type: application/x-www-form-urlencoded"};

class HttpCurlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = http_timeouts();
    cookie_jar_clear();
  }
  void TearDown() override {
    http_set_timeouts(saved_);
    cookie_jar_clear();
  }
  HttpTimeouts saved_;
};

HttpRequest request_to(const std::string& url, const std::string& method = "GET", std::string body = {}) {
  HttpRequest r;
  r.method = method;
  r.url = url;
  r.headers = kFormHeaders;
  r.user_agent = "UA/1";
  r.body = std::move(body);
  return r;
}

// ---- what goes out ----------------------------------------------------------

struct WireCase {
  const char* name;
  std::string method;
  std::string body;
  std::string expected_tail;  // what follows the caller's header lines
};

TEST_F(HttpCurlTest, SendsExactlyTheGivenLinesBesidesHostAgentAndLength) {
  const std::string big(2 * 1024 * 1024, 'b');  // past the size at which libcurl would ask to continue
  const std::vector<WireCase> cases = {
      {"get carries no length", "GET", "", "\r\n"},
      {"post with a body", "POST", "a=1&b=%D6%D0+\xD6\xD0", "Content-Length: 15\r\n\r\n"},
      {"post without a body", "POST", "", "Content-Length: 0\r\n\r\n"},
      {"big post, no Expect", "POST", big, "Content-Length: 2097152\r\n\r\n"},
  };
  RawServer server([](const RawRequest&, int) { return http_reply(200, "ok"); });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto response = http_perform(request_to(server.url("/p/q.html?x=1"), c.method, c.body));
    EXPECT_TRUE(response.complete) << response.error;
    EXPECT_EQ(response.body, "ok");
  }
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), cases.size());
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    std::string expected = cases[i].method + " /p/q.html?x=1 HTTP/1.1\r\n" + host +
                           "User-Agent: UA/1\r\n"
                           "Referer: http://x/\r\n"
                           "Accept: */*\r\n"
                           "Accept-Language: zh-cn\r\n"
                           "Content-Type: application/x-www-form-urlencoded\r\n" +
                           cases[i].expected_tail;
    EXPECT_EQ(requests[i].head, expected);
    EXPECT_EQ(requests[i].body, cases[i].body);
  }
}

TEST_F(HttpCurlTest, AddsNoAcceptOrContentTypeOfItsOwn) {
  RawServer server([](const RawRequest&, int) { return http_reply(200, ""); });
  HttpRequest r;
  r.method = "POST";
  r.url = server.url();
  r.body = "x";
  http_perform(r);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].head, "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                                  "\r\nContent-Length: 1\r\n\r\n");
}

TEST_F(HttpCurlTest, RefusesLineBreaksAndZeroBytesAndSendsNothing) {
  RawServer server([](const RawRequest&, int) { return http_reply(200, "ok"); });
  auto header_break = request_to(server.url());
  header_break.headers[0] = "Referer: http://x/\r\nX-Injected: 1";
  auto url_break = request_to(server.url("/a\r\nX-Injected: 1"));
  // Cut at the zero byte, the address would name a different page.
  auto url_zero = request_to(server.url() + std::string("a\0b", 3));
  for (const auto& r : {header_break, url_break, url_zero}) {
    auto response = http_perform(r);
    EXPECT_FALSE(response.connected);
    EXPECT_TRUE(response.body.empty());
    EXPECT_FALSE(response.error.empty());
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(HttpCurlTest, ReusesOneConnectionAcrossRequestsAndThreads) {
  RawServer server([](const RawRequest&, int) { return http_reply(200, "ok"); });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(http_perform(request_to(server.url())).body, "ok");
  std::thread([&] { EXPECT_EQ(http_perform(request_to(server.url())).body, "ok"); }).join();
  EXPECT_EQ(server.requests().size(), 4u);
  EXPECT_EQ(server.connections(), 1);
}

// ---- what comes back --------------------------------------------------------

TEST_F(HttpCurlTest, AnswersTheBodyWhateverTheStatus) {
  RawServer server([](const RawRequest&, int) { return http_reply(500, "<h1>broken</h1>"); });
  auto response = http_perform(request_to(server.url()));
  EXPECT_TRUE(response.connected);
  EXPECT_TRUE(response.complete);
  EXPECT_EQ(response.status, 500);
  EXPECT_EQ(response.body, "<h1>broken</h1>");
}

TEST_F(HttpCurlTest, UnreachablePortGivesNothingAndSaysSo) {
  auto response = http_perform(request_to("http://127.0.0.1:" + std::to_string(closed_port()) + "/"));
  EXPECT_FALSE(response.connected);
  EXPECT_FALSE(response.complete);
  EXPECT_TRUE(response.body.empty());
  EXPECT_FALSE(response.error.empty());
}

TEST_F(HttpCurlTest, ACutOffAnswerKeepsItsBytesAndIsNotComplete) {
  RawServer server([](const RawRequest&, int) {
    return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf a page", false, true};
  });
  auto response = http_perform(request_to(server.url()));
  EXPECT_TRUE(response.connected);
  EXPECT_FALSE(response.complete);
  EXPECT_EQ(response.body, "half a page");
}

TEST_F(HttpCurlTest, AStalledServerEndsWithinTheStallTimeOut) {
  http_set_timeouts({2000, 1000});
  struct StallCase {
    const char* name;
    std::string sent;
    std::string body;
  };
  const std::vector<StallCase> cases = {
      {"nothing after the request", "", ""},
      {"head and part of the body", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst", "first"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server([&](const RawRequest&, int) { return Reply{c.sent, true, false}; });
    auto response = http_perform(request_to(server.url()));
    EXPECT_FALSE(response.complete);
    EXPECT_TRUE(response.connected);
    EXPECT_EQ(response.body, c.body);
    EXPECT_FALSE(response.error.empty());
  }
}

TEST_F(HttpCurlTest, AStopAskedForEndsATransferThatReceivesNothing) {
  // A long stall time-out: only the stop can end this transfer soon.
  http_set_timeouts({2000, 60000});
  RawServer server([&](const RawRequest&, int) {
    return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst", true, false};
  });
  std::atomic<bool> stop{false};
  auto request = request_to(server.url());
  request.should_stop = [&] { return stop.load(); };
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  auto response = http_perform(request);
  stopper.join();
  EXPECT_TRUE(response.cancelled);
  EXPECT_FALSE(response.complete);
  EXPECT_EQ(response.body, "first");
}

TEST_F(HttpCurlTest, ReadsAHundredMegabyteAnswerWhole) {
  // Pieces that differ, so that a lost or repeated piece shows.
  std::string page;
  page.reserve(100 * 1024 * 1024 + 64);
  for (int i = 0; page.size() < 100u * 1024 * 1024; ++i) page += std::to_string(i) + "\n";
  const std::string reply = http_reply(200, page).bytes;
  RawServer server([&](const RawRequest&, int) { return Reply{reply, false, false}; });
  auto response = http_perform(request_to(server.url()));
  EXPECT_TRUE(response.complete) << response.error;
  EXPECT_EQ(response.body.size(), page.size());
  EXPECT_TRUE(response.body == page);
}

TEST_F(HttpCurlTest, StreamsToOnDataAndTellsTheHeadFirst) {
  static const char gzip_bytes[] =
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x4b\xaf\xca\x2c\x50\x48\xca\x4f\xa9\xd4\x51"
      "\x48\xc7\xc2\x04\x00\x77\x6c\x4f\x78\x1f\x00\x00\x00";
  const std::string gzipped(gzip_bytes, sizeof gzip_bytes - 1);
  RawServer server([&](const RawRequest& r, int) {
    if (r.head.find("GET /gz") == 0) return http_reply(200, gzipped, "Content-Encoding: gzip\r\n");
    return http_reply(200, std::string(300000, 'z'));
  });

  std::vector<std::string> events;
  std::size_t received = 0;
  auto r = request_to(server.url("/big"));
  r.on_head = [&](long status, std::int64_t length) {
    events.push_back("head " + std::to_string(status) + " " + std::to_string(length));
  };
  r.on_data = [&](const char*, std::size_t size) {
    if (received == 0) events.push_back("data");
    received += size;
    return true;
  };
  auto response = http_perform(r);
  EXPECT_TRUE(response.complete);
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(received, 300000u);
  EXPECT_THAT(events, ::testing::ElementsAre("head 200 300000", "data"));

  // Cancelled from on_data: the transfer ends at once and says so.
  auto cancel = request_to(server.url("/big"));
  cancel.on_data = [](const char*, std::size_t) { return false; };
  auto cancelled = http_perform(cancel);
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_FALSE(cancelled.complete);

  auto gz = request_to(server.url("/gz"));
  gz.decode_content = true;
  EXPECT_EQ(http_perform(gz).body, "gzip body, gzip body, gzip body");
  auto raw = request_to(server.url("/gz"));
  EXPECT_EQ(http_perform(raw).body, gzipped);
  auto requests = server.requests();
  EXPECT_THAT(requests.back().head, Not(HasSubstr("Accept-Encoding")));
}

// ---- redirects --------------------------------------------------------------

struct RedirectCase {
  int status;
  std::string then_method;
  bool keeps_body;
};

TEST_F(HttpCurlTest, FollowsRedirectsAsABrowserDoes) {
  const std::vector<RedirectCase> cases = {
      {301, "GET", false}, {302, "GET", false}, {303, "GET", false}, {307, "POST", true}, {308, "POST", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    RawServer server([&](const RawRequest& r, int) {
      if (r.head.find(" /start ") != std::string::npos)
        return http_reply(c.status, "moved", "Location: /end?x=1\r\n");
      return http_reply(200, "arrived");
    });
    auto response = http_perform(request_to(server.url("/start"), "POST", "a=1"));
    EXPECT_EQ(response.body, "arrived");
    EXPECT_EQ(response.status, 200);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].head.substr(0, requests[1].head.find(' ')), c.then_method);
    EXPECT_EQ(requests[1].body, c.keeps_body ? "a=1" : "");
    EXPECT_THAT(requests[1].head, HasSubstr("\r\nReferer: http://x/\r\n"));
  }
}

TEST_F(HttpCurlTest, FollowsARedirectFromHttpToHttps) {
  RawServer tls_side([](const RawRequest&, int) { return Reply{}; });
  RawServer server([&](const RawRequest&, int) {
    return http_reply(302, "", "Location: https://127.0.0.1:" + std::to_string(tls_side.port()) + "/secure\r\n");
  });
  auto response = http_perform(request_to(server.url("/plain")));
  EXPECT_FALSE(response.complete);
  auto handshakes = tls_side.requests();
  ASSERT_EQ(handshakes.size(), 1u);
  EXPECT_TRUE(handshakes[0].tls);
}

TEST_F(HttpCurlTest, EndsARedirectLoop) {
  RawServer server([](const RawRequest&, int) { return http_reply(302, "again", "Location: /loop\r\n"); });
  auto response = http_perform(request_to(server.url("/loop")));
  EXPECT_FALSE(response.complete);
  EXPECT_FALSE(response.error.empty());
  EXPECT_LE(server.requests().size(), 21u);
}

TEST_F(HttpCurlTest, LeavesARedirectAloneWhenAskedTo) {
  RawServer server([](const RawRequest&, int) { return http_reply(302, "moved", "Location: /elsewhere\r\n"); });
  auto r = request_to(server.url("/here"));
  r.follow_redirects = false;
  auto response = http_perform(r);
  EXPECT_EQ(response.status, 302);
  EXPECT_EQ(response.body, "moved");
  EXPECT_EQ(server.requests().size(), 1u);
}

// ---- the cookie jar ---------------------------------------------------------

std::string cookie_line(const RawRequest& r) {
  auto at = r.head.find("\r\nCookie: ");
  if (at == std::string::npos) return {};
  auto end = r.head.find("\r\n", at + 2);
  return r.head.substr(at + 2, end - at - 2);
}

TEST_F(HttpCurlTest, ACookieSetByOneAnswerGoesWithTheNextRequestFromAnotherThread) {
  RawServer server([](const RawRequest& r, int) {
    if (r.head.find(" /login ") != std::string::npos)
      return http_reply(200, "in", "Set-Cookie: SESSION=abc123; Path=/; HttpOnly\r\n");
    return http_reply(200, "page");
  });
  EXPECT_EQ(http_perform(request_to(server.url("/login"))).body, "in");
  std::thread([&] { http_perform(request_to(server.url("/page"))); }).join();
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(cookie_line(requests[0]), "");
  EXPECT_EQ(cookie_line(requests[1]), "Cookie: SESSION=abc123");

  auto all = cookie_jar_all();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "SESSION");
  EXPECT_EQ(all[0].value, "abc123");
  EXPECT_EQ(all[0].domain, "127.0.0.1");
  EXPECT_TRUE(all[0].http_only);
  EXPECT_TRUE(all[0].host_only);
}

TEST_F(HttpCurlTest, JarPutRemoveAndClear) {
  RawServer server([](const RawRequest&, int) { return http_reply(200, ""); });
  Cookie put;
  put.name = "JSESSIONID";
  put.value = "from-browser";
  put.domain = "127.0.0.1";
  put.http_only = true;
  EXPECT_TRUE(cookie_jar_put(put));
  Cookie other = put;
  other.name = "lang";
  other.value = "zh";
  other.http_only = false;
  EXPECT_TRUE(cookie_jar_put(other));
  Cookie elsewhere = put;
  elsewhere.domain = "example.invalid";
  EXPECT_TRUE(cookie_jar_put(elsewhere));

  Cookie bad = put;
  bad.value = "a\tb";
  EXPECT_FALSE(cookie_jar_put(bad));
  bad.value = "a\r\nSet-Cookie: x=y";
  EXPECT_FALSE(cookie_jar_put(bad));
  EXPECT_EQ(cookie_jar_all().size(), 3u);

  http_perform(request_to(server.url()));
  // A removal for a value the jar no longer holds leaves the cookie.
  cookie_jar_remove("127.0.0.1", "/", "JSESSIONID", "replaced-since");
  cookie_jar_remove("127.0.0.1", "/", "lang");
  http_perform(request_to(server.url()));
  cookie_jar_clear();
  http_perform(request_to(server.url()));

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_THAT(cookie_line(requests[0]), HasSubstr("JSESSIONID=from-browser"));
  EXPECT_THAT(cookie_line(requests[0]), HasSubstr("lang=zh"));
  EXPECT_EQ(cookie_line(requests[1]), "Cookie: JSESSIONID=from-browser");
  EXPECT_EQ(cookie_line(requests[2]), "");
  EXPECT_TRUE(cookie_jar_all().empty());
}

TEST_F(HttpCurlTest, WatchersHearOfCookiesAnswersSetAndDelete) {
  RawServer server([](const RawRequest& r, int) {
    if (r.head.find(" /set ") != std::string::npos)
      return http_reply(200, "", "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2; Path=/; HttpOnly\r\n");
    if (r.head.find(" /del ") != std::string::npos)
      return http_reply(200, "", "Set-Cookie: a=; Path=/; Expires=Thu, 01 Jan 1970 00:00:01 GMT\r\n");
    return http_reply(200, "");
  });
  std::vector<Cookie> heard;
  std::thread::id heard_on;
  int handle = cookie_jar_watch([&](const Cookie& c) {
    heard.push_back(c);
    heard_on = std::this_thread::get_id();
  });

  http_perform(request_to(server.url("/set")));
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard_on, std::this_thread::get_id());
  std::vector<std::string> names = {heard[0].name + "=" + heard[0].value, heard[1].name + "=" + heard[1].value};
  EXPECT_THAT(names, ::testing::UnorderedElementsAre("a=1", "b=2"));

  heard.clear();
  http_perform(request_to(server.url("/plain")));
  EXPECT_TRUE(heard.empty());

  http_perform(request_to(server.url("/del")));
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].name, "a");
  EXPECT_EQ(heard[0].expires, 1);

  cookie_jar_unwatch(handle);
  heard.clear();
  http_perform(request_to(server.url("/set")));
  EXPECT_TRUE(heard.empty());
}

TEST_F(HttpCurlTest, ManyThreadsShareTheJarSafely) {
  std::atomic<int> served{0};
  RawServer server([&](const RawRequest& r, int) {
    ++served;
    std::string who = r.head.substr(r.head.find("/t") + 2, 1);
    return http_reply(200, who, "Set-Cookie: t" + who + "=" + std::to_string(served.load()) + "; Path=/\r\n");
  });
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        if (http_perform(request_to(server.url("/t" + std::to_string(t)))).body == std::to_string(t)) ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 100);
  EXPECT_EQ(cookie_jar_all().size(), 4u);
}

}  // namespace
}  // namespace korvani::platform
