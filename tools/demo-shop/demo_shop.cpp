#include "demo_shop.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "http_server.h"

namespace demo_shop {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSessionCookie = "KSESSIONID";
constexpr const char* kSupplierCookie = "FRONTSID";
constexpr const char* kHtml = "text/html;charset=UTF-8";

// Every template the shop serves; start() refuses to run without them.
const char* const kTemplates[] = {
    "backend-login.html",          "backend-home.html",
    "backend-script-redirect.html", "backend-platform-list.html",
    "backend-platform-row.html",   "backend-directory-saved.html",
    "backend-directory-refused.html", "backend-directory-add.html",
    "backend-directory-option.html", "backend-goods-query.html",
    "backend-goods-item.html",     "backend-goods-none.html",
    "backend-batch-add.html",      "backend-batch-add-line.html",
    "backend-batch-saved.html",    "backend-not-found.html",
    "error-500.html",              "supplier-login.html",
    "supplier-login-wrong.html",   "supplier-login-ok.txt",
    "supplier-no-session.html",    "supplier-home.html",
    "supplier-catalog.html",       "supplier-catalog-main-open.html",
    "supplier-catalog-sub.html",   "supplier-catalog-main-close.html",
    "version-page.html",
};

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::optional<std::string> read_whole_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Pages of the systems being imitated end their lines with CR LF; the data
// files are kept with plain LF so that editors cannot mix the two.
std::string with_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string render(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [key, value] : values) {
    const std::string marker = "{{" + key + "}}";
    std::size_t pos = 0;
    while ((pos = text.find(marker, pos)) != std::string::npos) {
      text.replace(pos, marker.size(), value);
      pos += value.size();
    }
  }
  return text;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// application/x-www-form-urlencoded: "+" is a space, "%XX" a byte; a "%"
// without two hex digits after it stays as it is.
std::string form_unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 && hex_value(s[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields form_decode(std::string_view body) {
  Fields fields;
  std::size_t pos = 0;
  while (pos <= body.size()) {
    std::size_t amp = body.find('&', pos);
    if (amp == std::string_view::npos) amp = body.size();
    std::string_view part = body.substr(pos, amp - pos);
    if (!part.empty()) {
      std::size_t eq = part.find('=');
      if (eq == std::string_view::npos) {
        fields.emplace_back(form_unescape(part), std::string());
      } else {
        fields.emplace_back(form_unescape(part.substr(0, eq)), form_unescape(part.substr(eq + 1)));
      }
    }
    pos = amp + 1;
  }
  return fields;
}

std::optional<std::string> field(const Fields& fields, std::string_view name) {
  for (const auto& [n, v] : fields) {
    if (n == name) return v;
  }
  return std::nullopt;
}

std::string html_escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when the byte there does
// not start one.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n;
  unsigned min;
  unsigned cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; min = 0x80; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; min = 0x800; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; min = 0x10000; cp = c & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// A JSON string; bytes that are not UTF-8 become U+FFFD (the *_hex fields
// keep such bytes exactly).
std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = utf8_sequence(s, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (n == 1) {
      char c = s[i];
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
            out += buffer;
          } else {
            out += c;
          }
      }
    } else {
      out.append(s.substr(i, n));
    }
    i += n;
  }
  out += '"';
  return out;
}

std::string hex_of(std::string_view s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return "\"" + out + "\"";
}

std::vector<std::string> split(std::string_view s, char separator) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (;;) {
    std::size_t next = s.find(separator, pos);
    parts.emplace_back(s.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos));
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  return parts;
}

// Data lines: no comments, no blank lines, no CR.
std::vector<std::string> data_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::string line : split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string cookie_value(const HttpRequestIn& request, std::string_view name) {
  for (const auto& [n, v] : request.headers) {
    if (n.size() != 6) continue;
    std::string lower = n;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower != "cookie") continue;
    for (const std::string& part : split(v, ';')) {
      std::string_view p = part;
      while (!p.empty() && p.front() == ' ') p.remove_prefix(1);
      std::size_t eq = p.find('=');
      if (eq != std::string_view::npos && p.substr(0, eq) == name) return std::string(p.substr(eq + 1));
    }
  }
  return {};
}

