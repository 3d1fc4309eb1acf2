#include "temperature/decode.h"

namespace velt {

Temperature decode_temperature(const std::uint8_t* bytes) {
    // Unsigned so that shifting digits out of the top is defined behaviour.
    std::uint32_t accumulator = 0;
    for (; *bytes != 0; ++bytes)
        accumulator = (accumulator << 8) + *bytes;
    // The product is exact in double, so converting to float rounds exactly once
    // (to nearest, ties to even).
    const double sixteenths = static_cast<std::int32_t>(accumulator);
    return static_cast<Temperature>(sixteenths * 0.0625);
}

} // namespace velt
