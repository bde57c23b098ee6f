// HTTP on libcurl. Every transfer runs on the calling thread's own easy
// handle, which is kept for the thread's life and reset between requests:
// a fresh handle per request costs about a quarter of the round-trip rate.
// All handles hang off one share handle, so cookies, DNS answers, TLS
// sessions and open connections are common to the whole process.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <sstream>

#include "platform/http.h"

namespace korvani::platform {

namespace {

// Large pieces double the throughput on big pages.
constexpr long kBufferSize = 512L * 1024;
// Browsers give up after about twenty hops; a loop of redirects must end.
constexpr long kMaxRedirects = 20;
// Never reserve more than this ahead of the bytes on the strength of a
// Content-Length alone: a lying server must not make us allocate gigabytes.
constexpr std::int64_t kMaxReserve = 256LL * 1024 * 1024;

struct Share {
  CURLSH* handle = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void lock_share(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  static_cast<Share*>(user)->locks[static_cast<std::size_t>(data) % CURL_LOCK_DATA_LAST].lock();
}

void unlock_share(CURL*, curl_lock_data data, void* user) {
  static_cast<Share*>(user)->locks[static_cast<std::size_t>(data) % CURL_LOCK_DATA_LAST].unlock();
}

// Made once and never freed: thread-local easy handles may still be cleaned
// up while the process ends, and they must find their share alive.
Share& share() {
  static Share* instance = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    auto* s = new Share;
    s->handle = curl_share_init();
    curl_share_setopt(s->handle, CURLSHOPT_LOCKFUNC, lock_share);
    curl_share_setopt(s->handle, CURLSHOPT_UNLOCKFUNC, unlock_share);
    curl_share_setopt(s->handle, CURLSHOPT_USERDATA, s);
    curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    return s;
  }();
  return *instance;
}

// Attaches a handle to the share with the cookie engine on.
void attach(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_SHARE, share().handle);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
}

struct ThreadEasy {
  CURL* handle = nullptr;
  bool busy = false;
  ~ThreadEasy() {
    if (handle) curl_easy_cleanup(handle);
  }
};

// The calling thread's handle, reset; or a handle of its own when the thread
// is already inside a transfer (a callback that makes a request).
class EasyLease {
 public:
  EasyLease() {
    share();
    thread_local ThreadEasy mine;
    if (!mine.busy) {
      owner_ = &mine;
      if (!mine.handle) {
        mine.handle = curl_easy_init();
      } else {
        curl_easy_reset(mine.handle);
      }
      handle_ = mine.handle;
      mine.busy = true;
    } else {
      handle_ = curl_easy_init();
    }
    if (handle_) attach(handle_);
  }
  ~EasyLease() {
    if (owner_) {
      // libcurl 7.88 loses the list of cookie files on a reset without
      // freeing it; emptied here, it costs nothing. The shared jar keeps
      // its cookies.
      if (handle_) curl_easy_setopt(handle_, CURLOPT_COOKIEFILE, nullptr);
      owner_->busy = false;
    } else if (handle_) {
      curl_easy_cleanup(handle_);
    }
  }
  EasyLease(const EasyLease&) = delete;
  EasyLease& operator=(const EasyLease&) = delete;
  CURL* get() const { return handle_; }

 private:
  ThreadEasy* owner_ = nullptr;
  CURL* handle_ = nullptr;
};

std::mutex timeouts_mutex;
HttpTimeouts current_timeouts;

// ---- cookies --------------------------------------------------------------

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    auto end = line.find(sep, start);
    if (end == std::string::npos) {
      parts.push_back(line.substr(start));
      return parts;
    }
    parts.push_back(line.substr(start, end - start));
    start = end + 1;
  }
}