std::optional<std::string> gzip_bytes(const std::string& bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::string out(deflateBound(&stream, bytes.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int r = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (r != Z_STREAM_END) return std::nullopt;
  return out;
}

fs::path executable_dir() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
}

std::string resolve_data_dir(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("KORVANI_DEMO_SHOP_DATA"); env && *env) return env;
#ifdef KORVANI_DEMO_SHOP_SOURCE_DATA
  if (fs::is_directory(KORVANI_DEMO_SHOP_SOURCE_DATA)) return KORVANI_DEMO_SHOP_SOURCE_DATA;
#endif
  return (executable_dir() / ".." / "share" / "korvani-dock" / "demo-shop").string();
}

struct Templates {
  std::map<std::string, std::string> pages;
  std::string missing;  // the first file that could not be read

  bool load(const std::string& dir) {
    for (const char* name : kTemplates) {
      auto text = read_whole_file(fs::path(dir) / name);
      if (!text) {
        missing = (fs::path(dir) / name).string();
        return false;
      }
      pages[name] = with_crlf(*text);
    }
    return true;
  }
  const std::string& operator[](const std::string& name) const { return pages.at(name); }
};

struct CatalogEntry {
  bool main = false;
  std::string id;
  std::string name;   // as the page writes it
  std::string color;
};

std::string build_catalog_page(const Templates& t, const std::vector<CatalogEntry>& entries) {
  std::string body;
  bool open = false;
  for (const CatalogEntry& e : entries) {
    if (e.main) {
      if (open) body += t["supplier-catalog-main-close.html"];
      body += render(t["supplier-catalog-main-open.html"],
                     {{"id", e.id}, {"color", e.color.empty() ? "#333333" : e.color}, {"name", e.name}});
      open = true;
    } else {
      body += render(t["supplier-catalog-sub.html"], {{"id", e.id}, {"name", e.name}});
    }
  }
  if (open) body += t["supplier-catalog-main-close.html"];
  // The catalog goes in last: the generated one may be many megabytes.
  const std::string& page = t["supplier-catalog.html"];
  std::size_t at = page.find("{{catalog}}");
  if (at == std::string::npos) return page + body;
  return page.substr(0, at) + body + page.substr(at + 11);
}

std::vector<CatalogEntry> generated_entries(int main_count, int subs_each) {
  static const char* const colors[] = {"#FF6600", "#0066CC", "#CC0000", "#009933", "#663399"};
  std::vector<CatalogEntry> entries;
  entries.reserve(static_cast<std::size_t>(std::max(0, main_count)) * (1 + std::max(0, subs_each)));
  long long sub_id = 10000000;
  for (int i = 1; i <= main_count; ++i) {
    entries.push_back({true, std::to_string(1000000 + i), "目录" + std::to_string(i), colors[i % 5]});
    for (int j = 1; j <= subs_each; ++j) {
      entries.push_back({false, std::to_string(sub_id++), "子目录" + std::to_string(i) + "-" + std::to_string(j), ""});
    }
  }
  return entries;
}

std::vector<CatalogEntry> parse_catalog(const std::string& text) {
  std::vector<CatalogEntry> entries;
  for (const std::string& line : data_lines(text)) {
    auto parts = split(line, '|');
    if (parts.size() < 3) continue;
    CatalogEntry e;
    e.main = parts[0] == "main";
    e.id = parts[1];
    e.name = parts[2];
    if (parts.size() > 3) e.color = parts[3];
    entries.push_back(std::move(e));
  }
  return entries;
}

struct FaultState {
  FaultRule rule;
  int seen = 0;
};

struct Platform {
  std::string role;
  std::string id;
  std::string name;
  std::string status;
};

struct BackendSession {
  std::string user;
  std::string key;  // the batch docking key issued to this session
};

}  // namespace

struct DemoShop::Impl {
  Options options;
  std::string data_dir;
  Templates templates;
  HttpServer backend;
  HttpServer supplier;
  int unreachable_fd = -1;
  int unreachable_port = 0;

