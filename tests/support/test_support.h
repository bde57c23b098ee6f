#pragma once
// Helpers the tests of every folder share.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace korvani::test {

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// Time that moves only when slept on.
class FakeClock final : public platform::Clock {
 public:
  std::int64_t now_ms() override { return now_; }
  void sleep_ms(int ms) override { now_ += ms; slept_ += ms; }
  std::int64_t slept() const { return slept_; }

 private:
  std::int64_t now_ = 1000;
  std::int64_t slept_ = 0;
};

// Bytes written as "%XX" escapes in fixtures, so files stay ASCII.
std::string unhex(const std::string& escaped);

// A test name made of the words of a case's note: letters and digits kept,
// everything else "_".
std::string identifier(std::string_view words);

// For INSTANTIATE_TEST_SUITE_P over a table whose rows have a `note`: the run
// then lists each case by its number and sentence instead of its bytes.
struct NamedAfterNote {
  template <class Info>
  std::string operator()(const Info& info) const {
    return std::to_string(info.index) + "_" + identifier(info.param.note);
  }
};

}  // namespace korvani::test
