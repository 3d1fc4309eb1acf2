// The chart's record of every reading, against plain vectors: times decoded from their
// differences, the first reading at a time, the lowest and highest of any range from the
// summaries, the running average, gaps where memory ran out; and which log line shows
// which reading through the user's edits.

#include "log/reading_lines.h"
#include "log/reading_series.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <vector>

class TestReadingSeries : public QObject {
    Q_OBJECT
private slots:
    void matchesPlainVectors_data();
    void matchesPlainVectors();
    void aClockSetBackDoesNotReorderTheRun();
    void outOfMemoryLeavesAGap();
    void readingLinesFollowEdits_data();
    void readingLinesFollowEdits();
};

void TestReadingSeries::matchesPlainVectors_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("maxStepMs"); // between arrivals
    QTest::newRow("one reading") << 1 << 10;
    QTest::newRow("one summary entry and a bit") << 70 << 10;
    QTest::newRow("bursts in one millisecond") << 5000 << 1;
    QTest::newRow("ordinary rates") << 40000 << 30;
    // Differences of several bytes, across the checkpoints and byte pages.
    QTest::newRow("hours apart") << 3000 << 20'000'000;
    QTest::newRow("three summary levels and a page of values") << 70000 << 3;
}

void TestReadingSeries::matchesPlainVectors() {
    QFETCH(int, count);
    QFETCH(int, maxStepMs);
    QRandomGenerator random(static_cast<quint32>(count + maxStepMs));
    velt::ReadingSeries series;
    std::vector<float> values;
    std::vector<std::int64_t> times;
    std::int64_t t = 1'765'000'000'000;
    for (int i = 0; i < count; ++i) {
        t += random.bounded(maxStepMs + 1);
        // Mostly small steps, now and then a spike.
        const float v = random.bounded(1000) == 0 ? 900.0f + float(random.bounded(100))
                                                  : float(random.bounded(400)) / 16.0f;
        QVERIFY(series.append(v, t));
        values.push_back(v);
        times.push_back(t);
    }
    QCOMPARE(series.size(), count);
    QCOMPARE(series.lastTime(), times.back());
    QCOMPARE(series.firstTime(), times.front());
    std::vector<float> averages;
    for (int i = 0; i < count; ++i) {
        QCOMPARE(series.value(i), values[i]);
        averages.push_back(
            i == 0 ? values[0]
                   : static_cast<float>((double{averages.back()} + double{values[i]}) * 0.5));
    }
    // Every time, read forward and looked up one by one.
    velt::ReadingSeries::TimeReader reader(series, 0);
    for (int i = 0; i < count; ++i, reader.next()) {
        QCOMPARE(reader.time(), times[i]);
        if (i % 97 == 0)
            QCOMPARE(series.time(i), times[i]);
    }
    for (int k = 0; k < 300; ++k) {
        const std::int64_t at =
            times.front() - 5 +
            std::int64_t(random.bounded(double(times.back() - times.front() + 10)));
        const auto expected = std::lower_bound(times.begin(), times.end(), at) - times.begin();
        QCOMPARE(series.indexAtTime(at), std::int64_t(expected));
    }
    // Sought forward in random steps, as the chart walks its columns.
    const std::int64_t stride = std::max<std::int64_t>(1, (times.back() - times.front()) / 150);
    velt::ReadingSeries::TimeReader walker(series, 0);
    for (std::int64_t at = times.front(); at <= times.back() + 1;
         at += 1 + std::int64_t(random.bounded(double(stride)))) {
        series.seek(walker, at);
        const auto expected = std::lower_bound(times.begin(), times.end(), at) - times.begin();
        QCOMPARE(walker.index(), std::int64_t(expected));
        if (expected < count)
            QCOMPARE(walker.time(), times[std::size_t(expected)]);
    }
    for (int k = 0; k < 303; ++k) {
        int from = int(random.bounded(count));
        int to = from + 1 + int(random.bounded(count - from));
        if (k % 3 == 0)
            to = std::min(count, from + 1 + int(random.bounded(200)));
        // Short ranges across the first page of values' end.
        if (k >= 300 && count > 65600) {
            from = 65536 - 37 * (k - 299);
            to = 65536 + 29 * (k - 299);
        }
        const auto [lo, hi] = std::minmax_element(values.begin() + from, values.begin() + to);
        const velt::ReadingSeries::Span s = series.values(from, to);
        QCOMPARE(s.minimum, *lo);
        QCOMPARE(s.maximum, *hi);
        // The average from its last 48 readings agrees with the running one to a float's
        // last bits.
        const auto [alo, ahi] = std::minmax_element(averages.begin() + from, averages.begin() + to);
        const velt::ReadingSeries::Span a = series.averages(from, to);
        QVERIFY(std::abs(a.minimum - *alo) <= 1e-5f * std::max(1.0f, std::abs(*alo)));
        QVERIFY(std::abs(a.maximum - *ahi) <= 1e-5f * std::max(1.0f, std::abs(*ahi)));
    }
}

