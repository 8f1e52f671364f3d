#include "support/window/tab_order.h"

#include <gtest/gtest.h>

#include "support/window/twips.h"

namespace ferrolyte {
namespace {

TabControl OnForm(const std::string& name, int left, int top) {
  return {name, left, top, {{"frmMain", 0, 0}}};
}

std::vector<std::string> Names(const std::vector<TabControl>& controls,
                               const std::vector<int>& order) {
  std::vector<std::string> names;
  for (int i : order) names.push_back(controls[static_cast<size_t>(i)].name);
  return names;
}

TEST(TabOrderTest, PaddedPositionKeepsTheLastEightCharacters) {
  EXPECT_EQ(PaddedPosition(0), "00000000");
  EXPECT_EQ(PaddedPosition(4560), "00004560");
  EXPECT_EQ(PaddedPosition(123456789), "23456789");
  EXPECT_EQ(PaddedPosition(-90), "00000-90");
}

TEST(TabOrderTest, RowsTopToBottomThenLeftToRight) {
  const std::vector<TabControl> controls = {
      OnForm("cmdHelp", 5850, 4590), OnForm("cmdNext", 1680, 4560), OnForm("cmdBack", 345, 4560),
      OnForm("txtTop", 900, 300)};
  EXPECT_EQ(Names(controls, TabOrderSequence(controls, "frmMain")),
            (std::vector<std::string>{"txtTop", "cmdBack", "cmdNext", "cmdHelp"}));
}

TEST(TabOrderTest, ContainerPositionsAddUp) {
  // The text box sits near the top of its frame, but the frame lies below the button.
  const std::vector<TabControl> controls = {
      {"txtInFrame", 100, 50, {{"frameSource", 100, 1200}, {"frmMain", 0, 0}}},
      OnForm("cmdAbove", 4000, 1000),
      {"txtDeeper",
       0,
       0,
       {{"frameSecurity", 240, 780}, {"frameSource", 100, 1200}, {"frmMain", 0, 0}}},
  };
  EXPECT_EQ(Names(controls, TabOrderSequence(controls, "frmMain")),
            (std::vector<std::string>{"cmdAbove", "txtInFrame", "txtDeeper"}));
}

TEST(TabOrderTest, NegativePositionsSortAsText) {
  // "000000-1" < "000000-2" as text although -2 < -1; any minus sorts before the digits.
  const std::vector<TabControl> controls = {OnForm("zero", 0, 0), OnForm("minus2", 0, -2),
                                            OnForm("minus1", 0, -1)};
  EXPECT_EQ(Names(controls, TabOrderSequence(controls, "frmMain")),
            (std::vector<std::string>{"minus1", "minus2", "zero"}));
}

TEST(TabOrderTest, ChainsDeeperThanTenContainersGetNoPlace) {
  TabControl deep{"deep", 0, 0, {}};
  TabControl ten{"ten", 0, 0, {}};
  TabControl nine{"nine", 0, 0, {}};
  for (int i = 0; i < 11; ++i) deep.containers.push_back({"f" + std::to_string(i), 1, 1});
  for (int i = 0; i < 10; ++i) ten.containers.push_back({"f" + std::to_string(i), 1, 1});
  for (int i = 0; i < 9; ++i) nine.containers.push_back({"f" + std::to_string(i), 1, 1});
  deep.containers.push_back({"frmMain", 0, 0});
  ten.containers.push_back({"frmMain", 0, 0});
  nine.containers.push_back({"frmMain", 0, 0});
  const std::vector<TabControl> controls = {deep, ten, nine};
  EXPECT_EQ(Names(controls, TabOrderSequence(controls, "frmMain")),
            (std::vector<std::string>{"nine"}));
}

TEST(TabOrderTest, EmptyContainerNameEndsTheWalkAndEqualKeysKeepFormOrder) {
  const std::vector<TabControl> controls = {
      {"second", 10, 10, {{"", 5000, 5000}}}, {"first", 10, 10, {}}, OnForm("third", 10, 10)};
  EXPECT_EQ(Names(controls, TabOrderSequence(controls, "frmMain")),
            (std::vector<std::string>{"second", "first", "third"}));
}

TEST(TwipsTest, ConvertsWithTheLogicalResolution) {
  EXPECT_EQ(TwipsToPixels(1440, 96), 96);
  EXPECT_EQ(TwipsToPixels(7170, 96), 478);
  EXPECT_EQ(TwipsToPixels(7170, 192), 956);
  EXPECT_EQ(TwipsToPixels(-90, 96), -6);
  EXPECT_EQ(TwipsToPixels(7, 96), 0);
  EXPECT_EQ(TwipsToPixels(8, 96), 1);
  EXPECT_EQ(PixelsToTwips(478, 96), 7170);
  EXPECT_EQ(PixelsToTwips(10, 120), 120);
  EXPECT_EQ(PixelsToTwips(10, 0), 0);
}

}  // namespace
}  // namespace ferrolyte