  mutable std::mutex mutex;
  std::vector<Directory> directories;
  std::vector<BatchSave> batch_saves;
  std::map<std::string, std::vector<std::string>> docked;
  std::deque<ReceivedRequest> requests;
  std::vector<FaultState> faults;
  LoggedOutStyle logged_out_style = LoggedOutStyle::redirect;
  bool goods_paging_broken = false;
  std::map<std::string, BackendSession> backend_sessions;
  std::set<std::string> supplier_sessions;
  std::map<std::string, std::string> supplier_accounts{{DemoShop::supplier_user, DemoShop::supplier_password}};
  std::string catalog_page;
  std::map<std::string, std::string> catalog_subs;  // sub-directory id -> name, for generated goods
  std::map<std::string, std::vector<Goods>> goods;  // set from data or by a test
  std::vector<Platform> platforms;
  std::optional<std::string> version_page;
  std::optional<std::string> download;
  std::optional<std::string> download_gzipped;
  std::mt19937_64 random{std::random_device{}()};
  std::string load_error;  // why the data could not be loaded, empty when it was

  std::string random_hex(std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) out += digits[random() % 16];
    return out;
  }

  std::string fresh_directory_id() {
    for (;;) {
      std::string id = random_hex(8);
      bool used = std::any_of(directories.begin(), directories.end(), [&](const Directory& d) { return d.id == id; });
      if (!used) return id;
    }
  }

  const Directory* find_directory(const std::string& id) const {
    for (const Directory& d : directories) {
      if (d.id == id) return &d;
    }
    return nullptr;
  }

  std::string platform_id(const std::string& role) const {
    for (const Platform& p : platforms) {
      if (p.role == role) return p.id;
    }
    return {};
  }

  bool load_data(std::string& error);
  void record(const std::string& side, const HttpRequestIn& request);
  const FaultRule* take_fault(const std::string& path);
  HttpAnswer handle(const HttpRequestIn& request, bool backend_port);
  HttpAnswer route_backend(const HttpRequestIn& request, bool expired);
  HttpAnswer route_admin(const HttpRequestIn& request, const std::string& page, const BackendSession& session);
  HttpAnswer route_supplier(const HttpRequestIn& request, bool expired);
  HttpAnswer logged_out(const std::string& page);
  HttpAnswer html(std::string body, int status = 200) const;
  HttpAnswer redirect(const std::string& location) const;
  HttpAnswer save_directory(const Fields& fields);
  HttpAnswer goods_query(const Fields& fields, const BackendSession& session);
  HttpAnswer batch_save(const Fields& fields, const BackendSession& session);
  HttpAnswer serve_download(const HttpRequestIn& request);
  std::vector<Goods> goods_of(const std::string& sub_id) const;
  std::string state_json() const;
};

bool DemoShop::Impl::load_data(std::string& error) {
  data_dir = resolve_data_dir(options.data_dir);
  if (!templates.load(data_dir)) {
    error = "missing data file " + templates.missing;
    return false;
  }
  auto platforms_text = read_whole_file(fs::path(data_dir) / "backend-platforms.txt");
  auto directories_text = read_whole_file(fs::path(data_dir) / "backend-directories.txt");
  auto goods_text = read_whole_file(fs::path(data_dir) / "goods-default.txt");
  if (!platforms_text || !directories_text || !goods_text) {
    error = "missing back-end or goods data in " + data_dir;
    return false;
  }
  platforms.clear();
  for (const std::string& line : data_lines(*platforms_text)) {
    auto parts = split(line, '|');
    if (parts.size() >= 4) platforms.push_back({parts[0], parts[1], parts[2], parts[3]});
  }
  directories.clear();
  for (const std::string& line : data_lines(*directories_text)) {
    auto parts = split(line, '|');
    if (parts.size() >= 3) directories.push_back({parts[0], parts[1], parts[2]});
  }
  goods.clear();
  for (const std::string& line : data_lines(*goods_text)) {
    auto parts = split(line, '|');
    auto& list = goods[parts[0]];
    if (parts.size() >= 3 && !parts[1].empty()) list.push_back({parts[1], parts[2]});
  }

  std::vector<CatalogEntry> entries;
  if (options.generated_directories > 0) {
    entries = generated_entries(options.generated_directories, options.generated_subs_each);
  } else {
    fs::path file = options.catalog;
    if (file.is_relative() && fs::exists(fs::path(data_dir) / file)) file = fs::path(data_dir) / file;
    auto text = read_whole_file(file);
    if (!text) {
      error = "cannot read the catalog " + file.string();
      return false;
    }
    if (ends_with(file.string(), ".html") || ends_with(file.string(), ".htm")) {
      catalog_page = *text;  // a whole page, served byte for byte
    } else {
      entries = parse_catalog(*text);
    }
  }
  if (!entries.empty() || catalog_page.empty()) {
    catalog_page = build_catalog_page(templates, entries);
    for (const CatalogEntry& e : entries) {
      if (!e.main) catalog_subs[e.id] = e.name;
    }
  }
  return true;
}

