#include "temperature/stats.h"

#include <limits>

namespace velt {

TemperatureStats temperatureStats;

void update_statistics(TemperatureStats& stats, Temperature t) {
    if (t > stats.maximum)
        stats.maximum = t;
    if (t < stats.minimum)
        stats.minimum = t;
    stats.average = static_cast<Temperature>((double{stats.average} + double{t}) * 0.5);
}

void takeReading(TemperatureStats& stats, Temperature t) {
    if (stats.count < std::numeric_limits<std::int32_t>::max())
        ++stats.count;
    if (stats.count <= 1) {
        stats.minimum = stats.maximum = stats.average = t;
        return;
    }
    update_statistics(stats, t);
}

} // namespace velt
