// The demo shop as a client sees it: plain sockets, no libcurl, so that what
// is checked here is the shop and nothing of ours in between.
#include "demo_shop.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"

namespace {

using demo_shop::DemoShop;
using demo_shop::Fault;
using demo_shop::FaultRule;
using demo_shop::LoggedOutStyle;
using ::testing::HasSubstr;
using ::testing::Not;

struct Answer {
  bool complete = false;   // status line, head and the whole announced body arrived
  bool any_bytes = false;
  int status = 0;
  std::string head;        // header lines, each with CR LF
  std::string body;

  std::string header(const std::string& name) const {
    std::string lower_head = head;
    for (char& c : lower_head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string key = "\r\n" + name + ":";
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t at = ("\r\n" + lower_head).find(key);
    if (at == std::string::npos) return {};
    std::size_t start = at + key.size() - 2;
    std::size_t end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    return value;
  }
};

// One keep-alive connection; every wait is bounded.
class Client {
 public:
  explicit Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }

  bool send(const std::string& raw) {
    std::size_t done = 0;
    while (done < raw.size()) {
      ssize_t n = ::send(fd_, raw.data() + done, raw.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Reads one answer; stops at the announced length, at close or after timeout_ms of silence.
  Answer read_answer(int timeout_ms = 5000) {
    Answer a;
    std::size_t head_end;
    while ((head_end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill(timeout_ms)) {
        a.any_bytes = !buffer_.empty();
        return a;
      }
    }
    a.any_bytes = true;
    std::string status_line = buffer_.substr(0, buffer_.find("\r\n"));
    if (status_line.size() >= 12) a.status = std::atoi(status_line.c_str() + 9);
    a.head = buffer_.substr(status_line.size() + 2, head_end + 2 - status_line.size() - 2);
    buffer_.erase(0, head_end + 4);
    std::size_t length = std::stoull("0" + a.header("Content-Length"));
    while (buffer_.size() < length && fill(timeout_ms)) {
    }
    a.body = buffer_.substr(0, std::min(length, buffer_.size()));
    buffer_.erase(0, a.body.size());
    a.complete = a.body.size() == length;
    return a;
  }

  Answer exchange(const std::string& raw) {
    if (!send(raw)) return {};
    return read_answer();
  }

  // True when the server closed the connection (within timeout_ms).
  bool closed_by_server(int timeout_ms = 5000) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeout_ms) <= 0) return false;
      char c[4096];
      ssize_t n = ::recv(fd_, c, sizeof c, 0);
      if (n <= 0) return true;
    }
  }

 private:
  bool fill(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

std::string request_text(const std::string& method, const std::string& target, const std::string& body,
                         const std::string& cookie = "", const std::string& extra = "") {
  std::string r = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!cookie.empty()) r += "Cookie: " + cookie + "\r\n";
  r += extra;
  if (method == "POST") r += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n";
  return r + "\r\n" + body;
}

Answer post(int port, const std::string& path, const std::string& body, const std::string& cookie = "",
            const std::string& extra = "") {
  Client c(port);
  return c.exchange(request_text("POST", path, body, cookie, extra));
}

Answer get(int port, const std::string& path, const std::string& cookie = "", const std::string& extra = "") {
  Client c(port);
  return c.exchange(request_text("GET", path, "", cookie, extra));
}

// "NAME=value" of a Set-Cookie header, as a browser would send it back.
std::string cookie_pair(const Answer& a) {
  std::string set = a.header("Set-Cookie");
  return set.substr(0, set.find(';'));
}

std::vector<std::vector<std::string>> all_matches(const std::string& text, const std::string& pattern) {
  std::regex re(pattern, std::regex::ECMAScript | std::regex::icase);
  std::vector<std::vector<std::string>> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
    std::vector<std::string> groups;
    for (std::size_t g = 0; g < it->size(); ++g) groups.push_back((*it)[g].str());
    out.push_back(groups);
  }
  return out;
}

// The patterns the tool scrapes these pages with.
const std::string kPlatformRow =
    "\r\n\t\t\t\t\t\t\t<td align=\"center\">.*?</td>\r\n\t\t\t\t\t\t\t<td align=\"center\">(.*?)</td>\r\n"
    "\t\t\t\t\t\t\t<td align=\"center\">.*?</td>\r\n\t\t\t\t\t\t\t<td align=\"center\">\r\n\t\t\t\t\t\t\t.*?\r\n"
    "\t\t\t\t\t\t\t</td>\r\n\t\t\t\t\t\t\t<td align=\"center\">\r\n\t\t\t\t\t\t\t\t<span class=\"a_blue_red\" "
    "style=\"cursor:hand;cursor:pointer;\" alt=\"(.*?)\" name=\"newGoods\">.*?</span>";
const std::string kCatalog =
    "<div  name=\"parentName\" id=\"parentId_(.*?)\" class=\"catalog-list\">\r\n\t\t\t\t<h3><font color=\".*?\" "
    "title=\"\">(.*?)</font>|id=\"(.*?)\">([^?].*?)</a>";
