#include "temperature/reading.h"

#include "temperature/format.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace velt {

void handle_payload(QIODevice& payload, TemperatureStats& stats, ReadingView& view,
                    QStringView decimal_separator) {
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
    append_float_to_str(line, t, decimal_separator);
    view.appendLogLine(line);

    take_reading(stats, t);

    view.setFieldText(Field::Maximum, float_to_str(stats.maximum, decimal_separator));
    view.setFieldText(Field::Minimum, float_to_str(stats.minimum, decimal_separator));
    view.setFieldText(Field::Average, float_to_str(stats.average, decimal_separator));
    view.setFieldText(Field::Count, count_text(stats.count));
}

} // namespace velt
