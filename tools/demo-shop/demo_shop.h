#pragma once
// A simulated shop back end and supplier front end on 127.0.0.1, for users to
// try the tool on and for tests to run against in-process. Two listeners: the
// back end under /admin/ on one port (with the update channel under /updates/
// and the shop's own state as JSON at /demo/state), the supplier front end on
// another. Pages are UTF-8; templates, catalogs and goods come from data files.
//
// Faults: status_500, drop and expired_session answer before the request does
// anything (nothing is created or recorded as docked); delay, stall and
// truncated act on the answer of a request that has taken effect.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace demo_shop {

struct ReceivedRequest {
  std::string side;          // "backend", "supplier" or "updates"
  std::string method;
  std::string target;        // path with query, as on the request line
  std::string path;          // without query
  std::string header_text;   // every header line as received, each ended by "\r\n"
  std::string body;          // raw bytes
};

struct Directory {
  std::string id;            // 8 characters for those the shop creates
  std::string name;          // bytes as received (UTF-8), form-decoded
  std::string parent_id;     // "0" at the top level
};

struct BatchSave {
  std::string sign;
  std::vector<std::string> good_ids;
  std::string dir_id;
  bool key_ok = false;
};

struct Goods {
  std::string id;
  std::string name;
};

enum class Fault {
  none,
  delay,            // answer after delay_ms
  status_500,       // an error page with status 500
  drop,             // close the connection without an answer
  stall,            // send the head and part of the body, then nothing for stall_ms
  expired_session,  // answer as if the back-end session had expired
  truncated,        // send only the first half of the page
};

struct FaultRule {
  std::string path_suffix;   // the fault applies to request paths ending in this
  Fault fault = Fault::none;
  int delay_ms = 0;
  int stall_ms = 0;
  int skip = 0;              // let this many matching requests through first
  int times = -1;            // then fault this many (-1: every one after)
};

// How main.html answers without a session.
enum class LoggedOutStyle { redirect, login_form, script_redirect };

struct Options {
  std::string data_dir;        // empty: the source tree's data folder (or $KORVANI_DEMO_SHOP_DATA)
  std::string catalog = "catalog-default.txt";  // supplier catalog data file
  int generated_directories = 0;  // > 0: a generated catalog of this many main directories
  int generated_subs_each = 2;    // sub-directories of each generated main directory
  int backend_port = 0;        // 0: any free port
  int supplier_port = 0;
  std::string version = "1.13";   // version named by the version page
  // The oldest recorded requests are dropped beyond this many, so that a long
  // benchmark run does not grow without bound.
  std::size_t max_recorded_requests = 200000;
};

class DemoShop {
 public:
  explicit DemoShop(Options options = {});
  ~DemoShop();
  DemoShop(const DemoShop&) = delete;
  DemoShop& operator=(const DemoShop&) = delete;

  bool start();   // false when a port could not be bound or the data is missing
  void stop();

  int backend_port() const;
  int supplier_port() const;
  std::string backend_entry_url() const;   // http://127.0.0.1:P/admin/index.html
  std::string backend_root() const;        // http://127.0.0.1:P/admin/
  std::string supplier_host() const;       // 127.0.0.1:Q
  std::string version_page_url() const;    // on the back-end port, /updates/version.html
  std::string download_url() const;        // /updates/korvani-dock

  // Demo accounts.
  static constexpr const char* backend_user = "admin";
  static constexpr const char* backend_password = "demo123";
  static constexpr const char* supplier_user = "demo";
  static constexpr const char* supplier_password = "demo123";
  std::string platform_id() const;         // the back end's ID of the demo supplier
  std::string unreachable_host() const;    // 127.0.0.1:R, a port held closed while the shop runs
  std::string unreachable_platform_id() const;
  // Adds an account to the supplier front end, or changes its password.
  void set_supplier_account(const std::string& user, const std::string& password);

  // What the shop now holds and what it was sent.
  std::vector<Directory> directories() const;
  std::vector<BatchSave> batch_saves() const;
  std::vector<std::string> goods_docked(const std::string& dir_id) const;
  std::vector<ReceivedRequest> requests() const;
  void clear_requests();
  std::string state_json() const;          // the same as JSON (GET /demo/state on the back end)

  // Switches.
  void add_fault(const FaultRule& rule);
  void clear_faults();
  void set_logged_out_style(LoggedOutStyle style);
  void expire_backend_sessions();
  void expire_supplier_sessions();
  void set_catalog_page(const std::string& page_utf8);  // replaces the supplier's catalog page
  std::string catalog_page() const;
  void set_goods(const std::string& supplier_dir_id, const std::vector<Goods>& goods);
  // The goods query pages its answer (nowPage, everyPage, 20 to a page by
  // default). Broken, it answers page 1 whatever page is asked for, as some
  // back ends do: a client that pages until no new goods come must stop.
  void set_goods_paging_broken(bool broken);
  void set_version(const std::string& version);
  void set_version_page(const std::string& page_utf8);   // replaces the whole page
  void set_download(const std::string& bytes, bool gzip = false);
  void add_directory(const std::string& name_utf8, const std::string& parent_id = "0");  // as if made by hand
  void remove_directory(const std::string& id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A catalog page of `main_count` main directories with `subs_each` sub-directories
// each, in the shape the supplier front end serves.
std::string generate_catalog_page(int main_count, int subs_each = 2);

}  // namespace demo_shop
