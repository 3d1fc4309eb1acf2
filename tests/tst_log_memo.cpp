// The log where it differs from the stock control on purpose (Tab, readings), and what
// the stock comparison (tst_log_random) cannot see: following the newest line, painting,
// accessibility, the context menu.

#include "ui/log_memo.h"
#include "ui/log_memo_accessible.h"

#include <QAccessible>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <climits>
#include <limits>
#include <vector>

namespace {

// The log beside a stock control at the same font and size.
struct SideBySide {
    QWidget host;
    QPlainTextEdit plain{&host};
    TLogMemo memo{&host};

    explicit SideBySide(const QString& text, QSize size = {129, 257}) {
        QFont font = host.font();
        font.setPixelSize(11);
        host.setFont(font);
        plain.setGeometry(QRect({0, 0}, size));
        memo.setGeometry(QRect({size.width() + 10, 0}, size));
        host.resize(2 * size.width() + 20, size.height());
        host.show();
        if (!QTest::qWaitForWindowExposed(&host))
            qFatal("not exposed");
        plain.setPlainText(text);
        memo.document().setPlainText(text);
        QCoreApplication::processEvents();
    }
};

QStringList* recordedEvents = nullptr;

void recordTextEvent(QAccessibleEvent* event) {
    if (event->type() == QAccessible::TextInserted) {
        auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        recordedEvents->append(
            QStringLiteral("+%1:%2").arg(e->changePosition()).arg(e->textInserted()));
    } else if (event->type() == QAccessible::TextRemoved) {
        auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        recordedEvents->append(
            QStringLiteral("-%1:%2").arg(e->changePosition()).arg(e->textRemoved()));
    }
}

} // namespace

class TestLogMemo : public QObject {
    Q_OBJECT
private slots:
    void tabMovesFocus();
    void readingsKeepTheCaretAndTheUndoHistory();
    void followsNewestOnlyAtTheBottom();
    void dragBelowKeepsSelecting();
    void screenShowsWhatAFreshPaintShows();
    void accessibleTextFollowsEveryChange();
    void contextMenuOffersWhatApplies();
    void accessibleOffsetsPastIntMaxAreShifted();
};

// Intended: the window has a tab order, so Tab leaves the log instead of typing.
void TestLogMemo::tabMovesFocus() {
    SideBySide pair(QStringLiteral("ab"));
    QLineEdit next(&pair.host);
    next.show();
    pair.memo.setFocus();
    QTest::keyClick(&pair.memo, Qt::Key_Tab);
    QCOMPARE(pair.memo.toPlainText(), QStringLiteral("ab"));
    QVERIFY(!pair.memo.hasFocus());
    pair.plain.setFocus();
    QTest::keyClick(&pair.plain, Qt::Key_Tab);
    QCOMPARE(pair.plain.toPlainText(), QStringLiteral("\tab"));
}

// Intended: readings are not the user's edits. They keep the caret and the selection
// where the user left them and never enter the undo history.
void TestLogMemo::readingsKeepTheCaretAndTheUndoHistory() {
    SideBySide pair{QString()};
    TLogMemo& memo = pair.memo;
    memo.setFocus();
    QTest::keyClicks(&memo, "note");
    QTest::keyClick(&memo, Qt::Key_Left, Qt::ShiftModifier);
    memo.appendLines({"Teplota = 24", "Teplota = 25"});
    QCOMPARE(memo.document().selectedText(), QStringLiteral("e"));
    QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(memo.toPlainText(), QStringLiteral("\nTeplota = 24\nTeplota = 25"));
    QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier); // nothing left: readings stay
    QCOMPARE(memo.toPlainText(), QStringLiteral("\nTeplota = 24\nTeplota = 25"));
    QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(memo.toPlainText(), QStringLiteral("note\nTeplota = 24\nTeplota = 25"));
}

void TestLogMemo::followsNewestOnlyAtTheBottom() {
    SideBySide pair{QString()};
    TLogMemo& memo = pair.memo;
    QStringList many;
    for (int i = 0; i < 500; ++i)
        many << QStringLiteral("Teplota = %1").arg(i);
    memo.appendLines(many);
    QScrollBar* bar = memo.verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(3);
    memo.appendLines({"Teplota = 1"});
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 3);
    bar->setValue(bar->maximum());
    memo.appendLines({"Teplota = 2"});
    QTRY_COMPARE(bar->value(), bar->maximum());
    // The newest line stands whole above the bottom margin.
    QCOMPARE(memo.positionAt(memo.viewport()->rect().bottomLeft() - QPoint(0, 6)).line,
             memo.store().lineCount() - 1);
}

