// Round trips a second of web_request against the demo shop on loopback,
// beside a bare libcurl keep-alive loop (one easy handle set up once, the
// same request bytes, the cookie line written by hand) against the same
// server and page in the same run. Printed, never asserted.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "demo_shop.h"
#include "platform/http.h"
#include "web/web_request.h"

namespace {

demo_shop::DemoShop* shop = nullptr;
std::string page_url;
const std::string form = "userName=nobody&password=wrong";
// Round trips and seconds of every run of each benchmark, repetitions
// included, so that the ratio is taken over all of them.
std::map<std::string, std::pair<double, double>> totals;

class Rate {
 public:
  explicit Rate(const char* name) : name_(name), start_(std::chrono::steady_clock::now()) {}
  void done(benchmark::State& state) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    totals[name_].first += static_cast<double>(state.iterations());
    totals[name_].second += seconds;
    state.SetItemsProcessed(state.iterations());
  }

 private:
  const char* name_;
  std::chrono::steady_clock::time_point start_;
};

size_t discard(char*, size_t size, size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(size * count, '\0');
  return size * count;
}

void BM_bare_libcurl_keep_alive(benchmark::State& state) {
  CURL* easy = curl_easy_init();
  std::string sink;
  struct curl_slist* headers = nullptr;
  for (const char* line : {"Cookie: FRONTSID=fedcba9876543210", "Accept: */*", "Accept-Language: zh-cn",
                           "Content-Type: application/x-www-form-urlencoded", "Expect:"}) {
    headers = curl_slist_append(headers, line);
  }
  headers = curl_slist_append(headers, ("Referer: " + page_url).c_str());
  curl_easy_setopt(easy, CURLOPT_URL, page_url.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, std::string(korvani::default_user_agent).c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  Rate rate("bare");
  for (auto _ : state) {
    sink.clear();
    if (curl_easy_perform(easy) != CURLE_OK || sink.empty()) state.SkipWithError("bare request failed");
  }
  rate.done(state);
  curl_easy_cleanup(easy);
  curl_slist_free_all(headers);
}
BENCHMARK(BM_bare_libcurl_keep_alive)->UseRealTime();

void BM_web_request(benchmark::State& state) {
  Rate rate("web_request");
  for (auto _ : state) {
    auto answer = korvani::web_request(page_url, 1, form);
    if (answer.empty()) state.SkipWithError("web_request failed");
    benchmark::DoNotOptimize(answer);
  }
  rate.done(state);
}
BENCHMARK(BM_web_request)->UseRealTime();

// With the browser's copy of the jar watching, as while the main window is open.
void BM_web_request_watched(benchmark::State& state) {
  int handle = korvani::platform::cookie_jar_watch([](const korvani::platform::Cookie&) {});
  Rate rate("web_request watched");
  for (auto _ : state) {
    auto answer = korvani::web_request(page_url, 1, form);
    if (answer.empty()) state.SkipWithError("web_request failed");
    benchmark::DoNotOptimize(answer);
  }
  rate.done(state);
  korvani::platform::cookie_jar_unwatch(handle);
}
BENCHMARK(BM_web_request_watched)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  demo_shop::Options options;
  options.max_recorded_requests = 1;
  demo_shop::DemoShop server(options);
  if (!server.start()) {
    std::fprintf(stderr, "the demo shop did not start\n");
    return 1;
  }
  shop = &server;
  page_url = "http://" + server.supplier_host() + "/frontLogin.htm";
  // A few cookies in the jar, as after the two log-ins.
  korvani::platform::cookie_jar_put({"KSESSIONID", "0123456789abcdef", "127.0.0.1", "/admin/", false, true});
  korvani::platform::cookie_jar_put({"FRONTSID", "fedcba9876543210", "127.0.0.1", "/", false, true});

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  auto rate = [](const std::pair<double, double>& t) { return t.second > 0 ? t.first / t.second : 0.0; };
  if (totals.count("bare") && rate(totals["bare"]) > 0) {
    const double bare = rate(totals["bare"]);
    for (const auto& [name, t] : totals) {
      std::printf("%-22s %9.0f round trips/s  %.2f of bare libcurl\n", name.c_str(), rate(t), rate(t) / bare);
    }
  }
  server.stop();
  return 0;
}
