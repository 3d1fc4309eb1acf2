#include "log/reading_series.h"
#include "ui/VELT_projekt.h"

#include "temperature/stats.h"

#include "ui/log_memo.h"
#include <QAccessible>
#include <QBuffer>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionFrame>
#include <QTest>

#include <algorithm>
#include <cstdlib>

namespace {

// Whether two images look the same: same size, and no channel of a pixel more than a step
// apart. Blending a kept panel rounds a rim's translucent corners by a
// step where drawing it in place does not (seen with Windows' palette), which no one sees.
bool looksAlike(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return false;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row);
            const QRgb q = y.pixel(column, row);
            largest =
                std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return largest <= 1;
}

void send(TForm1& form, const QByteArray& payload) {
    QBuffer buffer;
    buffer.setData(payload);
    buffer.open(QIODevice::ReadOnly);
    form.udpSUDPRead(nullptr, buffer, nullptr);
}

template <typename T> T* child(QWidget& form, const char* name) {
    T* widget = form.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

QString fieldText(QWidget& form, const char* name) {
    return child<QLineEdit>(form, name)->text();
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { velt::temperatureStats = {}; }
    void startUpView();
    void readingsWriteIntoTheWindow_data();
    void readingsWriteIntoTheWindow();
    void captionsFitAndNameTheirFields_data();
    void captionsFitAndNameTheirFields();
    void widestFiguresFit_data();
    void widestFiguresFit();
    void wideNumberShowsItsStart();
    void fieldsLookLikeStockLineEdits_data();
    void fieldsLookLikeStockLineEdits();
    void placedOnTheScreen();
    void tabOrderRunsDownTheFigures();
    void resizingMovesNothing();
    void userTextIsOverwrittenOrKept();
    void logOutOfMemoryStopsNoFigure();
};

void TestWindow::startUpView() {
    TForm1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("UDP Teploměr"));
    QCOMPARE(form.pos(), QPoint(742, 183));
    auto* memo = child<TLogMemo>(form, "Memo1");
    QCOMPARE(memo->store().lineCount(), 1);
    QCOMPARE(memo->toPlainText(), QString());
    for (const char* name : {"edit_prumer", "edit_MIN", "edit_MAX", "edit_pocitadlo"})
        QCOMPARE(fieldText(form, name), QStringLiteral("0"));
    QCOMPARE(child<QLabel>(form, "Label3")->text(), QStringLiteral("PORT: 55 555"));
    QVERIFY(child<QLabel>(form, "Label3")->font().bold());
    QCOMPARE(form.font().pixelSize(), 11);
    QCOMPARE(child<QLabel>(form, "Label1")->font().pixelSize(), 16);
    // Everything fits in the client area.
    QRect reach;
    for (QWidget* w : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        reach |= w->geometry();
    QCOMPARE(reach.bottomRight() + QPoint(1, 1), QPoint(385, 273));
    QVERIFY(form.width() >= 385 && form.height() >= 273);
}

void TestWindow::readingsWriteIntoTheWindow_data() {
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QStringList>("fields"); // MAX, MIN, prumer, pocitadlo
    // The window's part only: which line and which field each text goes to. What the
    // texts are for every kind of payload is tst_reading's.
    const auto hex = [](const char* h) { return QByteArray::fromHex(h); };
    QTest::newRow("empty datagram")
        << QList<QByteArray>{QByteArray()} << "" << QStringList{"0", "0", "0", "0"};
    QTest::newRow("second reading")
        << QList<QByteArray>{hex("0191"), hex("0180")} << "\nTeplota = 25.0625\nTeplota = 24"
        << QStringList{"25.0625", "24", "24.53125", "2"};
}

void TestWindow::readingsWriteIntoTheWindow() {
    QFETCH(QList<QByteArray>, payloads);
    TForm1 form;
    for (const QByteArray& p : payloads)
        send(form, p);
    QTEST(child<TLogMemo>(form, "Memo1")->toPlainText(), "log");
    QFETCH(QStringList, fields);
    QCOMPARE(fieldText(form, "edit_MAX"), fields[0]);
    QCOMPARE(fieldText(form, "edit_MIN"), fields[1]);
    QCOMPARE(fieldText(form, "edit_prumer"), fields[2]);
    QCOMPARE(fieldText(form, "edit_pocitadlo"), fields[3]);
}

void TestWindow::captionsFitAndNameTheirFields_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("field");
    QTest::newRow("average") << "Label1"
                             << "edit_prumer";
    QTest::newRow("minimum") << "Label2"
                             << "edit_MIN";
    QTest::newRow("maximum") << "Label4"
                             << "edit_MAX";
    QTest::newRow("count") << "Label5"
                           << "edit_pocitadlo";
    QTest::newRow("port") << "Label3"
                          << "";
}

