// Broadcast reception across a real (virtual) network: two network namespaces joined by
// a veth pair. The window listens in one; udp_send broadcasts from the other. Needs
// root; skipped without it, except in CI where it must run.

#include "temperature/stats.h"
#include "ui/VELT_projekt.h"

#include "ui/log_memo.h"
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

const QString kReceiverNs = QStringLiteral("velt_rx_%1").arg(::getpid());
const QString kSenderNs = QStringLiteral("velt_tx_%1").arg(::getpid());
const QString kReceiverIf = QStringLiteral("vrx%1").arg(::getpid() % 100000);
const QString kSenderIf = QStringLiteral("vtx%1").arg(::getpid() % 100000);

bool run(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(20000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput() +
                                         process.readAllStandardError());
    if (!ok)
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(arguments.join(' ')),
                 qPrintable(QString::fromLocal8Bit(process.readAllStandardError())));
    return ok;
}

bool ip(const QString& arguments) {
    return run(QStringLiteral("ip"), arguments.split(' '));
}

} // namespace

class TestBroadcast : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { velt::temperatureStats = {}; }
    void receivedLikeUnicast_data();
    void receivedLikeUnicast();

private:
    int homeNs_ = -1;
    bool created_ = false;
};

void TestBroadcast::initTestCase() {
    if (::geteuid() != 0) {
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL("CI must run the broadcast test as root");
        QSKIP("creating network namespaces needs root");
    }
    created_ = true;
    QVERIFY(ip("netns add " + kReceiverNs));
    QVERIFY(ip("netns add " + kSenderNs));
    QVERIFY(ip(QStringLiteral("link add %1 netns %2 type veth peer name %3 netns %4")
                   .arg(kReceiverIf, kReceiverNs, kSenderIf, kSenderNs)));
    QVERIFY(ip(QStringLiteral("-n %1 addr add 10.199.0.1/24 broadcast + dev %2")
                   .arg(kReceiverNs, kReceiverIf)));
    QVERIFY(ip(QStringLiteral("-n %1 addr add 10.199.0.2/24 broadcast + dev %2")
                   .arg(kSenderNs, kSenderIf)));
    QVERIFY(ip(QStringLiteral("-n %1 link set %2 up").arg(kReceiverNs, kReceiverIf)));
    QVERIFY(ip(QStringLiteral("-n %1 link set %2 up").arg(kSenderNs, kSenderIf)));
    QVERIFY(ip(QStringLiteral("-n %1 link set lo up").arg(kReceiverNs)));

    // From here on this thread's sockets live in the receiver's namespace.
    homeNs_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(qPrintable("/run/netns/" + kReceiverNs), O_RDONLY | O_CLOEXEC);
    QVERIFY(homeNs_ >= 0 && target >= 0);
    QVERIFY(::setns(target, CLONE_NEWNET) == 0);
    ::close(target);
}

void TestBroadcast::cleanupTestCase() {
    if (homeNs_ >= 0) {
        ::setns(homeNs_, CLONE_NEWNET);
        ::close(homeNs_);
    }
    if (created_) {
        ip("netns del " + kReceiverNs);
        ip("netns del " + kSenderNs);
    }
}

void TestBroadcast::receivedLikeUnicast_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("broadcast");
    QTest::newRow("subnet broadcast") << "10.199.0.255" << true;
    QTest::newRow("the host's own address") << "10.199.0.1" << false;
}

void TestBroadcast::receivedLikeUnicast() {
    QFETCH(QString, address);
    QFETCH(bool, broadcast);
    TForm1 form;
    QStringList arguments{"netns", "exec", kSenderNs, QStringLiteral(UDP_SEND)};
    if (broadcast)
        arguments << "--broadcast";
    arguments << address << "55555"
              << "0191"
              << "0180";
    QString output;
    QVERIFY2(run(QStringLiteral("ip"), arguments, &output), qPrintable(output));
    auto* log = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    QTRY_COMPARE(log->toPlainText(), QStringLiteral("\nTeplota = 25.0625\nTeplota = 24"));
}

QTEST_MAIN(TestBroadcast)
#include "tst_broadcast.moc"
