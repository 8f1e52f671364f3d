#include "platform/file_dialog_filter.h"

#include <gtest/gtest.h>

namespace ferrolyte {
namespace {

TEST(FileDialogFilterTest, PairsBecomeQtFilters) {
  EXPECT_EQ(QtFileFilter("(*.ini) Wizard Settings|*.ini|(*.*) All Files|*.*"),
            "(*.ini) Wizard Settings (*.ini);;(*.*) All Files (*)");
  EXPECT_EQ(QtFileFilter("(*.mdb, *.mde, *.accdb, *.accde) MS Access|*.mdb;*.mde;*.accdb;*.accde|"
                         "(*.*) All Files|*.*"),
            "(*.mdb, *.mde, *.accdb, *.accde) MS Access (*.mdb *.mde *.accdb *.accde);;"
            "(*.*) All Files (*)");
}

TEST(FileDialogFilterTest, OddShapes) {
  EXPECT_EQ(QtFileFilter(""), "");
  EXPECT_EQ(QtFileFilter("Everything"), "Everything (*)");
  EXPECT_EQ(QtFileFilter("Text|*.txt;;*.csv|"), "Text (*.txt *.csv)");
}

}  // namespace
}  // namespace ferrolyte
