#include "support/run_progress.h"

#include <gtest/gtest.h>

#include "testing/fake_clock.h"

namespace ferrolyte {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class RunProgressTest : public ::testing::Test {
 protected:
  // `rows` more rows of the current transfer, `step` apart, each told.
  void Move(int64_t rows, int64_t each, milliseconds step) {
    for (int64_t i = 0; i < rows; i += each) {
      clock_.Advance(step);
      moved_ += each;
      progress_.Rows(moved_);
    }
  }

  testing::FakeClock clock_;
  RunProgress progress_{clock_};
  int64_t moved_ = 0;
};

TEST_F(RunProgressTest, RateAndTimeLeftOverTheWholeRun) {
  progress_.Plan({1000, 4000, 5000});
  progress_.BeginTable(0);
  progress_.BeginRows(1000);
  // 100 rows every 100 ms: 1000 rows/s.
  Move(1000, 100, milliseconds(100));
  progress_.EndRows(1000);
  ProgressFigures f = progress_.Figures();
  EXPECT_EQ(f.table_number, 1);
  EXPECT_EQ(f.table_count, 3);
  EXPECT_EQ(f.rows_done, 1000);
  EXPECT_EQ(f.rows_total, 10000);
  ASSERT_TRUE(f.rows_per_second);
  EXPECT_DOUBLE_EQ(*f.rows_per_second, 1000);
  // The rows of the tables still to come count, not only the current one's.
  EXPECT_EQ(f.time_left, seconds(9));
  EXPECT_EQ(ProgressFiguresText(f), "Table 1 of 3, 1,000 rows/s, about 0:09 left");

  progress_.BeginTable(1);
  progress_.BeginRows(4000);
  moved_ = 0;
  Move(2000, 100, milliseconds(100));
  f = progress_.Figures();
  EXPECT_EQ(f.table_number, 2);
  EXPECT_EQ(f.rows_done, 3000);
  EXPECT_EQ(f.time_left, seconds(7));
}

TEST_F(RunProgressTest, RateFollowsTheLastSecondsOnly) {
  progress_.Plan({100000});
  progress_.BeginTable(0);
  progress_.BeginRows(100000);
  Move(20000, 100, milliseconds(10));   // 10,000 rows/s for 2 s
  Move(10000, 100, milliseconds(100));  // then 1,000 rows/s for 10 s
  ProgressFigures f = progress_.Figures();
  ASSERT_TRUE(f.rows_per_second);
  // The fast start is out of the window: the rate is the recent one, not the average.
  EXPECT_NEAR(*f.rows_per_second, 1000, 1);
  EXPECT_EQ(f.time_left, seconds(70));
  // One slow step does not swing it.
  clock_.Advance(milliseconds(400));
  progress_.Rows(moved_);
  ASSERT_TRUE(progress_.Figures().rows_per_second);
  EXPECT_GT(*progress_.Figures().rows_per_second, 900);
}

TEST_F(RunProgressTest, UnknownRate) {
  struct Case {
    const char* what;
    milliseconds measured;  // how long rows have been moving
    int64_t rows;           // rows moved meanwhile
    const char* text;
  } cases[] = {
      {"first second", milliseconds(900), 900, "Table 1 of 1, measuring the rate"},
      {"nothing moves", milliseconds(3000), 0, "Table 1 of 1, 0.0 rows/s, time left unknown"},
      {"slow", milliseconds(4000), 10, "Table 1 of 1, 2.5 rows/s, about 6:36 left"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeClock clock;
    RunProgress progress(clock);
    progress.Plan({1000});
    progress.BeginTable(0);
    progress.BeginRows(1000);
    clock.Advance(c.measured);
    progress.Rows(c.rows);
    const ProgressFigures f = progress.Figures();
    EXPECT_EQ(ProgressFiguresText(f), c.text);
    EXPECT_EQ(f.time_left.has_value(), f.rows_per_second && *f.rows_per_second > 0);
  }
}

TEST_F(RunProgressTest, TablesAndCountsAsTheRunMeetsThem) {
  EXPECT_EQ(ProgressFiguresText(progress_.Figures()), "");
  progress_.Plan({50, 30, 20});
  EXPECT_EQ(progress_.Figures().table_number, 0);
  EXPECT_EQ(progress_.Figures().rows_total, 100);
  // The first table's CREATE TABLE is refused: its rows never come.
  progress_.BeginTable(0);
  progress_.BeginTable(1);
  EXPECT_EQ(progress_.Figures().rows_total, 50);
  // The transfer's own count replaces the planned one; a child table's transfer adds its own.
  progress_.BeginRows(35);
  EXPECT_EQ(progress_.Figures().rows_total, 55);
  progress_.Rows(35);
  progress_.EndRows(35);
  progress_.BeginRows(8);
  progress_.Rows(4);
  EXPECT_EQ(progress_.Figures().rows_done, 39);
  EXPECT_EQ(progress_.Figures().rows_total, 63);
  // A stop drops the chunk not yet committed: the done rows go back with it.
  progress_.EndRows(2);
  EXPECT_EQ(progress_.Figures().rows_done, 37);
  progress_.BeginTable(2);
  EXPECT_EQ(progress_.Figures().table_number, 3);
  EXPECT_EQ(progress_.Figures().rows_total, 57);
  // More rows than counted do not make the total smaller than what was done.
  progress_.BeginRows(20);
  progress_.Rows(25);
  EXPECT_EQ(progress_.Figures().rows_total, 62);
  EXPECT_EQ(progress_.Figures().rows_done, 62);
}

// A run of empty tables, or one that moves no records, has no rate to wait for.
TEST_F(RunProgressTest, NothingToMoveShowsTheTableOnly) {
  progress_.Plan({0, 0});
  progress_.BeginTable(1);
  clock_.Advance(seconds(3));
  progress_.BeginRows(0);
  EXPECT_EQ(ProgressFiguresText(progress_.Figures()), "Table 2 of 2");
  progress_.EndRows(0);
  progress_.Finish();
  EXPECT_EQ(ProgressFiguresText(progress_.Figures()), "Table 2 of 2, finished");
}

TEST_F(RunProgressTest, FinishedRunHasNoTimeLeft) {
  progress_.Plan({3000, 2000});
  progress_.BeginTable(0);
  progress_.BeginRows(3000);
  Move(3000, 100, milliseconds(100));
  progress_.EndRows(3000);
  progress_.BeginTable(1);
  // A stop on request ends the run here: the second table's rows are not expected any more.
  progress_.Finish();
  const ProgressFigures f = progress_.Figures();
  EXPECT_TRUE(f.finished);
  EXPECT_EQ(f.rows_total, 3000);
  EXPECT_EQ(f.time_left, seconds(0));
  EXPECT_EQ(ProgressFiguresText(f), "Table 2 of 2, 1,000 rows/s, finished");
}

TEST(ProgressFiguresTextTest, NumbersAndDurations) {
  struct Case {
    double rate;
    int64_t left;
    const char* text;
  } cases[] = {
      {52346, 35, "Table 3 of 20, 52,300 rows/s, about 0:35 left"},
      {1234567, 3725, "Table 3 of 20, 1,230,000 rows/s, about 1:02:05 left"},
      {999.6, 600, "Table 3 of 20, 1,000 rows/s, about 10:00 left"},
      {12.4, 59, "Table 3 of 20, 12 rows/s, about 0:59 left"},
      {0.04, 360000, "Table 3 of 20, 0.0 rows/s, about 100:00:00 left"},
  };
  for (const Case& c : cases) {
    ProgressFigures f;
    f.table_number = 3;
    f.table_count = 20;
    f.rows_total = 1000;
    f.rows_per_second = c.rate;
    f.time_left = seconds(c.left);
    EXPECT_EQ(ProgressFiguresText(f), c.text);
  }
}

}  // namespace
}  // namespace ferrolyte
