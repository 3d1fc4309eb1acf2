// libFuzzer target over everything a datagram goes through without a screen: the
// payload stream, the handler's read, decoding, the running figures and their texts.
// Each input is a run of datagrams, each a 16-bit big-endian length and its bytes.
// Every result is checked against a model built differently: integer arithmetic for
// the decoding, parsing the texts back, and long double for the average.

#include "net/payload_stream.h"
#include "temperature/format.h"
#include "temperature/reading.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

[[noreturn]] void fail(const char* what, const QString& detail = QString()) {
    std::fprintf(stderr, "oracle mismatch: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fail(#cond __VA_OPT__(, ) __VA_ARGS__);                                                \
    } while (0)

struct Recorder final : velt::ReadingView {
    QString log;
    QString fields[4];
    int lines = 0;
    int fieldWrites = 0;
    void appendLogLine(const QString& line, velt::Temperature) override {
        log = line;
        ++lines;
    }
    void setFieldText(velt::Field field, const QString& text) override {
        fields[static_cast<int>(field)] = text;
        ++fieldWrites;
    }
};

// The reading as the format defines it: the first 100 bytes at most, up to the first
// zero, the last four base-256 digits as a signed 32-bit count of sixteenths, rounded to
// 24 significant bits, ties to even.
float modelTemperature(const std::uint8_t* data, std::size_t size) {
    std::uint64_t digits = 0;
    for (std::size_t i = 0; i < size && i < velt::READ_REQUEST_BYTES && data[i] != 0; ++i)
        digits = ((digits << 8) | data[i]) & 0xFFFFFFFFu;
    std::int64_t n = static_cast<std::int32_t>(static_cast<std::uint32_t>(digits));
    const bool negative = n < 0;
    std::uint64_t magnitude = static_cast<std::uint64_t>(negative ? -n : n);
    int shift = 0;
    while ((magnitude >> shift) >= (1u << 24))
        ++shift;
    if (shift > 0) {
        const std::uint64_t half = 1ull << (shift - 1);
        const std::uint64_t rest = magnitude & ((1ull << shift) - 1);
        std::uint64_t kept = magnitude >> shift;
        if (rest > half || (rest == half && (kept & 1)))
            ++kept;
        magnitude = kept << shift;
    }
    const float t = std::ldexp(static_cast<float>(magnitude),
                               -4); // exact: below 2^25 or a shifted 24-bit value
    return negative ? -t : t;
}

float parse(const QString& text) {
    bool ok = false;
    const double value = QString(text).replace(u'E', u'e').toDouble(&ok);
    CHECK(ok, text);
    return static_cast<float>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velt::TemperatureStats stats;
    velt::PayloadStream stream;
    Recorder view;
    float modelMin = 0, modelMax = 0;
    std::int64_t modelCount = 0;
    int datagrams = 0;

    std::size_t at = 0;
    while (at + 2 <= size && datagrams < 64) {
        const std::size_t length =
            std::min<std::size_t>((data[at] << 8) | data[at + 1], size - at - 2);
        const std::uint8_t* payload = data + at + 2;
        at += 2 + length;
        ++datagrams;

        const velt::TemperatureStats before = stats;
        const int linesBefore = view.lines;
        stream.setPayload(reinterpret_cast<const char*>(payload), static_cast<qint64>(length));
        velt::handlePayload(stream, stats, view, u".");
        if (length == 0) {
            CHECK(view.lines == linesBefore);
            CHECK(stats.count == before.count && stats.average == before.average);
            continue;
        }

        const float t = modelTemperature(payload, length);
        CHECK(view.lines == linesBefore + 1);
        CHECK(view.log.startsWith(QStringLiteral("Teplota = ")), view.log);
        const QString text = view.log.mid(10);
        CHECK(parse(text) == t, text);
        CHECK(!text.contains(u'E'), text); // readings always print in fixed notation

        modelCount =
            std::min<std::int64_t>(modelCount + 1, std::numeric_limits<std::int32_t>::max());
        if (modelCount == 1) {
            modelMin = modelMax = t;
            CHECK(stats.average == t);
        } else {
            modelMin = std::min(modelMin, t);
            modelMax = std::max(modelMax, t);
            const long double sum = static_cast<long double>(before.average) + t;
            if (sum - before.average == t) // exact in long double: single rounding to float
                CHECK(stats.average == static_cast<float>(sum / 2), view.fields[2]);
            CHECK(stats.average >= modelMin && stats.average <= modelMax);
        }
        CHECK(stats.count == modelCount);
        CHECK(stats.minimum == modelMin && stats.maximum == modelMax);
        CHECK(parse(view.fields[0]) == stats.maximum, view.fields[0]);
        CHECK(parse(view.fields[1]) == stats.minimum, view.fields[1]);
        CHECK(parse(view.fields[2]) == stats.average, view.fields[2]);
        CHECK(view.fields[3] == QString::number(modelCount), view.fields[3]);
    }
    return 0;
}