void DemoShop::Impl::record(const std::string& side, const HttpRequestIn& request) {
  requests.push_back({side, request.method, request.target, request.path, request.header_text, request.body});
  while (requests.size() > std::max<std::size_t>(options.max_recorded_requests, 1)) requests.pop_front();
}

const FaultRule* DemoShop::Impl::take_fault(const std::string& path) {
  for (FaultState& f : faults) {
    if (!ends_with(path, f.rule.path_suffix)) continue;
    int n = f.seen++;
    if (n < f.rule.skip) continue;
    if (f.rule.times >= 0 && n >= f.rule.skip + f.rule.times) continue;
    return &f.rule;
  }
  return nullptr;
}

HttpAnswer DemoShop::Impl::html(std::string body, int status) const {
  HttpAnswer a;
  a.status = status;
  a.headers = {{"Content-Type", kHtml}, {"Cache-Control", "no-cache"}};
  a.body = std::move(body);
  return a;
}

HttpAnswer DemoShop::Impl::redirect(const std::string& location) const {
  HttpAnswer a = html("<html><body><a href=\"" + location + "\">" + location + "</a></body></html>", 302);
  a.headers.emplace_back("Location", location);
  return a;
}

HttpAnswer DemoShop::Impl::handle(const HttpRequestIn& request, bool backend_port) {
  std::lock_guard<std::mutex> lock(mutex);
  const bool updates = backend_port && starts_with(request.path, "/updates/");
  record(!backend_port ? "supplier" : updates ? "updates" : "backend", request);

  const FaultRule* rule = take_fault(request.path);
  const Fault fault = rule ? rule->fault : Fault::none;
  if (fault == Fault::status_500) return html(templates["error-500.html"], 500);
  if (fault == Fault::drop) {
    HttpAnswer a;
    a.mode = HttpAnswer::Mode::drop;
    return a;
  }
  const bool expired = fault == Fault::expired_session;
  HttpAnswer answer = backend_port ? route_backend(request, expired) : route_supplier(request, expired);
  switch (fault) {
    case Fault::delay: answer.delay_ms = rule->delay_ms; break;
    case Fault::stall:
      answer.mode = HttpAnswer::Mode::stall;
      answer.stall_ms = rule->stall_ms;
      break;
    case Fault::truncated: answer.mode = HttpAnswer::Mode::truncate; break;
    default: break;
  }
  return answer;
}

HttpAnswer DemoShop::Impl::logged_out(const std::string& page) {
  // Relative addresses, as the real back end writes them, from wherever the
  // asked page lies below /admin/.
  std::string up;
  for (char c : page) {
    if (c == '/') up += "../";
  }
  switch (logged_out_style) {
    case LoggedOutStyle::redirect:
      return redirect(up + "index.html");
    case LoggedOutStyle::login_form:
      return html(render(templates["backend-login.html"], {{"base", up}, {"message", ""},
                                                           {"demo_user", DemoShop::backend_user},
                                                           {"demo_password", DemoShop::backend_password}}));
    case LoggedOutStyle::script_redirect:
      return html(render(templates["backend-script-redirect.html"], {{"target", up + "index.html"}}));
  }
  return redirect(up + "index.html");
}

