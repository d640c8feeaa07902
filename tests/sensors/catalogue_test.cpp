#include <gtest/gtest.h>

#include <limits>

#include "ThermalCatalogue.h"

TEST(ThermalCatalogue, KeepsOnlyReadingsStrictlyBetweenZeroAndOneFifty) {
  ThermalCatalogue catalogue;
  for (const double reading : {0.0, 0.5, 149.5, 150.0, 149.999999, -3.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()})
    catalogueOffer(catalogue, std::to_string(reading), reading);
  catalogueOffer(catalogue, std::nullopt, 40.0);
  catalogueOffer(catalogue, "no reading", std::nullopt);
  // 149.999999 passes in double precision, then narrows to 150.0f.
  EXPECT_EQ(catalogue, (ThermalCatalogue{{"0.500000", 0.5f}, {"149.500000", 149.5f}, {"149.999999", 150.0f}}));
}

TEST(ThermalCatalogue, LaterInRangeReadingWinsAndKeysAreExactText) {
  ThermalCatalogue catalogue;
  for (const double reading : {40.0, 50.0, 200.0}) catalogueOffer(catalogue, "Die", reading);
  for (const char* name : {"cpu", "CPU", " CPU"}) catalogueOffer(catalogue, name, 42.0);
  EXPECT_EQ(catalogue, (ThermalCatalogue{{"Die", 50.0f}, {"cpu", 42.0f}, {"CPU", 42.0f}, {" CPU", 42.0f}}));
}
