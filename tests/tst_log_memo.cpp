// The log against the stock control: the same keys and mouse actions played on a
// QPlainTextEdit and on the log, side by side with the same font and size, must leave the
// same text, caret and selection after every step. Where the log differs on purpose,
// a test of its own says how.

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

// Types any text, one code point a key, as a keyboard with that character would.
void typeText(QWidget* widget, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString key = text.mid(i, n);
        i += n - 1;
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, key, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, key, Qt::NoModifier);
    }
}

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

    QPoint pointOf(int position) const {
        QTextCursor cursor(plain.document());
        cursor.setPosition(position);
        const QRect r = plain.cursorRect(cursor);
        return {r.left(), r.center().y()};
    }

    QString state() const {
        const QTextCursor c = plain.textCursor();
        return QStringLiteral("%1 [%2,%3]")
            .arg(plain.toPlainText())
            .arg(c.anchor())
            .arg(c.position());
    }
    QString memoState() const {
        const velt::LogStore& store = memo.store();
        return QStringLiteral("%1 [%2,%3]")
            .arg(memo.toPlainText())
            .arg(store.offsetOf(memo.document().anchor()))
            .arg(store.offsetOf(memo.document().cursor()));
    }

    // One step on both controls:
    //   "Ctrl+Left"           a key sequence
    //   "type:TEXT"           typing
    //   "paste:TEXT"          TEXT on the clipboard, then Ctrl+V
    //   "click:N"             a click where QPlainTextEdit shows position N
    //   "shift-click:N", "double-click:N", "triple-click:N", "middle-click:N"
    //   "drag:N:M"            press at N, move to M, release
    void play(const QString& step) {
        const QString verb = step.section(u':', 0, 0);
        const QString arg = step.section(u':', 1);
        if (verb == u"type")
            return both([&](QWidget* w, QWidget*) { typeText(w, arg); });
        if (verb == u"paste") {
            QGuiApplication::clipboard()->setText(arg);
            return play(QStringLiteral("Ctrl+V"));
        }
        if (verb == u"click" || verb == u"shift-click" || verb == u"double-click" ||
            verb == u"triple-click" || verb == u"middle-click") {
            const QPoint at = pointOf(arg.toInt());
            const Qt::KeyboardModifiers mods =
                verb == u"shift-click" ? Qt::ShiftModifier : Qt::NoModifier;
            const Qt::MouseButton button =
                verb == u"middle-click" ? Qt::MiddleButton : Qt::LeftButton;
            return both([&](QWidget*, QWidget* v) {
                if (verb == u"double-click" || verb == u"triple-click")
                    QTest::mouseDClick(v, button, mods, at);
                if (verb != u"double-click")
                    QTest::mouseClick(v, button, mods, at);
            });
        }
        if (verb == u"drag") {
            const QPoint from = pointOf(arg.section(u':', 0, 0).toInt());
            const QPoint to = pointOf(arg.section(u':', 1, 1).toInt());
            return both([&](QWidget*, QWidget* v) {
                QTest::mousePress(v, Qt::LeftButton, {}, from);
                QMouseEvent move(QEvent::MouseMove, to, v->mapToGlobal(to), Qt::NoButton,
                                 Qt::LeftButton, {});
                QApplication::sendEvent(v, &move);
                QTest::mouseRelease(v, Qt::LeftButton, {}, to);
            });
        }
        const QKeyCombination key = QKeySequence::fromString(step)[0];
        both([&](QWidget* w, QWidget*) { QTest::keyClick(w, key.key(), key.keyboardModifiers()); });
    }

    template <typename F> void both(F f) {
        for (QAbstractScrollArea* w : {static_cast<QAbstractScrollArea*>(&plain),
                                       static_cast<QAbstractScrollArea*>(&memo)}) {
            w->setFocus();
            f(w, w->viewport());
            QCoreApplication::processEvents();
        }
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

const QString kHebrew = QStringLiteral("שלום עולם");
const QString kArabic = QStringLiteral("مرحبا بالعالم");

} // namespace

class TestLogMemo : public QObject {
    Q_OBJECT
private slots:
    void behavesAsPlainTextEdit_data();
    void behavesAsPlainTextEdit();
    void tabMovesFocus();
    void readingsKeepTheCaretAndTheUndoHistory();
    void followsNewestOnlyAtTheBottom();
    void dragBelowKeepsSelecting();
    void screenShowsWhatAFreshPaintShows();
    void accessibleTextFollowsEveryChange();
    void contextMenuOffersWhatApplies();
    void accessibleOffsetsPastIntMaxAreShifted();
};

