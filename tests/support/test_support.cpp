#include "support/test_support.h"

namespace velt::test {

std::array<unsigned char, 3> sequenceBytes(long long i) {
    return {static_cast<unsigned char>(1 + (i / (255 * 255)) % 255),
            static_cast<unsigned char>(1 + (i / 255) % 255),
            static_cast<unsigned char>(1 + i % 255)};
}

QByteArray sequenceReading(long long i) {
    const auto bytes = sequenceBytes(i);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), 3);
}

float sequenceTemperature(long long i) {
    const auto b = sequenceBytes(i);
    return static_cast<float>((b[0] << 16) | (b[1] << 8) | b[2]) / 16;
}

} // namespace velt::test
