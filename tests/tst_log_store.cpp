#include "log/log_store.h"

#include "temperature/decode.h"
#include "temperature/format.h"
#include "temperature/reading.h"

#include <QRandomGenerator>
#include <QStringList>
#include <QTest>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The reference: a plain list of lines.
struct Model {
    QStringList lines{QString()};

    QString text() const { return lines.join(u'\n'); }
    qint64 offsetOf(velt::LogPosition p) const {
        qint64 offset = 0;
        for (qint64 i = 0; i < p.line; ++i)
            offset += lines[i].size() + 1;
        return offset + p.column;
    }
    void replace(velt::LogPosition from, velt::LogPosition to, const QString& text) {
        const QString joined =
            lines[from.line].left(from.column) + text + lines[to.line].mid(to.column);
        lines.remove(from.line, to.line - from.line + 1);
        const QStringList pieces = joined.split(u'\n');
        for (qsizetype i = 0; i < pieces.size(); ++i)
            lines.insert(from.line + i, pieces[i]);
    }
};

QString randomText(QRandomGenerator& random, bool breaks) {
    QString text;
    const int length = random.bounded(12);
    for (int i = 0; i < length; ++i)
        text += breaks && random.bounded(5) == 0 ? QChar(u'\n') : QChar(u'a' + random.bounded(26));
    return text;
}

// A reading as the window takes it: a float from a random payload, or now and then one of
// any size (averages can be tiny or huge), with the line the handler makes of it.
float randomReading(QRandomGenerator& random) {
    if (random.bounded(4) == 0) {
        const std::uint32_t bits = random.generate();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return std::isfinite(f) ? f : 1.5f;
    }
    std::uint8_t bytes[5] = {};
    const int n = 1 + random.bounded(4);
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(1 + random.bounded(255));
    return velt::decode_temperature(bytes);
}

QString readingLine(float t, char16_t separator) {
    QString line = velt::kLogLinePrefix.toString();
    velt::appendFloatToStr(line, t, QStringView(&separator, 1));
    return line;
}

velt::LogPosition randomPosition(QRandomGenerator& random, const Model& model) {
    const qint64 line = random.bounded(int(model.lines.size()));
    return {line, std::int32_t(random.bounded(int(model.lines[line].size()) + 1))};
}

} // namespace

class TestLogStore : public QObject {
    Q_OBJECT
private slots:
    void matchesAPlainListOfLines_data();
    void matchesAPlainListOfLines();
    void aMillionReadingsFitIn40BytesEach();
    void readingsTakeUnderSixBytesALine();
    void offsetsPastTwoToTheThirtyOne();
};

void TestLogStore::matchesAPlainListOfLines_data() {
    QTest::addColumn<int>("chunkChars");
    QTest::addColumn<int>("chunkLines");
    QTest::newRow("one line a chunk") << 1 << 1;
    QTest::newRow("tiny chunks") << 16 << 3;
    QTest::newRow("program's chunks") << 32768 << 2048;
}

void TestLogStore::matchesAPlainListOfLines() {
    QFETCH(int, chunkChars);
    QFETCH(int, chunkLines);
    velt::LogStore store(chunkChars, chunkLines);
    Model model;
    QRandomGenerator random(chunkChars * 31 + chunkLines);
    // One reading with either separator: a copy must not take one line for the other.
    for (char16_t separator : {u',', u'.'}) {
        const float t = 25.0625f;
        model.lines << readingLine(t, separator);
        const auto length = static_cast<std::uint8_t>(model.lines.last().size());
        const std::int64_t time = 0;
        store.appendReadings(&t, &time, &length, 1, QStringView(&separator, 1));
    }
    for (int step = 0; step < 3000; ++step) {
        const int kind = random.bounded(6);
        if (kind == 0) {
            const QString line = randomText(random, false);
            store.appendLine(line);
            model.lines << line;
        } else if (kind <= 2) {
            // Readings, kept as readings, with either separator.
            const char16_t separator = random.bounded(2) ? u',' : u'.';
            std::vector<float> values(1 + random.bounded(40));
            std::vector<std::uint8_t> lengths;
            for (float& t : values) {
                t = randomReading(random);
                model.lines << readingLine(t, separator);
                lengths.push_back(static_cast<std::uint8_t>(model.lines.last().size()));
            }
            const std::vector<std::int64_t> times(values.size(), step);
            QCOMPARE(store.appendReadings(values.data(), times.data(), lengths.data(),
                                          qint64(values.size()), QStringView(&separator, 1)),
                     qint64(values.size()));
        } else {
            velt::LogPosition from = randomPosition(random, model),
                              to = randomPosition(random, model);
            if (to < from)
                std::swap(from, to);
            if (random.bounded(4) != 0) // mostly small edits, as a user makes them
                to = {from.line, std::min<std::int32_t>(from.column + random.bounded(3),
                                                        model.lines[from.line].size())};
            const QString text = randomText(random, true);
            const velt::LogPosition after = store.replace(from, to, text);
            model.replace(from, to, text);
            QCOMPARE(model.offsetOf(after), model.offsetOf(from) + text.size());
        }
        QCOMPARE(store.lineCount(), model.lines.size());
        QCOMPARE(store.characterCount(), model.text().size());
        const velt::LogPosition a = randomPosition(random, model),
                                b = randomPosition(random, model);
        QCOMPARE(store.offsetOf(a), model.offsetOf(a));
        QCOMPARE(store.positionAt(model.offsetOf(b)), b);
        QCOMPARE(store.text(std::min(a, b), std::max(a, b)),
                 model.text().mid(model.offsetOf(std::min(a, b)),
                                  model.offsetOf(std::max(a, b)) - model.offsetOf(std::min(a, b))));
    }
    QCOMPARE(store.text(), model.text());
    for (qsizetype i = 0; i < model.lines.size(); ++i)
        QCOMPARE(store.line(i).toString(), model.lines[i]);
}

