#include "net/udp_server.h"
#include "support/test_support.h"

#include <QAbstractEventDispatcher>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QIODevice>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <thread>

using velt::test::canBind;
using velt::test::kAnyAddress;
using velt::test::kLoopbackAddress;
using velt::test::LoopbackSender;
using velt::test::sequenceReading;

namespace {

// Records what the handler was given, and whether calls ever overlapped.
struct Recorder {
    QList<QByteArray> payloads;
    QList<std::int64_t> arrivals;
    int depth = 0;
    bool overlapped = false;

    void attach(TUDPServer& server) {
        server.OnUDPRead = [this](TUDPServer* s, QIODevice& payload, const TUDPBinding*) {
            overlapped |= ++depth > 1;
            payloads << payload.readAll();
            arrivals << s->arrivalTime();
            --depth;
        };
    }
};

std::unique_ptr<TUDPServer> listening(Recorder& recorder) {
    auto server = std::make_unique<TUDPServer>();
    server->setDefaultPort(0);
    recorder.attach(*server);
    server->setActive(true);
    return server;
}

} // namespace

class TestReceiver : public QObject {
    Q_OBJECT
private slots:
    void deliversWholePayloads_data();
    void deliversWholePayloads();
    void burstArrivesInOrder();
    void busyThreadLosesNothing();
    void datagramsBeforeTheLoopRunsAreKept();
    void threadWakesOncePerDatagramOrFrame_data();
    void threadWakesOncePerDatagramOrFrame();
    void handlerErrorIsReportedAndDeliveryGoesOn();
    void portIsHeldExclusively_data();
    void portIsHeldExclusively();
    void bindErrorNamesPortAndReason();
    void stoppingClosesThePortAndDeliversNothingMore();
};

void TestReceiver::deliversWholePayloads_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("reading") << QByteArray::fromHex("0191");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("zero bytes inside") << QByteArray::fromHex("0100ff00");
    QTest::newRow("19 bytes") << QByteArray(19, '\x7f');
    QTest::newRow("largest IPv4 payload") << QByteArray(65507, '\xab');
}

void TestReceiver::deliversWholePayloads() {
    QFETCH(QByteArray, payload);
    Recorder recorder;
    auto server = listening(recorder);
    LoopbackSender sender(server->binding().port);
    QVERIFY(sender.send(payload));
    QTRY_COMPARE(recorder.payloads.size(), 1);
    QCOMPARE(recorder.payloads.first(), payload);
}

void TestReceiver::burstArrivesInOrder() {
    Recorder recorder;
    auto server = listening(recorder);
    LoopbackSender sender(server->binding().port);
    constexpr int kCount = 20000;
    for (int i = 0; i < kCount; ++i)
        QVERIFY(sender.send(sequenceReading(i)));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.payloads.size(), kCount, 20000);
    for (int i = 0; i < kCount; ++i)
        QCOMPARE(recorder.payloads[i], sequenceReading(i));
    QVERIFY(!recorder.overlapped);
    QCOMPARE(server->droppedDatagrams(), 0u);
}

void TestReceiver::busyThreadLosesNothing() {
    Recorder recorder;
    auto server = listening(recorder);
    constexpr int kCount = 50000;
    const auto nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    const std::int64_t start = nowMs();
    std::int64_t sent = 0;
    std::thread sending([port = server->binding().port, &sent, nowMs] {
        LoopbackSender sender(port);
        for (int i = 0; i < kCount; ++i)
            sender.send(sequenceReading(i));
        sent = nowMs();
    });
    // The window's thread does something else for a second while the sender sends.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::int64_t busyUntil = nowMs();
    sending.join();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.payloads.size(), kCount, 20000);
    for (int i = 0; i < kCount; ++i)
        QCOMPARE(recorder.payloads[i], sequenceReading(i));
    // Each carries the time it arrived, not the later time it was handled; the system's
    // clock may round a millisecond either way.
    QVERIFY2(recorder.arrivals.front() >= start - 1, qPrintable(QString::number(start)));
    QVERIFY2(recorder.arrivals.front() < busyUntil,
             qPrintable(QStringLiteral("%1 >= %2").arg(recorder.arrivals.front()).arg(busyUntil)));
#ifndef Q_OS_WIN
    // The kernel's time: every one arrived before the sender finished. (Windows gives no
    // time with a datagram; the receive thread's time of reading it may come later.)
    QVERIFY2(recorder.arrivals.back() <= sent + 1,
             qPrintable(QStringLiteral("%1 > %2").arg(recorder.arrivals.back()).arg(sent)));
#endif
    QVERIFY(std::is_sorted(recorder.arrivals.begin(), recorder.arrivals.end()));
}