HttpAnswer DemoShop::Impl::route_backend(const HttpRequestIn& request, bool expired) {
  const std::string& path = request.path;
  if (path == "/" || path == "/admin" || path == "/admin/") return redirect("/admin/index.html");
  if (path == "/demo/state") {
    HttpAnswer a;
    a.headers = {{"Content-Type", "application/json; charset=utf-8"}};
    a.body = state_json();
    return a;
  }
  if (path == "/updates/version.html") {
    std::string page = version_page ? *version_page
                                    : render(templates["version-page.html"],
                                             {{"version", options.version},
                                              {"download_url", "http://127.0.0.1:" + std::to_string(backend.port()) +
                                                                   "/updates/korvani-dock"}});
    return html(page);
  }
  if (path == "/updates/korvani-dock") return serve_download(request);
  if (!starts_with(path, "/admin/")) return html(templates["backend-not-found.html"], 404);

  const std::string page = path.substr(7);
  auto login_page = [&](const std::string& message) {
    return html(render(templates["backend-login.html"], {{"base", ""}, {"message", message},
                                                         {"demo_user", DemoShop::backend_user},
                                                         {"demo_password", DemoShop::backend_password}}));
  };
  if (page == "index.html") return login_page("");
  if (starts_with(page, "js/") || starts_with(page, "css/")) {
    // The script and style files the pages name; their content plays no part.
    HttpAnswer a;
    a.headers = {{"Content-Type", ends_with(page, ".css") ? "text/css" : "application/javascript"}};
    a.body = "/* demo */\r\n";
    return a;
  }
  if (page == "login.html") {
    if (request.method != "POST") return login_page("");
    Fields fields = form_decode(request.body);
    if (field(fields, "username").value_or("") != DemoShop::backend_user ||
        field(fields, "password").value_or("") != DemoShop::backend_password) {
      return login_page("用户名或密码错误");
    }
    std::string token = random_hex(32);
    backend_sessions[token] = {DemoShop::backend_user, random_hex(32)};
    HttpAnswer a = redirect("main.html");
    a.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + token + "; Path=/admin/; HttpOnly");
    return a;
  }
  if (page == "logout.html") {
    backend_sessions.erase(cookie_value(request, kSessionCookie));
    HttpAnswer a = redirect("index.html");
    a.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=; Path=/admin/; Max-Age=0; HttpOnly");
    return a;
  }
  auto session = backend_sessions.find(cookie_value(request, kSessionCookie));
  if (expired || session == backend_sessions.end()) return logged_out(page);
  return route_admin(request, page, session->second);
}

HttpAnswer DemoShop::Impl::route_admin(const HttpRequestIn& request, const std::string& page,
                                       const BackendSession& session) {
  if (page == "main.html") return html(render(templates["backend-home.html"], {{"user", session.user}}));
  if (page == "platform/platformserList.html") {
    std::string rows;
    int number = 0;
    for (const Platform& p : platforms) {
      int port = p.role == "supplier" ? supplier.port() : unreachable_port;
      rows += render(templates["backend-platform-row.html"],
                     {{"number", std::to_string(++number)},
                      {"host", "127.0.0.1:" + std::to_string(port)},
                      {"name", p.name},
                      {"status", p.status},
                      {"id", p.id}});
    }
    return html(render(templates["backend-platform-list.html"], {{"rows", rows}}));
  }
  if (page == "directory/saveDirectory.html") return save_directory(form_decode(request.body));
  if (page == "directory/initadd.html") {
    std::string options_text;
    for (const Directory& d : directories) {
      options_text += render(templates["backend-directory-option.html"], {{"id", d.id}, {"name", html_escape(d.name)}});
    }
    return html(render(templates["backend-directory-add.html"], {{"options", options_text}}));
  }
  if (page == "platform/platFormDirGoodsDataQuery.html") return goods_query(form_decode(request.body), session);
  if (page == "platform/batchAddGoods.html") {
    std::string lines;
    for (const Directory& d : directories) {
      lines += render(templates["backend-batch-add-line.html"], {{"id", d.id}, {"name", html_escape(d.name)}});
    }
    return html(render(templates["backend-batch-add.html"], {{"dirs", lines}}));
  }
  if (page == "platform/batchSaveGoodAndDirectory.html") return batch_save(form_decode(request.body), session);
  return html(templates["backend-not-found.html"], 404);
}

HttpAnswer DemoShop::Impl::save_directory(const Fields& fields) {
  auto refused = [&](const std::string& message) {
    return html(render(templates["backend-directory-refused.html"], {{"message", message}}));
  };
  std::string title = field(fields, "title").value_or("");
  std::string parent = field(fields, "parentId").value_or("0");
  if (title.find_first_not_of(" \t") == std::string::npos) return refused("标题不能为空");
  if (parent != "0" && !find_directory(parent)) return refused("上级目录不存在");
  directories.push_back({fresh_directory_id(), title, parent});
  return html(templates["backend-directory-saved.html"]);
}

std::vector<Goods> DemoShop::Impl::goods_of(const std::string& sub_id) const {
  if (auto it = goods.find(sub_id); it != goods.end()) return it->second;
  auto sub = catalog_subs.find(sub_id);
  if (sub == catalog_subs.end()) return {};
  std::vector<Goods> made;
  for (int k = 1; k <= 3; ++k) {
    std::string n = std::to_string(k);
    made.push_back({sub_id + "0" + n, "商品" + n});
  }
  return made;
}

