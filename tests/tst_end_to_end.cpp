// The real window with its receiver on port 55555, fed over loopback.

#include "app/shell.h"
#include "message_boxes.h"
#include "support/test_support.h"

#include "temperature/stats.h"
#include "ui/VELT_projekt.h"

#include "ui/log_memo.h"
#include <QLineEdit>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

using velt::test::canBind;
using velt::test::kAnyAddress;
using velt::test::LoopbackSender;
using velt::test::sequenceReading;

namespace {

constexpr std::uint16_t kPort = 55555;

QString logText(QWidget& form) {
    return form.findChild<TLogMemo*>(QStringLiteral("Memo1"))->toPlainText();
}

QStringList fields(QWidget& form) {
    QStringList texts;
    for (const char* name : {"edit_MAX", "edit_MIN", "edit_prumer", "edit_pocitadlo"})
        texts << form.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
    return texts;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void init() { velt::temperatureStats = {}; }
    void readingsOverLoopback_data();
    void readingsOverLoopback();
    void hostileDatagramsLeaveLaterReadingsExact();
    void secondInstanceFailsAndFirstKeepsReceiving();
    void closingTheWindowFreesThePort();
};

void TestEndToEnd::readingsOverLoopback_data() {
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QStringList>("fields");
    const auto hex = [](const char* h) { return QByteArray::fromHex(h); };
    QTest::newRow("edge cases in a row")
        << QList<QByteArray>{hex("0191"), QByteArray(), hex("0180"), hex("0012")}
        << "\nTeplota = 25.0625\nTeplota = 24\nTeplota = 0"
        << QStringList{"25.0625", "0", "12.265625", "3"};
    QTest::newRow("oversized datagram, first 100 bytes")
        << QList<QByteArray>{QByteArray(65505, '\xff') + hex("0191")} << "\nTeplota = -0.0625"
        << QStringList{"-0.0625", "-0.0625", "-0.0625", "1"};
}

void TestEndToEnd::readingsOverLoopback() {
    QFETCH(QList<QByteArray>, payloads);
    TForm1 form;
    LoopbackSender sender(kPort);
    for (const QByteArray& p : payloads)
        QVERIFY(sender.send(p));
    QFETCH(QString, log);
    QTRY_COMPARE(logText(form), log);
    QTEST(fields(form), "fields");
}

void TestEndToEnd::hostileDatagramsLeaveLaterReadingsExact() {
    TForm1 form;
    LoopbackSender sender(kPort);
    int sent = 0;
    for (int size = 1; size <= 65507; size += 997, ++sent)
        sender.send(QByteArray(size, static_cast<char>(size % 7 == 0 ? 0 : 0xff)));
    sender.send(QByteArray(65507, '\0'));
    sender.send(QByteArray(65507, '\xff'));
    sent += 2;
    QRandomGenerator random(55555);
    for (int i = 0; i < 300; ++i) {
        QByteArray payload(random.bounded(65508), Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(payload.data()), payload.size() / 4);
        sender.send(payload);
        sent += payload.isEmpty() ? 0 : 1;
        // Large datagrams in flight could overflow a non-root run's small socket buffer.
        if (i % 5 == 4)
            QTRY_COMPARE(fields(form)[3], QString::number(sent));
    }
    QTRY_COMPARE(fields(form)[3], QString::number(sent));
    velt::temperatureStats = {};
    sender.send(QByteArray::fromHex("0191"));
    QTRY_COMPARE(fields(form)[3], QStringLiteral("1"));
    QCOMPARE(fields(form), (QStringList{"25.0625", "25.0625", "25.0625", "1"}));
    QVERIFY(logText(form).endsWith(QStringLiteral("\nTeplota = 25.0625")));
}

void TestEndToEnd::secondInstanceFailsAndFirstKeepsReceiving() {
    TForm1 first;
    SeenBox seen;
    answerNextMessageBox(seen);
    const int status = velt::runMainWindow([] { return new TForm1; });
    QCOMPARE(status, 1);
    QCOMPARE(seen.shown, 1);
    QVERIFY2(seen.text.contains(QStringLiteral("55555")), qPrintable(seen.text));
    LoopbackSender(kPort).send(QByteArray::fromHex("0191"));
    QTRY_COMPARE(logText(first), QStringLiteral("\nTeplota = 25.0625"));
}

void TestEndToEnd::closingTheWindowFreesThePort() {
    {
        TForm1 form;
        QVERIFY(!canBind(kAnyAddress, kPort, false, false));
    }
    QVERIFY(canBind(kAnyAddress, kPort, false, false));
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_end_to_end.moc"