const std::string kGoods = "<a name=\"goodmessage\" id=\"(.*?)\"|temp=\"(.*?)\">批量对接</a>";

// The docking run's id lookup: last marker, nearest opening before it, 8 bytes.
std::string id_before_marker(const std::string& page, const std::string& marker, const std::string& opening) {
  std::size_t at = page.rfind(marker);
  if (at == std::string::npos) return {};
  std::size_t open = page.rfind(opening, at);
  if (open == std::string::npos) return {};
  return page.substr(open + opening.size(), 8);
}

class ShopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shop.start()); }

  std::string log_in_backend() {
    Answer a = post(shop.backend_port(), "/admin/login.html",
                    std::string("username=") + DemoShop::backend_user + "&password=" + DemoShop::backend_password);
    return cookie_pair(a);
  }
  std::string log_in_supplier() {
    Answer a = post(shop.supplier_port(), "/frontLogin.htm",
                    std::string("loginTimes=1&userName=") + DemoShop::supplier_user + "&password=" +
                        DemoShop::supplier_password);
    return cookie_pair(a);
  }
  Answer admin(const std::string& page, const std::string& body, const std::string& cookie) {
    return post(shop.backend_port(), "/admin/" + page, body, cookie);
  }
  std::string save_body(const std::string& title, const std::string& parent) {
    return "titleStyle=&title=" + title + "&isHot=0&parentId=" + parent + "&state=1&ispub=1&istojoin=1&introduction=";
  }

  DemoShop shop;
};

// ---- the server itself ---------------------------------------------------

TEST_F(ShopTest, RecordsEveryRequestExactlyAsReceivedInOrder) {
  Client c(shop.backend_port());
  const std::string odd_headers = "Host: 127.0.0.1\r\nzeta:1\r\nAccept:  */*  \r\nX-Empty:\r\nContent-Length: 7\r\n";
  ASSERT_TRUE(c.exchange("POST /admin/index.html?a=1&b=%41 HTTP/1.1\r\n" + odd_headers + "\r\nx=%41+&").complete);
  // Same connection: keep-alive, then a GET without body.
  ASSERT_TRUE(c.exchange("GET /updates/version.html HTTP/1.1\r\nHost: h\r\n\r\n").complete);
  ASSERT_TRUE(get(shop.supplier_port(), "/frontLogin.htm").complete);

  auto requests = shop.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].side, "backend");
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/admin/index.html?a=1&b=%41");
  EXPECT_EQ(requests[0].path, "/admin/index.html");
  EXPECT_EQ(requests[0].header_text, odd_headers);
  EXPECT_EQ(requests[0].body, "x=%41+&");
  EXPECT_EQ(requests[1].side, "updates");
  EXPECT_EQ(requests[1].header_text, "Host: h\r\n");
  EXPECT_EQ(requests[1].body, "");
  EXPECT_EQ(requests[2].side, "supplier");

  shop.clear_requests();
  EXPECT_TRUE(shop.requests().empty());
}

TEST_F(ShopTest, AnswersAnExpectedContinueAndPipelinedRequests) {
  Client c(shop.backend_port());
  ASSERT_TRUE(c.send("POST /admin/index.html HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\n"));
  Answer interim = c.read_answer();
  EXPECT_EQ(interim.status, 100);
  ASSERT_TRUE(c.send("abc"));
  EXPECT_EQ(c.read_answer().status, 200);

  ASSERT_TRUE(c.send("GET /admin/index.html HTTP/1.1\r\nHost: h\r\n\r\nGET /nothing HTTP/1.1\r\nHost: h\r\n\r\n"));
  EXPECT_EQ(c.read_answer().status, 200);
  EXPECT_EQ(c.read_answer().status, 404);
  EXPECT_EQ(shop.requests().back().body, "");
  EXPECT_EQ(shop.requests()[0].body, "abc");
}