// Intended difference in degree: the stock control's speed depends on the distance,
// so only the direction is compared. The selection grows while the button is held.
void TestLogMemo::dragBelowKeepsSelecting() {
    QStringList many;
    for (int i = 0; i < 200; ++i)
        many << QStringLiteral("Teplota = %1").arg(i);
    SideBySide pair(many.join(u'\n'));
    QWidget* viewport = pair.memo.viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(10, 10));
    const QPoint below(10, viewport->height() + 20);
    QMouseEvent move(QEvent::MouseMove, below, viewport->mapToGlobal(below), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &move);
    const std::int64_t first = pair.memo.document().cursor().line;
    QTRY_VERIFY(pair.memo.document().cursor().line > first + 5);
    QVERIFY(pair.memo.verticalScrollBar()->value() > 3);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, below);
    const std::int64_t released = pair.memo.document().cursor().line;
    QTest::qWait(200);
    QCOMPARE(pair.memo.document().cursor().line, released);
}

// Readings arrive in batches while the view follows them and scrolls its pixels; what is
// on screen must be what painting the whole log afresh gives.
void TestLogMemo::screenShowsWhatAFreshPaintShows() {
    SideBySide pair{QString()};
    pair.host.setFocus(); // no caret: it blinks
    QWidget* viewport = pair.memo.viewport();
    struct PaintedArea : QObject {
        QRect area;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                area |= static_cast<QPaintEvent*>(event)->region().boundingRect();
            return false;
        }
    } painted;
    viewport->installEventFilter(&painted);
    const int lineSpacing = pair.memo.fontMetrics().lineSpacing();
    for (int batch = 0; batch < 30; ++batch) {
        const bool following = pair.memo.verticalScrollBar()->value() > 0;
        painted.area = {};
        QStringList lines;
        for (int i = 0; i < 1 + batch % 4; ++i)
            lines << QStringLiteral("Teplota = %1").arg(batch * 10 + i);
        pair.memo.appendLines(lines);
        QTest::qWait(20); // the view paints, as between two frames
        // Following the newest lines moves what is on screen: only the new lines are painted,
        // and the strip the scroll uncovers below them (up to a row's blank under the last
        // line, as QPlainTextEdit leaves it).
        if (following)
            QVERIFY2(painted.area.height() <= (lines.size() + 2) * lineSpacing,
                     qPrintable(QStringLiteral("batch %1 painted %2 px")
                                    .arg(batch)
                                    .arg(painted.area.height())));
        const QPoint origin = viewport->mapTo(&pair.host, QPoint(0, 0));
        const QImage onScreen = pair.host.screen()
                                    ->grabWindow(pair.host.winId(), origin.x(), origin.y(),
                                                 viewport->width(), viewport->height())
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
        const QImage fresh = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY2(onScreen == fresh, qPrintable(QStringLiteral("after batch %1").arg(batch)));
        // The scroll bar repaints only when its slider moves a pixel: it must never lag.
        QScrollBar* bar = pair.memo.verticalScrollBar();
        if (bar->isVisible()) {
            const QPoint at = bar->mapTo(&pair.host, QPoint(0, 0));
            const QImage barOnScreen =
                pair.host.screen()
                    ->grabWindow(pair.host.winId(), at.x(), at.y(), bar->width(), bar->height())
                    .toImage()
                    .convertToFormat(QImage::Format_RGB32);
            QVERIFY2(barOnScreen == bar->grab().toImage().convertToFormat(QImage::Format_RGB32),
                     qPrintable(QStringLiteral("scroll bar after batch %1").arg(batch)));
        }
    }
}

