#include "sim/tax_math.h"

#include <gtest/gtest.h>

namespace vekta {
namespace {

TEST(SimTaxMath, LineSumsAndPerLineTaxes) {
  EXPECT_EQ(SimLineSum(3, 1050, false), 3150);
  EXPECT_EQ(SimLineSum(1500, 1999, true), 2999);  // (2998500 + 500) / 1000
  EXPECT_EQ(SimLineSum(1, 499, true), 0);         // half a kopeck is not reached
  EXPECT_EQ(SimLineSum(1, 500, true), 1);
  EXPECT_EQ(SimLineSum(99999, 999999, false), 99998900001LL);  // no 32-bit overflow

  EXPECT_EQ(SimLineAddedTax(1000, 2000), 200);
  EXPECT_EQ(SimLineAddedTax(1234, 700), 86);  // 86.38 floored
  EXPECT_EQ(SimLineAddedTax(0, 2000), 0);
  EXPECT_EQ(SimLineIncludedTax(1000, 2000), 167);  // ceil(1000 x 2000 / 12000) = ceil(166.67)
  EXPECT_EQ(SimLineIncludedTax(1200, 2000), 200);  // exact: no rounding up
  EXPECT_EQ(SimLineIncludedTax(107, 700), 7);      // 7.0 exactly
  EXPECT_EQ(SimLineIncludedTax(1, 700), 1);
}

TEST(SimTaxMath, TotalTaxRoundsHalfUpExactly) {
  EXPECT_EQ(SimTotalTax(25, 1000), 3);   // 2.5 up
  EXPECT_EQ(SimTotalTax(24, 1000), 2);   // 2.4 down
  EXPECT_EQ(SimTotalTax(50, 700), 4);    // 3.5 up, where binary floating point may not be
  EXPECT_EQ(SimTotalTax(150, 700), 11);  // 10.5 up
  EXPECT_EQ(SimTotalTax(3150, 2000), 630);
  EXPECT_EQ(SimTotalTax(0, 2000), 0);
  EXPECT_EQ(SimTotalTax(2000000000LL * 50, 2000), 20000000000LL);
}

}  // namespace
}  // namespace vekta
