#include "app/shell.h"
#include "message_boxes.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {

class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw std::runtime_error("z obsluhy");
        return QObject::event(e);
    }
};

} // namespace

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void startUpErrorIsShownAndFails_data();
    void startUpErrorIsShownAndFails();
    void closingTheWindowExitsWithZero();
    void errorInAnEventHandlerDoesNotEndTheLoop();
    void qtsOwnTextsAreCzech();
};

void TestShell::startUpErrorIsShownAndFails_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("std::exception shows its message") << 0 << "Port 55555 nelze otevřít";
    QTest::newRow("anything else shows an empty message") << 1 << "";
}

void TestShell::startUpErrorIsShownAndFails() {
    QFETCH(int, kind);
    QFETCH(QString, message);
    SeenBox seen;
    answerNextMessageBox(seen);
    const int status = velt::runMainWindow([&]() -> QWidget* {
        if (kind == 0)
            throw std::runtime_error(message.toStdString());
        throw 42;
    });
    QCOMPARE(status, 1);
    QCOMPARE(seen.shown, 1);
    QCOMPARE(seen.title, QStringLiteral("VELT"));
    QCOMPARE(seen.text, message);
}

void TestShell::closingTheWindowExitsWithZero() {
    QPointer<QWidget> shown;
    QTimer::singleShot(50, [&] {
        QVERIFY(shown && shown->isVisible());
        shown->close();
    });
    const int status = velt::runMainWindow([&] { return shown = new QWidget; });
    QCOMPARE(status, 0);
    QVERIFY(shown.isNull());
}

void TestShell::errorInAnEventHandlerDoesNotEndTheLoop() {
    ThrowingObject target;
    QApplication::postEvent(&target, new QEvent(QEvent::User));
    bool stillRunning = false;
    QTimer::singleShot(20, [&] { stillRunning = true; });
    QTRY_VERIFY(stillRunning);
}

void TestShell::qtsOwnTextsAreCzech() {
    // Qt's translations come with the program's dependencies.
    QVERIFY(QCoreApplication::translate("QWidgetTextControl", "Select All") !=
            QLatin1String("Select All"));
    QVERIFY(QCoreApplication::translate("QPlatformTheme", "Cancel") != QLatin1String("Cancel"));
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestShell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell.moc"