TEST(HttpServerTest, RefusesMalformedAndOversizedRequests) {
  demo_shop::HttpServer server;
  demo_shop::HttpLimits limits;
  limits.max_header_bytes = 512;
  limits.max_body_bytes = 100;
  int handled = 0;
  ASSERT_TRUE(server.start(0, [&](const demo_shop::HttpRequestIn&) {
    ++handled;
    return demo_shop::HttpAnswer{};
  }, limits));
  struct Case {
    const char* what;
    std::string raw;
    int status;
  } cases[] = {
      {"no version", "GET /\r\n\r\n", 400},
      {"header line without colon", "GET / HTTP/1.1\r\nbroken\r\n\r\n", 400},
      {"length not a number", "POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", 400},
      {"two different lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400},
      {"chunked body", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501},
      {"body too large", "POST / HTTP/1.1\r\nContent-Length: 101\r\n\r\n", 413},
      {"head too large", "GET / HTTP/1.1\r\nX: " + std::string(600, 'a') + "\r\n\r\n", 431},
  };
  for (const Case& c : cases) {
    Client client(server.port());
    Answer a = client.exchange(c.raw);
    EXPECT_EQ(a.status, c.status) << c.what;
    EXPECT_TRUE(client.closed_by_server()) << c.what;
  }
  EXPECT_EQ(handled, 0);
  server.stop();
  server.stop();
}

TEST(HttpServerTest, StopEndsIdleAndWaitingConnections) {
  demo_shop::HttpServer server;
  ASSERT_TRUE(server.start(0, [](const demo_shop::HttpRequestIn& r) {
    demo_shop::HttpAnswer a;
    a.body = "0123456789";
    if (r.path == "/stall") a.mode = demo_shop::HttpAnswer::Mode::stall;  // until stopped
    if (r.path == "/delay") a.delay_ms = 600000;
    return a;
  }));
  Client idle(server.port());
  ASSERT_TRUE(idle.exchange("GET / HTTP/1.1\r\nHost: h\r\n\r\n").complete);
  Client stalled(server.port());
  ASSERT_TRUE(stalled.send("GET /stall HTTP/1.1\r\nHost: h\r\n\r\n"));
  Answer part = stalled.read_answer(200);
  EXPECT_FALSE(part.complete);
  Client delayed(server.port());
  ASSERT_TRUE(delayed.send("GET /delay HTTP/1.1\r\nHost: h\r\n\r\n"));
  Client half_sent(server.port());
  ASSERT_TRUE(half_sent.send("POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\nabc"));

  std::thread stopper([&] { server.stop(); });
  EXPECT_TRUE(idle.closed_by_server());
  EXPECT_TRUE(stalled.closed_by_server());
  EXPECT_TRUE(delayed.closed_by_server());
  EXPECT_TRUE(half_sent.closed_by_server());
  stopper.join();
  EXPECT_FALSE(Client(server.port()).connected());
}

TEST(HttpServerTest, ListensOnlyOnOneOwnerOfAPort) {
  demo_shop::HttpServer first;
  ASSERT_TRUE(first.start(0, [](const demo_shop::HttpRequestIn&) { return demo_shop::HttpAnswer{}; }));
  demo_shop::HttpServer second;
  EXPECT_FALSE(second.start(first.port(), [](const demo_shop::HttpRequestIn&) { return demo_shop::HttpAnswer{}; }));
}

// ---- back-end sessions -----------------------------------------------------

TEST_F(ShopTest, LogInSetsAnHttpOnlySessionAndRedirectsToTheHome) {
  Answer wrong = post(shop.backend_port(), "/admin/login.html", "username=admin&password=nope");
  EXPECT_EQ(wrong.status, 200);
  EXPECT_THAT(wrong.body, HasSubstr("用户名或密码错误"));
  EXPECT_EQ(wrong.header("Set-Cookie"), "");

  Answer right = post(shop.backend_port(), "/admin/login.html", "username=admin&password=demo123");
  EXPECT_EQ(right.status, 302);
  EXPECT_EQ(right.header("Location"), "main.html");
  EXPECT_TRUE(std::regex_match(right.header("Set-Cookie"),
                               std::regex("KSESSIONID=[0-9a-f]{32}; Path=/admin/; HttpOnly")));

  Answer home = get(shop.backend_port(), "/admin/main.html", cookie_pair(right));
  EXPECT_EQ(home.status, 200);
  EXPECT_THAT(home.body, HasSubstr("Korvani数字产品销售系统"));
  EXPECT_THAT(home.body, HasSubstr("欢迎您"));
  EXPECT_THAT(home.body, Not(HasSubstr("type=\"password\"")));
  EXPECT_THAT(home.body, Not(HasSubstr("<script")));

  Answer entry = get(shop.backend_port(), "/admin/index.html");
  EXPECT_THAT(entry.body, HasSubstr("<title>Korvani数字产品销售系统"));
  EXPECT_THAT(entry.body, HasSubstr("<input type=\"password\" name=\"password\">"));
  EXPECT_THAT(entry.body, HasSubstr("action=\"login.html\""));
}

TEST_F(ShopTest, EachLoggedOutStyleAnswersEveryProtectedPage) {
  struct Case {
    LoggedOutStyle style;
    std::string page;
    int status;
    std::string location;
    std::string must_hold;
    std::string must_lack;
  } cases[] = {
      {LoggedOutStyle::redirect, "main.html", 302, "index.html", "", ""},
      {LoggedOutStyle::redirect, "platform/platformserList.html", 302, "../index.html", "", ""},
      {LoggedOutStyle::login_form, "main.html", 200, "", "<input type=\"password\" name=\"password\">", "<script"},
      {LoggedOutStyle::login_form, "directory/initadd.html", 200, "", "action=\"../login.html\"", "<option"},
      {LoggedOutStyle::script_redirect, "main.html", 200, "",
       "<script>window.location.href='index.html';</script>", "<form"},
      {LoggedOutStyle::script_redirect, "directory/saveDirectory.html", 200, "",
       "<script>window.location.href='../index.html';</script>", "添加成功"},
  };
  for (const Case& c : cases) {
    shop.set_logged_out_style(c.style);
    Answer a = post(shop.backend_port(), "/admin/" + c.page, save_body("X", "0"));
    SCOPED_TRACE(c.page);
    EXPECT_EQ(a.status, c.status);
    EXPECT_EQ(a.header("Location"), c.location);
    if (!c.must_hold.empty()) {
      EXPECT_THAT(a.body, HasSubstr(c.must_hold));
    }
    if (!c.must_lack.empty()) {
      EXPECT_THAT(a.body, Not(HasSubstr(c.must_lack)));
    }
  }
  EXPECT_EQ(shop.directories().size(), 2u);  // nothing was saved without a session
}

TEST_F(ShopTest, LogOutAndExpiryEndSessions) {
  std::string first = log_in_backend();
  std::string second = log_in_backend();
  EXPECT_NE(first, second);
  EXPECT_EQ(get(shop.backend_port(), "/admin/main.html", first).status, 200);

  Answer out = get(shop.backend_port(), "/admin/logout.html", first);
  EXPECT_EQ(out.status, 302);
  EXPECT_THAT(out.header("Set-Cookie"), HasSubstr("Max-Age=0"));
  EXPECT_EQ(get(shop.backend_port(), "/admin/main.html", first).status, 302);
  EXPECT_EQ(get(shop.backend_port(), "/admin/main.html", second).status, 200);

  shop.expire_backend_sessions();
  EXPECT_EQ(get(shop.backend_port(), "/admin/main.html", second).status, 302);
  EXPECT_EQ(get(shop.backend_port(), "/admin/main.html", "KSESSIONID=forged").status, 302);
}

// ---- platform list --------------------------------------------------------

TEST_F(ShopTest, PlatformListHasOneRowPerPlatformInTheScrapedShape) {
  Answer a = admin("platform/platformserList.html", "validate_post_send=Tue+Feb+3+2016", log_in_backend());
  ASSERT_EQ(a.status, 200);
  auto rows = all_matches(a.body, kPlatformRow);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], shop.supplier_host());
  EXPECT_EQ(rows[0][2], shop.platform_id());
  EXPECT_EQ(rows[1][1], shop.unreachable_host());
  EXPECT_EQ(rows[1][2], shop.unreachable_platform_id());
  EXPECT_NE(shop.platform_id(), shop.unreachable_platform_id());

  EXPECT_THAT(a.body, HasSubstr("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                                "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"));
  EXPECT_THAT(a.body, HasSubstr("jquery.min.js"));
  EXPECT_THAT(a.body, HasSubstr("jquery-1.7.2.min.js"));
  EXPECT_THAT(a.body, HasSubstr("window.location.href"));

  // The second platform stays on this machine and nothing answers there.
  EXPECT_EQ(shop.unreachable_host().rfind("127.0.0.1:", 0), 0u);
  EXPECT_FALSE(Client(std::stoi(shop.unreachable_host().substr(10))).connected());
}

// ---- directories ----------------------------------------------------------

TEST_F(ShopTest, SaveDirectoryFormDecodesTheTitleAndChecksTheParent) {
  const std::string cookie = log_in_backend();
  const std::string top = shop.directories()[0].id;
  struct Case {
    const char* what;
    std::string title;     // as put into the body
    std::string parent;
    bool created;
    std::string stored;    // the name the shop holds
    std::string message;   // part of a refusal
  } cases[] = {
      {"plain top level", "Games", "0", true, "Games", ""},
      {"raw UTF-8 with an emoji", "\xF0\x9F\x8E\xAE游戏", "0", true, "\xF0\x9F\x8E\xAE游戏", ""},
      {"percent escapes and plus", "%E8%AF%9D+A", "0", true, "话 A", ""},
      {"a lone percent stays", "100%好评", "0", true, "100%好评", ""},
      {"an ampersand ends the field", "A&amp;B", "0", true, "A", ""},
      {"under an existing parent", "Sub", top, true, "Sub", ""},
      {"empty title", "", "0", false, "", "标题不能为空"},
      {"blank title", "+", "0", false, "", "标题不能为空"},
      {"unknown parent", "Orphan", "zzzzzzzz", false, "", "上级目录不存在"},
      {"empty parent", "Orphan", "", false, "", "上级目录不存在"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t before = shop.directories().size();
    Answer a = admin("directory/saveDirectory.html", save_body(c.title, c.parent), cookie);
    ASSERT_EQ(a.status, 200);
    auto dirs = shop.directories();
    if (c.created) {
      EXPECT_THAT(a.body, HasSubstr("添加成功"));
      ASSERT_EQ(dirs.size(), before + 1);
      EXPECT_EQ(dirs.back().name, c.stored);
      EXPECT_EQ(dirs.back().parent_id, c.parent);
      EXPECT_TRUE(std::regex_match(dirs.back().id, std::regex("[0-9a-f]{8}")));
    } else {
      EXPECT_THAT(a.body, Not(HasSubstr("添加成功")));
      EXPECT_THAT(a.body, HasSubstr(c.message));
      EXPECT_EQ(dirs.size(), before);
    }
  }
  auto dirs = shop.directories();
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    for (std::size_t k = i + 1; k < dirs.size(); ++k) EXPECT_NE(dirs[i].id, dirs[k].id);
  }
}

TEST_F(ShopTest, DirectoryPagesListEveryDirectoryInTheLookedUpShape) {
  const std::string cookie = log_in_backend();
  shop.add_directory("Tom & Jerry");
  shop.add_directory("Twin");
  shop.add_directory("Twin", shop.directories()[0].id);
  auto dirs = shop.directories();

  Answer add = admin("directory/initadd.html", "", cookie);
  Answer batch = admin("platform/batchAddGoods.html", "", cookie);
  for (const auto& d : dirs) {
    std::string escaped = d.name == "Tom & Jerry" ? "Tom &amp; Jerry" : d.name;
    EXPECT_THAT(add.body, HasSubstr("<option value=\"" + d.id + "\" >" + escaped + "</option>\r\n"));
    EXPECT_THAT(batch.body, HasSubstr("<input type=\"checkbox\" name=\"goodDirs\" value=\"" + d.id + "\" />----" +
                                      escaped + "<br/>\r\n"));
  }
  EXPECT_THAT(add.body, Not(HasSubstr("&nbsp;")));
  // A repeated name: the last one listed wins, as the docking run reads it.
  EXPECT_EQ(id_before_marker(add.body, "\" >Twin</option>", "<option value=\""), dirs.back().id);
  EXPECT_EQ(id_before_marker(batch.body, "\" />----Twin<br/>", "value=\""), dirs.back().id);
  EXPECT_EQ(id_before_marker(add.body, "\" >Tom &amp; Jerry</option>", "<option value=\""), dirs[2].id);

  shop.remove_directory(dirs.back().id);
  EXPECT_EQ(shop.directories().size(), dirs.size() - 1);
}

// ---- goods ------------------------------------------------------------------

TEST_F(ShopTest, GoodsQueryPagesTwentyAtATimeWithTheSessionKey) {
  const std::string cookie = log_in_backend();
  auto query = [&](const std::string& platform, const std::string& dir, int page, const std::string& c) {
    return admin("platform/platFormDirGoodsDataQuery.html",
                 "keyWord=&keyType=1&goodPlat=0&platFormId=" + platform + "&directoryId=" + dir +
                     "&nowPage=" + std::to_string(page) + "&everyPage=20",
                 c);
  };
  struct Case {
    const char* what;
    std::string platform, dir;
    int page;
    std::size_t goods;
    std::string first_id;
  } cases[] = {
      {"first page of 25", shop.platform_id(), "100101", 1, 20, "10010101"},
      {"second page of 25", shop.platform_id(), "100101", 2, 5, "10010121"},
      {"past the end", shop.platform_id(), "100101", 3, 0, ""},
      {"a few from data", shop.platform_id(), "100102", 1, 3, "10010201"},
      {"declared without goods", shop.platform_id(), "100302", 1, 0, ""},
      {"not in the data: generated", shop.platform_id(), "100103", 1, 3, "10010301"},
      {"unknown directory", shop.platform_id(), "999", 1, 0, ""},
      {"another platform", shop.unreachable_platform_id(), "100101", 1, 0, ""},
  };
  std::string key;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto matches = all_matches(query(c.platform, c.dir, c.page, cookie).body, kGoods);
    std::vector<std::string> ids;
    std::vector<std::string> keys;
    for (const auto& m : matches) (m[1].empty() ? keys : ids).push_back(m[1].empty() ? m[2] : m[1]);
    EXPECT_EQ(ids.size(), c.goods);
    if (!ids.empty()) {
      EXPECT_EQ(ids[0], c.first_id);
    }
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(std::regex_match(keys[0], std::regex("[0-9a-f]{32}")));
    if (key.empty()) key = keys[0];
    EXPECT_EQ(keys[0], key);  // one key per session
  }
  std::string other_key;
  for (const auto& m : all_matches(query(shop.platform_id(), "100101", 1, log_in_backend()).body, kGoods)) {
    other_key += m[2];
  }
  EXPECT_NE(other_key, key);

  shop.set_goods("100101", {{"G1", "A&B"}});
  auto replaced = all_matches(query(shop.platform_id(), "100101", 1, cookie).body, kGoods);
  ASSERT_EQ(replaced.size(), 2u);
  EXPECT_EQ(replaced[0][1] + replaced[1][1], "G1");
}