HttpAnswer DemoShop::Impl::goods_query(const Fields& fields, const BackendSession& session) {
  auto number = [&](const char* name, int fallback, int low, int high) {
    std::string text = field(fields, name).value_or("");
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return fallback;
    return std::clamp(std::stoi(text), low, high);
  };
  const int now_page = goods_paging_broken ? 1 : number("nowPage", 1, 1, 999999);
  const int every_page = number("everyPage", 20, 1, 100);
  std::vector<Goods> list;
  if (field(fields, "platFormId").value_or("") == platform_id("supplier")) {
    list = goods_of(field(fields, "directoryId").value_or(""));
  }
  const std::size_t total = list.size();
  const std::size_t pages = std::max<std::size_t>(1, (total + every_page - 1) / every_page);
  std::string items;
  const std::size_t first = static_cast<std::size_t>(now_page - 1) * every_page;
  for (std::size_t i = first; i < total && i < first + every_page; ++i) {
    items += render(templates["backend-goods-item.html"],
                    {{"id", list[i].id}, {"name", html_escape(list[i].name)}, {"price", "1.00"}});
  }
  if (items.empty()) items = templates["backend-goods-none.html"];
  return html(render(templates["backend-goods-query.html"],
                     {{"goods", items}, {"key", session.key}, {"total", std::to_string(total)},
                      {"page", std::to_string(now_page)}, {"pages", std::to_string(pages)}}));
}

HttpAnswer DemoShop::Impl::batch_save(const Fields& fields, const BackendSession& session) {
  BatchSave save;
  save.sign = field(fields, "signStr").value_or("");
  for (const std::string& id : split(field(fields, "goodIds").value_or(""), ',')) {
    if (!id.empty()) save.good_ids.push_back(id);
  }
  save.dir_id = field(fields, "goodDirs").value_or("");
  save.key_ok = !save.sign.empty() && save.sign == session.key;
  batch_saves.push_back(save);

  std::string message;
  if (!save.key_ok) {
    message = "批量对接秘钥错误";
  } else if (!find_directory(save.dir_id)) {
    message = "请选择要对接的目录";
  } else if (save.good_ids.empty()) {
    message = "请选择要对接的商品";
  } else {
    auto& into = docked[save.dir_id];
    for (const std::string& id : save.good_ids) {
      if (std::find(into.begin(), into.end(), id) == into.end()) into.push_back(id);
    }
    message = "对接成功";
  }
  return html(render(templates["backend-batch-saved.html"], {{"message", message}}));
}

HttpAnswer DemoShop::Impl::serve_download(const HttpRequestIn& request) {
  if (!download) return html(templates["backend-not-found.html"], 404);
  const std::string& bytes = download_gzipped ? *download_gzipped : *download;
  HttpAnswer a;
  a.headers = {{"Content-Type", "application/octet-stream"}, {"Accept-Ranges", "bytes"}};
  if (download_gzipped) a.headers.emplace_back("Content-Encoding", "gzip");

  std::string range = request.header("Range");
  std::size_t from = 0;
  std::size_t to = bytes.size();  // one past the last
  bool ranged = false;
  if (starts_with(range, "bytes=")) {
    std::string byte_range = range.substr(6);
    std::size_t dash = byte_range.find('-');
    std::string first = byte_range.substr(0, dash);
    std::string last = dash == std::string::npos ? "" : byte_range.substr(dash + 1);
    auto digits = [](const std::string& s) {
      return !s.empty() && s.size() < 19 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (dash != std::string::npos && digits(first) && (last.empty() || digits(last))) {
      from = std::stoull(first);
      if (!last.empty()) to = std::min<std::size_t>(to, std::stoull(last) + 1);
      ranged = true;
      if (from >= bytes.size() || from >= to) {
        a.status = 416;
        a.headers.emplace_back("Content-Range", "bytes */" + std::to_string(bytes.size()));
        return a;
      }
    }
  }
  if (ranged) {
    a.status = 206;
    a.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(to - 1) + "/" +
                                                std::to_string(bytes.size()));
    a.body = bytes.substr(from, to - from);
  } else {
    a.body = bytes;
  }
  return a;
}