void TestReadingSeries::aClockSetBackDoesNotReorderTheRun() {
    velt::ReadingSeries series;
    QVERIFY(series.append(20, 10'000));
    QVERIFY(series.append(21, 9'000)); // the system's clock set back a second
    QVERIFY(series.append(22, 10'005));
    QCOMPARE(series.time(1), 10'000);
    QCOMPARE(series.indexAtTime(10'001), 2);
}

void TestReadingSeries::outOfMemoryLeavesAGap() {
    velt::ReadingSeries series;
    std::int64_t t = 0;
    while (series.append(1.0f, ++t)) {
        if (series.size() == 2)
            series.setMemoryLimit(series.memoryBytes() + 65536); // not another page
    }
    const std::int64_t kept = series.size();
    QVERIFY(kept > 1000);
    QVERIFY(!series.append(2.0f, ++t)); // still out: left out, nothing changed
    QCOMPARE(series.size(), kept);
    series.setMemoryLimit(0);
    QVERIFY(series.append(3.0f, ++t));
    QVERIFY(series.gapBefore(kept));
    QVERIFY(!series.gapBefore(kept - 1));
    QCOMPARE(series.nextGap(1), kept);
    QCOMPARE(series.value(kept), 3.0f);
    QCOMPARE(series.time(kept), t);
    QCOMPARE(series.values(0, kept + 1).maximum, 3.0f);
}

void TestReadingSeries::readingLinesFollowEdits_data() {
    QTest::addColumn<QList<int>>("edit");     // line, removed breaks, added breaks
    QTest::addColumn<QList<int>>("expected"); // line of readings 0..5, -1 edited away
    // Readings 0..5 on lines 1..6 (line 0 is the log's first, empty line).
    QTest::newRow("typing above moves nothing")
        << QList<int>{0, 0, 0} << QList<int>{1, 2, 3, 4, 5, 6};
    QTest::newRow("a line added above moves all")
        << QList<int>{0, 0, 1} << QList<int>{2, 3, 4, 5, 6, 7};
    QTest::newRow("a line break inside a reading's line")
        << QList<int>{3, 0, 1} << QList<int>{1, 2, 3, 5, 6, 7};
    QTest::newRow("two lines joined into the line above")
        << QList<int>{2, 2, 0} << QList<int>{1, 2, -1, -1, 3, 4};
    QTest::newRow("an edit below moves nothing")
        << QList<int>{6, 0, 3} << QList<int>{1, 2, 3, 4, 5, 6};
}

void TestReadingSeries::readingLinesFollowEdits() {
    QFETCH(QList<int>, edit);
    QFETCH(QList<int>, expected);
    velt::ReadingLines lines;
    lines.appended(0, 1, 2);
    lines.appended(2, 3, 4); // joins the run
    lines.edited(edit[0], edit[1], edit[2]);
    for (int reading = 0; reading < 6; ++reading) {
        const auto line = lines.lineOf(reading);
        QCOMPARE(line.value_or(-1), expected[reading]);
    }
    QVERIFY(!lines.lineOf(6));
}

QTEST_GUILESS_MAIN(TestReadingSeries)
#include "tst_reading_series.moc"