TEST_F(ShopTest, BrokenPagingAnswersPageOneForEveryPage) {
  const std::string cookie = log_in_backend();
  auto first_ids = [&](int page) {
    std::vector<std::string> ids;
    const Answer a = admin("platform/platFormDirGoodsDataQuery.html",
                           "keyWord=&keyType=1&goodPlat=0&platFormId=" + shop.platform_id() +
                               "&directoryId=100101&nowPage=" + std::to_string(page) + "&everyPage=20",
                           cookie);
    for (const auto& m : all_matches(a.body, kGoods))
      if (!m[1].empty()) ids.push_back(m[1]);
    return ids;
  };
  shop.set_goods_paging_broken(true);
  for (int page : {2, 3, 7}) {
    const auto ids = first_ids(page);
    ASSERT_EQ(ids.size(), 20u) << page;
    EXPECT_EQ(ids[0], "10010101") << page;
  }
  shop.set_goods_paging_broken(false);
  const auto second = first_ids(2);
  ASSERT_EQ(second.size(), 5u);
  EXPECT_EQ(second[0], "10010121");
}

TEST_F(ShopTest, BatchSaveDocksGoodsOnlyWithTheIssuedKey) {
  const std::string cookie = log_in_backend();
  Answer page = admin("platform/platFormDirGoodsDataQuery.html",
                      "keyWord=&keyType=1&goodPlat=0&platFormId=" + shop.platform_id() +
                          "&directoryId=100102&nowPage=1&everyPage=20",
                      cookie);
  std::string key;
  for (const auto& m : all_matches(page.body, kGoods)) key += m[2];
  ASSERT_FALSE(key.empty());
  const std::string dir = shop.directories()[0].id;

  struct Case {
    const char* what;
    std::string body;
    bool key_ok;
    std::vector<std::string> ids;
    std::string reply;
  } cases[] = {
      {"wrong key", "signStr=nope&goodIds=10010201&goodDirs=" + dir, false, {"10010201"}, "秘钥错误"},
      {"no key yet", "signStr=&goodIds=10010201&goodDirs=" + dir, false, {"10010201"}, "秘钥错误"},
      {"right key", "signStr=" + key + "&goodIds=10010201,10010202&goodDirs=" + dir, true,
       {"10010201", "10010202"}, "对接成功"},
      {"again, one more", "signStr=" + key + "&goodIds=10010202,10010203&goodDirs=" + dir, true,
       {"10010202", "10010203"}, "对接成功"},
      {"no goods", "signStr=" + key + "&goodIds=&goodDirs=" + dir, true, {}, "请选择要对接的商品"},
      {"unknown directory", "signStr=" + key + "&goodIds=1&goodDirs=nothere1", true, {"1"}, "请选择要对接的目录"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Answer a = admin("platform/batchSaveGoodAndDirectory.html", c.body, cookie);
    EXPECT_THAT(a.body, HasSubstr(c.reply));
    const demo_shop::BatchSave s = shop.batch_saves().back();
    EXPECT_EQ(s.key_ok, c.key_ok);
    EXPECT_EQ(s.good_ids, c.ids);
  }
  EXPECT_EQ(shop.batch_saves().size(), std::size(cases));
  EXPECT_EQ(shop.goods_docked(dir), (std::vector<std::string>{"10010201", "10010202", "10010203"}));
  EXPECT_TRUE(shop.goods_docked("nothere1").empty());
}

// ---- supplier front end -----------------------------------------------------

TEST_F(ShopTest, SupplierLogInFormDecodesAndOpensASession) {
  shop.set_supplier_account("u2", "a&b=c");
  struct Case {
    const char* what;
    std::string body;
    bool ok;
  } cases[] = {
      {"demo account", "loginTimes=1&userName=demo&password=demo123", true},
      {"wrong password", "loginTimes=1&userName=demo&password=demo12", false},
      {"unknown account", "loginTimes=1&userName=nobody&password=demo123", false},
      {"password typed raw splits the form", "loginTimes=1&userName=u2&password=a&b=c", false},
      {"password percent-coded", "loginTimes=1&userName=u2&password=a%26b%3Dc", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Answer a = post(shop.supplier_port(), "/frontLogin.htm", c.body);
    EXPECT_EQ(a.status, 200);
    if (c.ok) {
      EXPECT_THAT(a.body, HasSubstr("\"code\""));
      EXPECT_TRUE(std::regex_match(a.header("Set-Cookie"), std::regex("FRONTSID=[0-9a-f]{32}; Path=/; HttpOnly")));
    } else {
      EXPECT_THAT(a.body, HasSubstr("用户名或密码错误!"));
      EXPECT_THAT(a.body, Not(HasSubstr("code")));
      EXPECT_EQ(a.header("Set-Cookie"), "");
    }
  }
}

TEST_F(ShopTest, CatalogPageNeedsTheSupplierSessionAndHasTheScrapedShape) {
  const std::string body = "validate_post_send=Tue+Feb+3+2016&topValue=";
  Answer without = post(shop.supplier_port(), "/front/inter/dirList.htm", body);
  EXPECT_EQ(without.status, 200);
  EXPECT_TRUE(all_matches(without.body, kCatalog).empty());

  const std::string cookie = log_in_supplier();
  Answer with = post(shop.supplier_port(), "/front/inter/dirList.htm", body, cookie);
  auto matches = all_matches(with.body, kCatalog);
  std::vector<std::string> rows;  // "M id name" or "S id name", in page order
  for (const auto& m : matches) rows.push_back(m[1].empty() ? "S " + m[3] + " " + m[4] : "M " + m[1] + " " + m[2]);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "M 1001 网络游戏", "S 100101 腾讯游戏", "S 100102 网易游戏",
                      "S 100103 %E7%9B%9B%E5%A4%A7%E6%B8%B8%E6%88%8F",
                      "M 1002 话费&amp;流量", "S 100201 移动话费", "S 100202 联通&amp;电信",
                      "M 1003 \xF0\x9F\x8E\xAE游戏点卡", "S 100301 Steam充值卡", "S 100302 \xF0\x9F\x8E\xB2桌游点数",
                      "M 1004 视频会员", "S 100401 爱奇艺VIP", "S 100402 腾讯视频VIP", "M 1005 暂无分类"}));
  EXPECT_THAT(with.body, HasSubstr("100%，"));
  EXPECT_EQ(with.body, shop.catalog_page());

  shop.expire_supplier_sessions();
  EXPECT_TRUE(all_matches(post(shop.supplier_port(), "/front/inter/dirList.htm", body, cookie).body, kCatalog).empty());

  shop.set_catalog_page("<p>changed</p>");
  EXPECT_EQ(post(shop.supplier_port(), "/front/inter/dirList.htm", body, log_in_supplier()).body, "<p>changed</p>");
}

