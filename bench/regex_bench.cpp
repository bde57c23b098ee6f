// RegexObject with the catalog page pattern over a catalog of 100,000
// directories, beside bare PCRE2 JIT on the same UTF-8 bytes.
//
// Figures are printed, never asserted. The goal: the RegexObject search,
// conversions included, within 2.5x of the bare engine.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "text/regex_object.h"

namespace {

constexpr int kDirectories = 100000;  // main directories and their sub-directories together
constexpr int kSubsPerMain = 2;

const char kCatalogPattern[] =
    "<div  name=\"parentName\" id=\"parentId_(.*?)\" class=\"catalog-list\">\r\n\t\t\t\t"
    "<h3><font color=\".*?\" title=\"\">(.*?)</font>|id=\"(.*?)\">([^?].*?)</a>";

// The supplier's catalog page as it arrives, in UTF-8: per main directory a
// div with its heading, then its sub-directory links.
std::string catalog_page_utf8() {
  std::string page = "<!DOCTYPE html>\r\n<html>\r\n<head><meta charset=\"utf-8\"><title>目录列表</title></head>\r\n<body>\r\n";
  int id = 10000000;
  for (int made = 0; made < kDirectories;) {
    const std::string main_id = std::to_string(id++);
    page += "<div  name=\"parentName\" id=\"parentId_" + main_id + "\" class=\"catalog-list\">\r\n";
    page += "\t\t\t\t<h3><font color=\"#FF6600\" title=\"\">游戏点卡" + main_id + "</font></h3>\r\n\t\t\t\t<ul>\r\n";
    ++made;
    for (int s = 0; s < kSubsPerMain && made < kDirectories; ++s, ++made) {
      const std::string sub_id = std::to_string(id++);
      page += "\t\t\t\t\t<li><a href=\"#\" id=\"" + sub_id + "\">腾讯Q币" + sub_id + "</a></li>\r\n";
    }
    page += "\t\t\t\t</ul>\r\n</div>\r\n";
  }
  page += "</body>\r\n</html>\r\n";
  return page;
}

const std::string& page_utf8() {
  static const std::string page = catalog_page_utf8();
  return page;
}

const korvani::Text& page_codepage() {
  static const korvani::Text page = korvani::platform::utf8_to_codepage(page_utf8());
  return page;
}

double g_bare_ms = 0;
double g_create_ms = 0;
double g_read_all_ms = 0;

double elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// Compile with JIT and walk every match, the way any careful caller would.
void BM_BarePcre2Jit(benchmark::State& state) {
  const std::string& subject = page_utf8();
  int matches = 0;
  double total = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    int error = 0;
    PCRE2_SIZE error_offset = 0;
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_LF);
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kCatalogPattern), PCRE2_ZERO_TERMINATED,
                                     PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE, &error, &error_offset, cc);
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    matches = 0;
    PCRE2_SIZE start = 0;
    std::uint32_t options = 0;
    while (pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start, options, md,
                       nullptr) >= 0) {
      options = PCRE2_NO_UTF_CHECK;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
      ++matches;
      start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    pcre2_match_data_free(md);
    pcre2_code_free(code);
    pcre2_compile_context_free(cc);
    total += elapsed_ms(t0);
  }
  g_bare_ms = total / static_cast<double>(state.iterations());
  state.counters["matches"] = matches;
  state.counters["MB"] = static_cast<double>(subject.size()) / 1e6;
}

// Code page in, search, collection kept.
void BM_RegexObjectCreate(benchmark::State& state) {
  const korvani::Text& text = page_codepage();
  int matches = 0;
  double total = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    korvani::RegexObject re;
    re.create(kCatalogPattern, text);
    matches = re.match_count();
    total += elapsed_ms(t0);
  }
  g_create_ms = total / static_cast<double>(state.iterations());
  state.counters["matches"] = matches;
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

// As the catalog reader uses it: the search, then groups 1 to 4 of every
// match back in the code page.
void BM_RegexObjectCreateAndReadAll(benchmark::State& state) {
  const korvani::Text& text = page_codepage();
  std::size_t bytes = 0;
  double total = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    korvani::RegexObject re;
    re.create(kCatalogPattern, text);
    bytes = 0;
    for (int i = 1, n = re.match_count(); i <= n; ++i) {
      for (int j = 1; j <= 4; ++j) bytes += re.submatch(i, j).size();
    }
    benchmark::DoNotOptimize(bytes);
    total += elapsed_ms(t0);
  }
  g_read_all_ms = total / static_cast<double>(state.iterations());
  state.counters["group_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_BarePcre2Jit)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RegexObjectCreate)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RegexObjectCreateAndReadAll)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_bare_ms > 0) {
    std::printf("catalog page %.1f MB (UTF-8), %d directories\n", static_cast<double>(page_utf8().size()) / 1e6,
                kDirectories);
    std::printf("bare PCRE2 JIT              %8.1f ms\n", g_bare_ms);
    if (g_create_ms > 0)
      std::printf("RegexObject create          %8.1f ms  (%.2fx bare; goal 2.5x)\n", g_create_ms, g_create_ms / g_bare_ms);
    if (g_read_all_ms > 0)
      std::printf("RegexObject + read 4 groups %8.1f ms  (%.2fx bare)\n", g_read_all_ms, g_read_all_ms / g_bare_ms);
  }
  return 0;
}