HttpAnswer DemoShop::Impl::route_supplier(const HttpRequestIn& request, bool expired) {
  const std::string& path = request.path;
  if (path == "/" || path == "/index.htm") return html(templates["supplier-home.html"]);
  if (path == "/frontLogin.htm") {
    if (request.method != "POST") return html(templates["supplier-login.html"]);
    Fields fields = form_decode(request.body);
    auto account = supplier_accounts.find(field(fields, "userName").value_or(""));
    if (account == supplier_accounts.end() || account->second != field(fields, "password").value_or("")) {
      return html(templates["supplier-login-wrong.html"]);
    }
    std::string token = random_hex(32);
    supplier_sessions.insert(token);
    HttpAnswer a = html(templates["supplier-login-ok.txt"]);
    a.headers[0].second = "application/json;charset=UTF-8";
    a.headers.emplace_back("Set-Cookie", std::string(kSupplierCookie) + "=" + token + "; Path=/; HttpOnly");
    return a;
  }
  if (path == "/front/inter/dirList.htm") {
    if (expired || !supplier_sessions.count(cookie_value(request, kSupplierCookie))) {
      return html(templates["supplier-no-session.html"]);
    }
    return html(catalog_page);
  }
  return html(templates["backend-not-found.html"], 404);
}

std::string DemoShop::Impl::state_json() const {
  std::string out = "{\n  \"directories\": [";
  for (std::size_t i = 0; i < directories.size(); ++i) {
    const Directory& d = directories[i];
    out += std::string(i ? "," : "") + "\n    {\"id\": " + json_string(d.id) + ", \"name\": " + json_string(d.name) +
           ", \"name_hex\": " + hex_of(d.name) + ", \"parent_id\": " + json_string(d.parent_id) + "}";
  }
  out += "\n  ],\n  \"batch_saves\": [";
  for (std::size_t i = 0; i < batch_saves.size(); ++i) {
    const BatchSave& s = batch_saves[i];
    std::string ids;
    for (std::size_t k = 0; k < s.good_ids.size(); ++k) ids += (k ? ", " : "") + json_string(s.good_ids[k]);
    out += std::string(i ? "," : "") + "\n    {\"sign\": " + json_string(s.sign) + ", \"good_ids\": [" + ids +
           "], \"dir_id\": " + json_string(s.dir_id) + ", \"key_ok\": " + (s.key_ok ? "true" : "false") + "}";
  }
  out += "\n  ],\n  \"goods_docked\": {";
  bool first = true;
  for (const auto& [dir, ids] : docked) {
    std::string list;
    for (std::size_t k = 0; k < ids.size(); ++k) list += (k ? ", " : "") + json_string(ids[k]);
    out += std::string(first ? "" : ",") + "\n    " + json_string(dir) + ": [" + list + "]";
    first = false;
  }
  out += "\n  },\n  \"requests\": [";
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const ReceivedRequest& r = requests[i];
    out += std::string(i ? "," : "") + "\n    {\"side\": " + json_string(r.side) + ", \"method\": " +
           json_string(r.method) + ", \"target\": " + json_string(r.target) + ", \"path\": " + json_string(r.path) +
           ", \"header_text\": " + json_string(r.header_text) + ", \"body\": " + json_string(r.body) +
           ", \"body_hex\": " + hex_of(r.body) + "}";
  }
  out += "\n  ]\n}\n";
  return out;
}

// The data is read here rather than in start(), so that what a test sets
// before starting the shop is not overwritten.
DemoShop::DemoShop(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->load_data(impl_->load_error);
}

DemoShop::~DemoShop() { stop(); }

