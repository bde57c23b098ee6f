// Conversion and decoding throughput over a 10 MB catalog-like page.
// Compare PercentDecode with BareIconv (one iconv call over the same bytes)
// and Utf8ToCodepage; the figures and the ratio are printed, not judged here
// (goal: percent_decode within 1.5x of the bare converter).
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "text/text.h"

namespace {

// Rows of markup with Chinese names, some of them percent-coded as pages
// carry them, and a percentage sign now and then.
std::string make_page(size_t size) {
  static const char* const kNames[] = {
      "\xE6\xB8\xB8\xE6\x88\x8F\xE7\x82\xB9\xE5\x8D\xA1",  // 游戏点卡
      "\xE8\xAF\x9D\xE8\xB4\xB9\xE5\x85\x85\xE5\x80\xBC",  // 话费充值
      "QQ\xE4\xBC\x9A\xE5\x91\x98",                        // QQ会员
      "\xF0\x9F\x8E\xAE Steam",                            // an emoji
  };
  std::string page = "<html><head><meta charset=\"utf-8\"></head><body><table>\r\n";
  for (int i = 0; page.size() < size; ++i) {
    const std::string id = std::to_string(100000 + i);
    page += "\t<tr><td><input type=\"checkbox\" value=\"" + id + "\" /></td><td><a href=\"dirList.htm?id=" + id +
            "\">" + kNames[i % 4] + " " + id + "</a></td>";
    if (i % 3 == 0) page += "<td>%E4%B8%AD%E6%96%87%20" + id + "</td>";
    if (i % 7 == 0) page += "<td>100%\xE6\x8A\x98\xE6\x89\xA3</td>";  // 100%折扣
    page += "</tr>\r\n";
  }
  page += "</table></body></html>\r\n";
  return page;
}

// Mean milliseconds per pass, kept for the closing summary.
double g_bare_iconv_ms = 0;
double g_percent_decode_ms = 0;

double ms_per_pass(std::chrono::steady_clock::time_point since, const benchmark::State& state) {
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
  return state.iterations() > 0 ? ms / static_cast<double>(state.iterations()) : 0;
}

const std::string& page() {
  static const std::string p = make_page(10 << 20);
  return p;
}

// Running Chinese text with short ASCII between: the converter's worst case,
// where almost nothing can be copied past iconv.
const std::string& dense_page() {
  static const std::string p = [] {
    std::string t;
    while (t.size() < (10u << 20)) t += "\xE4\xB8\xAD\xE6\x96\x87\xE7\x9B\xAE\xE5\xBD\x95 12, \xE6\xB8\xB8\xE6\x88\x8F\r\n";
    return t;
  }();
  return p;
}

const std::string& page_in_codepage() {
  static const std::string p = korvani::platform::utf8_to_codepage(page());
  return p;
}

double bare_iconv(benchmark::State& state, const std::string& in) {
  std::string out(in.size() * 2, '\0');
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    // The page is well formed, so one call converts it whole.
    benchmark::DoNotOptimize(iconv(cd, &src, &src_left, &dst, &dst_left));
    benchmark::ClobberMemory();
  }
  const double ms = ms_per_pass(t0, state);
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  return ms;
}

void to_codepage(benchmark::State& state, const std::string& in) {
  for (auto _ : state) benchmark::DoNotOptimize(korvani::platform::utf8_to_codepage(in));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_BareIconv(benchmark::State& state) { g_bare_iconv_ms = bare_iconv(state, page()); }
BENCHMARK(BM_BareIconv)->Unit(benchmark::kMillisecond);

void BM_Utf8ToCodepage(benchmark::State& state) { to_codepage(state, page()); }
BENCHMARK(BM_Utf8ToCodepage)->Unit(benchmark::kMillisecond);

void BM_BareIconvDenseChinese(benchmark::State& state) { bare_iconv(state, dense_page()); }
BENCHMARK(BM_BareIconvDenseChinese)->Unit(benchmark::kMillisecond);

void BM_Utf8ToCodepageDenseChinese(benchmark::State& state) { to_codepage(state, dense_page()); }
BENCHMARK(BM_Utf8ToCodepageDenseChinese)->Unit(benchmark::kMillisecond);

void BM_PercentDecode(benchmark::State& state) {
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(korvani::percent_decode(page()));
  g_percent_decode_ms = ms_per_pass(t0, state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page().size()));
}
BENCHMARK(BM_PercentDecode)->Unit(benchmark::kMillisecond);

void BM_CodepageToUtf8(benchmark::State& state) {
  const std::string& in = page_in_codepage();
  for (auto _ : state) benchmark::DoNotOptimize(korvani::platform::codepage_to_utf8(in));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_CodepageToUtf8)->Unit(benchmark::kMillisecond);

// The reverse search of directory cloning over a whole decoded page.
void BM_TextFindLast(benchmark::State& state) {
  const std::string& in = page_in_codepage();
  for (auto _ : state) benchmark::DoNotOptimize(korvani::text_find_last(in, "\" /></td><td>"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_TextFindLast)->Unit(benchmark::kMillisecond);

void BM_TextReplaceIgnoringCase(benchmark::State& state) {
  const std::string& in = page_in_codepage();
  for (auto _ : state) benchmark::DoNotOptimize(korvani::text_replace(in, "DIRLIST.HTM", "main.html"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_TextReplaceIgnoringCase)->Unit(benchmark::kMillisecond);

// A short name, as directory names are converted one by one: the cost of
// a converter kept per thread against one opened for every call.
const std::string kShortName = "\xE6\xB8\xB8\xE6\x88\x8F\xE7\x82\xB9\xE5\x8D\xA1 QQ";

void BM_ShortTextConverterPerThread(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(korvani::platform::utf8_to_codepage(kShortName));
}
BENCHMARK(BM_ShortTextConverterPerThread);

void BM_ShortTextConverterPerCall(benchmark::State& state) {
  std::string out(64, '\0');
  for (auto _ : state) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    char* src = const_cast<char*>(kShortName.data());
    size_t src_left = kShortName.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    benchmark::DoNotOptimize(iconv(cd, &src, &src_left, &dst, &dst_left));
    iconv_close(cd);
  }
}
BENCHMARK(BM_ShortTextConverterPerCall);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_bare_iconv_ms > 0 && g_percent_decode_ms > 0) {
    const double mb = static_cast<double>(page().size()) / 1e6;
    std::printf("page %.1f MB\n", mb);
    std::printf("bare iconv      %8.1f ms  %7.0f MB/s\n", g_bare_iconv_ms, mb / g_bare_iconv_ms * 1000);
    std::printf("percent_decode  %8.1f ms  %7.0f MB/s  (%.2fx bare; goal 1.5x)\n", g_percent_decode_ms,
                mb / g_percent_decode_ms * 1000, g_percent_decode_ms / g_bare_iconv_ms);
  }
  return 0;
}