// One line of libcurl's Netscape cookie format:
// domain TAB tailmatch TAB path TAB secure TAB expires TAB name TAB value
bool parse_netscape(const std::string& line, Cookie& cookie) {
  auto fields = split(line, '\t');
  if (fields.size() < 7) return false;
  std::string domain = fields[0];
  cookie.http_only = false;
  if (domain.compare(0, kHttpOnlyPrefix.size(), kHttpOnlyPrefix) == 0) {
    cookie.http_only = true;
    domain.erase(0, kHttpOnlyPrefix.size());
  }
  cookie.host_only = fields[1] != "TRUE";
  if (!cookie.host_only && !domain.empty() && domain[0] != '.') domain.insert(0, ".");
  cookie.domain = domain;
  cookie.path = fields[2];
  cookie.secure = fields[3] == "TRUE";
  cookie.expires = std::strtoll(fields[4].c_str(), nullptr, 10);
  cookie.name = fields[5];
  // A value may itself hold no tab, but keep whatever follows whole.
  cookie.value = fields[6];
  for (std::size_t i = 7; i < fields.size(); ++i) cookie.value += "\t" + fields[i];
  return true;
}

bool fit_for_line(const std::string& field) {
  return field.find_first_of("\t\r\n", 0) == std::string::npos && field.find('\0') == std::string::npos;
}

std::string netscape_line(const Cookie& cookie, std::int64_t expires) {
  std::string domain = cookie.domain;
  bool tail = !cookie.host_only || (!domain.empty() && domain[0] == '.');
  if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
  std::string line;
  if (cookie.http_only) line += kHttpOnlyPrefix;
  line += domain;
  line += tail ? "\tTRUE\t" : "\tFALSE\t";
  line += cookie.path.empty() ? "/" : cookie.path;
  line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(expires);
  line += "\t" + cookie.name + "\t" + cookie.value;
  return line;
}

std::vector<Cookie> cookies_of(CURL* easy) {
  std::vector<Cookie> cookies;
  struct curl_slist* list = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &list) != CURLE_OK) return cookies;
  for (auto* item = list; item; item = item->next) {
    Cookie cookie;
    if (item->data && parse_netscape(item->data, cookie)) cookies.push_back(std::move(cookie));
  }
  curl_slist_free_all(list);
  return cookies;
}

bool same_slot(const Cookie& a, const Cookie& b) {
  return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

bool same_cookie(const Cookie& a, const Cookie& b) {
  return same_slot(a, b) && a.value == b.value && a.secure == b.secure && a.http_only == b.http_only &&
         a.host_only == b.host_only && a.expires == b.expires;
}

std::mutex watchers_mutex;
std::map<int, std::function<void(const Cookie&)>> watchers;
std::atomic<int> watcher_count{0};
int next_watch_handle = 1;

// What an answer set: cookies new or changed in the jar, and cookies it
// removed, told with an expiry in the past so that a copy can be dropped.
std::vector<Cookie> cookie_changes(const std::vector<Cookie>& before, const std::vector<Cookie>& after) {
  std::vector<Cookie> changes;
  for (const auto& now : after) {
    bool known = std::any_of(before.begin(), before.end(), [&](const Cookie& c) { return same_cookie(c, now); });
    if (!known) changes.push_back(now);
  }
  for (const auto& old : before) {
    bool kept = std::any_of(after.begin(), after.end(), [&](const Cookie& c) { return same_slot(c, old); });
    if (!kept) {
      Cookie gone = old;
      gone.expires = 1;
      changes.push_back(std::move(gone));
    }
  }
  return changes;
}

void tell_watchers(const std::vector<Cookie>& changes) {
  std::vector<std::function<void(const Cookie&)>> observers;
  {
    std::lock_guard lock(watchers_mutex);
    for (auto& [handle, observer] : watchers) observers.push_back(observer);
  }
  for (const auto& cookie : changes) {
    for (auto& observer : observers) observer(cookie);
  }
}

// One handle for the jar functions, which may be called from any thread.
std::mutex jar_mutex;
CURL* jar_handle() {
  static CURL* handle = [] {
    share();
    CURL* h = curl_easy_init();
    if (h) attach(h);
    return h;
  }();
  return handle;
}

// ---- one transfer ---------------------------------------------------------

bool starts_with_ci(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool has_header(const std::vector<std::string>& headers, std::string_view name_colon) {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const std::string& h) { return starts_with_ci(h, name_colon); });
}

using SteadyClock = std::chrono::steady_clock;