bool DemoShop::start() {
  Impl& s = *impl_;
  if (s.backend.running()) return true;
  if (!s.load_error.empty()) {
    std::fprintf(stderr, "demo shop: %s\n", s.load_error.c_str());
    return false;
  }
  // A port held bound but never listened on: connecting to it is refused,
  // and nothing else can take it while the shop runs.
  s.unreachable_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (s.unreachable_fd < 0 || ::bind(s.unreachable_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s.unreachable_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::fprintf(stderr, "demo shop: cannot reserve a closed loopback port\n");
    stop();
    return false;
  }
  s.unreachable_port = ntohs(address.sin_port);

  if (!s.backend.start(s.options.backend_port, [&s](const HttpRequestIn& r) { return s.handle(r, true); })) {
    std::fprintf(stderr, "demo shop: cannot listen on 127.0.0.1:%d\n", s.options.backend_port);
    stop();
    return false;
  }
  if (!s.supplier.start(s.options.supplier_port, [&s](const HttpRequestIn& r) { return s.handle(r, false); })) {
    std::fprintf(stderr, "demo shop: cannot listen on 127.0.0.1:%d\n", s.options.supplier_port);
    stop();
    return false;
  }
  return true;
}

void DemoShop::stop() {
  impl_->backend.stop();
  impl_->supplier.stop();
  if (impl_->unreachable_fd >= 0) {
    ::close(impl_->unreachable_fd);
    impl_->unreachable_fd = -1;
  }
}

int DemoShop::backend_port() const { return impl_->backend.port(); }
int DemoShop::supplier_port() const { return impl_->supplier.port(); }
std::string DemoShop::backend_root() const { return "http://127.0.0.1:" + std::to_string(backend_port()) + "/admin/"; }
std::string DemoShop::backend_entry_url() const { return backend_root() + "index.html"; }
std::string DemoShop::supplier_host() const { return "127.0.0.1:" + std::to_string(supplier_port()); }
std::string DemoShop::version_page_url() const {
  return "http://127.0.0.1:" + std::to_string(backend_port()) + "/updates/version.html";
}
std::string DemoShop::download_url() const {
  return "http://127.0.0.1:" + std::to_string(backend_port()) + "/updates/korvani-dock";
}
std::string DemoShop::unreachable_host() const { return "127.0.0.1:" + std::to_string(impl_->unreachable_port); }

std::string DemoShop::platform_id() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->platform_id("supplier");
}
std::string DemoShop::unreachable_platform_id() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->platform_id("unreachable");
}

void DemoShop::set_supplier_account(const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->supplier_accounts[user] = password;
}

std::vector<Directory> DemoShop::directories() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->directories;
}
std::vector<BatchSave> DemoShop::batch_saves() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->batch_saves;
}
std::vector<std::string> DemoShop::goods_docked(const std::string& dir_id) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->docked.find(dir_id);
  return it == impl_->docked.end() ? std::vector<std::string>{} : it->second;
}
std::vector<ReceivedRequest> DemoShop::requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return {impl_->requests.begin(), impl_->requests.end()};
}
void DemoShop::clear_requests() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requests.clear();
}
std::string DemoShop::state_json() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state_json();
}

void DemoShop::add_fault(const FaultRule& rule) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.push_back({rule, 0});
}
void DemoShop::clear_faults() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.clear();
}
void DemoShop::set_logged_out_style(LoggedOutStyle style) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->logged_out_style = style;
}
void DemoShop::expire_backend_sessions() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->backend_sessions.clear();
}
void DemoShop::expire_supplier_sessions() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->supplier_sessions.clear();
}
void DemoShop::set_catalog_page(const std::string& page_utf8) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->catalog_page = page_utf8;
}
std::string DemoShop::catalog_page() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->catalog_page;
}
void DemoShop::set_goods(const std::string& supplier_dir_id, const std::vector<Goods>& goods) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->goods[supplier_dir_id] = goods;
}
void DemoShop::set_goods_paging_broken(bool broken) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->goods_paging_broken = broken;
}
void DemoShop::set_version(const std::string& version) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.version = version;
  impl_->version_page.reset();
}
void DemoShop::set_version_page(const std::string& page_utf8) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->version_page = page_utf8;
}
void DemoShop::set_download(const std::string& bytes, bool gzip) {
  std::optional<std::string> packed;
  if (gzip) packed = gzip_bytes(bytes);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->download = bytes;
  impl_->download_gzipped = std::move(packed);
}
void DemoShop::add_directory(const std::string& name_utf8, const std::string& parent_id) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->directories.push_back({impl_->fresh_directory_id(), name_utf8, parent_id});
}
void DemoShop::remove_directory(const std::string& id) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto& dirs = impl_->directories;
  dirs.erase(std::remove_if(dirs.begin(), dirs.end(), [&](const Directory& d) { return d.id == id; }), dirs.end());
}

std::string generate_catalog_page(int main_count, int subs_each) {
  Templates templates;
  if (!templates.load(resolve_data_dir(""))) return {};
  return build_catalog_page(templates, generated_entries(main_count, subs_each));
}

}  // namespace demo_shop