void TestReceiver::datagramsBeforeTheLoopRunsAreKept() {
    Recorder recorder;
    auto server = listening(recorder);
    LoopbackSender sender(server->binding().port);
    for (int i = 0; i < 10; ++i)
        sender.send(sequenceReading(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QVERIFY(recorder.payloads.isEmpty());
    QTRY_COMPARE(recorder.payloads.size(), 10);
}

void TestReceiver::threadWakesOncePerDatagramOrFrame_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("spacingMs");
    QTest::addColumn<int>("maxWakes");
    // Further apart than frames: a wake-up for each, not a second one to find nothing.
    QTest::newRow("sparse") << 15 << 40 << 15 + 7;
    // Closer than frames: at most about a wake-up a display frame (400 ms, 24 frames), not
    // one a datagram.
    QTest::newRow("steady") << 200 << 2 << 24 * 3 / 2 + 5;
}

void TestReceiver::threadWakesOncePerDatagramOrFrame() {
    QFETCH(int, count);
    QFETCH(int, spacingMs);
    QFETCH(int, maxWakes);
    Recorder recorder;
    auto server = listening(recorder);
    // Every wake-up follows a block and says it is awake; a dispatcher may say either more
    // often (Windows' says it is awake again each time the loop asks it for events), so
    // the lesser count bounds the wake-ups.
    int awakes = 0;
    int blocks = 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    connect(dispatcher, &QAbstractEventDispatcher::awake, this, [&awakes] { ++awakes; });
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [&blocks] { ++blocks; });
    std::thread sending([port = server->binding().port, count, spacingMs] {
        LoopbackSender sender(port);
        for (int i = 0; i < count; ++i) {
            sender.send(sequenceReading(i));
            std::this_thread::sleep_for(std::chrono::milliseconds(spacingMs));
        }
    });
    // A plain loop: QTest's waiting wakes the thread on its own.
    QEventLoop loop;
    QTimer::singleShot(count * spacingMs + 100, &loop, &QEventLoop::quit);
    loop.exec();
    sending.join();
    disconnect(dispatcher, nullptr, this, nullptr);
    const int wakes = std::min(awakes, blocks);
    QTRY_COMPARE(recorder.payloads.size(), count);
    qInfo("%d wake-ups for %d datagrams", wakes, count);
    QVERIFY2(wakes <= maxWakes, qPrintable(QString::number(wakes)));
}

void TestReceiver::handlerErrorIsReportedAndDeliveryGoesOn() {
    TUDPServer server;
    server.setDefaultPort(0);
    QList<QByteArray> handled;
    server.OnUDPRead = [&](TUDPServer*, QIODevice& payload, const TUDPBinding*) {
        const QByteArray bytes = payload.readAll();
        if (bytes == "bad")
            throw std::runtime_error("vadný datagram");
        if (bytes == "odd")
            throw 7;
        handled << bytes;
    };
    QSignalSpy failures(&server, &TUDPServer::handlerFailed);
    server.setActive(true);
    LoopbackSender sender(server.binding().port);
    for (const char* p : {"a", "bad", "b", "odd", "c"})
        sender.send(p);
    QTRY_COMPARE(handled.size(), 3);
    QCOMPARE(handled, (QList<QByteArray>{"a", "b", "c"}));
    QCOMPARE(failures.size(), 2);
    QCOMPARE(failures[0][0].toString(), QStringLiteral("vadný datagram"));
}

void TestReceiver::portIsHeldExclusively_data() {
    QTest::addColumn<quint32>("address");
    QTest::addColumn<bool>("reuseAddress");
    QTest::addColumn<bool>("reusePort");
    for (quint32 address : {quint32(kAnyAddress), quint32(kLoopbackAddress)}) {
        const char* where = address == kAnyAddress ? "any" : "loopback";
        QTest::addRow("%s, plain", where) << address << false << false;
        QTest::addRow("%s, SO_REUSEADDR", where) << address << true << false;
        QTest::addRow("%s, SO_REUSEPORT", where) << address << false << true;
        QTest::addRow("%s, both", where) << address << true << true;
    }
}

void TestReceiver::portIsHeldExclusively() {
    QFETCH(quint32, address);
    QFETCH(bool, reuseAddress);
    QFETCH(bool, reusePort);
    Recorder recorder;
    auto server = listening(recorder);
    const auto port = server->binding().port;
    QVERIFY(!canBind(address, port, reuseAddress, reusePort));
    // The first owner keeps receiving.
    LoopbackSender(port).send("x");
    QTRY_COMPARE(recorder.payloads.size(), 1);
}

void TestReceiver::bindErrorNamesPortAndReason() {
    Recorder recorder;
    auto first = listening(recorder);
    TUDPServer second;
    second.setDefaultPort(first->binding().port);
    try {
        second.setActive(true);
        QFAIL("the second bind succeeded");
    } catch (const std::system_error& error) {
        const QString message = QString::fromLocal8Bit(error.what());
        QVERIFY2(message.contains(QString::number(first->binding().port)), qPrintable(message));
        QVERIFY2(message.startsWith(QStringLiteral("Nelze naslouchat na portu UDP")),
                 qPrintable(message));
        QVERIFY(error.code() == std::errc::address_in_use);
    }
    QVERIFY(!second.active());
}

void TestReceiver::stoppingClosesThePortAndDeliversNothingMore() {
    Recorder recorder;
    auto server = listening(recorder);
    const auto port = server->binding().port;
    LoopbackSender sender(port);
    for (int i = 0; i < 100; ++i)
        sender.send(sequenceReading(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server->setActive(false);
    QTest::qWait(100);
    QVERIFY(recorder.payloads.isEmpty());
    QVERIFY(canBind(kAnyAddress, port, false, false));
    server.reset();
    QTest::qWait(50);
    QVERIFY(recorder.payloads.isEmpty());
}

QTEST_GUILESS_MAIN(TestReceiver)
#include "tst_receiver.moc"
