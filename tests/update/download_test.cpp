#include "update/download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "demo_shop.h"
#include "support/test_support.h"

namespace korvani {
namespace {

namespace fs = std::filesystem;
using demo_shop::Fault;

Text cp(const std::string& utf8) { return utf8_to_ansi(utf8); }

std::string random_bytes(std::size_t size, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

struct Call {
  std::int64_t total, received, elapsed, this_run;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shop.start()); }

  demo_shop::ReceivedRequest last_download_request() const {
    demo_shop::ReceivedRequest found;
    for (const auto& r : shop.requests()) {
      if (r.path == "/updates/korvani-dock") found = r;
    }
    return found;
  }

  DownloadOutcome fetch(std::optional<std::int64_t> offset = std::nullopt, StopSignal* stop = nullptr) {
    calls.clear();
    return download_file(shop.download_url(), target.string(),
                         [&](std::int64_t t, std::int64_t r, std::int64_t e, std::int64_t n) {
                           calls.push_back({t, r, e, n});
                         },
                         offset, stop);
  }

  demo_shop::DemoShop shop;
  test::TempDir dir;
  fs::path target = dir.path() / "update.exe.tmp";
  std::vector<Call> calls;
};

TEST_F(DownloadTest, SendsTheHeaderTextExactly) {
  shop.set_download("x");
  ASSERT_TRUE(fetch().ok());
  const std::string lines =
      "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)\r\n";
  EXPECT_EQ(last_download_request().header_text,
            "Host: 127.0.0.1:" + std::to_string(shop.backend_port()) + "\r\n" + lines);
  EXPECT_EQ(download_header_text() + "\r\n", lines);
  EXPECT_EQ(download_header_text(100), lines + "Range:bytes=100-");
  EXPECT_EQ(download_agent_name(123456), "Agent123456");
}

TEST_F(DownloadTest, StoresTheWholeBodyInPiecesAsTheyArrive) {
  const std::string body = random_bytes(300000);
  shop.set_download(body);
  const DownloadOutcome outcome = fetch();
  ASSERT_TRUE(outcome.ok()) << ansi_to_utf8(outcome.message);
  EXPECT_EQ(test::read_file(target), body);
  EXPECT_EQ(outcome.received, 300000);
  EXPECT_EQ(outcome.total, 300000);

  ASSERT_GE(calls.size(), (body.size() + kDownloadPieceBytes - 1) / kDownloadPieceBytes);
  std::int64_t before = 0;
  for (const Call& c : calls) {
    EXPECT_EQ(c.total, 300000);
    EXPECT_GT(c.received, before);
    EXPECT_LE(c.received - before, static_cast<std::int64_t>(kDownloadPieceBytes));
    EXPECT_GT(c.elapsed, 0);
    EXPECT_EQ(c.this_run, c.received);
    before = c.received;
  }
  EXPECT_EQ(before, 300000);
}

TEST_F(DownloadTest, AGzipEncodedBodyIsStoredDecoded) {
  const std::string body = std::string(50000, 'A') + random_bytes(20000);
  shop.set_download(body, /*gzip=*/true);
  const DownloadOutcome outcome = fetch();
  ASSERT_TRUE(outcome.ok()) << ansi_to_utf8(outcome.message);
  EXPECT_EQ(test::read_file(target), body);
  // Measured against the encoded length, the bar still ends full.
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().received, static_cast<std::int64_t>(body.size()));
}

TEST_F(DownloadTest, ResumesFromAnOffsetWithARangeLine) {
  const std::string body = random_bytes(50000);
  shop.set_download(body);
  test::write_file(target, body.substr(0, 20000));
  const DownloadOutcome outcome = fetch(20000);
  ASSERT_TRUE(outcome.ok()) << ansi_to_utf8(outcome.message);
  EXPECT_EQ(outcome.status, 206);
  EXPECT_EQ(test::read_file(target), body);
  EXPECT_NE(last_download_request().header_text.find("\r\nRange:bytes=20000-\r\n"), std::string::npos);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().received, 50000);
  EXPECT_EQ(calls.back().this_run, 30000);
}

