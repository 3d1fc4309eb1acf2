// The real window in a process of its own, flooded over loopback: what a person sees of
// readings lost while the program could not run, and closing it in the middle of a flood.

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

QProcess* start(QObject* parent, const QString& program, const QStringList& arguments) {
    auto* process = new QProcess(parent);
    process->start(program, arguments);
    return process;
}

QStringList flood(int count) {
    return {"--sequence", "--count", QString::number(count), "127.0.0.1", "55555"};
}

// Waits until the window process has bound the port, so that no datagram goes to a closed
// port before it.
bool waitUntilListening() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        QProcess ss;
        ss.start(QStringLiteral("ss"), {"-Hunl", "sport = :55555"});
        ss.waitForFinished();
        if (!ss.readAllStandardOutput().trimmed().isEmpty())
            return true;
        QTest::qWait(20);
    }
    return false;
}

} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
private slots:
    void readingsLostWhileStoppedAreShown();
    void closingDuringAFloodEndsAtOnce();
};

void TestLifecycle::readingsLostWhileStoppedAreShown() {
    constexpr int kCount = 300000;
    QProcess* window = start(this, QStringLiteral(WINDOW_HOST), {"6000"});
    QVERIFY(window->waitForStarted());
    QVERIFY(waitUntilListening());
    QProcess* sender = start(this, QStringLiteral(UDP_SEND), flood(kCount));
    QTest::qWait(200);
    ::kill(static_cast<pid_t>(window->processId()), SIGSTOP); // the program cannot run
    QVERIFY(sender->waitForFinished(30000));
    ::kill(static_cast<pid_t>(window->processId()), SIGCONT);
    // The kernel's count of drops comes with the next datagram.
    QTest::qWait(300);
    QProcess* last = start(this, QStringLiteral(UDP_SEND), flood(1));
    QVERIFY(last->waitForFinished(10000));
    QVERIFY(window->waitForFinished(20000));
    QCOMPARE(window->exitCode(), 0);
    const QStringList lines = QString::fromUtf8(window->readAllStandardOutput()).split(u'\n');
    const long long count = lines.value(0).section(u' ', 1).toLongLong();
    const QString tooltip = lines.value(1).section(u' ', 1);
    QCOMPARE(lines.value(2).section(u' ', 1), tooltip); // the accessible description
    const long long lost = tooltip.section(u':', 1).section(u'.', 0, 0).trimmed().toLongLong();
    qInfo("%lld counted, %lld shown as lost: %s", count, lost, qPrintable(tooltip));
    QVERIFY2(lost > 0, qPrintable(tooltip));
    QCOMPARE(count + lost, kCount + 1LL);
    QVERIFY(tooltip.startsWith(QStringLiteral("Ztracená měření: ")));
}

// Every time: exit status 0 within a second of the close, however many datagrams wait.
void TestLifecycle::closingDuringAFloodEndsAtOnce() {
    QElapsedTimer whole;
    whole.start();
    int runs = 0;
    for (; runs < 20 && whole.elapsed() < 40000; ++runs) {
        QProcess* window = start(this, QStringLiteral(WINDOW_HOST), {"300"});
        QVERIFY(window->waitForStarted());
        QVERIFY(waitUntilListening());
        QProcess* sender = start(this, QStringLiteral(UDP_SEND), flood(400000));
        QElapsedTimer sinceClose;
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += window->readAll()).contains("closing"), 10000);
        sinceClose.start();
        QVERIFY2(window->state() == QProcess::NotRunning || window->waitForFinished(5000),
                 "still running 5 s after the close");
        const qint64 ms = sinceClose.elapsed();
        QCOMPARE(window->exitStatus(), QProcess::NormalExit);
        QVERIFY2(window->exitCode() == 0, window->readAllStandardError().right(4000).constData());
        QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
        if (sender->state() != QProcess::NotRunning)
            sender->waitForFinished(30000);
        delete sender;
        delete window;
    }
    qInfo("%d runs in %lld ms", runs, whole.elapsed());
}

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
