#pragma once
// The four running figures beside the log. The average is not the mean: every new
// reading weighs one half and all earlier history the other half.

#include "temperature/decode.h"

#include <cstdint>

namespace velt {

struct TemperatureStats {
    Temperature minimum = 0;
    Temperature maximum = 0;
    Temperature average = 0;
    std::int32_t count = 0;
};

// Second and later readings only.
void update_statistics(TemperatureStats& stats, Temperature t);

// Counts the reading and updates the figures. The count stops at its maximum instead
// of wrapping: a wrapped, negative count would make the next reading restart the
// figures as if it were the first.
void takeReading(TemperatureStats& stats, Temperature t);

// The program's figures: one set for the whole run, never reset or saved.
extern TemperatureStats temperatureStats;

} // namespace velt
