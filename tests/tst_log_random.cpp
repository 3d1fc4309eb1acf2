// The log against the stock control, by seeded random sequences: typing in several
// scripts, every navigation key, deletions, the clipboard, clicks, drags, drops and the
// wheel, played on a QPlainTextEdit and on the log side by side at the same font and size.
// After every step both must show the same text, caret, anchor, scroll position and scroll
// bar, and leave the same CLIPBOARD and PRIMARY. A failure prints its seed and the
// shortest sequence that still shows it.
//
// VELT_LOG_SEQUENCES sets how many sequences (default 200), VELT_LOG_SEED the first seed.
// Under a real X server (Xvfb) PRIMARY is compared too; offscreen there is none.

#include "ui/log_memo.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleHints>
#include <QTest>
#include <QTextBlock>

#include <memory>
#include <optional>
#include <random>

namespace {

const QStringList kKeys = {
    "Left",
    "Right",
    "Up",
    "Down",
    "Home",
    "End",
    "PgUp",
    "PgDown",
    "Shift+Left",
    "Shift+Right",
    "Shift+Up",
    "Shift+Down",
    "Shift+Home",
    "Shift+End",
    "Shift+PgUp",
    "Shift+PgDown",
    "Ctrl+Left",
    "Ctrl+Right",
    "Ctrl+Shift+Left",
    "Ctrl+Shift+Right",
    "Ctrl+Home",
    "Ctrl+End",
    "Ctrl+Shift+Home",
    "Ctrl+Shift+End",
    "Backspace",
    "Del",
    "Ctrl+Backspace",
    "Ctrl+Del",
    "Return",
    "Ctrl+A",
    "Ctrl+C",
    "Ctrl+V",
    "Ctrl+X",
    "Ctrl+Z",
    "Ctrl+Y",
    "Ctrl+Shift+Z",
    "Shift+Del",
    "Shift+Ins",
    "Ctrl+Ins",
    "Ctrl+K",
    "Ctrl+Up",
    "Ctrl+Down",
};

// Code points to type, grouped as a user of each script types them.
const QStringList kAlphabets = {
    QStringLiteral("abcdefghijklmnopqrstuvwxyz ABCXYZ0123456789 .,=-+!?"),
    QStringLiteral("ěščřžýáíéůúňťďó ĚŠČŘŽÝÁÍÉŮÚ"),
    QStringLiteral("🎉😀👍🏽🇨🇿👨‍👩‍👧 €"),
    QStringLiteral("e\u0301a\u0308o\u0303 \u0301"),
    QStringLiteral("שלום עולם אבג"),
    QStringLiteral("مرحبا بالعالم ١٢٣"),
};

QString escaped(QString text) {
    return text.replace(u'\\', QLatin1String("\\\\")).replace(u'\n', QLatin1String("\\n"));
}

QString unescaped(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == u'n' ? QChar(u'\n') : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

// The code points of a text, each as one key would type it.
QStringList codePoints(const QString& text) {
    QStringList out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        out << text.mid(i, n);
        i += n - 1;
    }
    return out;
}

struct State {
    QString text;
    int anchor = 0;
    int cursor = 0;
    int scroll = 0;
    int maximum = 0;
    int page = 0;
    bool bar = false;
    int across = 0;
    int acrossMaximum = 0;
    bool acrossBar = false;
    QString clipboard;
    QString primary;

    friend bool operator==(const State&, const State&) = default;
    // The text in full only where it differs from the other side's.
    QString describe(const State& other) const {
        return QStringLiteral("%1 [%2,%3] scroll %4/%5 page %6 bar %7 across %8/%9 bar %10 "
                              "clip \"%11\" primary \"%12\"")
            .arg(text == other.text ? QStringLiteral("(same text)") : '"' + escaped(text) + '"')
            .arg(anchor)
            .arg(cursor)
            .arg(scroll)
            .arg(maximum)
            .arg(page)
            .arg(bar ? "shown" : "hidden")
            .arg(across)
            .arg(acrossMaximum)
            .arg(acrossBar ? "shown" : "hidden", escaped(clipboard.left(80)),
                 escaped(primary.left(80)));
    }
};

QClipboard* clipboard() {
    return QGuiApplication::clipboard();
}

bool hasPrimary() {
    return clipboard()->supportsSelection();
}

class Pair {
public:
    explicit Pair(const QString& text) {
        QFont font = host_.font();
        font.setPixelSize(11);
        host_.setFont(font);
        const QSize size(129, 257);
        plain_.setGeometry(QRect({0, 0}, size));
        memo_.setGeometry(QRect({size.width() + 10, 0}, size));
        host_.resize(2 * size.width() + 20, size.height());
        host_.show();
        if (!QTest::qWaitForWindowExposed(&host_))
            qFatal("not exposed");
        plain_.setPlainText(text);
        memo_.document().setPlainText(text);
        QCoreApplication::processEvents();
        settle();
    }

    State plainState() const {
        const QTextCursor c = plain_.textCursor();
        return withClipboards({plain_.toPlainText(),
                               c.anchor(),
                               c.position(),
                               plain_.verticalScrollBar()->value(),
                               plain_.verticalScrollBar()->maximum(),
                               plain_.verticalScrollBar()->pageStep(),
                               plain_.verticalScrollBar()->isVisible(),
                               plain_.horizontalScrollBar()->value(),
                               plain_.horizontalScrollBar()->maximum(),
                               plain_.horizontalScrollBar()->isVisible(),
                               {},
                               {}});
    }
    State memoState() const {
        const velt::LogStore& store = memo_.store();
        return withClipboards({memo_.toPlainText(),
                               int(store.offsetOf(memo_.document().anchor())),
                               int(store.offsetOf(memo_.document().cursor())),
                               memo_.verticalScrollBar()->value(),
                               memo_.verticalScrollBar()->maximum(),
                               memo_.verticalScrollBar()->pageStep(),
                               memo_.verticalScrollBar()->isVisible(),
                               memo_.horizontalScrollBar()->value(),
                               memo_.horizontalScrollBar()->maximum(),
                               memo_.horizontalScrollBar()->isVisible(),
                               {},
                               {}});
    }

    // Both controls count a line's rows once they lay it out, which happens when it is
    // painted, hit or stepped over: until then each counts one row, and the scroll bar's
    // range with it. Laying out every line settles both, so that what is compared does not
    // depend on which lines each happened to lay out.
    void settle() {
        for (QTextBlock b = plain_.document()->firstBlock(); b.isValid(); b = b.next())
            plain_.document()->documentLayout()->blockBoundingRect(b);
        for (std::int64_t line = 0; line < memo_.store().lineCount(); ++line)
            memo_.characterRect({line, 0});
        QCoreApplication::processEvents();
    }