TEST(DownloadFailureTest, EveryFailureIsToldAndLeavesNoFile) {
  using Shop = demo_shop::DemoShop;
  struct Case {
    const char* note;
    std::function<void(Shop&)> arrange;
    std::function<std::string(Shop&)> url;
    DownloadFailure failure;
    std::string message;      // the whole message, or a part of it after "~"
  };
  auto download = [](Shop& s) { return s.download_url(); };
  const std::vector<Case> cases = {
      {"nothing published (404)", [](Shop&) {}, download, DownloadFailure::refused, "~HTTP 404"},
      {"a server error",
       [](Shop& s) {
         s.set_download("body");
         s.add_fault({"korvani-dock", Fault::status_500});
       },
       download, DownloadFailure::refused, "~HTTP 500"},
      {"an empty body", [](Shop& s) { s.set_download(""); }, download, DownloadFailure::refused,
       "下载到的新版本是空的，程序未更新。"},
      {"a body cut short of its length",
       [](Shop& s) {
         s.set_download(std::string(40000, 'x'));
         s.add_fault({"korvani-dock", Fault::stall, 0, 100});
       },
       download, DownloadFailure::read, "读文件出错!"},
      {"no answer at all", [](Shop& s) { s.add_fault({"korvani-dock", Fault::drop}); }, download,
       DownloadFailure::open_url, "不能打开该URL!"},
      {"an unreachable server", [](Shop&) {},
       [](Shop& s) { return "http://" + s.unreachable_host() + "/updates/korvani-dock"; },
       DownloadFailure::open_url, "不能打开该URL!"},
      {"an empty address", [](Shop&) {}, [](Shop&) { return std::string(); }, DownloadFailure::open_url,
       "不能打开该URL!"},
      {"an address that is no address", [](Shop&) {}, [](Shop&) { return std::string("not a url"); },
       DownloadFailure::open_url, "不能打开该URL!"},
  };
  test::TempDir dir;
  const fs::path target = dir.path() / "update.exe.tmp";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    Shop shop;
    ASSERT_TRUE(shop.start());
    c.arrange(shop);
    test::write_file(target, "left from an earlier try");
    const DownloadOutcome outcome = download_file(c.url(shop), target.string(), {});
    EXPECT_EQ(outcome.failure, c.failure);
    if (c.message[0] == '~') {
      EXPECT_NE(ansi_to_utf8(outcome.message).find(c.message.substr(1)), std::string::npos)
          << ansi_to_utf8(outcome.message);
    } else {
      EXPECT_EQ(outcome.message, cp(c.message));
    }
    // Without an answer the file is never opened; once opened, a failure
    // removes it.
    EXPECT_EQ(fs::exists(target), c.failure == DownloadFailure::open_url);
    fs::remove(target);
  }
}

TEST_F(DownloadTest, ALocalFileThatCannotBeWrittenIsTold) {
  shop.set_download("body");
  fs::create_directory(target);  // even root cannot open a directory for writing
  const DownloadOutcome outcome = fetch();
  EXPECT_EQ(outcome.failure, DownloadFailure::open_local_file);
  EXPECT_EQ(outcome.message, cp("不能打开本地的文件!"));
  EXPECT_TRUE(fs::is_directory(target));

  const DownloadOutcome missing =
      download_file(shop.download_url(), (dir.path() / "no-such-dir" / "update.exe.tmp").string(), {});
  EXPECT_EQ(missing.failure, DownloadFailure::open_local_file);
}

TEST_F(DownloadTest, StoppingCancelsTheTransferAndRemovesTheFile) {
  shop.set_download(random_bytes(200000));
  StopSignal stop;
  int pieces = 0;
  const DownloadOutcome outcome = download_file(
      shop.download_url(), target.string(),
      [&](std::int64_t, std::int64_t, std::int64_t, std::int64_t) {
        if (++pieces == 2) stop.stop();
      },
      std::nullopt, &stop);
  EXPECT_EQ(outcome.failure, DownloadFailure::cancelled);
  EXPECT_TRUE(outcome.message.empty());
  EXPECT_EQ(pieces, 2);
  EXPECT_FALSE(fs::exists(target));
}

TEST(StopSignalTest, WaitsEndAtOnceWhenStopped) {
  StopSignal stop;
  EXPECT_TRUE(stop.wait_ms(1));
  stop.stop();
  EXPECT_FALSE(stop.wait_ms(60000));
  EXPECT_FALSE(stop.wait_until([] { return false; }));
}

}  // namespace
}  // namespace korvani
