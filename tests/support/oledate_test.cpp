#include "support/oledate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "conversion/literals.h"
#include "support/errors.h"
#include "support/value.h"

namespace ferrolyte {
namespace {

TEST(OleDateTest, SerialsOutsideTheYearsOneTo9999RaiseOverflowNamingTheValue) {
  const double kNan = std::numeric_limits<double>::quiet_NaN();
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double serial;
    const char* named;
  } bad[] = {{kNan, "nan"},           {kInf, "inf"},          {-kInf, "-inf"},
             {1e300, "1e+300"},       {2958466.0, "2958466"}, {-693594.0, "-693594"},
             {7.4e11, "740000000000"}};
  for (const auto& c : bad) {
    SCOPED_TRACE(c.named);
    EXPECT_FALSE(OleDateInRange(c.serial));
    try {
      OleDateToFields(c.serial);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 6);
      EXPECT_NE(e.description().find(c.named), std::string::npos) << e.description();
    }
    // The literal of such a value is an error too, never a text the server misreads.
    EXPECT_THROW(SqlDateTime(Value::Date(c.serial)), Error);
  }
  // The edges themselves are dates.
  EXPECT_EQ(OleDateToFields(2958465.99999), (DateTimeFields{9999, 12, 31, 23, 59, 59}));
  EXPECT_EQ(OleDateToFields(-693593.0), (DateTimeFields{1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(SqlDateTime(Value::Date(-693593.5)), "'0001-01-01 12:00:00'");
}

}  // namespace
}  // namespace ferrolyte