void TestWindow::captionsFitAndNameTheirFields() {
    QFETCH(QString, label);
    QFETCH(QString, field);
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* caption = form.findChild<QLabel*>(label);
    QVERIFY(caption);
    // Measured with the font the package depends on, standing in for MS Sans Serif.
    QCOMPARE(QFontInfo(caption->font()).family(), QStringLiteral("Liberation Sans"));
    QVERIFY2(caption->sizeHint().width() <= caption->width(),
             qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                            .arg(caption->text())
                            .arg(caption->sizeHint().width())
                            .arg(caption->width())));
    if (field.isEmpty())
        return;
    auto* edit = form.findChild<QLineEdit*>(field);
    QVERIFY(edit);
    QVERIFY(caption->geometry().right() < edit->geometry().left());
    QCOMPARE(caption->y(), edit->y());
    QCOMPARE(caption->buddy(), edit);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(edit);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), caption->text());
}

void TestWindow::widestFiguresFit_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("the largest count") << "2147483647";
    QTest::newRow("the lowest reading") << "-134213616";
    QTest::newRow("the highest reading") << "134217728";
    QTest::newRow("an average of ordinary readings") << "24,705078125";
    QTest::newRow("the finest negative reading") << "-1048575,9375";
}

// What readings ordinarily produce is seen whole in the narrow fields.
void TestWindow::widestFiguresFit() {
    QFETCH(QString, text);
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (const char* name : {"edit_prumer", "edit_MIN", "edit_MAX", "edit_pocitadlo"}) {
        auto* edit = child<QLineEdit>(form, name);
        QCOMPARE(QFontInfo(edit->font()).family(), QStringLiteral("Liberation Sans"));
        edit->setText(text);
        edit->setCursorPosition(0);
        // The room QLineEdit gives its text: the frame and its margins taken off.
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        const QRect room =
            edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
        const int needed =
            edit->fontMetrics().horizontalAdvance(text) + 2 * 2; // QLineEdit's margins
        QVERIFY2(needed <= room.width(), qPrintable(QStringLiteral("%1 in %2: %3 of %4 px")
                                                        .arg(text, QLatin1String(name))
                                                        .arg(needed)
                                                        .arg(room.width())));
    }
}

// A text wider than its field shows its start: the tail alone would read as a number.
void TestWindow::wideNumberShowsItsStart() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    send(form, QByteArray::fromHex("0100"));
    for (int i = 0; i < 13; ++i)
        send(form, QByteArray::fromHex("00"));
    auto* average = child<QLineEdit>(form, "edit_prumer");
    QCOMPARE(average->text(), QStringLiteral("7.62939453125E-6"));
    QCOMPARE(average->cursorPosition(), 0);
}

void TestWindow::fieldsLookLikeStockLineEdits_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("state");
    for (const char* style : {"Fusion", "Windows"})
        for (const char* state : {"plain", "focused", "disabled"})
            QTest::addRow("%s, %s", style, state) << style << state;
}

// The fields keep their panels as pixmaps; side by side with a stock line edit of the
// same style, size and text they must look the same in every state.
void TestWindow::fieldsLookLikeStockLineEdits() {
    QFETCH(QString, style);
    QFETCH(QString, state);
    if (!QStyleFactory::keys().contains(style, Qt::CaseInsensitive))
        QSKIP("style not available");
    const QString previous = QApplication::style()->name();
    QApplication::setStyle(style);
    const auto restore = qScopeGuard([&] { QApplication::setStyle(previous); });
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    send(form, QByteArray::fromHex("0175"));
    auto* field = child<QLineEdit>(form, "edit_prumer");
    QLineEdit stock(field->text(), &form);
    stock.setGeometry(field->geometry().translated(0, 40));
    stock.setFont(field->font());
    stock.setCursorPosition(field->cursorPosition());
    stock.show();
    // Drawn once in the plain state first, so that a panel kept from it could show.
    QVERIFY(looksAlike(field->grab().toImage(), stock.grab().toImage()));
    if (state == "disabled") {
        field->setEnabled(false);
        stock.setEnabled(false);
    }
    if (state == "focused") {
        field->setFocus();
        const QImage focused = field->grab().toImage();
        stock.setFocus();
        QVERIFY(looksAlike(focused, stock.grab().toImage()));
    } else {
        QVERIFY(looksAlike(field->grab().toImage(), stock.grab().toImage()));
    }
}

