// The catalog read without a window: the supplier's page fetched from the demo
// shop, decoded, turned into rows, the cache file written and the items made,
// for a catalog of 100,000 main directories (two sub-directories each, the
// shop's generated catalog) and for a page of about 50 MB.
//   Fetch       the request and percent_decode alone: the baseline
//   FetchRead   the same and the read of one "读取卡盟目录" press
// Memory figures, per iteration, with the process's high-water mark reset
// just before it (/proc/self/clear_refs):
//   page_MB       the page as served
//   rise_MB       peak resident memory above what the process held before
//   rise_per_page rise_MB / page_MB
// The demo shop runs in this process: it holds the page all along (not in the
// rise) and builds one answer of the page's size per request (in the rise).
// For the whole process, run one case under /usr/bin/time -v or heaptrack:
//   /usr/bin/time -v ./catalog_read_bench --benchmark_filter='FetchRead/100000'
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "app/program_state.h"
#include "demo_shop.h"
#include "supplier/catalog.h"
#include "supplier/supplier_login.h"
#include "web/web_request.h"

namespace {

using korvani::Text;

double status_mb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string(field).size())) / 1024.0;
  }
  return 0;
}

// Sets the high-water mark back to what is resident now; false where the
// kernel does not allow it (the figures are then peaks since start).
bool reset_peak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

// Arguments: main directories of the shop's generated catalog (two
// sub-directories each); 0 stands for the 50 MB page.
constexpr int kFiftyMegabytes = 0;
constexpr int kFiftyMegabyteMains = 130000;

struct Supplier {
  std::unique_ptr<demo_shop::DemoShop> shop;
  korvani::ProgramState state;
  std::size_t page_size = 0;
};

Supplier& supplier(int mains) {
  static std::map<int, std::unique_ptr<Supplier>> suppliers;
  auto& slot = suppliers[mains];
  if (!slot) {
    // One shop at a time, so that the others' pages do not count.
    suppliers.clear();
    auto& fresh = suppliers[mains];
    fresh = std::make_unique<Supplier>();
    fresh->shop = std::make_unique<demo_shop::DemoShop>();
    fresh->shop->start();
    fresh->shop->set_catalog_page(
        demo_shop::generate_catalog_page(mains == kFiftyMegabytes ? kFiftyMegabyteMains : mains, 2));
    fresh->page_size = fresh->shop->catalog_page().size();
    fresh->state.supplier_host = fresh->shop->supplier_host();
    korvani::web_request(korvani::supplier_login_url(fresh->state.supplier_host), 1,
                         korvani::supplier_login_body("demo", "demo123"));
    fresh->state.files_dir = (std::filesystem::temp_directory_path() / "korvani-catalog-read-bench").string();
    std::filesystem::create_directories(fresh->state.files_dir);
    return *fresh;
  }
  return *slot;
}

Text fetch(const Supplier& s) {
  const std::string url = "http://" + s.state.supplier_host + "/front/inter/dirList.htm";
  return korvani::percent_decode(
      korvani::web_request(url, 1, korvani::date_stamp_field(korvani::local_time_now()) + "&topValue="));
}

void measure(benchmark::State& bench, bool read) {
  Supplier& s = supplier(static_cast<int>(bench.range(0)));
  double rise = 0;
  std::size_t items = 0;
  bool peak_reset = true;
  for (auto _ : bench) {
    bench.PauseTiming();
    // Each press is a first press: a fresh table, an empty response log.
    std::filesystem::remove(std::filesystem::path(s.state.files_dir) / "返回.txt");
    s.state.catalog_text.clear();
    s.state.catalog_text.shrink_to_fit();
    peak_reset = reset_peak() && peak_reset;
    const double before = status_mb("VmRSS:");
    bench.ResumeTiming();
    {
      s.state.catalog_text = fetch(s);
      if (read) {
        korvani::CatalogTable table;
        items = korvani::read_catalog(s.state, table).items.size();
      }
    }
    bench.PauseTiming();
    rise = std::max(rise, status_mb("VmHWM:") - before);
    bench.ResumeTiming();
  }
  const double page_mb = static_cast<double>(s.page_size) / (1 << 20);
  bench.counters["page_MB"] = page_mb;
  bench.counters["items"] = static_cast<double>(items);
  bench.counters["rise_MB"] = rise;
  bench.counters["rise_per_page"] = rise / page_mb;
  bench.counters["peak_reset"] = peak_reset ? 1 : 0;
}

void Fetch(benchmark::State& bench) { measure(bench, false); }
void FetchRead(benchmark::State& bench) { measure(bench, true); }

BENCHMARK(Fetch)->Arg(100000)->Arg(kFiftyMegabytes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(FetchRead)->Arg(100000)->Arg(kFiftyMegabytes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