struct Transfer {
  CURL* easy = nullptr;
  const HttpRequest* request = nullptr;
  HttpResponse* response = nullptr;
  bool head_told = false;
  bool saw_set_cookie = false;
  bool out_of_memory = false;
  // Stall watch: libcurl's own low-speed check averages over several
  // seconds, so a server that sent a few bytes and then hangs would be
  // waited on for longer than the stall time-out says.
  std::chrono::milliseconds stall_limit{0};
  SteadyClock::time_point last_activity = SteadyClock::now();
  bool sending = false;
  curl_off_t last_down = 0;
  curl_off_t last_up = 0;
  bool stalled = false;

  void tell_head() {
    if (head_told) return;
    head_told = true;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response->status);
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    response->content_length = length;
    if (request->on_head) request->on_head(response->status, response->content_length);
  }
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  try {
    t->tell_head();
    if (t->request->on_data) {
      if (!t->request->on_data(data, bytes)) {
        t->response->cancelled = true;
        return 0;
      }
      return bytes;
    }
    auto& body = t->response->body;
    if (body.empty() && t->response->content_length > 0) {
      body.reserve(static_cast<std::size_t>(std::min(t->response->content_length, kMaxReserve)));
    }
    body.append(data, bytes);
    return bytes;
  } catch (const std::bad_alloc&) {
    t->out_of_memory = true;
  } catch (...) {
    t->response->cancelled = true;
  }
  return 0;  // ends the transfer; the bytes so far stay in the response
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (starts_with_ci(std::string_view(data, bytes), "set-cookie:")) t->saw_set_cookie = true;
  return bytes;
}

int on_progress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
  auto* t = static_cast<Transfer*>(user);
  if (t->request->should_stop && t->request->should_stop()) {
    t->response->cancelled = true;
    return 1;
  }
  auto now = SteadyClock::now();
  if (down != t->last_down || up != t->last_up) {
    t->last_down = down;
    t->last_up = up;
    t->last_activity = now;
    return 0;
  }
  if (!t->sending) {
    // Until the request goes out, the connect time-out is the one that counts.
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(t->easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer <= 0) return 0;
    t->sending = true;
    t->last_activity = now;
    return 0;
  }
  if (now - t->last_activity > t->stall_limit) {
    t->stalled = true;
    return 1;
  }
  return 0;
}

}  // namespace