    // Plays one step on both; returns the state each left. A point written "@N" is where
    // QPlainTextEdit shows position N before the step: the caret's left edge, mid-row.
    std::pair<State, State> play(const QString& written) {
        QString step = written;
        // A real drag-and-drop waits for the system's mouse on X: a drag from a selection
        // (which a shortened sequence can reach) is played as a click.
        if (hasPrimary() && step.startsWith(u"drag:") &&
            (plain_.textCursor().hasSelection() || memo_.document().hasSelection()))
            step = QStringLiteral("click:") + step.section(u':', 1, 1);
        if (step.startsWith(u"drop:") && !safeToDrop(point(step.section(u':', 1, 1))))
            return {plainState(), memoState()};
        static const QRegularExpression position(QStringLiteral("@(\\d+)"));
        for (auto m = position.match(step); m.hasMatch(); m = position.match(step)) {
            QTextCursor cursor(plain_.document());
            cursor.setPosition(m.captured(1).toInt());
            const QRect r = plain_.cursorRect(cursor);
            step.replace(m.capturedStart(), m.capturedLength(),
                         QStringLiteral("%1,%2").arg(r.left()).arg(r.center().y()));
        }
        const QString clip = clipboard()->text();
        const QString primary = hasPrimary() ? clipboard()->text(QClipboard::Selection) : QString();
        playOn(&plain_, step);
        settle();
        const State stock = plainState();
        // The log's step starts from the clipboards as they were before the stock one.
        if (stock.clipboard != clip)
            clipboard()->setText(clip);
        if (hasPrimary() && stock.primary != primary)
            clipboard()->setText(primary, QClipboard::Selection);
        playOn(&memo_, step);
        settle();
        if (step.startsWith(u"drop:") && stock.scroll != memoState().scroll) {
            // QPlainTextEdit places the view for a drop while its layout still holds the
            // text from before the drop, so the view jumps by the rows the drop moved;
            // the log keeps the view and shows the caret. Only the view may differ.
            State log = memoState();
            log.scroll = stock.scroll;
            return {stock, log};
        }
        return {stock, memoState()};
    }

    // QPlainTextEdit (6.4) makes the caret visible in the middle of a drop, from the layout
    // of before it: where the line dropped into starts outside the view, it then reads a
    // row that is not there and crashes. Such drops are played on neither control.
    bool safeToDrop(QPoint viewportPoint) const {
        QTextCursor lineStart = plain_.cursorForPosition(viewportPoint);
        lineStart.movePosition(QTextCursor::StartOfBlock);
        const QRect first = plain_.cursorRect(lineStart);
        return first.top() >= 0 && first.top() + 10 <= plain_.viewport()->height();
    }

    QPlainTextEdit& plain() { return plain_; }
    QSize viewportSize() const { return plain_.viewport()->size(); }

private:
    static State withClipboards(State s) {
        s.clipboard = clipboard()->text();
        if (hasPrimary())
            s.primary = clipboard()->text(QClipboard::Selection);
        return s;
    }

    static QPoint point(const QString& xy) {
        return {xy.section(u',', 0, 0).toInt(), xy.section(u',', 1, 1).toInt()};
    }

    static void playOn(QAbstractScrollArea* w, const QString& step) {
        w->setFocus();
        QWidget* v = w->viewport();
        const QString verb = step.section(u':', 0, 0);
        const QString arg = step.section(u':', 1, 1);
        const QString rest = step.section(u':', 2);
        if (verb == u"key") {
            const QKeyCombination key = QKeySequence::fromString(arg)[0];
            QTest::keyClick(w, key.key(), key.keyboardModifiers());
        } else if (verb == u"type") {
            for (const QString& c : codePoints(unescaped(step.section(u':', 1)))) {
                QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, c, Qt::NoModifier);
                QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, c, Qt::NoModifier);
            }
        } else if (verb == u"paste") {
            clipboard()->setText(unescaped(step.section(u':', 1)));
            QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
        } else if (verb == u"click" || verb == u"shift-click") {
            QTest::mouseClick(v, Qt::LeftButton,
                              verb == u"click" ? Qt::NoModifier : Qt::ShiftModifier, point(arg));
        } else if (verb == u"double-click" || verb == u"triple-click") {
            const QPoint p = point(arg);
            QTest::mousePress(v, Qt::LeftButton, {}, p);
            QTest::mouseRelease(v, Qt::LeftButton, {}, p);
            QTest::mouseDClick(v, Qt::LeftButton, {}, p);
            QTest::mouseRelease(v, Qt::LeftButton, {}, p);
            if (verb == u"triple-click")
                QTest::mouseClick(v, Qt::LeftButton, {}, p);
        } else if (verb == u"middle-click") {
            QTest::mouseClick(v, Qt::MiddleButton, {}, point(arg));
        } else if (verb == u"drag") {
            const QPoint from = point(arg), to = point(rest);
            QTest::mousePress(v, Qt::LeftButton, {}, from);
            QTest::mouseMove(v, (from + to) / 2);
            QTest::mouseMove(v, to);
            QTest::mouseRelease(v, Qt::LeftButton, {}, to);
        } else if (verb == u"wheel") {
            const QPoint p = point(arg);
            QWheelEvent wheel(p, v->mapToGlobal(p), QPoint(), QPoint(0, rest.toInt()), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(v, &wheel);
        } else if (verb == u"drop") {
            const QPoint p = point(arg);
            QMimeData data;
            data.setText(unescaped(rest));
            const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter(p, actions, &data, Qt::LeftButton, {});
            QApplication::sendEvent(v, &enter);
            QDragMoveEvent move(p, actions, &data, Qt::LeftButton, {});
            QApplication::sendEvent(v, &move);
            QDropEvent drop(QPointF(p), actions, &data, Qt::LeftButton, {});
            QApplication::sendEvent(v, &drop);
        } else {
            qFatal("unknown step %s", qPrintable(step));
        }
        QCoreApplication::processEvents();
    }

    QWidget host_;
    QPlainTextEdit plain_{&host_};
    TLogMemo memo_{&host_};
};

class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    QString text() {
        switch (below(6)) {
        case 0:
            return {};
        case 1: {
            QStringList lines{QString()};
            for (int i = below(40); i >= 0; --i)
                lines << QStringLiteral("Teplota = %1").arg(below(800) / 16.0);
            return lines.join(u'\n');
        }
        case 2:
            return words(200 + below(500), 0);
        default:
            return words(5 + below(120), 6);
        }
    }

    void setViewport(QSize size) { viewport_ = size; }
    void setSelection(bool selected) { selected_ = selected; }

    QString step() {
        const int roll = below(100);
        if (roll < 45)
            return "key:" + kKeys[below(kKeys.size())];
        if (roll < 65)
            return "type:" + escaped(typed(1 + below(4)));
        if (roll < 70)
            return "paste:" + escaped(words(1 + below(30), 8));
        if (roll < 76)
            return "click:" + point();
        if (roll < 79)
            return "shift-click:" + point();
        if (roll < 82)
            return "double-click:" + point();
        if (roll < 84)
            return "triple-click:" + point();
        if (roll < 85 && hasPrimary())
            return "middle-click:" + point();
        if (roll < 93) {
            // A real drag-and-drop waits for the system's mouse: not from a selection on X.
            if (hasPrimary() && selected_)
                return "click:" + point();
            return "drag:" + point() + ":" + point();
        }
        if (roll < 97)
            return "wheel:" + point() + ":" + QString::number(below(2) ? 120 : -120);
        return "drop:" + point() + ":" + escaped(words(1 + below(12), 4));
    }

    std::uint32_t next() { return random_(); }

