// Cloning runs against the demo shop on loopback. The directory page grows
// with every directory made, so the time per directory at 1,000 directories
// against 100 shows whether a run grows faster than its requests. Beside it,
// the same requests made with bare web_request calls, which a run cannot beat.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "demo_shop.h"
#include "docking/docking.h"
#include "platform/http.h"
#include "web/web_request.h"

namespace {

using korvani::Text;

class QuietView : public korvani::CatalogView {
 public:
  std::vector<Text> items;
  int lines = 0;
  int item_count() override { return static_cast<int>(items.size()); }
  bool item_ticked(int) override { return true; }
  Text item_text(int index) override { return items[static_cast<std::size_t>(index)]; }
  void append_log(const Text&) override { ++lines; }
  void set_button_enabled(bool) override {}
  void set_timer_interval(int) override {}
  void show_box(const Text&, const Text&) override {}
  void keep_docking_texts(const korvani::ProgramState&) override {}
  void wait_ms(int) override {}
  bool closed() override { return false; }
};

struct Shop {
  demo_shop::DemoShop shop;
  korvani::ProgramState state;
  bool ok = false;
  Shop() {
    korvani::platform::cookie_jar_clear();
    ok = shop.start();
    korvani::web_request(shop.backend_root() + "login.html", 1, "username=admin&password=demo123");
    state.backend_root = shop.backend_root();
    state.supplier_id = shop.platform_id();
  }
};

// The same names in both, so that the shop serves the same pages.
Text main_name(int i) { return korvani::utf8_to_ansi("目录" + std::to_string(100000 + i)); }
Text main_item(int i) {
  return korvani::utf8_to_ansi("主目录ID:" + std::to_string(100000 + i) + "----主目录名称:") + main_name(i) + "----";
}

// The client's own work (this thread's CPU time), which the load of a shared
// machine disturbs far less than the wall clock.
double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::map<std::string, double> g_seconds_per_directory;

void record(benchmark::State& state, const std::string& name, double seconds, double cpu_seconds,
            int directories) {
  const double per_dir = seconds / directories;
  g_seconds_per_directory[name + "/" + std::to_string(directories)] = per_dir;
  g_seconds_per_directory["cpu " + name + "/" + std::to_string(directories)] = cpu_seconds / directories;
  state.counters["ms_per_dir"] = per_dir * 1e3;
  state.counters["client_cpu_us_per_request"] = cpu_seconds / (2.0 * directories) * 1e6;
  state.counters["requests_per_s"] = 2.0 * directories / seconds;
}

void BM_CloneMainDirectories(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto shop = std::make_unique<Shop>();
    if (!shop->ok) {
      state.SkipWithError("demo shop did not start");
      return;
    }
    QuietView view;
    for (int i = 0; i < n; ++i) view.items.push_back(main_item(i));
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_seconds();
    korvani::clone_directories(view, shop->state);
    cpu += thread_cpu_seconds() - cpu_start;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    // Two lines a directory and the run's summary.
    if (view.lines != 2 * n + 1) state.SkipWithError("not every directory was logged");
    shop.reset();
    state.ResumeTiming();
  }
  const auto runs = static_cast<double>(state.iterations());
  record(state, "run", seconds / runs, cpu / runs, n);
}
BENCHMARK(BM_CloneMainDirectories)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A directory of its own for the journal and the run's record.
struct FilesDir {
  std::filesystem::path path;
  FilesDir() {
    char pattern[] = "/tmp/korvani-bench-XXXXXX";
    if (const char* made = mkdtemp(pattern)) path = made;
  }
  ~FilesDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

// The same run writing its journal (one line forced to disk per
// directory), and then a second run over the same ticks, which finds every
// directory in the journal and in the back end and saves none.
void BM_CloneWithJournalThenRerun(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double first = 0, rerun = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto shop = std::make_unique<Shop>();
    FilesDir files;
    if (!shop->ok || files.path.empty()) {
      state.SkipWithError("demo shop or temporary directory not there");
      return;
    }
    shop->state.files_dir = files.path.string();
    QuietView view;
    for (int i = 0; i < n; ++i) view.items.push_back(main_item(i));
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    korvani::clone_directories(view, shop->state);
    first += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    const std::size_t made = shop->shop.directories().size();
    state.ResumeTiming();
    QuietView again;
    again.items = view.items;
    start = std::chrono::steady_clock::now();
    korvani::clone_directories(again, shop->state);
    rerun += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    if (shop->shop.directories().size() != made) state.SkipWithError("the rerun made directories again");
    shop.reset();
    state.ResumeTiming();
  }
  const auto runs = static_cast<double>(state.iterations());
  g_seconds_per_directory["journal/" + std::to_string(n)] = first / runs / n;
  g_seconds_per_directory["rerun/" + std::to_string(n)] = rerun / runs / n;
  state.counters["ms_per_dir"] = first / runs / n * 1e3;
  state.counters["rerun_ms_per_dir"] = rerun / runs / n * 1e3;
}
BENCHMARK(BM_CloneWithJournalThenRerun)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The requests of the same run, without decoding, searching or logging.
void BM_BareRequests(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto shop = std::make_unique<Shop>();
    if (!shop->ok) {
      state.SkipWithError("demo shop did not start");
      return;
    }
    const std::string save = shop->state.backend_root + "directory/saveDirectory.html";
    const std::string page = shop->state.backend_root + "directory/initadd.html";
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_seconds();
    for (int i = 0; i < n; ++i) {
      benchmark::DoNotOptimize(korvani::web_request(
          save, 1,
          "titleStyle=&title=" + korvani::ansi_to_utf8(main_name(i)) +
              "&isHot=0&parentId=0&state=1&ispub=1&istojoin=1&introduction="));
      benchmark::DoNotOptimize(korvani::web_request(page, 1));
    }
    cpu += thread_cpu_seconds() - cpu_start;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    shop.reset();
    state.ResumeTiming();
  }
  const auto runs = static_cast<double>(state.iterations());
  record(state, "bare", seconds / runs, cpu / runs, n);
}
BENCHMARK(BM_BareRequests)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// One small round trip, for scale.
void BM_BareRoundTrip(benchmark::State& state) {
  Shop shop;
  if (!shop.ok) {
    state.SkipWithError("demo shop did not start");
    return;
  }
  const std::string url = shop.state.backend_root + "directory/initadd.html";
  for (auto _ : state) benchmark::DoNotOptimize(korvani::web_request(url, 1));
}
BENCHMARK(BM_BareRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto figure = [](const char* key) {
    auto it = g_seconds_per_directory.find(key);
    return it == g_seconds_per_directory.end() ? 0.0 : it->second;
  };
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf("run of 1000 main directories: %.2f s\n", figure("run/1000") * 1000);
  std::printf("time per directory, 1000 against 100: run %.2fx, bare requests %.2fx\n",
              ratio(figure("run/1000"), figure("run/100")), ratio(figure("bare/1000"), figure("bare/100")));
  std::printf("run against its bare requests: %.2fx at 100, %.2fx at 1000\n",
              ratio(figure("run/100"), figure("bare/100")), ratio(figure("run/1000"), figure("bare/1000")));
  std::printf("with the journal against without: %.2fx at 100, %.2fx at 1000\n",
              ratio(figure("journal/100"), figure("run/100")), ratio(figure("journal/1000"), figure("run/1000")));
  std::printf("rerun that skips every directory, per directory: %.3f ms at 100, %.3f ms at 1000\n",
              figure("rerun/100") * 1e3, figure("rerun/1000") * 1e3);
  std::printf("client CPU, run against its bare requests: %.2fx at 100, %.2fx at 1000\n",
              ratio(figure("cpu run/100"), figure("cpu bare/100")),
              ratio(figure("cpu run/1000"), figure("cpu bare/1000")));
  return 0;
}