TEST(GeneratedCatalogTest, HasEveryDirectoryInTheScrapedShape) {
  std::string page = demo_shop::generate_catalog_page(30, 3);
  auto matches = all_matches(page, kCatalog);
  ASSERT_EQ(matches.size(), 30u * 4);
  EXPECT_EQ(matches[0][2], "目录1");
  EXPECT_EQ(matches[1][4], "子目录1-1");
  EXPECT_EQ(matches[119][4], "子目录30-3");
  EXPECT_TRUE(all_matches(demo_shop::generate_catalog_page(0), kCatalog).empty());

  demo_shop::Options options;
  options.generated_directories = 5;
  options.generated_subs_each = 1;
  DemoShop shop(options);
  ASSERT_TRUE(shop.start());
  EXPECT_EQ(all_matches(shop.catalog_page(), kCatalog).size(), 10u);
  EXPECT_EQ(shop.catalog_page(), demo_shop::generate_catalog_page(5, 1));
}

TEST(DemoShopStartTest, RefusesToStartWithoutItsData) {
  demo_shop::Options options;
  options.data_dir = "/nonexistent/demo-shop-data";
  DemoShop shop(options);
  EXPECT_FALSE(shop.start());

  demo_shop::Options bad_catalog;
  bad_catalog.catalog = "no-such-catalog.txt";
  EXPECT_FALSE(DemoShop(bad_catalog).start());
}

