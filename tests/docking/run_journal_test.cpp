// The run journal and the run record, as files on disk.
#include "docking/run_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "docking/run_record.h"
#include "supplier/catalog.h"
#include "support/test_support.h"

namespace korvani {
namespace {

using test::TempDir;
using ::testing::ElementsAre;

const Text kRoot = "http://127.0.0.1:8080/admin/";
const Text kHost = "127.0.0.1:9090";

JournalEntry entry(Text id, Text backend_id, Text name, bool goods = false) {
  return {kRoot, kHost, std::move(id), std::move(backend_id), std::move(name), goods};
}

struct FieldCase {
  const char* note;
  Text name;
};

class JournalLineTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(JournalLineTest, AnyNameSurvivesTheRoundTripOnOneAsciiLine) {
  const JournalEntry written = entry("201", "0a1b2c3d", GetParam().name);
  const std::string line = journal_line(written);
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  const std::string body = line.substr(0, line.size() - 1);
  for (unsigned char c : body) EXPECT_TRUE(c == '\t' || (c >= 0x20 && c < 0x7F)) << int(c);
  const auto read = parse_journal_line(body);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->name, written.name);
  EXPECT_EQ(read->backend_root, kRoot);
  EXPECT_EQ(read->supplier_host, kHost);
  EXPECT_EQ(read->supplier_dir_id, "201");
  EXPECT_EQ(read->backend_id, "0a1b2c3d");
  EXPECT_FALSE(read->goods_docked);
}

INSTANTIATE_TEST_SUITE_P(Names, JournalLineTest,
                         ::testing::Values(FieldCase{"plain", "A"},
                                           FieldCase{"a tab and line ends", "a\tb\r\nc\n"},
                                           FieldCase{"form characters", "Q币&点卡=100%+%41"},
                                           FieldCase{"an emoji", utf8_to_ansi("游戏😀点卡")},
                                           FieldCase{"spaces at both ends", " x "}),
                         test::NamedAfterNote());

struct BadLine {
  const char* note;
  std::string line;
};

class JournalBadLineTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(JournalBadLineTest, IsRefused) { EXPECT_FALSE(parse_journal_line(GetParam().line)); }

INSTANTIATE_TEST_SUITE_P(
    Lines, JournalBadLineTest,
    ::testing::Values(BadLine{"empty", ""}, BadLine{"four fields", "r\th\t1\t0a1b2c3d"},
                      BadLine{"seven fields", "r\th\t1\t0a1b2c3d\tA\tgoods\tx"},
                      BadLine{"a sixth field that is not the goods mark", "r\th\t1\t0a1b2c3d\tA\tmore"},
                      BadLine{"no pages", "r\th\t1\t0a1b2c3d\tA\tpages:0"},
                      BadLine{"pages that are no number", "r\th\t1\t0a1b2c3d\tA\tpages:2x"},
                      BadLine{"a percent sign without two digits", "r\th\t1\t0a1b2c3d\tA%4"},
                      BadLine{"a percent sign before a non-digit", "r\th\t1\t0a1b2c3d\t%G1"},
                      BadLine{"a raw byte the writer escapes", "r\th\t1\t0a1b2c3d\tA B"},
                      BadLine{"a goods line without back-end id", "r\th\t1\t\tA\tgoods"}, BadLine{"no supplier id", "r\th\t\t0a1b2c3d\tA"},
                      BadLine{"no name", "r\th\t1\t0a1b2c3d\t"}),
    test::NamedAfterNote());

class RunJournalTest : public ::testing::Test {
 protected:
  std::filesystem::path path() const { return dir.path() / "journal.txt"; }
  TempDir dir;
};

TEST_F(RunJournalTest, KeepsTheLastWholeEntryOfThisBackEndAndSupplierOnly) {
  std::string text;
  text += journal_line(entry("101", "11111111", "A"));
  text += journal_line({"http://other/admin/", kHost, "102", "22222222", "B", false});
  text += journal_line({kRoot, "127.0.0.1:1", "103", "33333333", "C", false});
  text += "malformed line\n";
  text += journal_line(entry("101", "44444444", "A"));
  text += journal_line(entry("201", "55555555", "A1", true));
  JournalEntry pages = entry("202", "77777777", "A2");
  pages.goods_pages = 3;
  text += journal_line(pages);
  // Torn: no line end.
  const std::string torn = journal_line(entry("104", "66666666", "D"));
  text += torn.substr(0, torn.size() - 1);
  test::write_file(path(), text);

  const RunJournal journal(path(), kRoot, kHost);
  ASSERT_TRUE(journal.find("101"));
  EXPECT_EQ(journal.find("101")->backend_id, "44444444");
  EXPECT_FALSE(journal.find("102"));
  EXPECT_FALSE(journal.find("103"));
  EXPECT_FALSE(journal.find("104"));
  // The goods line is no directory entry.
  EXPECT_FALSE(journal.find("201"));
  EXPECT_TRUE(journal.goods_docked("201", "55555555"));
  EXPECT_FALSE(journal.goods_docked("201", "00000000"));
  EXPECT_FALSE(journal.find("202"));
  EXPECT_FALSE(journal.goods_docked("202", "77777777"));
  EXPECT_EQ(journal.goods_pages("202", "77777777"), 3);
  EXPECT_EQ(journal.goods_pages("202", "00000000"), 0);
}

TEST_F(RunJournalTest, AnEntryAfterATornLineIsWrittenWholeAndReadBack) {
  const std::string torn = journal_line(entry("104", "66666666", "D"));
  test::write_file(path(), torn.substr(0, 12));
  RunJournal journal(path(), kRoot, kHost);
  EXPECT_TRUE(journal.add("101", "11111111", "A"));
  EXPECT_TRUE(journal.add("201", "22222222", "A1", true));
  // Saved, its id not read.
  EXPECT_TRUE(journal.add("202", "", "A2"));

  const RunJournal again(path(), kRoot, kHost);
  ASSERT_TRUE(again.find("101"));
  EXPECT_EQ(again.find("101")->name, "A");
  EXPECT_TRUE(again.goods_docked("201", "22222222"));
  ASSERT_TRUE(again.find("202"));
  EXPECT_EQ(again.find("202")->backend_id, "");
  EXPECT_EQ(test::read_file(path()), torn.substr(0, 12) + "\n" + journal_line(entry("101", "11111111", "A")) +
                                         journal_line(entry("201", "22222222", "A1", true)) +
                                         journal_line(entry("202", "", "A2")));
}

TEST_F(RunJournalTest, AMissingFileIsAnEmptyJournalAndAnUnwritableOneSaysSo) {
  test::write_file(dir.path() / "plain", "x");
  RunJournal journal(dir.path() / "plain" / "journal.txt", kRoot, kHost);
  EXPECT_FALSE(journal.find("101"));
  EXPECT_FALSE(journal.add("101", "11111111", "A"));
  // Still known for the rest of the run.
  ASSERT_TRUE(journal.find("101"));
  EXPECT_EQ(journal.find("101")->backend_id, "11111111");
}

TEST(RunRecordTest, SummaryLineAndFileName) {
  EXPECT_EQ(ansi_to_utf8(run_summary_line({3, 1, 2, 45})), "本次对接：新建目录3个，跳过1个，未建2个，对接商品45个\r\n");
  EXPECT_EQ(run_log_file_name({2026, 1, 2, 3, 4, 5}), "对接日志-20260102-030405.txt");
}

TEST(RunRecordTest, ARunInTheSameSecondGetsAFileOfItsOwn) {
  TempDir dir;
  const LocalTime at{2026, 12, 11, 16, 5, 9};
  const std::vector<Text> first = {"a\r\n", utf8_to_ansi("乙\r\n")};
  const auto one = write_run_log(dir.path().string(), at, first);
  const auto two = write_run_log(dir.path().string(), at, {"b\r\n"});
  EXPECT_EQ(one, files_path(dir.path().string(), "对接日志-20261211-160509.txt"));
  EXPECT_EQ(two, files_path(dir.path().string(), "对接日志-20261211-160509-2.txt"));
  EXPECT_EQ(test::read_file(one), first[0] + first[1]);
  EXPECT_EQ(test::read_file(two), "b\r\n");
}

TEST(RunRecordTest, AnUnwritableDirectoryGivesNoPath) {
  TempDir dir;
  test::write_file(dir.path() / "plain", "x");
  EXPECT_TRUE(write_run_log((dir.path() / "plain").string(), {}, {"a\r\n"}).empty());
}

}  // namespace
}  // namespace korvani