void TestLogMemo::behavesAsPlainTextEdit_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("script");

    const QString log = QStringLiteral("\nTeplota = 25.0625\nTeplota = 24\nTeplota = -1");
    QTest::newRow("typing and enter") << QString() << QStringList{"type:ab", "Return", "type:c"};
    QTest::newRow("arrows across lines")
        << log << QStringList{"Down", "End", "Right", "Right", "Left", "Up", "Up", "Down"};
    QTest::newRow("home, end and the document's ends")
        << log << QStringList{"Down", "Right", "End", "Home", "Ctrl+End", "Ctrl+Home"};
    QTest::newRow("page keys") << log << QStringList{"PgDown", "PgUp", "Shift+PgDown"};
    QTest::newRow("shift selects, arrows collapse")
        << log << QStringList{"Down",       "Shift+Right", "Shift+Right", "Left",
                              "Shift+Down", "Right",       "Shift+Up",    "Shift+End"};
    QTest::newRow("word moves stop at = and .")
        << log
        << QStringList{"Down",       "Ctrl+Right", "Ctrl+Right", "Ctrl+Right", "Ctrl+Right",
                       "Ctrl+Right", "Ctrl+Right", "Ctrl+Left",  "Ctrl+Left",  "Ctrl+Shift+Left"};
    QTest::newRow("word deletes") << log
                                  << QStringList{"Ctrl+End",  "Ctrl+Backspace", "Ctrl+Backspace",
                                                 "Ctrl+Home", "Down",           "Ctrl+Del",
                                                 "Ctrl+Del"};
    QTest::newRow("backspace and delete join lines")
        << log << QStringList{"Down", "Backspace", "End", "Del", "Backspace"};
    QTest::newRow("select all, copy, cut, paste")
        << log << QStringList{"Ctrl+A", "Ctrl+C", "Ctrl+X", "Ctrl+V", "Ctrl+V"};
    QTest::newRow("shift+insert and shift+delete")
        << log << QStringList{"Down", "Shift+End", "Shift+Del", "Ctrl+End", "Shift+Ins"};
    QTest::newRow("paste with line breaks") << log << QStringList{"Down", "paste:x\ny\nz"};
    QTest::newRow("undo and redo")
        << log
        << QStringList{"Ctrl+End", "type:abc def", "Backspace", "Backspace",    "Return", "type:g",
                       "Ctrl+Z",   "Ctrl+Z",       "Ctrl+Z",    "Ctrl+Shift+Z", "Ctrl+Y", "Ctrl+Z"};
    QTest::newRow("undo a deleted selection")
        << log << QStringList{"Down", "Shift+Down", "Del", "Ctrl+Z", "Ctrl+Shift+Z"};
    QTest::newRow("czech") << QStringLiteral("Průměrná teplota: 24,5")
                           << QStringList{"End",        "type:ěščřžýáíé", "Ctrl+Left", "Backspace",
                                          "Shift+Left", "Shift+Left",     "type:Ů",    "Ctrl+Z"};
    QTest::newRow("emoji: arrows, delete, backspace, selection")
        << QStringLiteral("x😀y\nq😀w")
        << QStringList{"Right", "Right",       "Left",      "Del",      "Ctrl+Z",
                       "End",   "Left",        "Backspace", "Down",     "Home",
                       "Right", "Shift+Right", "Ctrl+C",    "Ctrl+End", "Ctrl+V"};
    QTest::newRow("emoji: typing next to a pair")
        << QStringLiteral("a👍🏽b")
        << QStringList{"Right", "Right", "type:-", "Right", "type:+"};
    QTest::newRow("combining marks")
        << QStringLiteral("ae\u0301b\ncafe\u0301")
        << QStringList{"Right",    "Right",     "Right",     "Left",      "Shift+Left", "Ctrl+C",
                       "Ctrl+End", "Backspace", "Backspace", "Ctrl+Home", "Right",      "Del"};
    QTest::newRow("hebrew") << kHebrew + QStringLiteral("\nabc")
                            << QStringList{"Right",      "Right",      "Left",
                                           "Ctrl+Right", "Shift+Left", "Del",
                                           "End",        "Backspace",  "Ctrl+Left"};
    QTest::newRow("arabic") << kArabic << QStringList{"Left",   "Left", "Shift+Left",
                                                      "type:x", "Home", "Ctrl+Left"};
    QTest::newRow("hebrew clicks") << kHebrew << QStringList{"click:2", "shift-click:7", "click:9"};
    QTest::newRow("long line wraps")
        << QStringLiteral("Teplota 25.0625 a dalsi slova ktera se nevejdou na jeden radek "
                          "uzkeho zaznamu\nkonec")
        << QStringList{"End",        "Down",     "Down",     "Up", "Home", "End",
                       "Shift+Down", "click:40", "Ctrl+End", "Up", "Up"};
    QTest::newRow("clicks") << log
                            << QStringList{"click:3", "click:25", "shift-click:10", "click:0",
                                           "click:44"};
    QTest::newRow("double click selects a word")
        << log << QStringList{"double-click:5", "double-click:12", "double-click:22"};
    QTest::newRow("triple click selects the line")
        << log << QStringList{"triple-click:5", "Ctrl+C", "Ctrl+End", "Ctrl+V"};
    QTest::newRow("drag selects") << log << QStringList{"drag:3:30", "drag:40:14"};
    QTest::newRow("middle click pastes the mouse selection")
        << log << QStringList{"drag:3:8", "middle-click:40"};
}

void TestLogMemo::behavesAsPlainTextEdit() {
    QFETCH(QString, text);
    QFETCH(QStringList, script);
    SideBySide pair(text);
    QCOMPARE(pair.memoState(), pair.state());
    for (const QString& step : script) {
        pair.play(step);
        QVERIFY2(pair.memoState() == pair.state(),
                 qPrintable(QStringLiteral("after %1:\n  log   %2\n  stock %3")
                                .arg(step, pair.memoState(), pair.state())));
    }
    // Nothing the user did may leave half of a surrogate pair behind.
    const QString all = pair.memo.toPlainText();
    for (qsizetype i = 0; i < all.size(); ++i)
        QVERIFY(!all[i].isSurrogate() || (all[i].isHighSurrogate() && i + 1 < all.size() &&
                                          all[i + 1].isLowSurrogate() && ++i));
}

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
    while (store.characterCount() <= INT_MAX + 1000LL)
        store.appendReadings(values.data(), lengths.data(), kBatch, u'.');
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