void TestLogMemo::accessibleTextFollowsEveryChange() {
    SideBySide pair(QStringLiteral("ab\ncd"));
    TLogMemo& memo = pair.memo;
    QStringList events;
    recordedEvents = &events;
    velt::setLogAccessibilityObserver(recordTextEvent); // no assistive technology runs offscreen
    memo.document().setCursor({1, 2});
    memo.setFocus();
    QTest::keyClicks(&memo, "x");
    QTest::keyClick(&memo, Qt::Key_Backspace);
    memo.appendLines({"Teplota = 24"});
    QCOMPARE(events, (QStringList{"+5:x", "-5:x", "+5:\nTeplota = 24"}));
    velt::setLogAccessibilityObserver(nullptr);

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&memo);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QAccessibleTextInterface* text = accessible->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(memo.toPlainText().size()));
    QCOMPARE(text->text(3, 9), QStringLiteral("cd\nTep"));
    QCOMPARE(text->cursorPosition(), 5);
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(8, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("Teplota = 24"));
    QCOMPARE(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("ab\n"));
    QCOMPARE(text->textAtOffset(8, QAccessible::WordBoundary, &start, &end),
             QStringLiteral("Teplota"));
    QCOMPARE(text->textAfterOffset(8, QAccessible::WordBoundary, &start, &end),
             QStringLiteral(" "));
    text->setSelection(0, 1, 4);
    QCOMPARE(memo.document().selectedText(), QStringLiteral("b\nc"));
    // Character boxes come from the laid-out line, one after the other.
    QVERIFY(text->characterRect(7).left() < text->characterRect(8).left());
    QCOMPARE(text->offsetAtPoint(text->characterRect(8).center()), 8);
    auto* editable = static_cast<QAccessibleEditableTextInterface*>(
        accessible->interface_cast(QAccessible::EditableTextInterface));
    QVERIFY(editable);
    editable->insertText(0, QStringLiteral(">"));
    QCOMPARE(memo.toPlainText(), QStringLiteral(">ab\ncd\nTeplota = 24"));
}

void TestLogMemo::contextMenuOffersWhatApplies() {
    SideBySide pair(QStringLiteral("Teplota = 24"));
    TLogMemo& memo = pair.memo;
    QGuiApplication::clipboard()->clear();
    const auto enabled = [&memo] {
        std::unique_ptr<QMenu> menu(memo.createStandardContextMenu());
        QStringList on;
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->isEnabled())
                on << action->text().section(u'\t', 0, 0).remove(u'&');
        return on;
    };
    QCOMPARE(enabled(), (QStringList{"Select All"}));
    memo.setFocus();
    QTest::keyClick(&memo, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(enabled(), (QStringList{"Cut", "Copy", "Delete", "Select All"}));
    std::unique_ptr<QMenu> menu(memo.createStandardContextMenu());
    menu->actions().at(4)->trigger(); // Copy
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Teplota = 24"));
    menu->actions().at(6)->trigger(); // Delete
    QCOMPARE(memo.toPlainText(), QString());
    QCOMPARE(enabled(), (QStringList{"Undo", "Paste"}));
}

// Past INT_MAX characters the int-based accessible interface covers the newest INT_MAX of
// them, its offsets shifted consistently: never negative, never wrapped.
void TestLogMemo::accessibleOffsetsPastIntMaxAreShifted() {
    TLogMemo memo;
    velt::LogStore& store = memo.document().storeForTesting();
    const float tiny = -std::numeric_limits<float>::denorm_min(); // a 31-character line
    constexpr qint64 kBatch = 4096;
    const std::vector<float> values(kBatch, tiny);
    const std::vector<std::uint8_t> lengths(kBatch, 31);
    const std::vector<std::int64_t> times(kBatch, 0);
    while (store.characterCount() <= INT_MAX + 1000LL)
        store.appendReadings(values.data(), times.data(), lengths.data(), kBatch, u".");
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(&memo)->textInterface();
    QCOMPARE(text->characterCount(), INT_MAX);
    const QString last = QStringLiteral("Teplota = -1.40129846432482E-45");
    QCOMPARE(text->text(INT_MAX - 31, INT_MAX), last);
    QCOMPARE(text->text(INT_MAX - 32, INT_MAX - 31), QStringLiteral("\n"));
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(INT_MAX - 3, QAccessible::LineBoundary, &start, &end), last);
    QCOMPARE(start, INT_MAX - 31);
    QCOMPARE(end, INT_MAX);
    // The caret at the log's start lies before what the interface covers: offset 0.
    QCOMPARE(text->cursorPosition(), 0);
    text->setCursorPosition(INT_MAX - 5);
    QCOMPARE(memo.document().cursor(), (velt::LogPosition{store.lineCount() - 1, 26}));
    QCOMPARE(text->cursorPosition(), INT_MAX - 5);
}

QTEST_MAIN(TestLogMemo)
#include "tst_log_memo.moc"