void TestLogStore::aMillionReadingsFitIn40BytesEach() {
    velt::LogStore store;
    for (int i = 0; i < 1000000; ++i)
        store.appendLine(u"Teplota = 25.0625");
    // 17 UTF-16 characters and a 4-byte line end: 38 bytes and a little for the chunks.
    QVERIFY2(store.memoryBytes() <= 40u * 1000000,
             qPrintable(QString::number(store.memoryBytes())));
    QCOMPARE(store.line(1000000).toString(), QStringLiteral("Teplota = 25.0625"));
}

void TestLogStore::readingsTakeUnderSixBytesALine() {
    constexpr int kLines = 1 << 20; // whole pages of readings
    velt::LogStore store;
    const float t = 25.0625f;
    const std::uint8_t length = 17;
    for (int i = 0; i < kLines; ++i) {
        const std::int64_t time = 1'765'000'000'000 + i * 10; // 100 a second
        store.appendReadings(&t, &time, &length, 1, u".");
    }
    // Half a byte a line; the reading itself once, with its time: a float and a byte, and
    // the chart's summaries.
    const std::size_t bytes = store.memoryBytes() + store.readings().memoryBytes();
    QVERIFY2(store.memoryBytes() <= kLines * 7 / 10,
             qPrintable(QString::number(store.memoryBytes())));
    QVERIFY2(bytes <= 6u * kLines, qPrintable(QString::number(bytes)));
    QCOMPARE(store.readings().size(), kLines);
    QCOMPARE(store.line(kLines).toString(), QStringLiteral("Teplota = 25.0625"));
    QCOMPARE(store.characterCount(), 18LL * kLines);
    const QString all = store.text();
    QCOMPARE(all.size(), store.characterCount());
    QCOMPARE(all.count(u'\n'), kLines);
    QCOMPARE(QStringView(all).right(18), u"\nTeplota = 25.0625");
}

// Past 2^31 characters every offset is still exact: the store counts in 64 bits.
void TestLogStore::offsetsPastTwoToTheThirtyOne() {
    velt::LogStore store;
    // The longest reading line there is: 31 characters.
    const float tiny = -std::numeric_limits<float>::denorm_min();
    const QString last = readingLine(tiny, u',');
    QCOMPARE(last.size(), 31);
    constexpr qint64 kBatch = 4096;
    const std::vector<float> values(kBatch, tiny);
    const std::vector<std::uint8_t> lengths(kBatch, 31);
    const std::vector<std::int64_t> times(kBatch, 0);
    const qint64 lines = (qint64(1) << 31) / 32 + kBatch;
    for (qint64 added = 0; added < lines; added += kBatch)
        store.appendReadings(values.data(), times.data(), lengths.data(), kBatch, u",");
    const qint64 count = store.characterCount();
    QVERIFY(count > INT_MAX);
    QCOMPARE(count, (store.lineCount() - 1) * 32);
    const velt::LogPosition end = store.end();
    QCOMPARE(store.offsetOf(end), count);
    QCOMPARE(store.positionAt(count - 5), (velt::LogPosition{end.line, 26}));
    QCOMPARE(store.positionAt(count - 32), (velt::LogPosition{end.line - 1, 31}));
    QCOMPARE(store.text({end.line - 1, 20}, end), last.mid(20) + u'\n' + last);
    QVERIFY(store.memoryBytes() < std::size_t(6 * store.lineCount()));
}

QTEST_APPLESS_MAIN(TestLogStore)
#include "tst_log_store.moc"
