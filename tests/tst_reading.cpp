#include "temperature/reading.h"

#include <QBuffer>
#include <QTest>

using velt::Field;

namespace {

// Records every call in order, the way the window would receive them.
class RecordingView final : public velt::ReadingView {
public:
    QStringList calls;
    QStringList log{QString()};
    QString fields[4] = {"0", "0", "0", "0"};

    void appendLogLine(const QString& line, velt::Temperature) override {
        calls << "log " + line;
        log << line;
    }
    void setFieldText(Field field, const QString& text) override {
        static const char* const names[] = {"edit_MAX", "edit_MIN", "edit_prumer",
                                            "edit_pocitadlo"};
        calls << QString::fromLatin1(names[int(field)]) + ' ' + text;
        fields[int(field)] = text;
    }
};

class FailingDevice final : public QIODevice {
public:
    FailingDevice() { open(QIODevice::ReadOnly); }
    qint64 size() const override { return 2; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }
};

void feed(const QByteArray& payload, velt::TemperatureStats& stats, RecordingView& view,
          QStringView separator = u".") {
    QBuffer buffer;
    buffer.setData(payload);
    buffer.open(QIODevice::ReadOnly);
    velt::handlePayload(buffer, stats, view, separator);
}

QByteArray ffThen0191(int size) {
    return QByteArray(size - 2, '\xff') + QByteArray::fromHex("0191");
}

} // namespace

class TestReading : public QObject {
    Q_OBJECT
private slots:
    void sequences_data();
    void sequences();
    void eachReadingWritesLogThenFieldsInOrder();
    void payloadSizes_data();
    void payloadSizes();
    void failedReadLeavesEverythingUnchanged();
};

void TestReading::sequences_data() {
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("fields"); // MAX, MIN, prumer, pocitadlo

    const auto hex = [](const char* h) { return QByteArray::fromHex(h); };
    QTest::newRow("empty datagram changes nothing")
        << QList<QByteArray>{QByteArray()} << "." << QStringList{""}
        << QStringList{"0", "0", "0", "0"};
    QTest::newRow("first reading")
        << QList<QByteArray>{hex("0191")} << "." << QStringList{"", "Teplota = 25.0625"}
        << QStringList{"25.0625", "25.0625", "25.0625", "1"};
    QTest::newRow("second reading") << QList<QByteArray>{hex("0191"), hex("0180")} << "."
                                    << QStringList{"", "Teplota = 25.0625", "Teplota = 24"}
                                    << QStringList{"25.0625", "24", "24.53125", "2"};
    QTest::newRow("empty between readings is skipped")
        << QList<QByteArray>{hex("0191"), QByteArray(), hex("0180")} << "."
        << QStringList{"", "Teplota = 25.0625", "Teplota = 24"}
        << QStringList{"25.0625", "24", "24.53125", "2"};
    QTest::newRow("zero is logged and counted")
        << QList<QByteArray>{hex("0191"), hex("0012")} << "."
        << QStringList{"", "Teplota = 25.0625", "Teplota = 0"}
        << QStringList{"25.0625", "0", "12.53125", "2"};
    QTest::newRow("rounded reading")
        << QList<QByteArray>{hex("123456789a")} << "." << QStringList{"", "Teplota = 54880136"}
        << QStringList{"54880136", "54880136", "54880136", "1"};
    QTest::newRow("comma locale") << QList<QByteArray>{hex("0191")} << ","
                                  << QStringList{"", "Teplota = 25,0625"}
                                  << QStringList{"25,0625", "25,0625", "25,0625", "1"};

    QList<QByteArray> zeros{hex("01")};
    QStringList zeroLog{"", "Teplota = 0.0625"};
    for (int i = 0; i < 13; ++i) {
        zeros << hex("00");
        zeroLog << "Teplota = 0";
    }
    QTest::newRow("average turns scientific")
        << zeros << "." << zeroLog << QStringList{"0.0625", "0", "7.62939453125E-6", "14"};
}

void TestReading::sequences() {
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(QString, separator);
    velt::TemperatureStats stats;
    RecordingView view;
    for (const QByteArray& p : payloads)
        feed(p, stats, view, separator);
    QTEST(view.log, "log");
    QTEST(QStringList(std::begin(view.fields), std::end(view.fields)), "fields");
}

void TestReading::eachReadingWritesLogThenFieldsInOrder() {
    velt::TemperatureStats stats;
    RecordingView view;
    feed(QByteArray::fromHex("0191"), stats, view);
    feed(QByteArray::fromHex("0180"), stats, view);
    const QStringList expected{
        "log Teplota = 25.0625", "edit_MAX 25.0625", "edit_MIN 25.0625", "edit_prumer 25.0625",
        "edit_pocitadlo 1",      "log Teplota = 24", "edit_MAX 25.0625", "edit_MIN 24",
        "edit_prumer 24.53125",  "edit_pocitadlo 2",
    };
    QCOMPARE(view.calls, expected);
}

void TestReading::payloadSizes_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("line");
    // Only the last four digits before the end of what was read count, so where the
    // read stops shows in the value.
    QTest::newRow("19 bytes, whole") << ffThen0191(19) << "Teplota = -4070.9375";
    QTest::newRow("20 bytes, whole") << ffThen0191(20) << "Teplota = -4070.9375";
    QTest::newRow("100 bytes, whole") << ffThen0191(100) << "Teplota = -4070.9375";
    QTest::newRow("101 bytes, first 100") << ffThen0191(101) << "Teplota = -15.9375";
    QTest::newRow("65507 bytes, first 100") << ffThen0191(65507) << "Teplota = -0.0625";
    QTest::newRow("one byte") << QByteArray::fromHex("01") << "Teplota = 0.0625";
}

void TestReading::payloadSizes() {
    QFETCH(QByteArray, payload);
    velt::TemperatureStats stats;
    RecordingView view;
    feed(payload, stats, view);
    QCOMPARE(view.log.size(), 2);
    QTEST(view.log.last(), "line");
    QCOMPARE(stats.count, 1);
}

void TestReading::failedReadLeavesEverythingUnchanged() {
    velt::TemperatureStats stats;
    RecordingView view;
    FailingDevice device;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, velt::handlePayload(device, stats, view, u"."));
    QCOMPARE(stats.count, 0);
    QVERIFY(view.calls.isEmpty());
}

QTEST_APPLESS_MAIN(TestReading)
#include "tst_reading.moc"
