// The catalog window offscreen, over demo-shop catalogs of 10,000 and 100,000
// main directories (two sub-directories each):
//   ReadPress      one "读取卡盟目录" press on the fetched page, the list laid
//                  out and painted (compare 100,000 with 10,000 for growth)
//   RuleTick       one 时钟1 event with a main directory current; ..._Follow
//                  when its sub-directories change, ..._Steady when nothing does
//   SelectAll      one click on 选择框4
// peak_rss_MB is the process's high-water mark after the press (the demo shop
// runs in the same process and holds the page too).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "app/program_state.h"
#include "demo_shop.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_window.h"
#include "supplier/selection.h"
#include "web/web_request.h"

namespace {

using korvani::CatalogWindow;
using korvani::ProgramState;

double peak_rss_mb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

void settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// One shop and its fetched catalog page per size.
struct Catalog {
  std::unique_ptr<demo_shop::DemoShop> shop;
  ProgramState state;
  korvani::Text page;
};

Catalog& catalog(int directories) {
  static std::map<int, std::unique_ptr<Catalog>> catalogs;
  auto& slot = catalogs[directories];
  if (!slot) {
    slot = std::make_unique<Catalog>();
    demo_shop::Options options;
    options.generated_directories = directories;
    slot->shop = std::make_unique<demo_shop::DemoShop>(options);
    slot->shop->start();
    korvani::web_request(slot->shop->backend_root() + "login.html", 1, "username=admin&password=demo123");
    korvani::web_request("http://" + slot->shop->supplier_host() + "/frontLogin.htm", 1,
                         "loginTimes=1&userName=demo&password=demo123");
    slot->state.backend_root = slot->shop->backend_entry_url();
    slot->state.supplier_host = slot->shop->supplier_host();
    slot->state.supplier_id = slot->shop->platform_id();
    slot->state.files_dir = "/tmp/korvani-catalog-bench";
    std::filesystem::create_directories(slot->state.files_dir);
    // The creation steps fetch the page once; the presses below reuse it.
    CatalogWindow* window = CatalogWindow::open(slot->state);
    slot->page = slot->state.catalog_text;
    delete window;
  }
  return *slot;
}

// A shown window whose list holds the catalog read once.
CatalogWindow* filled_window(int directories) {
  static std::map<int, CatalogWindow*> windows;
  CatalogWindow*& window = windows[directories];
  if (!window) {
    Catalog& c = catalog(directories);
    c.state.catalog_text = c.page;
    window = new CatalogWindow(c.state);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    window->read_catalog();
    settle();
  }
  return window;
}

void ReadPress(benchmark::State& bench) {
  const int directories = static_cast<int>(bench.range(0));
  Catalog& c = catalog(directories);
  int items = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    // Each press is a first press: a fresh table, an empty response log.
    std::filesystem::remove(std::filesystem::path(c.state.files_dir) / "返回.txt");
    c.state.catalog_text = c.page;
    auto window = std::make_unique<CatalogWindow>(c.state);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    settle();
    bench.ResumeTiming();

    window->findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
    settle();
    window->repaint();

    bench.PauseTiming();
    items = window->list_model()->count();
    window.reset();
    settle();
    bench.ResumeTiming();
  }
  bench.counters["items"] = items;
  bench.counters["page_MB"] = static_cast<double>(c.page.size()) / (1 << 20);
  bench.counters["peak_rss_MB"] = peak_rss_mb();
}

void tick(benchmark::State& bench, bool follow) {
  CatalogWindow* window = filled_window(static_cast<int>(bench.range(0)));
  korvani::CatalogListModel* model = window->list_model();
  // A main directory in the middle of the list is the current item.
  int current = model->count() / 2;
  while (current < model->count() && korvani::item_main_id(model->text(current)).empty()) ++current;
  window->list_box()->setCurrentIndex(model->index(current));
  bool ticked = false;
  for (auto _ : bench) {
    if (follow) {
      ticked = !ticked;
      model->set_ticked(current, ticked);
    }
    window->apply_parent_rule();
    settle();
  }
  bench.counters["items"] = model->count();
}

void RuleTick_Follow(benchmark::State& bench) { tick(bench, true); }
void RuleTick_Steady(benchmark::State& bench) { tick(bench, false); }

void SelectAll(benchmark::State& bench) {
  CatalogWindow* window = filled_window(static_cast<int>(bench.range(0)));
  auto* box = window->findChild<QCheckBox*>(QStringLiteral("选择框4"));
  for (auto _ : bench) {
    box->click();
    settle();
  }
  bench.counters["items"] = window->list_model()->count();
}

BENCHMARK(ReadPress)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RuleTick_Follow)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(RuleTick_Steady)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(SelectAll)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