private:
    int below(qsizetype n) { return int(random_() % std::uint32_t(n)); }

    QString point() {
        return QStringLiteral("%1,%2").arg(below(viewport_.width())).arg(below(viewport_.height()));
    }

    QString typed(int n) {
        const QStringList letters = codePoints(kAlphabets[below(kAlphabets.size())]);
        QString out;
        for (int i = 0; i < n; ++i)
            out += letters[below(letters.size())];
        return out;
    }

    // Words in random scripts; one break in `lineEvery` words (never where it is 0).
    QString words(int n, int lineEvery) {
        QString out;
        for (int i = 0; i < n; ++i) {
            if (i > 0)
                out += lineEvery > 0 && below(lineEvery) == 0 ? u'\n' : u' ';
            out += typed(1 + below(7));
        }
        return out;
    }

    std::mt19937 random_;
    QSize viewport_{100, 100};
    bool selected_ = false;
};

struct Failure {
    int step = 0;
    QString stock;
    QString log;
};

// QTextLine::xToCursor can give one past the end of a right-to-left last row, which
// QTextCursor takes from an Up or Down move unchecked: QPlainTextEdit's caret then stands
// past its text, where nothing more can be compared. The log's stays at the text's end.
// Whether a step left the stock there; a failure where the log's caret is elsewhere.
bool pastTheEnd(const State& stock, const State& log, int step, std::optional<Failure>* failure) {
    if (stock.cursor <= stock.text.size() && stock.anchor <= stock.text.size())
        return false;
    if (log.cursor != log.text.size() || log.anchor != log.text.size())
        *failure = Failure{step, stock.describe(log), log.describe(stock)};
    return true;
}

// Plays a sequence on a fresh pair; the first step after which the two differ.
std::optional<Failure> replay(const QString& text, const QStringList& steps,
                              bool compareView = true) {
    // Without the view: the text, caret, selection and clipboards alone.
    const auto differ = [compareView](State a, State b) {
        if (!compareView)
            a.scroll = b.scroll, a.maximum = b.maximum, a.page = b.page, a.bar = b.bar;
        return a != b;
    };
    clipboard()->setText(QStringLiteral("clip"));
    if (hasPrimary())
        clipboard()->setText(QStringLiteral("primary"), QClipboard::Selection);
    Pair pair(text);
    if (differ(pair.plainState(), pair.memoState()))
        return Failure{-1, pair.plainState().describe(pair.memoState()),
                       pair.memoState().describe(pair.plainState())};
    for (int i = 0; i < steps.size(); ++i) {
        const auto [stock, log] = pair.play(steps[i]);
        if (std::optional<Failure> failure; pastTheEnd(stock, log, i, &failure))
            return failure;
        if (differ(stock, log))
            return Failure{i, stock.describe(log), log.describe(stock)};
    }
    return std::nullopt;
}

// Each step of a failing sequence with what both showed after it.
void trace(const QString& text, const QStringList& steps) {
    clipboard()->setText(QStringLiteral("clip"));
    if (hasPrimary())
        clipboard()->setText(QStringLiteral("primary"), QClipboard::Selection);
    Pair pair(text);
    for (const QString& step : steps) {
        const auto [stock, log] = pair.play(step);
        qInfo("%s\n  stock %s\n  log   %s", qPrintable(step.left(60)),
              qPrintable(stock.describe(log)), qPrintable(log.describe(stock)));
    }
}

// The shortest sequence found that still fails: steps after the failing one dropped, then
// each step that is not needed.
QStringList shrink(const QString& text, QStringList steps) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (qsizetype i = steps.size() - 1; i >= 0; --i) {
            QStringList shorter = steps;
            shorter.removeAt(i);
            if (const auto failure = replay(text, shorter)) {
                steps = shorter.mid(0, failure->step + 1);
                smaller = true;
                break;
            }
        }
    }
    return steps;
}

// The text cut down to the lines, then the halves of lines, that the failure still needs.
QString shrinkText(QString text, const QStringList& steps) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        const QStringList lines = text.split(u'\n');
        for (qsizetype i = lines.size() - 1; i >= 0 && !smaller; --i) {
            QStringList candidates;
            if (lines.size() > 1) {
                QStringList fewer = lines;
                fewer.removeAt(i);
                candidates << fewer.join(u'\n');
            }
            if (lines[i].size() > 1) {
                // Not inside a surrogate pair: a lone half is a failure of its own.
                qsizetype middle = lines[i].size() / 2;
                if (lines[i][middle].isLowSurrogate())
                    ++middle;
                for (const QString& half : {lines[i].left(middle), lines[i].mid(middle)}) {
                    if (half.isEmpty() || half.size() == lines[i].size())
                        continue;
                    QStringList shorter = lines;
                    shorter[i] = half;
                    candidates << shorter.join(u'\n');
                }
            }
            for (const QString& candidate : std::as_const(candidates)) {
                if (replay(candidate, steps)) {
                    text = candidate;
                    smaller = true;
                    break;
                }
            }
        }
    }
    return text;
}

} // namespace

class TestLogRandom : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // A click after a double click at the same place is a triple click for as long as
        // a sequence lasts, in both controls alike, however long a step takes.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(600000);
        QGuiApplication::styleHints()->setCursorFlashTime(0);
    }
    void casesMatchTheStockControl_data();
    void casesMatchTheStockControl();
    void randomSequencesMatchTheStockControl();
};