// ---- updates -----------------------------------------------------------------

TEST_F(ShopTest, VersionPageNamesTheVersionFirstThenTheReleaseBlock) {
  auto check = [&](const std::string& version) {
    std::string page = get(shop.backend_port(), "/updates/version.html").body;
    std::size_t open = page.find("【");
    ASSERT_NE(open, std::string::npos);
    EXPECT_EQ(page.substr(open, page.find("】") + 3 - open), "【" + version + "】");
    std::size_t div = page.find("<div>");
    std::size_t end = page.find("</DIV>");
    ASSERT_TRUE(div != std::string::npos && end != std::string::npos && div < open && open < end);
    std::string block = page.substr(div, end - div);
    std::size_t bar = block.find('|');
    EXPECT_EQ(block.substr(bar + 1, block.find('|', bar + 1) - bar - 1), shop.download_url());
  };
  check("1.13");
  shop.set_version("1.14");
  check("1.14");
  shop.set_version_page("plain");
  EXPECT_EQ(get(shop.backend_port(), "/updates/version.html").body, "plain");
}

TEST_F(ShopTest, DownloadHonoursRangeAndGzip) {
  const std::string path = "/updates/korvani-dock";
  EXPECT_EQ(get(shop.backend_port(), path).status, 404);

  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7 % 251);
  shop.set_download(bytes);
  Answer whole = get(shop.backend_port(), path);
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, bytes);
  EXPECT_EQ(whole.header("Content-Encoding"), "");

  Answer tail = get(shop.backend_port(), path, "", "Range:bytes=99990-\r\n");
  EXPECT_EQ(tail.status, 206);
  EXPECT_EQ(tail.body, bytes.substr(99990));
  EXPECT_EQ(tail.header("Content-Range"), "bytes 99990-99999/100000");
  EXPECT_EQ(get(shop.backend_port(), path, "", "Range: bytes=100000-\r\n").status, 416);
  EXPECT_EQ(get(shop.backend_port(), path, "", "Range: lines=1-\r\n").body, bytes);

  shop.set_download(bytes, true);
  Answer packed = get(shop.backend_port(), path);
  EXPECT_EQ(packed.header("Content-Encoding"), "gzip");
  ASSERT_GT(packed.body.size(), 2u);
  EXPECT_EQ(packed.body.substr(0, 2), "\x1f\x8b");
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
  std::string unpacked(bytes.size() + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(packed.body.data());
  z.avail_in = static_cast<uInt>(packed.body.size());
  z.next_out = reinterpret_cast<Bytef*>(unpacked.data());
  z.avail_out = static_cast<uInt>(unpacked.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  unpacked.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(unpacked, bytes);
}

// ---- faults ------------------------------------------------------------------

TEST_F(ShopTest, FaultsActOnTheMatchingPathOnly) {
  const std::string cookie = log_in_backend();
  const std::string page = "directory/saveDirectory.html";
  const std::string full = admin(page, save_body("probe", "0"), cookie).body;
  struct Case {
    const char* what;
    Fault fault;
    bool saved;        // the request took effect
  } cases[] = {
      {"status 500", Fault::status_500, false},
      {"drop", Fault::drop, false},
      {"expired session", Fault::expired_session, false},
      {"truncated", Fault::truncated, true},
      {"delay", Fault::delay, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    shop.clear_faults();
    shop.add_fault({page, c.fault, 50, 0, 0, -1});
    std::size_t before = shop.directories().size();
    Answer a = admin(page, save_body("X", "0"), cookie);
    EXPECT_EQ(shop.directories().size(), before + (c.saved ? 1 : 0));
    switch (c.fault) {
      case Fault::status_500:
        EXPECT_EQ(a.status, 500);
        EXPECT_THAT(a.body, Not(HasSubstr("添加成功")));
        break;
      case Fault::drop: EXPECT_FALSE(a.any_bytes); break;
      case Fault::expired_session: EXPECT_EQ(a.status, 302); break;
      case Fault::truncated:
        EXPECT_TRUE(a.complete);
        EXPECT_EQ(a.body, full.substr(0, full.size() / 2));
        break;
      default:
        EXPECT_TRUE(a.complete);
        EXPECT_EQ(a.body, full);
    }
    // Other pages are untouched.
    EXPECT_EQ(get(shop.backend_port(), "/admin/main.html", cookie).status, 200);
  }
  EXPECT_EQ(shop.requests().size(), 1u + 1u + std::size(cases) * 2);  // every one recorded, faulted or not
}

TEST_F(ShopTest, FaultsSkipAndCountTheirRequests) {
  shop.add_fault({"index.html", Fault::status_500, 0, 0, 1, 2});
  std::vector<int> statuses;
  for (int i = 0; i < 5; ++i) statuses.push_back(get(shop.backend_port(), "/admin/index.html").status);
  EXPECT_EQ(statuses, (std::vector<int>{200, 500, 500, 200, 200}));
}

TEST_F(ShopTest, StallSendsPartOfThePageThenCloses) {
  shop.add_fault({"dirList.htm", Fault::stall, 0, 100, 0, 1});
  const std::string cookie = log_in_supplier();
  Client c(shop.supplier_port());
  Answer a = c.exchange(request_text("POST", "/front/inter/dirList.htm", "", cookie));
  EXPECT_EQ(a.status, 200);
  EXPECT_FALSE(a.complete);
  EXPECT_EQ(a.body, shop.catalog_page().substr(0, shop.catalog_page().size() / 2));
  EXPECT_TRUE(c.closed_by_server());
}

TEST(DemoShopStopTest, StopCutsAStallShort) {
  DemoShop shop;
  ASSERT_TRUE(shop.start());
  shop.add_fault({"index.html", Fault::stall, 0, 0, 0, -1});  // 0: until the shop stops
  Client c(shop.backend_port());
  ASSERT_TRUE(c.send(request_text("GET", "/admin/index.html", "")));
  EXPECT_FALSE(c.read_answer(100).complete);
  shop.stop();
  EXPECT_TRUE(c.closed_by_server());
}

// ---- state --------------------------------------------------------------------

TEST_F(ShopTest, StateIsServedAsJson) {
  const std::string cookie = log_in_backend();
  admin("directory/saveDirectory.html", save_body("A\"B", "0"), cookie);
  shop.add_directory(std::string("bad\xFF", 4));
  std::string json = get(shop.backend_port(), "/demo/state").body;
  EXPECT_THAT(json, HasSubstr("\"name\": \"A\\\"B\""));
  EXPECT_THAT(json, HasSubstr("\"name\": \"bad\\ufffd\", \"name_hex\": \"626164ff\""));
  EXPECT_THAT(json, HasSubstr("\"path\": \"/admin/login.html\""));
  EXPECT_THAT(json, HasSubstr("\"header_text\": \"Host: 127.0.0.1\\r\\n"));
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(shop.state_json().substr(0, 40), json.substr(0, 40));
}

}  // namespace
