#include "shell/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "shell/log_status.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

ProgressFigures Figures() {
  ProgressFigures f;
  f.table_number = 2;
  f.table_count = 5;
  f.rows_total = 4000;
  f.rows_per_second = 52346;
  f.time_left = std::chrono::seconds(35);
  return f;
}

TEST(ProgressLineTest, FiguresAfterThePercentageWithinTheWidth) {
  const std::string figures = "  37%  Table 2 of 5, 52,300 rows/s, about 0:35 left";
  struct Case {
    std::string text;
    bool with_figures;
    size_t width;
    std::string line;
  } cases[] = {
      {"T", false, 0, "  T  37%"},
      {"shop.mdb - Orders -> shop (1500/4000)", true, 0,
       "  shop.mdb - Orders -> shop (1500/4000)" + figures},
      // Exactly one column short of the width: it fits as it is.
      {"shop.mdb - Orders -> shop (1500/4000)", true, 91,
       "  shop.mdb - Orders -> shop (1500/4000)" + figures},
      {"shop.mdb - Orders -> shop (1500/4000)", true, 90,
       "  shop.mdb - Orders -> shop (1500/4..." + figures},
      // A character of several bytes is one column and is never cut in two.
      {"Bücher ÄÖÜ (10/20)", true, 65, "  Bücher Ä..." + figures},
      // No room for the figures whole: the line is cut at the width.
      {"shop.mdb - Orders", true, 30, "  shop.mdb - Orders  37%  Tab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ProgressLine(c.text, 37, c.with_figures ? Figures() : ProgressFigures(), c.width),
              c.line);
  }
}

TEST(ProgressLineTest, TheTerminalLineShowsTheRunsFigures) {
  testing::TempDir dir;
  LogFile log(dir.File("ferrolyte.log"));
  CancelToken cancel{false};
  std::FILE* terminal = std::tmpfile();
  ASSERT_NE(terminal, nullptr);
  {
    LogStatus status(log, cancel, terminal, true);
    status.SetProgressRange("PROGRESS", 0, 40);
    status.SetProgressFigures(Figures());
    status.SetProgress("Orders (40/40)", 40);
  }
  std::rewind(terminal);
  char buffer[256] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, terminal);
  std::fclose(terminal);
  EXPECT_EQ(std::string(buffer, n),
            "\r\033[K  Orders (40/40)  100%  Table 2 of 5, 52,300 rows/s, about 0:35 left");
}

}  // namespace
}  // namespace ferrolyte