HttpResponse http_perform(const HttpRequest& request) {
  HttpResponse response;
  EasyLease lease;
  CURL* easy = lease.get();
  if (!easy) {
    response.no_handle = true;
    response.error = "no HTTP handle could be made";
    return response;
  }
  if (request.url.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    response.error = "the address holds a line break or a zero byte";
    return response;
  }
  const HttpTimeouts timeouts = http_timeouts();

  Transfer transfer;
  transfer.easy = easy;
  transfer.request = &request;
  transfer.response = &response;
  transfer.stall_limit = std::chrono::milliseconds(std::max(1L, timeouts.stall_ms));

  char error_text[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // Straight to the server, whatever proxy the environment names.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.follow_redirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, timeouts.connect_ms));
  // libcurl's check, in whole seconds, backs up the exact one in on_progress.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max(1L, (timeouts.stall_ms + 999) / 1000));
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, on_progress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  if (!request.user_agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, request.user_agent.c_str());
  if (request.decode_content) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");

  if (request.method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "POST") {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
  } else if (request.method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  // Only the caller's lines go out, besides Host, User-Agent, Content-Length
  // and the jar's Cookie line: the empty forms switch off what libcurl
  // would otherwise add of its own.
  struct curl_slist* headers = nullptr;
  bool header_ok = true;
  auto add = [&](const std::string& line) {
    auto* next = curl_slist_append(headers, line.c_str());
    if (!next) {
      header_ok = false;
      return;
    }
    headers = next;
  };
  for (const auto& line : request.headers) {
    if (line.find_first_of("\r\n") != std::string::npos || line.find('\0') != std::string::npos) {
      curl_slist_free_all(headers);
      response.error = "a header line holds a line break";
      return response;
    }
    add(line);
  }
  if (!has_header(request.headers, "accept:")) add("Accept:");
  if (!has_header(request.headers, "expect:")) add("Expect:");
  if (!has_header(request.headers, "content-type:")) add("Content-Type:");
  if (!header_ok) {
    curl_slist_free_all(headers);
    response.error = "out of memory for the header lines";
    return response;
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);

  const bool watching = watcher_count.load() > 0;
  std::vector<Cookie> before;
  if (watching) {
    before = cookies_of(easy);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  }

  CURLcode rc = curl_easy_perform(easy);

  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_off_t pretransfer_us = 0;
  curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer_us);
  response.connected = rc == CURLE_OK || status != 0 || pretransfer_us > 0;
  if (response.connected) transfer.tell_head();
  response.status = status;
  response.complete = rc == CURLE_OK;
  if (rc != CURLE_OK) {
    if (transfer.out_of_memory) {
      response.error = "the answer did not fit in memory";
    } else if (response.cancelled) {
      response.error = "cancelled";
    } else if (transfer.stalled) {
      response.error = "no byte arrived for " + std::to_string(timeouts.stall_ms) + " ms";
    } else {
      response.error = error_text[0] ? error_text : curl_easy_strerror(rc);
    }
  }

  std::vector<Cookie> changes;
  if (watching && transfer.saw_set_cookie) changes = cookie_changes(before, cookies_of(easy));

  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(headers);

  if (!changes.empty()) tell_watchers(changes);
  return response;
}

void http_set_timeouts(const HttpTimeouts& timeouts) {
  std::lock_guard lock(timeouts_mutex);
  current_timeouts = timeouts;
}

HttpTimeouts http_timeouts() {
  std::lock_guard lock(timeouts_mutex);
  return current_timeouts;
}

bool cookie_jar_put(const Cookie& cookie) {
  if (cookie.name.empty() || cookie.domain.empty()) return false;
  for (const auto* field : {&cookie.name, &cookie.value, &cookie.domain, &cookie.path}) {
    if (!fit_for_line(*field)) return false;
  }
  std::lock_guard lock(jar_mutex);
  CURL* easy = jar_handle();
  if (!easy) return false;
  return curl_easy_setopt(easy, CURLOPT_COOKIELIST, netscape_line(cookie, cookie.expires).c_str()) == CURLE_OK;
}

void cookie_jar_remove(const std::string& domain, const std::string& path, const std::string& name) {
  // libcurl drops a cookie that is put again with an expiry in the past.
  std::lock_guard lock(jar_mutex);
  CURL* easy = jar_handle();
  if (!easy) return;
  for (const auto& cookie : cookies_of(easy)) {
    if (cookie.name == name && cookie.domain == domain && cookie.path == path) {
      curl_easy_setopt(easy, CURLOPT_COOKIELIST, netscape_line(cookie, 1).c_str());
    }
  }
}

void cookie_jar_remove(const std::string& domain, const std::string& path, const std::string& name,
                       const std::string& value) {
  std::lock_guard lock(jar_mutex);
  CURL* easy = jar_handle();
  if (!easy) return;
  for (const auto& cookie : cookies_of(easy)) {
    if (cookie.name == name && cookie.domain == domain && cookie.path == path && cookie.value == value) {
      curl_easy_setopt(easy, CURLOPT_COOKIELIST, netscape_line(cookie, 1).c_str());
    }
  }
}

std::vector<Cookie> cookie_jar_all() {
  std::lock_guard lock(jar_mutex);
  CURL* easy = jar_handle();
  if (!easy) return {};
  return cookies_of(easy);
}

void cookie_jar_clear() {
  std::lock_guard lock(jar_mutex);
  CURL* easy = jar_handle();
  if (easy) curl_easy_setopt(easy, CURLOPT_COOKIELIST, "ALL");
}

int cookie_jar_watch(std::function<void(const Cookie&)> observer) {
  std::lock_guard lock(watchers_mutex);
  int handle = next_watch_handle++;
  watchers.emplace(handle, std::move(observer));
  watcher_count.store(static_cast<int>(watchers.size()));
  return handle;
}

void cookie_jar_unwatch(int handle) {
  std::lock_guard lock(watchers_mutex);
  watchers.erase(handle);
  watcher_count.store(static_cast<int>(watchers.size()));
}

}  // namespace korvani::platform