// Differences that random sequences found, each as its shortest sequence; the points are
// in the view, whose rows are 13 pixels apart below a 4-pixel margin.
void TestLogRandom::casesMatchTheStockControl_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("primary"); // needs X11's PRIMARY
    QTest::addColumn<bool>("dragOut"); // a real drag, only offscreen
    // Rows whose case is not the view compare the text, caret and clipboards alone.

    QStringList readings;
    for (int i = 0; i < 100; ++i)
        readings << QStringLiteral("Teplota = %1").arg(20 + i / 16.0);
    QStringList fortyLines;
    for (int i = 0; i < 40; ++i)
        fortyLines << QStringLiteral("line %1").arg(i);
    QString longLine;
    while (longLine.size() < 5000)
        longLine += QStringLiteral("slovo %1 ").arg(longLine.size());
    const QString twentyFiveReturns = QStringList(25, QStringLiteral("key:Return")).join(u'|');

    QTest::newRow("scroll bar: 100 readings")
        << readings.join(u'\n') << QStringList{"key:Ctrl+End", "key:PgUp"} << false << false;
    QTest::newRow("scroll bar: a paste of 40 lines")
        << QString() << QStringList{"paste:" + fortyLines.join(QLatin1String("\\n"))} << false
        << false;
    QTest::newRow("scroll bar: 25 Returns")
        << QString() << twentyFiveReturns.split(u'|') << false << false;
    QTest::newRow("scroll bar: one 5,000-character line")
        << longLine << QStringList{"key:Ctrl+End", "key:PgUp", "wheel:50,50:120"} << false << false;
    QTest::newRow("typed astral character")
        << QStringLiteral("== kůň\n") << QStringList{"type:🎉", "key:Shift+Left", "type:😀"} << false
        << false;
    QTest::newRow("typed flag and ZWJ sequence")
        << QStringLiteral("== kůň\n") << QStringList{"type:🇨🇿 👨‍👩‍👧"} << false
        << false;
    QTest::newRow("PRIMARY kept after cut")
        << QStringLiteral("abc def") << QStringList{"double-click:8,10", "key:Ctrl+X"} << true
        << false;
    QTest::newRow("PRIMARY kept after a paste over it")
        << QStringLiteral("abc def") << QStringList{"double-click:8,10", "paste:xy"} << true
        << false;
    QTest::newRow("PRIMARY kept after typing over it")
        << QStringLiteral("abc def") << QStringList{"double-click:8,10", "type:x"} << true << false;
    QTest::newRow("PRIMARY kept after the caret leaves it")
        << QStringLiteral("abc def") << QStringList{"double-click:8,10", "key:Right"} << true
        << false;
    QTest::newRow("Shift+Up on the first line")
        << QStringLiteral("abc def") << QStringList{"key:End", "key:Shift+Up"} << false << false;
    QTest::newRow("Shift+Down on the last line")
        << QStringLiteral("abc def") << QStringList{"key:Shift+Down"} << false << false;
    QTest::newRow("Down after Ctrl+A")
        << QStringLiteral("abc\ndef") << QStringList{"key:Ctrl+A", "key:Down"} << false << false;
    QTest::newRow("PgUp in a text that fits")
        << QStringLiteral("abc\ndef\nghi")
        << QStringList{"key:Down", "key:Down", "key:End", "key:PgUp"} << false << false;
    QTest::newRow("Ctrl+End puts the last line on the bottom row")
        << readings.join(u'\n') << QStringList{"key:Ctrl+End"} << false << false;
    QTest::newRow("Shift+click after a triple click")
        << QStringLiteral("alpha beta\ngamma delta\nepsilon zeta")
        << QStringList{"triple-click:10,36", "key:Left", "shift-click:10,10"} << false << false;
    QTest::newRow("undo: a line break is a step of its own")
        << QString() << QStringList{"type:Šárka ŘEŘICHA", "key:Return", "key:Backspace",
                                    "key:Backspace",      "key:Del",    "key:Ctrl+Z"}
        << false << false;
    QTest::newRow("undo: typing after a paste is one step with it")
        << QStringLiteral("abc") << QStringList{"key:End", "paste:xyz", "type:de", "key:Ctrl+Z"}
        << false << false;
    QTest::newRow("undo: typing apart merges apart")
        << QStringLiteral("ab")
        << QStringList{"type:x",        "key:Right",     "type:y",    "key:End",
                       "key:Backspace", "key:Backspace", "key:Ctrl+Z"}
        << false << false;
    // Return on an empty line first resets the formats of the lines and characters it
    // selects there, each a step of its own that only moves the caret when undone.
    QTest::newRow("undo: Return on an empty line restyles it first")
        << QString() << QStringList{"key:Return", "key:Return", "key:Ctrl+Z", "key:Ctrl+Z"} << false
        << false;
    QTest::newRow("undo: Return over a selection that ends on an empty line")
        << QStringLiteral("ab cd\n\nef")
        << QStringList{"key:Right",  "key:Shift+Down", "key:Return", "key:Ctrl+Z",
                       "key:Ctrl+Z", "key:Ctrl+Z",     "key:Ctrl+Y", "key:Ctrl+Y"}
        << false << false;
    QTest::newRow("scroll: Return above the row shown first")
        << longLine << QStringList{"wheel:50,50:-120", "key:Return"} << false << false;
    QTest::newRow("Down after a move that stays, right to left")
        << QStringLiteral("שלום עולם שלום עולם שלום עולם\nabc")
        << QStringList{"key:Ctrl+Shift+Home", "key:Down"} << false << false;
    QTest::newRow("Down after a Ctrl+Backspace that deletes nothing")
        << QStringLiteral("שלום עולם\nabc def") << QStringList{"key:Ctrl+Backspace", "key:Down"}
        << false << false;
    QTest::newRow("PgDown after a Shift+Up that stays, right to left")
        << QStringLiteral("ع\n3") << QStringList{"key:Shift+Up", "key:PgDown"} << false << false;
    QTest::newRow("shift-click at a line's start after a double click")
        << QStringLiteral("abc\ndef ghi") << QStringList{"double-click:@9", "shift-click:@4"}
        << false << false;
    // A shift-click inside the line a triple click selected selects it again, with the
    // caret's x of when it was first selected.
    QTest::newRow("Up after a shift-click selects a triple-clicked line again")
        << QStringLiteral("ab\ncdef\ngh")
        << QStringList{"triple-click:@4", "key:Home", "type:XY", "shift-click:@5", "key:Up"}
        << false << false;
    // A click where a double click was, after a scroll within the same line, is a triple
    // click: both are measured from the line shown first.
    QTest::newRow("triple click after a scroll within a long line")
        << longLine << QStringList{"double-click:@200", "wheel:50,50:-120", "click:@200"} << false
        << false;
    // The line shown first starts far above the view: a click below it must not scroll.
    QTest::newRow("scroll: a click under a long line shown from its end")
        << longLine + QStringLiteral("\nabc\ndef")
        << QStringList{"key:Ctrl+End", "click:@" + QString::number(longLine.size() + 2)} << false
        << false;
    // The view starts inside a long line; a paste puts short lines in its place. New
    // lines count one row each until they are laid out, and the view's top row is found
    // by those counts, as QPlainTextEdit finds it.
    QTest::newRow("scroll: a paste of lines above the view")
        << QStringLiteral("ab\n") + longLine.left(60) + u'\n' + readings.join(u'\n')
        << QStringList{"wheel:50,50:-120", "paste:A\\nB\\n" + longLine.left(45) + "\\nD"} << false
        << false;
    // The paste makes the scroll bar appear while the view starts inside the first line;
    // QPlainTextEdit lays that line out again at once at the narrower width.
    QTest::newRow("scroll: the bar appears while the view starts inside a line")
        << longLine.left(30) + u'\n' + longLine.mid(30, 45) + u'\n' +
               readings.mid(0, 12).join(u'\n')
        << QStringList{"key:Ctrl+End", "key:Up", "key:End", "paste:x\\ny\\nz\\nw\\nv"} << false
        << false;
    // Joiners and marks make a row a pixel wider than the width it was wrapped at (with
    // the vertical scroll bar shown).
    QTest::newRow("scroll bar across: a row wider than the view")
        << QStringLiteral(
               "\u200f€👍 ěéš lthq aa\u0301 \u200d\u200d\u200d Á ل Ěďňáéí   ٣با١ ال٢ ٢ ") +
               QString(30, u'\n')
        << QStringList{"key:End", "key:Ctrl+End", "key:Ctrl+Home", "key:End"} << false << false;
    // QPlainTextEdit's layout tells of a new size only where the number of lines changed:
    // the first line's two rows went, and the bar keeps counting them.
    QTest::newRow("scroll: a wrapped line replaced by Return keeps the bar's range")
        << longLine.left(30) + u'\n' + readings.join(u'\n')
        << QStringList{"key:Shift+Down", "key:Shift+Down", "key:Return", "key:Ctrl+End"} << false
        << false;
    // A removal with the caret before its anchor tells of no caret move: the next page
    // goes by the caret's height in the view from before Shift+PgUp.
    QTest::newRow("PgDown after a removal that keeps the caret")
        << longLine.left(1500)
        << QStringList{"key:Down", "key:Down",       "key:Down",      "key:Down",
                       "key:Down", "key:Shift+PgUp", "key:Backspace", "key:PgDown"}
        << false << false;
    // Shortened from random sequences. QPlainTextEdit's setPlainText learns its widest line
    // before its layout hears of the new lines, so that line's number moves past the text's
    // end: the line replaced here no longer counts as the widest, and its going tells of no
    // new size (the page stays).
    QTest::newRow("scroll: the widest line of the first text replaced by Return")
        << QStringLiteral(
               "Č\nع٣ل     -XnnwB č 🎉👧‍🇨 CB,uec\n \n👍 🏽👩👨🇿 é "
               "́ãẽ̈ "
               "BAv92-2 "
               "ב\n "
               "\nÁňÉú "
               "ÉŠ Ř ̈́õ  čďŽ ا óë́ o 4 ג رلعل šůíůÉÚé\n👧")
        << QStringList{"triple-click:70,115", "key:Return"} << false << false;
    // The paste makes the bar appear; QPlainTextEdit counts the range once a resize has laid
    // out the lines again, and rows it learns while it scrolls to the top row count later.
    QTest::newRow("scroll: a paste that makes the bar appear")
        << QStringLiteral(
               "🎉👍€  ö א Bed38=q ů 😀‍ v+ fbm+js ́̈ oo ر ̈́̃ o 🏽 א "
               "̃́́̃̈ä "
               "‍👍👧🎉‍🇿 "
               "עעלם "
               "Zluef Ůó öä̈ לג "
               "ב לב לעע ‍🇨🎉🎉🇨‍ םם eõ\n٢با عب٣ عل ٢ب١ ́ ع  "
               "بلا\ngbqk "
               "Z0q "
               "a "
               " "
               "Š "
               "€ "
               "👨 "
               "z\nוו ו   של "
               "4Y,4 ã́̃̃ 😀‍🇨🏽👨 לאלא בש ש 👩‍🇿‍‍👧 aCv  8pt "
               "ש "
               "xgqe8u "
               "̈eä̃́̃ "
               " "
               " "
               "رابباا٣ "
               "ée ועו  ́̈ee "
               "בגא ם ́ حرمبم é 🇿 řňřé Aa ל ňú ýýŠň\n🏽\nťóď "
               "ÁěúťŘ "
               "čŘůÝřř "
               "̈́̃ "
               "بلبماح٣ "
               " "
               " "
               "ם "
               "١ل ١اح٢لب "
               "١٢ررا")
        << QStringList{"key:PgDown", "paste:éa\\nא ل٢مم٣ا٢  ا 66Ca 5Cg برال וג  🇨👍😀 "
                                     "‍👨😀‍🏽 "
                                     "בא ́̃aõae  x\\nلحح\\nýóÚ לש  גו  a ́o\\náa ́ 👍👍 🎉🇿 ó  ̃e ̈ "
                                     "בבם\\n‍😀👩€‍"}
        << false << false;
    // QTextCursor::setPosition takes the caret's x even where the caret stays.
    QTest::newRow("PgDown after a shift-click where the caret stays, right to left")
        << QStringLiteral("ل\n ") << QStringList{"shift-click:105,6", "key:PgDown"} << false
        << false;
    // Del within a line that neither changes its rows nor the widest line tells of no new
    // size, whatever an earlier layout learnt while the bars were counted.
    QTest::newRow("scroll: Del within a line after a paste keeps the bar's range")
        << QStringLiteral(
               "́ čČ אלבל o5wi!Z ש  17pig9x aw2wn\nם\nببا رم עוםלשםא ١ ارب١ب\ní\nč\nĚ\nŘ\n̈\n "
               "\no\no\n١١ اا a ́ ́̈e ŮÝíŮýíó  😀\ně\nשג ̃̈́̈ó ď ם בםשעש oẽoea\nŮ\n ")
        << QStringList{"drag:71,204:14,225", "paste: ح١\\ne", "key:Del"} << false << false;
    // QWidgetTextControl's selectAll tells of no cursor move: the caret's height in the view
    // from the page before stays for the next one.
    QTest::newRow("PgUp after Ctrl+A goes by the height of the page before")
        << readings.mid(0, 20).join(u'\n') << QStringList{"key:PgUp", "key:Ctrl+A", "key:PgUp"}
        << false << false;
    // Undoing a removal that kept the caret inserts the text with the cursors where it
    // starts staying there: the triple-clicked line's selection starts at 0 again.
    QTest::newRow("shift-click after undoing a cut above a triple-clicked line")
        << QStringLiteral("\nT")
        << QStringList{"triple-click:96,250", "key:Ctrl+Shift+Home", "key:Shift+Del", "key:Ctrl+Z",
                       "shift-click:98,0"}
        << false << false;
    // Scrolling to a new top walks from the line shown first as far as QPlainTextEdit walks,
    // two views past that line's own height, laying out the lines on the way while the bar
    // is counted: their new rows count only at the next layout that tells of a new size.
    QTest::newRow("scroll: a paste in a long wrapped line, the new top two lines below")
        << QStringLiteral("ab ").repeated(1200)
        << QStringList{"key:Ctrl+End", "key:PgUp", "key:PgUp", "key:Ctrl+Shift+End",
                       "paste:x\\nabc abc abc abc abc abc abc abc\\n" +
                           QStringLiteral("cd ").repeated(140)}
        << false << false;
    // A caret's place is found from the first line shown as it is once that line is laid
    // out, which may scroll the view: Return over a selection down a long line.
    QTest::newRow("scroll: Return over a selection made down a long line")
        << QStringLiteral("ab ").repeated(400)
        << QStringList{"double-click:74,149", "key:Shift+PgDown", "key:Return"} << false << false;
    // Undoing a paste over lines makes QTextDocument's blocks anew: the wrapped lines'
    // rows go with them and the bar, told of no new size, keeps its range.
    QTest::newRow("scroll: undo of a paste of wrapped lines over as many lines")
        << QStringLiteral("\nT").repeated(19)
        << QStringList{"drag:63,64:65,111", "key:Shift+PgUp",
                       "paste:a\\nbb bb bb bb bb bb bb bb bb bb bb\\nc\\nd\\ncc cc cc cc cc cc cc "
                       "cc cc cc cc",
                       "key:Ctrl+Z"}
        << false << false;
    // After an edit QPlainTextEdit's view asks where to repaint, which lays out the first
    // line shown where the view is scrolled into it: its rows count before the caret is
    // made visible.
    QTest::newRow("scroll: Ctrl+V over lines with the view scrolled into a wrapped line")
        << QStringLiteral(
               "ěéýůŘéý ŘŘŮŘÚňŽ ãeaä בא םא e  flx "
               "s ýůťůůÉ šťí 👨👨 ́õo  y9 Ž žŮ ماح "
               "ال  👍  ́́̃ aa šÍ 59 مع بح š ם ž 🇨👍‍😀‍👨 "
               "🇿‍‍👩👍‍🇨 👧 🏽€ éČó ó́̈o ואגם Řť "
               "👩‍👨🇿 "
               "🇨 ש  ẽa  אווו ם pA ווו וולוג a ́ "
               "ם pd,l51o 🏽🇨‍🇿🇿👩👨 גב םבל וגש ש בא "
               "a ́̃ اح١ ‍ 🇿 o 👩‍😀🏽 É Ůýěťó ‍🇿👩👩👍 "
               "👍 €🎉👩 ůžŮóčŘŽ م 🇿🇨 ל 2 áÉčÁ ו  וגבלם "
               "اا    👍👧🏽👧‍‍🏽 םוגלג ‍ 👧👍‍🇨‍👨😀 , ́ "
               "́́  וג ע גו معب١ úŠ ̃́e 6  😀🇨👩👨👩 ̈̈ "
               "ح wf! ٢حبب  לם  👍  e םםשבא ש וםאאע "
               "👨🇿🇨🏽‍ עוםש   مل بر Ě ל ג   ١لبرل ̈é́́ea "
               "لح٣لب٣ برمحا ťÝňŮ sm6joqd 🏽🏽🏽😀😀 ÍčřÚóÍ "
               " ee ů €‍👧 😀 مل ̃ שללו ÝĚČÝčČ ع٣ا 👧👨 "
               "́aaö́ ý  ŘŠÚÝÝšč  ا  -!X אגוש €€ "
               "o ́̈  ́ ́ 0u9.c, ee  ללם a .e šíŮď "
               "اربر eeẽ h?9u!!  ٣٣٢لال שלעם או ö̈́̈ "
               "e ١لا ó a e ابعع 👍👨👍👩 ابم١ا 🎉👧😀€ "
               "🇿👩 ňíÚŠĚ ňž Íď ‍😀€ €🏽🏽🇨 👩 ́́́́o   "
               "בש ו   ع٢معبب ! ٣ ňčšĚ pua1q 👨👨🇨 😀👍 "
               "לםגשם pYdoiaC +Bxw!n X-s =0kl 👨‍ €😀€ "
               "ňÝúůřž حبب   ̈õ ̈ ťÉ ")
        << QStringList{"click:71,153",
                       "paste:مار٣ 1gz2=fA čéč בא גש "
                       "ו\\nv\\n😀👧👨🏽👩👨‍\\nباب١ب٢ "
                       "ا٢ل "
                       "íěšŽÝýč "
                       "رمرل٣ šúě ا  ůšň\\n̈  בבל 😀👧👍🇿🇿 ýď אלאשאם qz1=, ̈́ö̃̃a",
                       "key:Ctrl+Home",
                       "type:🏽 🎉👍",
                       "key:Shift+PgDown",
                       "key:Ctrl+V"}
        << false << false;
    // QWidgetTextControl rounds a mouse event's point to whole pixels after adding the
    // view's offset, which is fractional after some scrolls: a click on the last pixel of a
    // row lands in the next one. (QPlainTextEdit::cursorForPosition cuts it instead.)
    QTest::newRow("scroll: a click on a row's last pixel with the view's offset fractional")
        << QStringLiteral(
               "אםע 6inkmY4 óä ŘóŠ 5zt7e! č ĚžňÍ "
               "😀👨🇨🇿🏽🇨🏽 8Cum+5 א  امل ýýŽ 🎉👨🎉 👍 x=3, "
               "🇿🏽🎉 مبح ب ̃́oãẽ 🇨 vc 👨🏽 v aáaa ללו "
               "hhkt7 ad žéčÚáýÁ o رع١١ é ול א 4=wfk "
               "لببحب o -5kn-l ر 7, ěŽŘďžÉŮ ا١م٢ اح "
               "עלע ב ́o  ́o ל   לע ر ŽŽÁíĚá Ůď úŠúÚÉČ "
               "םםבווג לללע االب ÉÁžó 🇨‍🎉👩€  ע حاا٢٣م "
               "👩‍€🎉😀 ťýÚČÍ éÝňč לבאלל éÁťŘŽ ٢ Žéě "
               "ÚĚůřě םש ČýňÍ ́̈́ ́́e וםלבאג ע לווג ע "
               "ňÍááČÚž לווגוע ٣بال٣ 0 aó 😀🎉‍ ÉŠýíŮÁ "
               "םב ועשלבל שםבלעוא עםא ĚŮŽěč ďšČÉÚá را "
               "ا٣  ا áÉčÝ לםבבל ح ďŽůúž ̈́ 🇿🇿🎉🇨‍👩👧 "
               "مااما בשם  👧 j952a7e 🏽 ú čóý رب")
        << QStringList{"paste: ČÉŠŽž e   حلع١ ÁÚÉĚúřů ÚúČŘ ر ب ם םם שגל  ̈́áo שםא ĚÁÝšó احم٣م٣ر "
                       "🇿‍ "
                       "eë ̃́  ́ eaö مبرا٣بم عم  x?\\nee ́o",
                       "click:61,241",
                       "key:Ctrl+V",
                       "drag:3,160:82,214",
                       "key:Shift+PgDown",
                       "type:👩",
                       "click:89,208"}
        << false << false;
    // A caret at a bidirectional boundary by a row's end: its x, which page keys keep, is
    // what QPlainTextEdit's block layout gives, which keeps no shaping between uses.
    QTest::newRow("PgUp from a caret at a bidirectional boundary by a row's end")
        << QStringLiteral("😀\nא\n \nä́̈ooo ا٣ ب ב ̃e áÁčČř "
                          "̈ë́ë̈\nוםשש h+a1 ÝČÍťŠ 27xm\nו "
                          "íĚšÁáÉÍ 😀🇨 לו so ג fq\nا\ń\nعلل  A "
                          "לבאלוגו -qbYms- ŮŮáÚš ر٢٣م١ ٣\nxhb "
                          "🇿€😀👍🇨 לש אם npn!3\nאבגו  ̈ גלב ע ב  "
                          "́eṍo 2 אאום  ١حالم aá ̃ ̃ ŠážŠó")
        << QStringList{"drag:34,181:111,229", "key:PgUp"} << false << false;
    // Down lands past the text in QPlainTextEdit (see pastTheEnd()); the log's caret stays
    // at the end.
    QTest::newRow("Down to a right-to-left last row that QTextLine ends one past the text")
        << QStringLiteral(
               "\u200d\n€\no\nÝ\n\u0303\u0308\u0308 ולו ששם 👍\u200d\u200d😀🏽 🇿 "
               "ال٢ب \u0303o \u0308\u0308 🎉👨😀🏽 ")
        << QStringList{"shift-click:21,65", "key:Down"} << false << false;
    // Laying out the first line shown, while the view moves, can find its rows changed and
    // move the view within that move: the offset shown is taken before that, its fraction
    // after, as QPlainTextEdit takes them, and the drag's end lands a row apart otherwise.
    QTest::newRow("scroll: a move that finds the first line's rows changed")
        << QStringLiteral(
               "ŘŽó 0w5\n ó̃a e  😀👨 👩👨👩🇿‍ ?5jt8y šďÁÉ 👍€ "
               "̈eá́ ́ oé̃o\n👨\nŘÉŮůĚň 🇿👩€🇿😀👩👩 ١بب٣ \nb "
               "  ש וואאם   vbe-d 👧\nו\n🎉\na\n ďÁěů אעל לב "
               "ÚŘýťý ללעםם !u3 שם אועלבם ‍🇨👍👨€ óýňý\nň\nA8 "
               "🇨👨 gB.XzwZ ל ÁňŮÍ 😀‍🎉 óŠÉíě לשב 👨€\nع")
        << QStringList{"wheel:20,32:-120", "paste: ו ‍‍‍🏽👍\\n 63 uc 😀 ععلا",
                       "drag:45,1:81,233"}
        << false << false;
    // QPlainTextEdit's setPlainText lays out only the last line before the new lines count,
    // here a lone combining mark, no wider than the empty text: the widest line's number
    // stays, and the bars follow when Return narrows that line.
    QTest::newRow("scroll bar: Return over the widest line, the last line narrow")
        << QStringLiteral(
               "👍👩\n=\n🏽\nו\nj 👩€‍👧👍👧\nZa Y p גאגםבלש ربم "
               "́ã́ ̃\nו\nם\nó\n0yu  Éí  םעלאש עוםע ň للحم\n١\np\ne\ń")
        << QStringList{"click:97,112",
                       "paste:e ل ر ‍‍🇨🇿‍ 82u? ل םגא "
                       "ל čšščŘď nq 3b ́́äee ̃̃̈a 👩🏽👍 "
                       "🏽 o3y גש ע  Aof, .\\nحل ر ום "
                       "🎉 👧👩🎉🎉🇨\\nÉí  ́́ ĚŽŽýňčŽ !  👩‍👧 "
                       "oäoe ́̃o 👍👧‍‍👧👧 oó̃oe ב\\n2Bk",
                       "triple-click:20,172", "key:Return"}
        << false << false;
    // Then it shows the caret, laying out the first line, whose width counts against the
    // widest line's number moved past the text's end.
    QTest::newRow("scroll bar: Return over the first line, the widest, in a long text")
        << QStringLiteral("slovo ").repeated(14) + QStringLiteral("\na").repeated(25) +
               QStringLiteral("\nxyz")
        << QStringList{"triple-click:20,10", "key:Return"} << false << false;
    QTest::newRow("drag of the selection")
        << QStringLiteral("alpha beta gamma")
        << QStringList{"double-click:40,10", "drag:40,10:90,10"} << false << true;
    QTest::newRow("drop from another program")
        << QStringLiteral("alpha beta gamma") << QStringList{"drop:40,10:x\\ny"} << false << false;

    // Chosen before the random sequences, one case of each kind of editing.
    const QString log = QStringLiteral("\nTeplota = 25.0625\nTeplota = 24\nTeplota = -1");
    const QString hebrew = QStringLiteral("שלום עולם");
    const auto keys = [](const QStringList& names) {
        QStringList steps;
        for (const QString& name : names)
            steps << (name.contains(u':') ? name : "key:" + name);
        return steps;
    };
    const auto row = [](const char* name, const QString& text, const QStringList& steps,
                        bool primary = false) {
        QTest::newRow(name) << text << steps << primary << false;
    };
    row("typing and enter", {}, keys({"type:ab", "Return", "type:c"}));
    row("arrows across lines", log,
        keys({"Down", "End", "Right", "Right", "Left", "Up", "Up", "Down"}));
    row("home, end and the document's ends", log,
        keys({"Down", "Right", "End", "Home", "Ctrl+End", "Ctrl+Home"}));
    row("page keys", log, keys({"PgDown", "PgUp", "Shift+PgDown"}));
    row("shift selects, arrows collapse", log,
        keys({"Down", "Shift+Right", "Shift+Right", "Left", "Shift+Down", "Right", "Shift+Up",
              "Shift+End"}));
    row("word moves stop at = and .", log,
        keys({"Down", "Ctrl+Right", "Ctrl+Right", "Ctrl+Right", "Ctrl+Right", "Ctrl+Right",
              "Ctrl+Right", "Ctrl+Left", "Ctrl+Left", "Ctrl+Shift+Left"}));
    row("word deletes", log,
        keys({"Ctrl+End", "Ctrl+Backspace", "Ctrl+Backspace", "Ctrl+Home", "Down", "Ctrl+Del",
              "Ctrl+Del"}));
    row("backspace and delete join lines", log,
        keys({"Down", "Backspace", "End", "Del", "Backspace"}));
    row("select all, copy, cut, paste", log,
        keys({"Ctrl+A", "Ctrl+C", "Ctrl+X", "Ctrl+V", "Ctrl+V"}));
    row("shift+insert and shift+delete", log,
        keys({"Down", "Shift+End", "Shift+Del", "Ctrl+End", "Shift+Ins"}));
    row("paste with line breaks", log, keys({"Down", "paste:x\\ny\\nz"}));
    row("undo and redo", log,
        keys({"Ctrl+End", "type:abc def", "Backspace", "Backspace", "Return", "type:g", "Ctrl+Z",
              "Ctrl+Z", "Ctrl+Z", "Ctrl+Shift+Z", "Ctrl+Y", "Ctrl+Z"}));
    row("undo a deleted selection", log,
        keys({"Down", "Shift+Down", "Del", "Ctrl+Z", "Ctrl+Shift+Z"}));
    row("czech", QStringLiteral("Průměrná teplota: 24,5"),
        keys({"End", "type:ěščřžýáíé", "Ctrl+Left", "Backspace", "Shift+Left", "Shift+Left",
              "type:Ů", "Ctrl+Z"}));
    row("emoji: arrows, delete, backspace, selection", QStringLiteral("x😀y\nq😀w"),
        keys({"Right", "Right", "Left", "Del", "Ctrl+Z", "End", "Left", "Backspace", "Down", "Home",
              "Right", "Shift+Right", "Ctrl+C", "Ctrl+End", "Ctrl+V"}));
    row("emoji: typing next to a pair", QStringLiteral("a👍🏽b"),
        keys({"Right", "Right", "type:-", "Right", "type:+"}));
    row("combining marks", QStringLiteral("ae\u0301b\ncafe\u0301"),
        keys({"Right", "Right", "Right", "Left", "Shift+Left", "Ctrl+C", "Ctrl+End", "Backspace",
              "Backspace", "Ctrl+Home", "Right", "Del"}));
    row("hebrew", hebrew + QStringLiteral("\nabc"),
        keys({"Right", "Right", "Left", "Ctrl+Right", "Shift+Left", "Del", "End", "Backspace",
              "Ctrl+Left"}));
    row("arabic", QStringLiteral("مرحبا بالعالم"),
        keys({"Left", "Left", "Shift+Left", "type:x", "Home", "Ctrl+Left"}));
    row("hebrew clicks", hebrew, {"click:@2", "shift-click:@7", "click:@9"});
    row("long line wraps",
        QStringLiteral("Teplota 25.0625 a dalsi slova ktera se nevejdou na jeden radek "
                       "uzkeho zaznamu\nkonec"),
        keys({"End", "Down", "Down", "Up", "Home", "End", "Shift+Down", "click:@40", "Ctrl+End",
              "Up", "Up"}));
    row("clicks", log, {"click:@3", "click:@25", "shift-click:@10", "click:@0", "click:@44"});
    row("double click selects a word", log,
        {"double-click:@5", "double-click:@12", "double-click:@22"});
    row("triple click selects the line", log,
        keys({"triple-click:@5", "Ctrl+C", "Ctrl+End", "Ctrl+V"}));
    row("drag selects", log, {"drag:@3:@30", "drag:@40:@14"});
    row("middle click pastes the mouse selection", log, {"drag:@3:@8", "middle-click:@40"}, true);
}

