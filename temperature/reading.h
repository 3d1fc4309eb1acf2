#pragma once
// What happens to each datagram: read the payload, decode it, log it, count it and
// show the figures. The window is reached only through ReadingView, so the whole
// algorithm runs (and is tested) without a screen or a socket.

#include "temperature/stats.h"

#include <QStringView>

#include <cstddef>

class QIODevice;
class QString;

namespace velt {

// How much the handler asks of the payload stream.
constexpr std::size_t READ_REQUEST_BYTES = 100;
// Room for a whole read plus its terminating zero, so that no payload, however long,
// is written or read past the buffer.
constexpr std::size_t RECEIVE_BUFFER_BYTES = READ_REQUEST_BYTES + 1;

inline constexpr QStringView kLogLinePrefix = u"Teplota = ";

enum class Field { Maximum, Minimum, Average, Count };

class ReadingView {
public:
    // `line` is "Teplota = " and the text of `t`; a view may keep either.
    virtual void appendLogLine(const QString& line, Temperature t) = 0;
    virtual void setFieldText(Field field, const QString& text) = 0;

protected:
    ~ReadingView() = default;
};

// One datagram's payload, positioned at its first byte. An empty payload changes
// nothing. Throws std::runtime_error when the stream fails to read.
void handlePayload(QIODevice& payload, TemperatureStats& stats, ReadingView& view,
                   QStringView decimalSeparator);

} // namespace velt