void TestWindow::placedOnTheScreen() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect room = form.screen()->availableGeometry();
    if (room.contains(QRect(QPoint(742, 183), form.size())))
        QCOMPARE(form.pos(), QPoint(742, 183));
    else
        QVERIFY2(room.contains(form.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 outside %5x%6")
                                .arg(form.x())
                                .arg(form.y())
                                .arg(form.width())
                                .arg(form.height())
                                .arg(room.width())
                                .arg(room.height())));
}

void TestWindow::tabOrderRunsDownTheFigures() {
    TForm1 form;
    QStringList order;
    QWidget* w = form.findChild<QWidget*>(QStringLiteral("Memo1"));
    for (int i = 0; i < 5; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus || w == &form || w->parentWidget() != &form)
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    QCOMPARE(order,
             (QStringList{"Memo1", "edit_prumer", "edit_MIN", "edit_MAX", "edit_pocitadlo"}));
}

void TestWindow::resizingMovesNothing() {
    TForm1 form;
    QList<QRect> before;
    const auto children = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : children)
        before << w->geometry();
    form.resize(900, 700);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int i = 0; i < children.size(); ++i)
        QCOMPARE(children[i]->geometry(), before[i]);
}

void TestWindow::userTextIsOverwrittenOrKept() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* memo = child<TLogMemo>(form, "Memo1");
    auto* average = child<QLineEdit>(form, "edit_prumer");
    memo->setFocus();
    QTest::keyClicks(memo, "poznamka");
    average->setFocus();
    average->selectAll();
    QTest::keyClicks(average, "999");
    send(form, QByteArray::fromHex("0191"));
    QCOMPARE(memo->toPlainText(), QStringLiteral("poznamka\nTeplota = 25.0625"));
    QCOMPARE(average->text(), QStringLiteral("25.0625"));
}

// When the log cannot grow, every reading still counts; the log says once where readings
// go missing and, when it can grow again, how many are missing.
void TestWindow::logOutOfMemoryStopsNoFigure() {
    TForm1 form;
    auto* memo = child<TLogMemo>(form, "Memo1");
    for (int i = 0; i < 3; ++i)
        send(form, QByteArray::fromHex("0191"));
    velt::LogStore& store = memo->document().storeForTesting();
    store.setMemoryLimit(store.memoryBytes());
    for (int i = 0; i < 5; ++i)
        send(form, QByteArray::fromHex("0180"));
    QCOMPARE(fieldText(form, "edit_pocitadlo"), QStringLiteral("8"));
    QCOMPARE(fieldText(form, "edit_MIN"), QStringLiteral("24"));
    QCOMPARE(memo->store().lineCount(), 4);
    store.setMemoryLimit(0);
    send(form, QByteArray::fromHex("0184"));
    send(form, QByteArray::fromHex("0185"));
    QCOMPARE(fieldText(form, "edit_pocitadlo"), QStringLiteral("10"));
    const QStringList lines = memo->toPlainText().split(u'\n');
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines[4].contains(QStringLiteral("Došla paměť")));
    QVERIFY(!lines[4].startsWith(QStringLiteral("Teplota")));
    QCOMPARE(lines[5], QStringLiteral("*** Záznam pokračuje; chybí v něm 6 měření. ***"));
    QCOMPARE(lines[6], QStringLiteral("Teplota = 24.3125"));
    // The chart's record has the readings the log kept, and a gap where six are missing.
    QCOMPARE(form.readings().size(), 4);
    QVERIFY(form.readings().gapBefore(3));
    QCOMPARE(form.readings().gapCount(), 1);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
