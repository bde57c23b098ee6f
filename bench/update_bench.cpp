// The update download on loopback: download_file writing 10,240-byte pieces
// to a file and working out the progress figures after every piece, beside
// a bare http_perform of the same body into memory. Both plain and
// gzip-encoded. Printed, never asserted.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "demo_shop.h"
#include "platform/http.h"
#include "update/download.h"
#include "update/progress.h"

namespace {

constexpr std::size_t kBodyBytes = 20 * 1024 * 1024;

demo_shop::DemoShop* shop = nullptr;
std::string target;

std::string body_bytes() {
  // Half random, half runs: roughly what an executable gives gzip.
  std::mt19937 random(11);
  std::string bytes(kBodyBytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = (i / 4096) % 2 ? static_cast<char>(random() & 0xff) : static_cast<char>(i / 4096);
  }
  return bytes;
}

void use_body(bool gzip) {
  static int current = -1;
  if (current == static_cast<int>(gzip)) return;
  shop->set_download(body_bytes(), gzip);
  current = gzip;
}

void BM_download_file(benchmark::State& state) {
  use_body(state.range(0) != 0);
  std::int64_t pieces = 0;
  for (auto _ : state) {
    korvani::Text last;
    const auto outcome = korvani::download_file(
        shop->download_url(), target,
        [&](std::int64_t total, std::int64_t received, std::int64_t elapsed, std::int64_t this_run) {
          last = korvani::download_progress(total, received, elapsed, this_run).speed;
          ++pieces;
        });
    if (!outcome.ok()) state.SkipWithError("download failed");
    benchmark::DoNotOptimize(last);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBodyBytes));
  state.counters["pieces"] = benchmark::Counter(static_cast<double>(pieces) / static_cast<double>(state.iterations()));
}

void BM_bare_http_perform(benchmark::State& state) {
  use_body(state.range(0) != 0);
  for (auto _ : state) {
    korvani::platform::HttpRequest request;
    request.method = "GET";
    request.url = shop->download_url();
    request.decode_content = true;
    const auto response = korvani::platform::http_perform(request);
    if (response.body.size() != kBodyBytes) state.SkipWithError("short body");
    benchmark::DoNotOptimize(response.body.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBodyBytes));
}

BENCHMARK(BM_download_file)->Arg(0)->Arg(1)->ArgName("gzip")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bare_http_perform)->Arg(0)->Arg(1)->ArgName("gzip")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  demo_shop::DemoShop demo;
  if (!demo.start()) {
    std::fprintf(stderr, "the demo shop could not start\n");
    return 1;
  }
  shop = &demo;
  target = (std::filesystem::temp_directory_path() / ("korvani-update-bench-" + std::to_string(getpid()))).string();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(target);
  return 0;
}
