#include "temperature/reading.h"

#include "temperature/format.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace velt {

void handlePayload(QIODevice& payload, TemperatureStats& stats, ReadingView& view,
                   QStringView decimalSeparator) {
    if (payload.size() == 0)
        return;

    std::array<std::uint8_t, RECEIVE_BUFFER_BYTES> buffer;
    const qint64 n = payload.read(reinterpret_cast<char*>(buffer.data()), READ_REQUEST_BYTES);
    if (n < 0)
        throw std::runtime_error("Čtení datagramu selhalo: " + payload.errorString().toStdString());
    buffer[static_cast<std::size_t>(n)] = 0;

    const Temperature t = decode_temperature(buffer.data());

    QString line;
    line.reserve(32);
    line.append(kLogLinePrefix);
    appendFloatToStr(line, t, decimalSeparator);
    view.appendLogLine(line, t);

    takeReading(stats, t);

    view.setFieldText(Field::Maximum, floatToStr(stats.maximum, decimalSeparator));
    view.setFieldText(Field::Minimum, floatToStr(stats.minimum, decimalSeparator));
    view.setFieldText(Field::Average, floatToStr(stats.average, decimalSeparator));
    view.setFieldText(Field::Count, countText(stats.count));
}

} // namespace velt
