// Floods the real window over loopback from a separate sender process and checks that
// nothing was lost and every figure is right.

#include "net/udp_server.h"
#include "temperature/stats.h"
#include "ui/VELT_projekt.h"

#include "ui/log_memo.h"
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <cmath>

namespace {

QString field(QWidget& form, const char* name) {
    return form.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
}

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// udp_send --sequence sends reading i as the bytes 1+i/255^2, 1+(i/255)%255, 1+i%255.
float sequenceTemperature(long long i) {
    const long long v =
        ((1 + (i / (255 * 255)) % 255) << 16) | ((1 + (i / 255) % 255) << 8) | (1 + i % 255);
    return static_cast<float>(v) / 16; // below 2^24: exact
}

QProcess* startSender(QObject* parent, const QStringList& arguments) {
    auto* sender = new QProcess(parent);
    sender->start(QStringLiteral(UDP_SEND), arguments);
    return sender;
}

} // namespace

class TestFlood : public QObject {
    Q_OBJECT
private slots:
    void init() { velt::temperature_stats = {}; }
    void pacedBurstArrivesWhole();
    void unpacedBlastReportsLoss();
};

void TestFlood::pacedBurstArrivesWhole() {
    constexpr int kCount = 200000;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const qint64 before = residentKiB();
    QProcess* sender = startSender(this, {"--sequence", "--count", QString::number(kCount),
                                          "--rate", "100000", "127.0.0.1", "55555"});
    QVERIFY(sender->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(field(form, "edit_pocitadlo"), QString::number(kCount), 180000);
    QVERIFY(sender->state() == QProcess::NotRunning || sender->waitForFinished(10000));
    QCOMPARE(sender->exitCode(), 0);

    auto* log = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    QCOMPARE(log->store().lineCount(), kCount + 1);
    QCOMPARE(form.findChild<TUDPServer*>(QStringLiteral("udpS"))->droppedDatagrams(), 0u);

    // The figures, computed here from what was sent.
    float minimum = sequenceTemperature(0), maximum = minimum, average = minimum;
    for (long long i = 1; i < kCount; ++i) {
        const float t = sequenceTemperature(i);
        minimum = std::min(minimum, t);
        maximum = std::max(maximum, t);
        average = static_cast<float>((static_cast<long double>(average) + t) / 2);
    }
    QCOMPARE(velt::temperature_stats.minimum, minimum);
    QCOMPARE(velt::temperature_stats.maximum, maximum);
    QCOMPARE(velt::temperature_stats.average, average);
    QCOMPARE(field(form, "edit_MIN"), QString::number(minimum, 'g', 15));
    QCOMPARE(field(form, "edit_MAX"), QString::number(maximum, 'g', 15));
    QCOMPARE(log->store().line(kCount).toString(),
             QStringLiteral("Teplota = ") +
                 QString::number(sequenceTemperature(kCount - 1), 'g', 15));

    const qint64 grownKiB = residentKiB() - before;
    qInfo("resident memory grew by %lld KiB for %d readings (%.0f bytes a reading)", grownKiB,
          kCount, grownKiB * 1024.0 / kCount);
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer's quarantine and shadow memory swamp the figure
    // The log keeps about 40 bytes a reading; the stock text control needed about 800.
    QVERIFY2(grownKiB < 64 * 1024, qPrintable(QString::number(grownKiB)));
#endif
}

void TestFlood::unpacedBlastReportsLoss() {
    constexpr int kCount = 100000;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QProcess* sender =
        startSender(this, {"--sequence", "--count", QString::number(kCount), "127.0.0.1", "55555"});
    QVERIFY(sender->waitForFinished(60000));
    const QList<QByteArray> report = sender->readAllStandardOutput().trimmed().split(' ');
    const int sent = report.first().toInt();
    QCOMPARE(sent, kCount);
    // Wait until the count stops moving.
    QString last;
    do {
        last = field(form, "edit_pocitadlo");
        QTest::qWait(500);
    } while (field(form, "edit_pocitadlo") != last);
    const int received = last.toInt();
    qInfo("unpaced blast: %d sent in %s s, %d received, %d lost (%.2f %%)", sent,
          report.value(1).constData(), received, sent - received, 100.0 * (sent - received) / sent);
    QVERIFY(received <= sent);
    // Whatever arrived is exact: the newest reading's line matches its count.
    QVERIFY(received > 0);
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
