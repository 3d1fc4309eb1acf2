#pragma once
// The one message VELT understands: a payload whose bytes are a count of sixteenths of
// a degree written base 256, most significant byte first, ended by a zero byte or by
// the end of the bytes taken. Only the last four digits survive the 32-bit accumulator.

#include <cstdint>

namespace velt {

using Temperature = float;

// `bytes` must hold a zero byte after the last payload byte; nothing past the first
// zero byte is read.
Temperature decode_temperature(const std::uint8_t* bytes);

} // namespace velt
