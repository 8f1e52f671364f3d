// The pieces that let tables move at once: the jobs setting, the lanes that run them, and the
// held status lines that keep the source order.
#include "conversion/table_lanes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "conversion/run_settings.h"
#include "support/errors.h"
#include "support/status.h"
#include "support/value.h"

namespace ferrolyte {
namespace {

TEST(JobsSettingTest, OnlyAWholeNumberInRangeIsRead) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"1", 1},
      {"3", 3},
      {"16", 16},
      {"04", 4},
      {"0", std::nullopt},
      {"17", std::nullopt},
      {"-1", std::nullopt},
      {"2.5", std::nullopt},
      {" 2", std::nullopt},
      {"two", std::nullopt},
      {"", std::nullopt},
      {"999", std::nullopt},
  };
  for (const auto& [text, jobs] : cases) EXPECT_EQ(JobsOf(text), jobs) << "'" << text << "'";
}

TEST(JobsSettingTest, AnEmptySettingTakesTheCoresAndAWrongOneIsAProblem) {
  DictionaryPtr section = Dictionary::Create();
  section->Set("destinationmethod", "DIRECT");
  section->Set("destinationdatabase", "x");
  section->Set("sourcetables", Value::TextList({"T"}));
  EXPECT_EQ(ReadRunSettings(*section).jobs, DefaultJobs());
  EXPECT_GE(DefaultJobs(), 1);
  EXPECT_LE(DefaultJobs(), 4);
  section->Set("jobs", "1");
  EXPECT_EQ(ReadRunSettings(*section).jobs, 1);
  EXPECT_EQ(SettingsProblem(section), "");
  section->Set("jobs", "0");
  EXPECT_EQ(SettingsProblem(section),
            "The setting jobs=0 is not valid: give a whole number from 1 to 16.");
}

// Holds each lane's job until the test lets it end.
struct Gate {
  std::promise<void> open;
  std::shared_future<void> opened = open.get_future().share();
};

void WaitUntilEnded(JobLanes& lanes, size_t key) {
  while (!lanes.Ended(key)) lanes.WaitForEnd(std::chrono::milliseconds(50));
}

TEST(JobLanesTest, ALaneIsFreeAgainOnceItsJobEnded) {
  JobLanes lanes(2);
  Gate first, second;
  ASSERT_EQ(lanes.FreeLane(), 0u);
  lanes.Start(0, 10, [&] { first.opened.wait(); });
  ASSERT_EQ(lanes.FreeLane(), 1u);
  lanes.Start(1, 11, [&] { second.opened.wait(); });
  EXPECT_EQ(lanes.FreeLane(), lanes.size()) << "both lanes have a job";
  EXPECT_TRUE(lanes.Busy());
  EXPECT_FALSE(lanes.Ended(10));
  second.open.set_value();
  WaitUntilEnded(lanes, 11);
  EXPECT_FALSE(lanes.Ended(10)) << "the other job still runs";
  EXPECT_EQ(lanes.FreeLane(), 1u);
  int ran = 0;
  lanes.Start(1, 12, [&] { ran = 1; });
  WaitUntilEnded(lanes, 12);
  EXPECT_EQ(ran, 1);
  first.open.set_value();
  WaitUntilEnded(lanes, 10);
  EXPECT_FALSE(lanes.Busy());
  // A retired lane is never free again; the others are.
  lanes.Retire(0);
  EXPECT_EQ(lanes.Working(), 1u);
  EXPECT_EQ(lanes.FreeLane(), 1u);
  lanes.Retire(1);
  EXPECT_EQ(lanes.FreeLane(), lanes.size());
  EXPECT_FALSE(lanes.Busy()) << "a retired lane is not a busy one";
}

TEST(JobLanesTest, WhatAJobRaisesIsRaisedOnceWhereItsEndIsAsked) {
  JobLanes lanes(1);
  lanes.Start(0, 3, [] { throw Error(1003, "too large"); });
  bool raised = false;
  while (true) {
    try {
      if (lanes.Ended(3)) break;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 1003);
      raised = true;
      break;
    }
    lanes.WaitForEnd(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(raised);
  EXPECT_TRUE(lanes.Ended(3)) << "the end stays known, the error is not raised again";
}

TEST(JobLanesTest, TheLanesAreWaitedForWhenTheyGo) {
  Gate gate;
  std::atomic<bool> ended{false};
  std::thread opener;
  {
    JobLanes lanes(1);
    lanes.Start(0, 0, [&] {
      gate.opened.wait();
      ended = true;
    });
    opener = std::thread([&] { gate.open.set_value(); });
  }
  EXPECT_TRUE(ended) << "the job outlived its lanes";
  opener.join();
}

TEST(HeldStatusTest, ReleasesItsLinesInTheirOrderAndOnlyOnce) {
  HeldStatus held;
  held.AddStatusLine("Table: A");
  held.WriteLog("log only");
  held.SetProgress("A (20/40)", 20);
  held.AddStatusLine("  20 records moved");
  EXPECT_EQ(held.shown(), 20);
  RecordingStatus to;
  held.Release(to);
  EXPECT_EQ(to.lines, (std::vector<std::string>{"Table: A", "  20 records moved"}));
  EXPECT_EQ(to.log, (std::vector<std::string>{"log only"}));
  EXPECT_EQ(to.progress_text, "") << "a held table's progress is the run's to show";
  held.Release(to);
  EXPECT_EQ(to.lines.size(), 2u);
}

}  // namespace
}  // namespace ferrolyte