void TestLogRandom::casesMatchTheStockControl() {
    QFETCH(QString, text);
    QFETCH(QStringList, steps);
    QFETCH(bool, primary);
    QFETCH(bool, dragOut);
    const bool view =
        QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("scroll")) ||
        QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("Ctrl+End")) ||
        QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("PgUp"));
    if (primary && !hasPrimary())
        QSKIP("PRIMARY exists only on X11");
    if (dragOut && hasPrimary())
        QSKIP("a real drag waits for the system's mouse");
    if (const auto failure = replay(text, steps, view))
        QFAIL(qPrintable(QStringLiteral("after step %1 (%2)\n  stock: %3\n  log:   %4")
                             .arg(failure->step)
                             .arg(failure->step >= 0 ? steps[failure->step] : QString(),
                                  failure->stock, failure->log)));
}

void TestLogRandom::randomSequencesMatchTheStockControl() {
    const int sequences = qEnvironmentVariableIsSet("VELT_LOG_SEQUENCES")
                              ? qEnvironmentVariableIntValue("VELT_LOG_SEQUENCES")
                              : 200;
    const auto firstSeed =
        static_cast<std::uint32_t>(qEnvironmentVariableIntValue("VELT_LOG_SEED"));
    // VELT_LOG_KEEP_GOING=1 plays every sequence and counts the failing ones, each shown
    // shortest, instead of stopping at the first.
    const bool keepGoing = qEnvironmentVariableIntValue("VELT_LOG_KEEP_GOING") != 0;
    QStringList failed;
    for (int n = 0; n < sequences; ++n) {
        const std::uint32_t seed = firstSeed + static_cast<std::uint32_t>(n);
        Generator generator(seed);
        const QString text = generator.text();
        QStringList steps;
        // VELT_LOG_STEPS="key:End|click:3,40" shows each of those steps played on this
        // seed's text, or on VELT_LOG_TEXT (as a report shows it, \n for a line break),
        // to follow a difference step by step.
        if (qEnvironmentVariableIsSet("VELT_LOG_STEPS")) {
            trace(qEnvironmentVariableIsSet("VELT_LOG_TEXT")
                      ? unescaped(qEnvironmentVariable("VELT_LOG_TEXT"))
                      : text,
                  qEnvironmentVariable("VELT_LOG_STEPS").split(u'|'));
            return;
        }
        std::optional<Failure> failure;
        {
            clipboard()->setText(QStringLiteral("clip"));
            if (hasPrimary())
                clipboard()->setText(QStringLiteral("primary"), QClipboard::Selection);
            Pair pair(text);
            generator.setViewport(pair.viewportSize());
            if (pair.plainState() != pair.memoState())
                failure = Failure{-1, pair.plainState().describe(pair.memoState()),
                                  pair.memoState().describe(pair.plainState())};
            for (int i = 1 + int(generator.next() % 25); i > 0 && !failure; --i) {
                generator.setSelection(pair.plain().textCursor().hasSelection());
                steps << generator.step();
                const auto [stock, log] = pair.play(steps.last());
                if (pastTheEnd(stock, log, int(steps.size()) - 1, &failure))
                    break;
                if (stock != log)
                    failure =
                        Failure{int(steps.size()) - 1, stock.describe(log), log.describe(stock)};
                // After a drop the two views may stand apart (see play()): a drop ends a
                // sequence.
                if (steps.last().startsWith(u"drop:"))
                    break;
            }
        }
        if (!failure)
            continue;
        const QStringList shortest = shrink(text, steps);
        const QString fewest = shrinkText(text, shortest);
        const auto shown = replay(fewest, shortest).value_or(*failure);
        const QString report =
            QStringLiteral("seed %1, text \"%2\"\n  steps: %3\n  stock: %4\n  log:   %5")
                .arg(seed)
                .arg(escaped(fewest), shortest.join(QLatin1String("  |  ")), shown.stock,
                     shown.log);
        if (!keepGoing) {
            trace(fewest, shortest);
            QFAIL(qPrintable(report));
        }
        qWarning("%s", qPrintable(report));
        failed << QString::number(seed);
    }
    QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("%1 of %2 sequences differ, seeds %3")
                                              .arg(failed.size())
                                              .arg(sequences)
                                              .arg(failed.join(u' '))));
}

QTEST_MAIN(TestLogRandom)
#include "tst_log_random.moc"
