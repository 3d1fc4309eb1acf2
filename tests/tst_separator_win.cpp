// Windows: the decimal separator comes from the user's regional settings, a separator the
// user typed there included. A process reads them once (Wine never again), so each row
// asks a new process of this program.

#include "temperature/format.h"

#include <QProcess>
#include <QSettings>
#include <QTest>

#include <cstdio>

class TestSeparatorWin : public QObject {
    Q_OBJECT
private slots:
    void followsTheRegionalSettings_data();
    void followsTheRegionalSettings();
};

void TestSeparatorWin::followsTheRegionalSettings_data() {
    QTest::addColumn<QString>("separator");
    QTest::newRow("comma") << ",";
    QTest::newRow("point") << ".";
    QTest::newRow("a character of the user's own") << "·";
    QTest::newRow("three characters, the most Windows takes") << "<->";
}

void TestSeparatorWin::followsTheRegionalSettings() {
    QFETCH(QString, separator);
    QSettings international(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\International"),
                            QSettings::NativeFormat);
    const QVariant previous = international.value(QStringLiteral("sDecimal"));
    international.setValue(QStringLiteral("sDecimal"), separator);
    international.sync();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-separator")});
    QVERIFY(child.waitForFinished(30000));
    const QString seen = QString::fromUtf8(child.readAllStandardOutput());
    if (previous.isValid())
        international.setValue(QStringLiteral("sDecimal"), previous);
    else
        international.remove(QStringLiteral("sDecimal"));
    QCOMPARE(seen, separator);
    QCOMPARE(velt::floatToStr(-0.0625, seen), QStringLiteral("-0") + separator + "0625");
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--print-separator") == 0) {
        const QByteArray separator = velt::systemDecimalSeparator().toUtf8();
        std::fwrite(separator.constData(), 1, static_cast<std::size_t>(separator.size()), stdout);
        return 0;
    }
    TestSeparatorWin test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_separator_win.moc"
