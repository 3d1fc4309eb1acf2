// Floods the real window over loopback from a separate sender process and checks that
// nothing was lost and every figure is right.

#include "net/udp_server.h"
#include "support/test_support.h"
#include "temperature/stats.h"
#include "ui/VELT_projekt.h"

#include "ui/log_memo.h"
#include <QElapsedTimer>
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
    return velt::test::residentBytes() / 1024;
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
    void init() { velt::temperatureStats = {}; }
    void pacedBurstArrivesWhole();
    void unpacedBlastAccountsForEveryReading();
    void ordinaryRatePaintsAboutOncePerFrame();
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
    float minimum = velt::test::sequenceTemperature(0), maximum = minimum, average = minimum;
    for (long long i = 1; i < kCount; ++i) {
        const float t = velt::test::sequenceTemperature(i);
        minimum = std::min(minimum, t);
        maximum = std::max(maximum, t);
        average = static_cast<float>((static_cast<long double>(average) + t) / 2);
    }
    QCOMPARE(velt::temperatureStats.minimum, minimum);
    QCOMPARE(velt::temperatureStats.maximum, maximum);
    QCOMPARE(velt::temperatureStats.average, average);
    QCOMPARE(field(form, "edit_MIN"), QString::number(minimum, 'g', 15));
    QCOMPARE(field(form, "edit_MAX"), QString::number(maximum, 'g', 15));
    QCOMPARE(log->store().line(kCount).toString(),
             QStringLiteral("Teplota = ") +
                 QString::number(velt::test::sequenceTemperature(kCount - 1), 'g', 15));

    const qint64 grownKiB = residentKiB() - before;
    qInfo("resident memory grew by %lld KiB for %d readings (%.0f bytes a reading)", grownKiB,
          kCount, grownKiB * 1024.0 / kCount);
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer's quarantine and shadow memory swamp the figure
    // The log keeps about 40 bytes a reading; the stock text control needed about 800.
    QVERIFY2(grownKiB < 64 * 1024, qPrintable(QString::number(grownKiB)));
#endif
}

void TestFlood::unpacedBlastAccountsForEveryReading() {
    constexpr int kCount = 100000;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* udpS = form.findChild<TUDPServer*>(QStringLiteral("udpS"));
    QProcess* sender =
        startSender(this, {"--sequence", "--count", QString::number(kCount), "127.0.0.1", "55555"});
    QVERIFY(sender->waitForFinished(60000));
    QCOMPARE(sender->readAllStandardOutput().trimmed().split(' ').first().toInt(), kCount);
    // The kernel's drop count comes with the next datagram: one more, after the blast.
    QTest::qWait(200);
    QProcess* last = startSender(this, {"--sequence", "--count", "1", "127.0.0.1", "55555"});
    QVERIFY(last->waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(udpS->pendingDatagrams() == 0 &&
                                 field(form, "edit_pocitadlo").toLongLong() +
                                         udpS->droppedDatagrams() +
                                         udpS->kernelDroppedDatagrams() ==
                                     kCount + 1,
                             60000);
    qInfo("unpaced blast: %s counted, %llu dropped by the kernel, %llu by the queue bound",
          qPrintable(field(form, "edit_pocitadlo")),
          static_cast<unsigned long long>(udpS->kernelDroppedDatagrams()),
          static_cast<unsigned long long>(udpS->droppedDatagrams()));
}

// At an ordinary rate the window is repainted about once a frame, not once a reading,
// and still shows every reading.
void TestFlood::ordinaryRatePaintsAboutOncePerFrame() {
    constexpr int kCount = 5000;
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    struct PaintCounter : QObject {
        QHash<QObject*, int> paints;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                ++paints[watched];
            return false;
        }
    } counter;
    auto* memo = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    QList<QWidget*> watched{memo->viewport()};
    for (const char* name : {"edit_prumer", "edit_MIN", "edit_MAX", "edit_pocitadlo"})
        watched << form.findChild<QLineEdit*>(QString::fromLatin1(name));
    for (QWidget* w : watched)
        w->installEventFilter(&counter);
    QElapsedTimer clock;
    clock.start();
    QProcess* sender = startSender(this, {"--sequence", "--count", QString::number(kCount),
                                          "--rate", "5000", "127.0.0.1", "55555"});
    QTRY_COMPARE_WITH_TIMEOUT(field(form, "edit_pocitadlo"), QString::number(kCount), 30000);
    const double frames = clock.elapsed() / 16.7;
    QVERIFY(sender->state() == QProcess::NotRunning || sender->waitForFinished(10000));
    QCOMPARE(memo->store().lineCount(), kCount + 1);
    QCOMPARE(memo->store().line(kCount).toString(),
             QStringLiteral("Teplota = ") +
                 QString::number(velt::test::sequenceTemperature(kCount - 1), 'g', 15));
    for (QWidget* w : watched) {
        const int paints = counter.paints.value(w);
        qInfo("%s: %d paints in %.0f frames", qPrintable(w->objectName()), paints, frames);
        QVERIFY2(paints <= 1.5 * frames + 10, qPrintable(w->objectName()));
    }
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
