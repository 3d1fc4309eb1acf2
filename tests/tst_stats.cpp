#include "temperature/stats.h"

#include <QTest>

#include <limits>

using velt::TemperatureStats;

class TestStats : public QObject {
    Q_OBJECT
private slots:
    void sequences_data();
    void sequences();
    void halvingRunEndsExactlyOnTheReading();
    void countSaturatesAndFiguresKeepMoving();
};

void TestStats::sequences_data() {
    QTest::addColumn<QList<float>>("readings");
    QTest::addColumn<float>("minimum");
    QTest::addColumn<float>("maximum");
    QTest::addColumn<float>("average");
    QTest::addColumn<int>("count");

    QTest::newRow("first reading sets all")
        << QList<float>{25.0625f} << 25.0625f << 25.0625f << 25.0625f << 1;
    QTest::newRow("then 24") << QList<float>{25.0625f, 24} << 24.0f << 25.0625f << 24.53125f << 2;
    QTest::newRow("then 24 again")
        << QList<float>{25.0625f, 24, 24} << 24.0f << 25.0625f << 24.265625f << 3;
    QTest::newRow("newest weighs one half")
        << QList<float>{24, 25, 26} << 24.0f << 26.0f << 25.25f << 3;
    QTest::newRow("zero is a reading") << QList<float>{24, 0} << 0.0f << 24.0f << 12.0f << 2;
    QTest::newRow("negative first then positive")
        << QList<float>{-1, 4085.875f} << -1.0f << 4085.875f << 2042.4375f << 2;
    QTest::newRow("first reading negative, no zero creeps in")
        << QList<float>{-5, -3} << -5.0f << -3.0f << -4.0f << 2;
    QTest::newRow("extremes") << QList<float>{134217728.0f, -134213616.0f} << -134213616.0f
                              << 134217728.0f << 2056.0f << 2;
    QTest::newRow("tie in the average rounds to even")
        << QList<float>{16777216.0f, 1.0f} << 1.0f << 16777216.0f << 8388608.0f << 2;
}

void TestStats::sequences() {
    QFETCH(QList<float>, readings);
    TemperatureStats stats;
    for (float t : readings)
        velt::takeReading(stats, t);
    QTEST(stats.minimum, "minimum");
    QTEST(stats.maximum, "maximum");
    QTEST(stats.average, "average");
    QTEST(int{stats.count}, "count");
}

void TestStats::halvingRunEndsExactlyOnTheReading() {
    TemperatureStats stats;
    velt::takeReading(stats, 24.5f);
    float expectedGap = 0.5f;
    for (int i = 1; i <= 18; ++i) {
        velt::takeReading(stats, 24.0f);
        expectedGap /= 2;
        QCOMPARE(stats.average, 24.0f + expectedGap);
    }
    // 24 + 2^-20 lies half-way between two floats; ties go to the even one, 24.
    velt::takeReading(stats, 24.0f);
    QCOMPARE(stats.average, 24.0f);
    QCOMPARE(stats.minimum, 24.0f);
    QCOMPARE(stats.maximum, 24.5f);
}

void TestStats::countSaturatesAndFiguresKeepMoving() {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    TemperatureStats stats{20.0f, 30.0f, 25.0f, kMax - 1};
    velt::takeReading(stats, 27.0f);
    QCOMPARE(stats.count, kMax);
    QCOMPARE(stats.average, 26.0f);
    velt::takeReading(stats, 10.0f);
    QCOMPARE(stats.count, kMax);
    QCOMPARE(stats.minimum, 10.0f);
    QCOMPARE(stats.maximum, 30.0f);
    QCOMPARE(stats.average, 18.0f);
}

QTEST_APPLESS_MAIN(TestStats)
#include "tst_stats.moc"
