// One press of "读取卡盟目录" over a random catalog page, in a directory of the
// run's own: the check list it fills is what the read-back pattern gives
// for the cache text, the cache file holds that text, and the response log
// holds the page.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "app/program_state.h"
#include "fuzz_support.h"
#include "supplier/catalog.h"
#include "text/regex_object.h"

namespace {

using namespace korvani;

// Made once and kept to the end; removed at exit. Kept behind a pointer
// that is never freed, so that the clean-up cannot outlive it.
const std::filesystem::path& run_dir() {
  static const std::filesystem::path* const dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvani-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    auto* path = new std::filesystem::path(pattern);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(run_dir(), ec);
    });
    return path;
  }();
  return *dir;
}

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& dir = run_dir();
  const auto cache_path = files_path(dir.string(), catalog_cache_file_name);
  const auto log_path = files_path(dir.string(), response_log_file_name);
  std::error_code ec;
  std::filesystem::remove(log_path, ec);  // the log only grows

  ProgramState state;
  state.files_dir = dir.string();
  const Text page(korvani_fuzz::bytes_of(data, size));
  state.catalog_text = page;
  CatalogTable table;
  const CatalogReadResult result = read_catalog(state, table);

  FUZZ_CHECK(result.log.empty());
  FUZZ_CHECK(state.catalog_text == cache_text(table));
  RegexObject regex;
  FUZZ_CHECK(result.items == read_back_items(regex, state.catalog_text));
  regex.destroy();
  FUZZ_CHECK(file_bytes(log_path) == page + "\r\n");
  if (table.size() == 0) {
    FUZZ_CHECK(!std::filesystem::exists(cache_path));
  } else {
    FUZZ_CHECK(file_bytes(cache_path) == state.catalog_text);
  }
  state.release();
  return 0;
}
