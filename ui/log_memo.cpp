#include "ui/log_memo.h"

#include "ui/log_memo_accessible.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionSlider>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// A scroll bar that repaints only when what it shows changes: following a log of millions
// of lines moves its slider by less than a pixel for most new lines, and QScrollBar would
// repaint at every change of range or value.
class LogScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, this);
        const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
        if (change != SliderRangeChange && change != SliderValueChange) {
            QScrollBar::sliderChange(change);
        } else if (slider != shownSlider_ || ends != shownEnds_) {
            QScrollBar::sliderChange(change);
        }
        shownSlider_ = slider;
        shownEnds_ = ends;
    }

private:
    QRect shownSlider_;
    int shownEnds_ = -1;
};

// As QPlainTextEdit's document margin: above the first line, below the last, and on
// either side inside the wrap width.
constexpr int kMargin = 4;
// Laid-out lines kept; a screen needs a few dozen.
constexpr std::size_t kMaxLayouts = 256;
constexpr int kAutoScrollMs = 50;
// Past this many characters a selection that the user edits away is no longer kept for
// PRIMARY: copying it would cost more memory than the log itself.
constexpr std::int64_t kLongestKeptPrimary = 16 << 20;

QClipboard* clipboard() {
    return QGuiApplication::clipboard();
}

// Whether a line's text can have runs of more than one direction: anything but
// left-to-right characters and neutrals.
bool mixesDirections(QStringView text) {
    for (const char32_t c : text.toUcs4()) {
        switch (QChar::direction(c)) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirAN:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirRLI:
        case QChar::DirLRE:
        case QChar::DirLRO:
        case QChar::DirLRI:
        case QChar::DirFSI:
        case QChar::DirPDF:
        case QChar::DirPDI:
            return true;
        default:
            break;
        }
    }
    return false;
}

QString withoutCarriageReturns(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
}

// What QInputControl accepts as typed text in a multi-line editor.
bool isAcceptableInput(const QKeyEvent* event) {
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    const QChar c = text.front();
    if (c.category() == QChar::Other_Format)
        return true;
    if (event->modifiers() == Qt::ControlModifier ||
        event->modifiers() == (Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    if (c.isPrint() || c.category() == QChar::Other_PrivateUse)
        return true;
    if (c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate())
        return true;
    return c == u'\t';
}

// The selected text for PRIMARY, made only when another program asks for it: selecting a
// log of millions of lines must not copy it on every change of the selection. The log
// keeps the text once the user is about to edit it away (keep()), so that PRIMARY holds
// what was selected, as X11 expects.
class SelectionData : public QMimeData {
public:
    SelectionData(const TLogMemo* memo, std::int64_t from, std::int64_t to)
        : memo_(memo), from_(from), to_(to) {}
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }
    bool hasFormat(const QString& type) const override { return type == u"text/plain"; }
    std::int64_t end() const { return to_; }
    void keep() {
        if (kept_ || !memo_)
            return;
        kept_ = true;
        if (to_ - from_ <= kLongestKeptPrimary)
            text_ = textNow();
        memo_ = nullptr;
    }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        if (type != u"text/plain")
            return {};
        return kept_ ? text_ : textNow();
    }

private:
    QString textNow() const {
        if (!memo_)
            return {};
        const velt::LogStore& store = memo_->store();
        return store.text(store.positionAt(from_), store.positionAt(to_));
    }

    QPointer<const TLogMemo> memo_;
    std::int64_t from_;
    std::int64_t to_;
    bool kept_ = false;
    QString text_;
};

} // namespace

TLogMemo::TLogMemo(QWidget* parent)
    : QAbstractScrollArea(parent), document_(new velt::LogDocument(this)) {
    velt::installLogMemoAccessible();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    setVerticalScrollBar(new LogScrollBar(Qt::Vertical));
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(20);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    connect(document_, &velt::LogDocument::contentsAboutToChange, this, &TLogMemo::keepPrimaryText);
    connect(document_, &velt::LogDocument::contentsChange, this, &TLogMemo::documentChanged);
    connect(document_, &velt::LogDocument::cursorChanged, this, &TLogMemo::cursorMoved);
    connect(document_, &velt::LogDocument::textReset, this, [this] {
        // A fresh caret, as QPlainTextEdit's after setPlainText: x 0, the view at the top.
        preferredX_ = 0;
        topLine_ = 0;
        topRow_ = 0;
        topFraction_ = 0;
        wordOnDoubleClick_ = {};
        lineOnTripleClick_ = {};
        edit_.reset();
        // QPlainTextEdit's setPlainText selects the new text before its layout hears of
        // the new lines, which lays out the last line, each line counting one row and the
        // empty text's line the widest. Where that line is wider or wraps, the view is told
        // of a new size and lays out its worth above it. The widest line's number then moves
        // on by the new lines as for any edit (past the text's end where it was not the
        // first), and the view lays out its worth again.
        forgetLayouts();
        widths_.clear();
        rows_.clear();
        widest_ = 2 * kMargin;
        widestLine_ = 0;
        layoutOf(store().lineCount() - 1);
        if (widestLine_ > 0)
            widestLine_ += store().lineCount() - 1;
        forgetLayouts();
        widths_.clear();
        adjustScrollBars();
        // Then it shows the caret, which lays out the caret's line where that is not done
        // yet: its width counts against the widest line's moved number.
        layoutOf(document_->cursor().line);
    });
    adjustScrollBars();
}

TLogMemo::~TLogMemo() = default;

std::int64_t TLogMemo::appendReadings(std::span<const float> values,
                                      std::span<const std::int64_t> timesMs,
                                      std::span<const std::uint8_t> lengths, QStringView separator,
                                      std::int64_t* inReadings) {
    appending_ = true;
    const std::int64_t appended =
        document_->appendReadings(values, timesMs, lengths, separator, inReadings);
    appending_ = false;
    return appended;
}

qsizetype TLogMemo::appendLines(const QStringList& lines) {
    appending_ = true;
    const qsizetype appended = document_->appendLines(lines);
    appending_ = false;
    return appended;
}

// ---- following the document

void TLogMemo::documentChanged(std::int64_t position, const QString& removed, std::int64_t added) {
    velt::notifyLogTextChanged(this, position, removed, added);
    const std::int64_t firstLine = store().positionAt(position).line;
    const std::int64_t lastLine = store().positionAt(position + added).line;
    const auto removedLines = static_cast<std::int64_t>(removed.count(u'\n'));
    forgetLayouts(firstLine);
    if (appending_) {
        // New last lines: rows are learnt when they are laid out; the view follows them
        // once per turn of the event loop, however many come in it.
        rows_.replaceLines(firstLine + 1, 0, lastLine - firstLine);
        widths_.erase(widths_.lower_bound(firstLine), widths_.end());
        firstUnpainted_ =
            firstUnpainted_ < 0 ? firstLine + 1 : std::min(firstUnpainted_, firstLine + 1);
        if (!followScheduled_) {
            QScrollBar* bar = verticalScrollBar();
            wasAtBottom_ = bar->value() >= bar->maximum();
            followScheduled_ = true;
            QMetaObject::invokeMethod(this, &TLogMemo::followNewest, Qt::QueuedConnection);
        }
        return;
    }
    const std::int64_t addedLines = lastLine - firstLine;
    // Which line keeps the edited line's row count, as QTextDocument keeps a block's. An
    // edit's removal from a line's start across line breaks leaves the last of those lines,
    // any other the first; the lines its insertion makes are new. An undo the other way
    // round: its removal leaves the first line, and its insertion at a line's start makes
    // new lines before that line.
    const bool fromLineStart = store().positionAt(position).column == 0;
    const bool undoing = document_->undoing();
    const int keptRows = rows_.rowsOf(
        removedLines > 0 && fromLineStart && !undoing ? firstLine + removedLines : firstLine);
    const std::int64_t keepingLine =
        undoing && fromLineStart && addedLines > 0 ? lastLine : firstLine;
    rows_.replaceLines(firstLine, removedLines + 1, addedLines + 1);
    followLineWidths(firstLine, removedLines, addedLines);
    const bool keep = document_->insertionKeepsCursors();
    wordOnDoubleClick_.follow(position, removed.size(), added, keep);
    lineOnTripleClick_.follow(position, removed.size(), added, keep);
    rows_.setRows(keepingLine, keptRows);
    // QPlainTextEdit's layout follows an edit once it is whole (finishEdit).
    if (!edit_)
        edit_ = Edit{position, 0, 0, store().lineCount() - addedLines + removedLines};
    edit_->follow(position, -removed.size());
    edit_->follow(position, added);
    viewport()->update();
}

// The laid-out lines' widths move with their lines; those the change replaced are gone.
void TLogMemo::followLineWidths(std::int64_t firstLine, std::int64_t removedLines,
                                std::int64_t addedLines) {
    std::map<std::int64_t, qreal> moved;
    for (const auto& [line, width] : widths_) {
        if (line < firstLine)
            moved.emplace(line, width);
        else if (line > firstLine + removedLines)
            moved.emplace(line + addedLines - removedLines, width);
    }
    widths_ = std::move(moved);
}

void TLogMemo::followNewest() {
    followScheduled_ = false;
    QScrollBar* bar = verticalScrollBar();
    adjustScrollBars();
    if (wasAtBottom_ && bar->value() != bar->maximum()) {
        following_ = true;
        bar->setValue(bar->maximum()); // scrolls the pixels: only the new strip is painted
        following_ = false;
    }
    // New lines that came into the part of the view that was empty are painted too.
    const std::int64_t firstNew = std::exchange(firstUnpainted_, -1);
    if (firstNew >= topLine_ && firstNew - topLine_ <= rowsInView()) {
        if (const auto top = boxTop(firstNew)) {
            const qreal y = *top - verticalOffset();
            qreal height = 0;
            for (std::int64_t line = firstNew;
                 line < store().lineCount() && y + height < viewport()->height(); ++line)
                height += boxHeight(line);
            if (y < viewport()->height())
                viewport()->update(QRectF(0, y, viewport()->width(), height).toAlignedRect());
        }
    }
}

// Where QTextDocument would say its edit reaches: `from` on, `removed` characters there
// before and `added` after, its changes one after another merged as it merges them.
void TLogMemo::Edit::follow(std::int64_t at, std::int64_t addedOrRemoved) {
    const std::int64_t more = std::max<std::int64_t>(0, addedOrRemoved);
    std::int64_t fewer = std::max<std::int64_t>(0, -addedOrRemoved);
    std::int64_t between = 0;
    if (at + fewer < from)
        between = from - at - fewer;
    else if (at > from + added)
        between = at - (from + added);
    const std::int64_t inside =
        std::max<std::int64_t>(0, std::min(at + fewer, from + added) - std::max(at, from));
    fewer -= inside;
    from = std::min(from, at);
    removed += fewer + between;
    added += more - inside + between;
}

// As QPlainTextEdit's layout follows a whole edit: it tells its view of a new size where
// the number of lines changed; an edit whose removed and added characters, counted on from
// its start, end in the line it starts in (past the text's end they end in none) is laid
// out at once, and tells it where that changes the line's rows or the widest line.
// Otherwise the bars keep their range and page until a layout finds a line's rows changed.
void TLogMemo::finishEdit() {
    if (!edit_)
        return;
    const Edit edit = *std::exchange(edit_, std::nullopt);
    const std::int64_t firstLine = store().positionAt(edit.from).line;
    const std::int64_t reach = std::max<std::int64_t>(0, edit.from + edit.removed + edit.added - 1);
    const std::int64_t lastLine =
        reach <= store().characterCount() ? store().positionAt(reach).line : -1;
    const std::int64_t linesAdded = store().lineCount() - edit.linesBefore;
    if (linesAdded == 0 && lastLine == firstLine) {
        const qreal widest = widest_;
        const bool wasAdjusting = std::exchange(adjusting_, true);
        rowsChanged_ = false;
        layoutOf(firstLine);
        adjusting_ = wasAdjusting;
        const bool rowsChanged = std::exchange(rowsChanged_, false);
        if (rowsChanged || widest_ != widest)
            adjustScrollBars();
        askWhereToRepaint(firstLine, rowsChanged ? firstLine - 1 : firstLine);
        return;
    }
    // Its lines are laid out again where they are shown: to the text's end where the edit
    // reaches past it.
    auto it = widths_.lower_bound(firstLine);
    widths_.erase(it, lastLine < 0 ? widths_.end() : widths_.upper_bound(lastLine));
    if (linesAdded != 0) {
        // The widest line is known by its number, which moves only where lines were added
        // or removed, and by the edit's count of them.
        if (widestLine_ > lastLine - linesAdded)
            widestLine_ += linesAdded;
        if (store().lineCount() == 1)
            widest_ = 0;
        adjustScrollBars();
    }
    // A line added at the end: each of the edit's lines is repainted; otherwise the view.
    const bool lineAtEnd = linesAdded == 1 && lastLine == store().lineCount() - 1;
    askWhereToRepaint(firstLine, lineAtEnd ? lastLine : firstLine - 1);
}

// QPlainTextEdit's view, told by its layout what to repaint, asks where each of those
// lines is (walked to from the first line shown) and how far the first line shown is
// scrolled into; both lay lines out, and the rows that learns count as any.
void TLogMemo::askWhereToRepaint(std::int64_t firstLine, std::int64_t lastLine) {
    for (std::int64_t line = firstLine; line <= lastLine; ++line)
        boxTop(line);
    verticalOffset();
}

void TLogMemo::cursorMoved() {
    const bool edited = edit_.has_value();
    finishEdit();
    // QPlainTextEdit forgets the caret's height for page moves when its text control tells
    // of a move: after an edit, unless QTextCursor called the cursor unmoved; otherwise
    // where its position changed.
    const std::int64_t offset = store().offsetOf(document_->cursor());
    if (edited ? !document_->cursorKeptByLastEdit() : offset != cursorOffset_ && !selectingAll_)
        pageCaretY_.reset();
    cursorOffset_ = offset;
    if (!keepX_)
        rememberCaretX();
    const velt::LogPosition start = document_->selectionStart(), end = document_->selectionEnd();
    const bool selectionChanged = start != lastSelectionStart_ || end != lastSelectionEnd_;
    lastSelectionStart_ = start;
    lastSelectionEnd_ = end;
    velt::notifyLogCursorChanged(this, selectionChanged);
    if (!preedit_.isEmpty())
        forgetLayouts();
    restartBlinking();
    viewport()->update();
}

// The caret's x for moves up and down is taken when it moves, with the layout as it is
// then, as QTextCursor takes it: a scroll bar that appears later changes no x.
void TLogMemo::rememberCaretX() {
    const velt::LogPosition c = document_->cursor();
    const QTextLine row = layoutOf(c.line)->lineForTextPosition(c.column);
    preferredX_ = row.isValid() ? row.cursorToX(c.column) : -1;
}

void TLogMemo::forgetLayouts(std::int64_t fromLine) {
    layouts_.erase(layouts_.lower_bound(fromLine), layouts_.end());
}

QTextLayout* TLogMemo::layoutOf(std::int64_t line) const {
    line = std::clamp<std::int64_t>(line, 0, store().lineCount() - 1);
    if (auto it = layouts_.find(line); it != layouts_.end())
        return it->second.get();
    if (layouts_.size() >= kMaxLayouts && !trimScheduled_) {
        // Not now: the caller may hold layouts of other lines. Once this event is done.
        trimScheduled_ = true;
        QMetaObject::invokeMethod(const_cast<TLogMemo*>(this), &TLogMemo::trimLayouts,
                                  Qt::QueuedConnection);
    }
    auto layout = std::make_unique<QTextLayout>(store().line(line).toString(), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    // Where directions mix, no glyph cache, as QTextDocument keeps none for a block: at some
    // bidirectional boundaries by a row's end QTextLine::cursorToX reads glyphs past the
    // row's last item, so the caret's x there depends on what was shaped since the last
    // drawing. Shaped when asked, as there, it is the x QPlainTextEdit gives. Elsewhere
    // (readings) the shaping is kept, so that a line is not shaped again at each paint.
    layout->setCacheEnabled(!mixesDirections(layout->text()));
    if (!preedit_.isEmpty() && line == document_->cursor().line)
        layout->setPreeditArea(document_->cursor().column, preedit_);
    const qreal width = std::max(1, viewport()->width() - 2 * kMargin);
    qreal y = 0;
    qreal widest = 0;
    layout->beginLayout();
    for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
        row.setLeadingIncluded(true);
        row.setLineWidth(width);
        row.setPosition({0, y});
        y += row.height();
        if (row.leading() < 0)
            y += std::ceil(row.leading());
        widest = std::max(widest, row.naturalTextWidth() + 2 * kMargin);
    }
    layout->endLayout();
    QTextLayout* made = layouts_.emplace(line, std::move(layout)).first->second.get();
    // A line's rows or the widest line changed: the bars follow, as QPlainTextEdit's do when
    // its layout tells of a new size, once both are learnt. Within an adjustment nothing is
    // told (rows it learns count at the next layout that tells), as there; an edit's own
    // layout (finishEdit) reads the note.
    const bool rowsChanged = learnRows(line, made->lineCount());
    const bool widestChanged = learnWidth(line, widest);
    if (adjusting_)
        rowsChanged_ = rowsChanged_ || rowsChanged;
    else if (rowsChanged || widestChanged)
        const_cast<TLogMemo*>(this)->adjustScrollBars();
    return made;
}

bool TLogMemo::learnWidth(std::int64_t line, qreal width) const {
    widths_[line] = width;
    if (widths_.size() > kWidthsKept)
        widths_.erase(std::min_element(widths_.begin(), widths_.end(),
                                       [](auto& a, auto& b) { return a.second < b.second; }));
    if (width > widest_) {
        widest_ = width;
        widestLine_ = line;
    } else if (line == widestLine_ && width < widest_) {
        // The widest line narrowed: the widest laid-out line is looked for, first
        // in the text where several are as wide, as QPlainTextEdit looks.
        widest_ = 0;
        for (const auto& [other, otherWidth] : widths_) {
            if (otherWidth > widest_) {
                widest_ = otherWidth;
                widestLine_ = other;
            }
        }
    } else {
        return false;
    }
    return true;
}

void TLogMemo::adjustHorizontalBar() const {
    QScrollBar* bar = horizontalScrollBar();
    bar->setRange(0, static_cast<int>(widest_) - viewport()->width());
    bar->setPageStep(viewport()->width());
}

// Where a mouse event is in the coordinates QPlainTextEdit hit-tests in: from the top of
// the line shown first, so that a click after a scroll compares with an earlier one as it
// does there. QWidgetTextControl rounds the event's point to whole pixels there after
// adding the view's offset, which some scrolls leave fractional: a click on the last pixel
// of a row can be in the next one.
QPoint TLogMemo::contentsPoint(QPointF viewportPoint) const {
    const QPoint point = viewportPoint.toPoint();
    return {point.x() + horizontalOffset(), qRound(point.y() + verticalOffset())};
}

// Where a line's text starts across the view: the margin, less the horizontal scroll.
qreal TLogMemo::textLeft() const {
    return kMargin - horizontalOffset();
}

int TLogMemo::horizontalOffset() const {
    const QScrollBar* bar = horizontalScrollBar();
    return isRightToLeft() ? bar->maximum() - bar->value() : bar->value();
}

bool TLogMemo::learnRows(std::int64_t line, int rows) const {
    if (rows_.rowsOf(line) == rows)
        return false;
    rows_.setRows(line, rows);
    return true;
}

void TLogMemo::trimLayouts() {
    trimScheduled_ = false;
    if (layouts_.size() < kMaxLayouts)
        return;
    // Those of the lines in view stay; the view is painted from them next.
    const auto first = layouts_.lower_bound(topLine_);
    const auto last = layouts_.lower_bound(topLine_ + kMaxLayouts / 2);
    layouts_.erase(last, layouts_.end());
    layouts_.erase(layouts_.begin(), first);
}

qreal TLogMemo::boxHeight(std::int64_t line) const {
    const QTextLayout* layout = layoutOf(line);
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    qreal height = last.isValid() ? last.y() + last.height() : 0;
    if (line == store().lineCount() - 1)
        height += kMargin;
    return height;
}

qreal TLogMemo::verticalOffset(std::int64_t line, int row) const {
    qreal offset = 0;
    if (row > 0) {
        const QTextLayout* layout = layoutOf(line);
        if (row <= layout->lineCount())
            offset = layout->lineAt(row - 1).naturalTextRect().bottom();
    }
    if (line == 0 && row == 0)
        offset -= kMargin;
    return offset;
}

qreal TLogMemo::verticalOffset() const {
    return verticalOffset(topLine_, topRow_) + topFraction_;
}

// The top of a line's box below the top of the first line shown, found as QPlainTextEdit
// finds a block's place, by walking from the first line shown: up to two views down or one
// up beyond that line's own height. A line beyond that is laid out all the same, as
// there, and has no place: only the direction matters then.
std::optional<qreal> TLogMemo::boxTop(std::int64_t line) const {
    const int view = viewport()->height();
    // Rows the first line shown learns now move the view first: the walk starts from where
    // it is then.
    boxHeight(topLine_);
    std::int64_t at = std::min(topLine_, store().lineCount() - 1);
    qreal height = boxHeight(at);
    const int topHeight = static_cast<int>(height);
    qreal y = 0;
    while (at < line && y - topHeight <= 2 * view) {
        y += height;
        height = boxHeight(++at);
    }
    while (at > line && y + topHeight >= -view) {
        height = boxHeight(--at);
        y -= height;
    }
    if (at == line)
        return y;
    layoutOf(line);
    return std::nullopt;
}

// ---- scrolling, as QPlainTextEdit scrolls

void TLogMemo::adjustScrollBars() {
    if (adjusting_)
        return;
    adjusting_ = true;
    QScrollBar* bar = verticalScrollBar();
    std::int64_t maximum = 0;
    int page = 0;
    if (isVisible()) {
        // The highest top row that still shows the last line whole.
        const qreal visible = viewport()->height() - kMargin - 1;
        qreal y = 0;
        std::int64_t fromBottom = 0;
        for (std::int64_t line = store().lineCount() - 1; line >= 0; --line) {
            y += boxHeight(line);
            const QTextLayout* layout = layoutOf(line);
            const int rows = layout->lineCount();
            if (y > visible) {
                int row = 0;
                while (row < rows && layout->lineAt(row).naturalTextRect().top() < y - visible)
                    ++row;
                fromBottom += rows - row;
                break;
            }
            fromBottom += rows;
        }
        maximum = std::max<std::int64_t>(0, rows_.rowCount(store().lineCount()) - fromBottom);
        page = static_cast<int>(fromBottom);
    } else {
        maximum = std::max<std::int64_t>(0, rows_.rowCount(store().lineCount()) - 1);
        const int spacing = fontMetrics().lineSpacing();
        page = spacing > 0 ? viewport()->height() / spacing : 0;
    }
    bar->setRange(0, static_cast<int>(std::min<std::int64_t>(maximum, INT_MAX)));
    bar->setPageStep(page);
    const std::int64_t top =
        topLine_ < store().lineCount() ? rows_.firstRowOf(topLine_) + topRow_ : maximum;
    {
        const QSignalBlocker blocker(bar);
        bar->setValue(static_cast<int>(std::min<std::int64_t>(top, INT_MAX)));
    }
    adjusting_ = false;
    adjustHorizontalBar();
    // The top is kept as a row number, as QPlainTextEdit keeps it: after an edit above or
    // in the first line shown, the same row number names the line and row shown now.
    if (store().lineCount() > 0)
        setTopLine(bar->value());
}

void TLogMemo::scrollContentsBy(int dx, int) {
    if (dx != 0)
        viewport()->scroll(dx, 0);
    setTopLine(verticalScrollBar()->value());
}

// More lines than the view can show at once: every row is at least a line spacing high.
std::int64_t TLogMemo::rowsInView() const {
    return viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 1;
}

void TLogMemo::setTopLine(std::int64_t row) {
    const auto [line, inLine] = rows_.lineOfRow(row);
    setTopBlock(line, inLine);
}

void TLogMemo::setTopBlock(std::int64_t line, int row) {
    QScrollBar* bar = verticalScrollBar();
    line = std::clamp<std::int64_t>(line, 0, store().lineCount() - 1);
    row = std::max(0, row);
    const std::int64_t newTop = rows_.firstRowOf(line) + row;
    if (newTop > bar->maximum()) {
        const auto highest = rows_.lineOfRow(bar->maximum());
        line = highest.first;
        row = highest.second;
    }
    {
        const QSignalBlocker blocker(bar);
        bar->setValue(static_cast<int>(std::min<std::int64_t>(newTop, INT_MAX)));
    }
    if (line == topLine_ && row == topRow_)
        return;
    // The pixels the text moves by. QPlainTextEdit keeps the fraction of a pixel that a
    // row's natural height leaves, and so does the log: hits and carets land alike.
    qreal shift = 0;
    if (topLine_ < store().lineCount()) {
        // The offset shown is taken first, and its fraction after its row is found, as
        // QPlainTextEdit takes them: laying out the first line shown may find its rows
        // changed, and the view then moves within this move.
        qreal shown = verticalOffset(topLine_, topRow_);
        shown += topFraction_;
        // Following new readings, the lines scrolled past are not laid out on the way: the
        // view is painted afresh anyway, and each look would lay out lines never shown.
        const bool far = following_ && std::abs(line - topLine_) > rowsInView();
        const std::optional<qreal> top = far ? std::nullopt : boxTop(line);
        // Far away only the direction matters; whole pixels keep the fraction exact.
        shift = (top ? -*top : (line > topLine_ ? -1e7 : 1e7)) + shown - verticalOffset(line, row);
    }
    topLine_ = line;
    topRow_ = row;
    {
        const QSignalBlocker blocker(bar);
        bar->setValue(
            static_cast<int>(std::min<std::int64_t>(rows_.firstRowOf(line) + row, INT_MAX)));
    }
    const int dy = static_cast<int>(shift);
    topFraction_ = shift - dy;
    if (dy == 0) {
        topFraction_ = 0;
        viewport()->update();
    } else if (std::abs(dy) < viewport()->height()) {
        viewport()->scroll(0, dy);
    } else {
        viewport()->update();
    }
    // An input method's window follows the caret; following new readings away from a
    // caret out of view it has nothing to follow, and asking where the caret is would lay
    // out the lines towards it at each look.
    const auto near = [this](std::int64_t l) { return std::abs(l - topLine_) <= rowsInView(); };
    if (hasFocus() &&
        (!following_ || near(document_->cursor().line) || near(document_->anchor().line)))
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle | Qt::ImAnchorRectangle);
}

void TLogMemo::ensureCursorVisible() {
    const QRect visible = viewport()->rect();
    const QRect caret = cursorRect();
    if (caret.top() < visible.top() || caret.bottom() > visible.bottom())
        ensureVisible(document_->cursor());
    if (caret.left() < visible.left() || caret.right() > visible.right()) {
        QScrollBar* bar = horizontalScrollBar();
        const int x = caret.center().x() + horizontalOffset() - visible.width() / 2;
        bar->setValue(isRightToLeft() ? bar->maximum() - x : x);
    }
}

void TLogMemo::ensureVisible(velt::LogPosition position) {
    const QRectF visible = QRectF(viewport()->rect()).translated(0, verticalOffset());
    std::int64_t line = position.line;
    const QTextLayout* layout = layoutOf(line);
    const QTextLine row = layout->lineForTextPosition(position.column);
    if (!row.isValid())
        return;
    const std::optional<qreal> top = boxTop(line);
    const QRectF rect = row.naturalTextRect().translated(0, top.value_or(0));
    const bool below = top ? rect.bottom() >= visible.bottom() : line > topLine_;
    const bool above = top ? rect.top() < visible.top() : line < topLine_;
    if (below) {
        const qreal height = visible.height();
        qreal h = row.naturalTextRect().bottom();
        std::int64_t previous = line;
        while (h < height && line > 0) {
            previous = line;
            --line;
            h += boxHeight(line);
        }
        int first = 0;
        const QTextLayout* topLayout = layoutOf(line);
        const qreal offset = verticalOffset(line, 0);
        while (first < topLayout->lineCount() &&
               h - offset - topLayout->lineAt(first).naturalTextRect().top() > height)
            ++first;
        if (first >= topLayout->lineCount()) {
            line = previous;
            first = 0;
        }
        setTopBlock(line, first);
    } else if (above) {
        setTopBlock(line, row.lineNumber());
    }
}

void TLogMemo::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (event->oldSize().width() != event->size().width()) {
        // Every line is laid out again at the new width; until then each counts one row.
        forgetLayouts();
        rows_.clear();
        widest_ = event->size().width();
        widths_.clear();
        // QPlainTextEdit lays out the line shown first at once where the view starts
        // below its first row (it needs that row's place), so that line's rows count
        // when the top is found again by row number.
        if (topRow_ > 0 && topLine_ < store().lineCount()) {
            const bool wasAdjusting = std::exchange(adjusting_, true);
            layoutOf(topLine_);
            adjusting_ = wasAdjusting;
        }
    }
    adjustScrollBars();
}

void TLogMemo::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    adjustScrollBars();
}

void TLogMemo::pageUpDown(int direction, bool select) {
    ensureCursorVisible();
    if (!pageCaretY_)
        pageCaretY_ = caretRect(document_->cursor()).top();
    const qreal startY = *pageCaretY_;
    // In the coordinates of the first line shown, as QPlainTextEdit reckons a page.
    qreal lastY = startY;
    const auto caretTop = [this] {
        return caretRect(document_->cursor()).top() + verticalOffset();
    };
    const QRectF visible = QRectF(viewport()->rect()).translated(0, verticalOffset());
    if (direction > 0) {
        std::int64_t line = topLine_;
        qreal h = 0;
        bool atEnd = false;
        qreal box = boxHeight(line);
        while (h + box <= visible.bottom()) {
            if (line + 1 >= store().lineCount()) {
                atEnd = true;
                lastY = visible.bottom(); // the caret goes to the last line
                break;
            }
            h += box;
            box = boxHeight(++line);
        }
        if (!atEnd) {
            const QTextLayout* layout = layoutOf(line);
            const qreal diff = visible.bottom() - h;
            int row = 0;
            while (row < layout->lineCount() - 1 &&
                   layout->lineAt(row).naturalTextRect().bottom() <= diff)
                ++row;
            setTopBlock(line, row);
        }
        // Row by row, keeping the caret's x, until it is as far down the view as it was.
        lastY += verticalOffset();
        while (moveRow(1, select) && caretTop() < lastY) {
        }
    } else {
        const QRectF previousPage = visible.translated(0, -visible.height());
        std::int64_t line = topLine_;
        qreal h = 0;
        while (h >= previousPage.top()) {
            if (line == 0) {
                if (topLine_ == 0 && topRow_ == 0)
                    lastY = 0; // the caret goes to the first line
                break;
            }
            h -= boxHeight(--line);
        }
        const QTextLayout* layout = layoutOf(line);
        const qreal diff = previousPage.top() - h;
        int row = 0;
        while (row < layout->lineCount() && layout->lineAt(row).naturalTextRect().top() < diff)
            ++row;
        if (row == layout->lineCount()) {
            if (line + 1 < store().lineCount() && line + 1 != topLine_) {
                ++line;
                row = 0;
            } else {
                --row;
            }
        }
        setTopBlock(line, row);
        lastY += verticalOffset();
        while (moveRow(-1, select) && caretTop() > lastY) {
        }
    }
    ensureCursorVisible();
    if (select)
        setClipboardSelection();
    // The caret's place in the view is kept for the next page, until it moves otherwise.
    pageCaretY_ = startY;
}

// ---- geometry

QRectF TLogMemo::caretRect(velt::LogPosition p) const {
    const QTextLayout* layout = layoutOf(p.line);
    int column = p.column;
    if (!preedit_.isEmpty() && p == document_->cursor())
        column += preeditCursor_;
    const QTextLine row = layout->lineForTextPosition(column);
    const qreal top = boxTop(p.line).value_or(p.line < topLine_ ? -1e9 : 1e9) - verticalOffset();
    const qreal left = textLeft();
    if (!row.isValid())
        return QRectF(left, top, 1, fontMetrics().height());
    return QRectF(left + row.cursorToX(column), top + row.y(), 1, row.height());
}

QRect TLogMemo::cursorRect() const {
    // As QPlainTextEdit rounds it: the box in the document, then the whole-pixel offset.
    QRectF r = caretRect(document_->cursor());
    r.translate(0, verticalOffset());
    return r.toRect().translated(0, -static_cast<int>(verticalOffset()));
}

QRectF TLogMemo::characterRect(velt::LogPosition p) const {
    p = store().clamp(p);
    const QTextLayout* layout = layoutOf(p.line);
    const QTextLine row = layout->lineForTextPosition(p.column);
    if (!row.isValid())
        return {};
    const qreal top = boxTop(p.line).value_or(-1e9) - verticalOffset() + row.y();
    const int next = layout->nextCursorPosition(p.column);
    // In mixed-direction text a character's two edges can come in either order.
    const qreal x0 = row.cursorToX(p.column), x1 = next > p.column ? row.cursorToX(next) : x0;
    return QRectF(textLeft() + std::min(x0, x1), top, std::abs(x1 - x0), row.height());
}

// As QPlainTextEdit::cursorForPosition: its offset is cut to whole pixels, not rounded as
// for a mouse event.
velt::LogPosition TLogMemo::positionAt(QPoint point) const {
    return hitTest(
        {point.x() + horizontalOffset(), static_cast<int>(point.y() + verticalOffset())});
}

velt::LogPosition TLogMemo::hitTest(QPoint point) const {
    const qreal y = point.y();
    std::int64_t line = std::min(topLine_, store().lineCount() - 1);
    qreal top = 0;
    qreal height = boxHeight(line);
    while (line + 1 < store().lineCount() && top + height <= y) {
        top += height;
        height = boxHeight(++line);
    }
    while (line > 0 && top > y) {
        height = boxHeight(--line);
        top -= height;
    }
    const QTextLayout* layout = layoutOf(line);
    const qreal within = y - top;
    int column = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine row = layout->lineAt(i);
        const QRectF rect = row.naturalTextRect();
        if (rect.top() > within) {
            column = std::min(column, row.textStart());
        } else if (rect.bottom() <= within) {
            column = std::max(column, row.textStart() + row.textLength());
        } else {
            column = row.xToCursor(point.x() - kMargin);
            break;
        }
    }
    return store().clamp({line, column});
}

bool TLogMemo::moveRow(int direction, bool keepAnchor) {
    const velt::LogPosition from = document_->cursor();
    const QTextLayout* layout = layoutOf(from.line);
    const QTextLine current = layout->lineForTextPosition(from.column);
    if (preferredX_ < 0)
        preferredX_ = current.isValid() ? current.cursorToX(from.column) : 0;
    std::int64_t line = from.line;
    int row = (current.isValid() ? current.lineNumber() : 0) + direction;
    if (row < 0) {
        if (line == 0)
            return false;
        row = layoutOf(--line)->lineCount() - 1;
    } else if (row >= layout->lineCount()) {
        if (line + 1 >= store().lineCount())
            return false;
        ++line;
        row = 0;
    }
    const QTextLine target = layoutOf(line)->lineAt(row);
    const qreal x = preferredX_;
    const velt::LogPosition to{line, target.isValid() ? target.xToCursor(x) : 0};
    // As QTextCursor: a move that lands where it started has not moved, but the anchor
    // comes along all the same.
    keepX_ = true;
    document_->setCursor(to, keepAnchor);
    keepX_ = false;
    preferredX_ = x;
    return to != from;
}

velt::LogPosition TLogMemo::rowEdge(velt::LogPosition p, bool end) const {
    const QTextLayout* layout = layoutOf(p.line);
    const QTextLine row = layout->lineForTextPosition(p.column);
    const std::int32_t length = store().lineLength(p.line);
    if (!end)
        return {p.line, row.isValid() ? row.textStart() : 0};
    if (!row.isValid() || row.textLength() == 0)
        return {p.line, length};
    int column = row.textStart() + row.textLength();
    // A wrapped row ends before the space it broke at, as in QPlainTextEdit.
    if (row.lineNumber() < layout->lineCount() - 1 && layout->text().at(column - 1).isSpace())
        --column;
    return {p.line, std::min(column, length)};
}

// ---- painting

void TLogMemo::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Text));
    const velt::LogPosition selFrom = document_->selectionStart(),
                            selTo = document_->selectionEnd();
    const velt::LogPosition cursor = document_->cursor();
    // The region, not its bounding rectangle: after a scroll it is a strip or two, and a
    // line outside them costs its whole drawing for nothing.
    const QRegion region = event->region();
    const QRectF clip = region.boundingRect();
    const int width = viewport()->width();
    const qreal left = textLeft();
    qreal y = -verticalOffset();
    for (std::int64_t line = topLine_; line < store().lineCount() && y <= clip.bottom(); ++line) {
        QTextLayout* layout = layoutOf(line);
        const qreal height = boxHeight(line);
        if (!region.intersects(QRectF(0, y, width, height).toAlignedRect())) {
            y += height;
            continue;
        }
        QList<QTextLayout::FormatRange> selections;
        if (document_->hasSelection() && line >= selFrom.line && line <= selTo.line) {
            const int from = line == selFrom.line ? selFrom.column : 0;
            const int to = line == selTo.line ? selTo.column : layout->text().size();
            QTextLayout::FormatRange range;
            range.start = from;
            range.length = to - from;
            range.format.setBackground(pal.brush(QPalette::Highlight));
            range.format.setForeground(pal.brush(QPalette::HighlightedText));
            selections.append(range);
            if (line < selTo.line) {
                // The selected line break: a space's width after the line's end.
                const QTextLine last = layout->lineAt(layout->lineCount() - 1);
                const qreal x = left + last.cursorToX(layout->text().size());
                painter.fillRect(
                    QRectF(x, y + last.y(), fontMetrics().horizontalAdvance(u' '), last.height()),
                    pal.brush(QPalette::Highlight));
            }
        }
        if (!preedit_.isEmpty() && line == cursor.line) {
            QTextLayout::FormatRange range;
            range.start = layout->preeditAreaPosition();
            range.length = preedit_.size();
            range.format.setFontUnderline(true);
            selections.append(range);
        }
        layout->draw(&painter, QPointF(left, y), selections, clip);
        if (cursorShown_ && line == cursor.line)
            layout->drawCursor(&painter, QPointF(left, y),
                               cursor.column + (preedit_.isEmpty() ? 0 : preeditCursor_));
        y += height;
    }
}

// ---- keys

bool TLogMemo::handleMove(QKeyEvent* event) {
    using Move = velt::LogDocument::Move;
    struct Binding {
        QKeySequence::StandardKey key;
        Move move;
        bool select;
    };
    static const Binding logical[] = {
        {QKeySequence::MoveToNextChar, Move::Right, false},
        {QKeySequence::MoveToPreviousChar, Move::Left, false},
        {QKeySequence::MoveToNextWord, Move::WordRight, false},
        {QKeySequence::MoveToPreviousWord, Move::WordLeft, false},
        {QKeySequence::MoveToStartOfBlock, Move::StartOfLine, false},
        {QKeySequence::MoveToEndOfBlock, Move::EndOfLine, false},
        {QKeySequence::MoveToStartOfDocument, Move::Start, false},
        {QKeySequence::MoveToEndOfDocument, Move::End, false},
        {QKeySequence::SelectNextChar, Move::Right, true},
        {QKeySequence::SelectPreviousChar, Move::Left, true},
        {QKeySequence::SelectNextWord, Move::WordRight, true},
        {QKeySequence::SelectPreviousWord, Move::WordLeft, true},
        {QKeySequence::SelectStartOfBlock, Move::StartOfLine, true},
        {QKeySequence::SelectEndOfBlock, Move::EndOfLine, true},
        {QKeySequence::SelectStartOfDocument, Move::Start, true},
        {QKeySequence::SelectEndOfDocument, Move::End, true},
    };
    for (const Binding& b : logical) {
        if (event->matches(b.key)) {
            document_->move(b.move, b.select);
            rememberCaretX(); // even where the caret stayed, as QTextCursor does
            return true;
        }
    }
    const velt::LogPosition cursor = document_->cursor();
    const auto edge = [&](bool end, bool select) {
        document_->setCursor(rowEdge(cursor, end), select);
        rememberCaretX();
        return true;
    };
    if (event->matches(QKeySequence::MoveToStartOfLine))
        return edge(false, false);
    if (event->matches(QKeySequence::MoveToEndOfLine))
        return edge(true, false);
    if (event->matches(QKeySequence::SelectStartOfLine))
        return edge(false, true);
    if (event->matches(QKeySequence::SelectEndOfLine))
        return edge(true, true);
    const bool selectUp = event->matches(QKeySequence::SelectPreviousLine);
    const bool selectDown = event->matches(QKeySequence::SelectNextLine);
    if (event->matches(QKeySequence::MoveToPreviousLine) || selectUp ||
        event->matches(QKeySequence::MoveToNextLine) || selectDown) {
        const int direction = selectUp || event->matches(QKeySequence::MoveToPreviousLine) ? -1 : 1;
        // Selecting past the first or last row goes to the log's start or end.
        const QTextLayout* layout = layoutOf(cursor.line);
        const QTextLine row = layout->lineForTextPosition(cursor.column);
        if (selectUp && cursor.line == 0 && row.isValid() && row.lineNumber() == 0) {
            document_->setCursor({0, 0}, true);
            rememberCaretX(); // even where the caret stayed, as QTextCursor does
            return true;
        }
        if (selectDown && cursor.line == store().lineCount() - 1 && row.isValid() &&
            row.lineNumber() == layout->lineCount() - 1) {
            document_->setCursor(store().end(), true);
            rememberCaretX();
            return true;
        }
        moveRow(direction, selectUp || selectDown);
        return true;
    }
    return false;
}

void TLogMemo::keyPressEvent(QKeyEvent* event) {
    restartBlinking();
    if (event->matches(QKeySequence::SelectPreviousPage) ||
        event->matches(QKeySequence::SelectNextPage) ||
        event->matches(QKeySequence::MoveToPreviousPage) ||
        event->matches(QKeySequence::MoveToNextPage)) {
        const bool select = event->matches(QKeySequence::SelectPreviousPage) ||
                            event->matches(QKeySequence::SelectNextPage);
        const bool up = event->matches(QKeySequence::SelectPreviousPage) ||
                        event->matches(QKeySequence::MoveToPreviousPage);
        pageUpDown(up ? -1 : 1, select);
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        setClipboardSelection();
        return;
    }
    if (event->matches(QKeySequence::Copy))
        return copy();
    bool handled = handleMove(event);
    if (!handled) {
        handled = true;
        if (event->key() == Qt::Key_Backspace &&
            !(event->modifiers() & ~(Qt::ShiftModifier | Qt::GroupSwitchModifier)))
            document_->deletePreviousCharacter();
        else if (event->matches(QKeySequence::InsertParagraphSeparator) ||
                 event->matches(QKeySequence::InsertLineSeparator))
            document_->insertLineBreak();
        else if (event->matches(QKeySequence::Undo))
            undo();
        else if (event->matches(QKeySequence::Redo))
            redo();
        else if (event->matches(QKeySequence::Cut))
            cut();
        else if (event->matches(QKeySequence::Paste))
            paste();
        else if (event->matches(QKeySequence::Delete))
            document_->deleteNextCharacter();
        else if (event->matches(QKeySequence::Backspace))
            document_->deletePreviousCharacter();
        else if (event->matches(QKeySequence::DeleteEndOfWord) ||
                 event->matches(QKeySequence::DeleteStartOfWord) ||
                 event->matches(QKeySequence::DeleteEndOfLine)) {
            if (event->matches(QKeySequence::DeleteEndOfWord))
                document_->deleteNextWord();
            else if (event->matches(QKeySequence::DeleteStartOfWord))
                document_->deletePreviousWord();
            else
                document_->deleteToEndOfLine();
            // These select by a move first, which takes the caret's x even where nothing
            // is deleted then.
            rememberCaretX();
        } else if (isAcceptableInput(event) && event->text() != u"\t")
            document_->insertText(event->text());
        else
            handled = false;
    }
    if (!handled) {
        event->ignore(); // a modifier alone keeps the caret's x for the next row
        return;
    }
    event->accept();
    setClipboardSelection();
    ensureCursorVisible();
}

// ---- clipboard

void TLogMemo::copy() const {
    if (document_->hasSelection())
        clipboard()->setText(document_->selectedText());
}

void TLogMemo::cut() {
    if (!document_->hasSelection())
        return;
    copy();
    document_->removeSelectedText();
}

void TLogMemo::paste() {
    insertFromMimeData(clipboard()->mimeData());
}

void TLogMemo::undo() {
    document_->undo();
    ensureCursorVisible();
}

void TLogMemo::redo() {
    document_->redo();
    ensureCursorVisible();
}

void TLogMemo::insertFromMimeData(const QMimeData* data) {
    if (data && data->hasText())
        document_->insertFragment(withoutCarriageReturns(data->text()));
    ensureCursorVisible();
}

void TLogMemo::setClipboardSelection() {
    if (!document_->hasSelection() || !clipboard()->supportsSelection())
        return;
    const velt::LogStore& s = store();
    auto* data = new SelectionData(this, s.offsetOf(document_->selectionStart()),
                                   s.offsetOf(document_->selectionEnd()));
    primary_ = data;
    clipboard()->setMimeData(data, QClipboard::Selection);
}

void TLogMemo::keepPrimaryText(std::int64_t position) {
    if (auto* data = static_cast<SelectionData*>(primary_.data()); data && position <= data->end())
        data->keep();
}

// ---- input methods

void TLogMemo::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        if (event->replacementLength() > 0) {
            const velt::LogPosition c = document_->cursor();
            const std::int32_t from = std::max(0, c.column + event->replacementStart());
            document_->select({c.line, from}, {c.line, from + event->replacementLength()});
        }
        document_->commitText(event->commitString());
    }
    preedit_ = event->preeditString();
    preeditCursor_ = preedit_.size();
    for (const QInputMethodEvent::Attribute& a : event->attributes())
        if (a.type == QInputMethodEvent::Cursor)
            preeditCursor_ = a.start;
    forgetLayouts(document_->cursor().line);
    viewport()->update();
    event->accept();
    if (!event->preeditString().isEmpty() || !event->commitString().isEmpty() ||
        !event->attributes().isEmpty())
        ensureCursorVisible();
}

QVariant TLogMemo::inputMethodQuery(Qt::InputMethodQuery query) const {
    const velt::LogPosition cursor = document_->cursor(), anchor = document_->anchor();
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return cursorRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return cursor.column;
    case Qt::ImAnchorPosition:
        return anchor.line == cursor.line ? anchor.column : cursor.column;
    case Qt::ImSurroundingText:
        return store().line(cursor.line).toString();
    case Qt::ImCurrentSelection:
        return anchor.line == cursor.line ? document_->selectedText() : QString();
    case Qt::ImHints:
        return static_cast<int>(inputMethodHints() | Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- mouse, as QWidgetTextControl handles it

void TLogMemo::selectAll() {
    selectingAll_ = true;
    document_->selectAll();
    selectingAll_ = false;
}

// The mouse places the caret as QTextCursor::setPosition does, which takes the caret's x
// even where the caret stays.
void TLogMemo::setCursorPosition(velt::LogPosition position, bool keepAnchor) {
    document_->setCursor(position, keepAnchor);
    rememberCaretX();
    if (!keepAnchor) {
        wordOnDoubleClick_ = {};
        lineOnTripleClick_ = {};
    }
}

void TLogMemo::mousePressEvent(QMouseEvent* event) {
    const QPointF point = event->position();
    mousePressPoint_ = point.toPoint();
    mightStartDrag_ = false;
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    mousePressed_ = true;
    lastMousePoint_ = point.toPoint();
    if (tripleClickTimer_.isActive() &&
        (contentsPoint(point) - tripleClickPoint_).manhattanLength() <
            QApplication::startDragDistance()) {
        // The whole line with its line break.
        const velt::LogPosition cursor = document_->cursor();
        const velt::LogPosition start{cursor.line, 0};
        const velt::LogPosition end = document_->moved(
            {cursor.line, store().lineLength(cursor.line)}, velt::LogDocument::Move::NextCharacter);
        document_->select(start, end);
        lineOnTripleClick_ = spanOf(start, end);
        tripleClickTimer_.stop();
    } else {
        const QPoint at = contentsPoint(point);
        const velt::LogPosition position = hitTest(at);
        if (event->modifiers() == Qt::ShiftModifier) {
            if (lineOnTripleClick_.selects())
                extendBlockwise(position);
            else if (wordOnDoubleClick_.selects())
                extendWordwise(position, at.x());
            else
                setCursorPosition(position, true);
        } else {
            if (document_->hasSelection() && position >= document_->selectionStart() &&
                position <= document_->selectionEnd()) {
                mightStartDrag_ = true;
                return;
            }
            setCursorPosition(position);
        }
    }
    ensureCursorVisible();
}

// As QTextCursor follows an edit: an end where text is inserted moves after it, unless the
// insertion keeps cursors there (`keep`).
void TLogMemo::Span::follow(std::int64_t position, std::int64_t removed, std::int64_t added,
                            bool keep) {
    for (std::int64_t* p : {&anchor, &cursor}) {
        if (*p > position)
            *p = std::max(position, *p - removed);
        if (added > 0 && (*p > position || (*p == position && !keep)))
            *p += added;
    }
}

TLogMemo::Selection TLogMemo::resolved(const Span& span) const {
    return {store().positionAt(span.anchor), store().positionAt(span.cursor)};
}

TLogMemo::Span TLogMemo::spanOf(velt::LogPosition anchor, velt::LogPosition cursor) const {
    return {store().offsetOf(anchor), store().offsetOf(cursor), preferredX_};
}

void TLogMemo::extendWordwise(velt::LogPosition position, qreal x) {
    const Selection word = resolved(wordOnDoubleClick_);
    if (position >= word.start() && position <= word.end()) {
        document_->select(word.anchor, word.cursor);
        preferredX_ = wordOnDoubleClick_.x;
        return;
    }
    // The word the pointer is in, if the pointer is over it. QWidgetTextControl finds it
    // with QTextCursor's StartOfWord and EndOfWord and keeps the selection where either
    // does not move: at a line's start, or at its end after a space or a separator.
    const auto [wordStart, wordEnd] = document_->wordAt(position);
    const bool atLineEnd = position.column == store().lineLength(position.line);
    if (position.column == 0 || (atLineEnd && wordStart == position) || wordStart == wordEnd)
        return;
    const QTextLayout* layout = layoutOf(position.line);
    const QTextLine row = layout->lineForTextPosition(wordStart.column);
    if (!row.isValid() ||
        layout->lineForTextPosition(wordEnd.column).textStart() != row.textStart())
        return;
    const qreal startX = kMargin + row.cursorToX(wordStart.column);
    const qreal endX = kMargin + row.cursorToX(wordEnd.column);
    if (x < startX || x > endX)
        return;
    // The word first selected stays selected on the other side.
    const velt::LogPosition anchor = position < word.cursor ? word.end() : word.start();
    document_->select(anchor, x - startX < endX - x ? wordStart : wordEnd);
    setClipboardSelection();
}

void TLogMemo::extendBlockwise(velt::LogPosition position) {
    const Selection line = resolved(lineOnTripleClick_);
    if (position >= line.start() && position <= line.end()) {
        document_->select(line.anchor, line.cursor);
        preferredX_ = lineOnTripleClick_.x;
        return;
    }
    if (position < line.cursor) {
        document_->select(line.end(), {position.line, 0});
    } else {
        const velt::LogPosition end =
            document_->moved({position.line, store().lineLength(position.line)},
                             velt::LogDocument::Move::NextCharacter);
        document_->select(line.start(), end);
    }
    setClipboardSelection();
}

void TLogMemo::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPointF point = event->position();
    lastMousePoint_ = point.toPoint();
    if (mightStartDrag_) {
        if ((point.toPoint() - mousePressPoint_).manhattanLength() >
            QApplication::startDragDistance())
            startDrag();
        return;
    }
    // Outside the view the selection keeps growing while the button is held.
    const bool outside = !viewport()->rect().contains(lastMousePoint_);
    if (outside && !autoScrollTimer_.isActive())
        autoScrollTimer_.start(kAutoScrollMs, this);
    else if (!outside)
        autoScrollTimer_.stop();
    const QPoint at = contentsPoint(point);
    const velt::LogPosition position = hitTest(at);
    if (lineOnTripleClick_.selects())
        extendBlockwise(position);
    else if (wordOnDoubleClick_.selects())
        extendWordwise(position, at.x());
    else if (mousePressed_)
        setCursorPosition(position, true);
}

void TLogMemo::mouseReleaseEvent(QMouseEvent* event) {
    // The caret goes where the button was let go; a click moves it so without forgetting
    // the word or line that a double or triple click selected.
    if (mightStartDrag_ && event->button() == Qt::LeftButton) {
        mousePressed_ = false;
        document_->setCursor(hitTest(contentsPoint(event->position())));
        rememberCaretX();
    }
    if (mousePressed_) {
        mousePressed_ = false;
        setClipboardSelection();
    } else if (event->button() == Qt::MiddleButton && clipboard()->supportsSelection()) {
        document_->setCursor(hitTest(contentsPoint(event->position())));
        insertFromMimeData(clipboard()->mimeData(QClipboard::Selection));
    }
    if (autoScrollTimer_.isActive()) {
        autoScrollTimer_.stop();
        ensureCursorVisible();
    }
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    mightStartDrag_ = false;
    const velt::LogPosition p = hitTest(contentsPoint(event->position()));
    document_->setCursor(p);
    const QTextLayout* layout = layoutOf(p.line);
    const QTextLine row = layout->lineForTextPosition(p.column);
    const bool word = row.isValid() && row.textLength() > 0;
    if (word) {
        const auto [from, to] = document_->wordAt(p);
        document_->select(from, to);
    }
    rememberCaretX();
    wordOnDoubleClick_ = spanOf(document_->anchor(), document_->cursor());
    tripleClickPoint_ = contentsPoint(event->position());
    tripleClickTimer_.start(QApplication::doubleClickInterval(), this);
    if (word)
        setClipboardSelection();
}

// ---- drag and drop, as QPlainTextEdit's

void TLogMemo::startDrag() {
    mousePressed_ = false;
    auto* drag = new QDrag(viewport());
    auto* data = new QMimeData;
    data->setText(document_->selectedText());
    drag->setMimeData(data);
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    if (action == Qt::MoveAction && drag->target() != viewport())
        document_->removeSelectedText();
}

void TLogMemo::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void TLogMemo::dragMoveEvent(QDragMoveEvent* event) {
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void TLogMemo::dragLeaveEvent(QDragLeaveEvent* event) {
    event->accept();
}

void TLogMemo::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    const velt::LogPosition target = hitTest(contentsPoint(event->position()));
    if (event->dropAction() == Qt::MoveAction && event->source() == viewport()) {
        document_->moveSelection(target);
    } else {
        document_->setCursor(target);
        document_->insertFragment(withoutCarriageReturns(event->mimeData()->text()));
    }
    ensureCursorVisible();
    event->acceptProposedAction();
}

void TLogMemo::timerEvent(QTimerEvent* event) {
    if (event->timerId() == blinkTimer_.timerId()) {
        cursorShown_ = !cursorShown_;
        viewport()->update(cursorRect().adjusted(-2, 0, 2, 0));
    } else if (event->timerId() == tripleClickTimer_.timerId()) {
        tripleClickTimer_.stop();
    } else if (event->timerId() == autoScrollTimer_.timerId()) {
        const QRect visible = viewport()->rect();
        if (lastMousePoint_.y() < visible.top() || lastMousePoint_.y() > visible.bottom())
            verticalScrollBar()->triggerAction(lastMousePoint_.y() < visible.top()
                                                   ? QAbstractSlider::SliderSingleStepSub
                                                   : QAbstractSlider::SliderSingleStepAdd);
        if (lastMousePoint_.x() < visible.left() || lastMousePoint_.x() > visible.right())
            horizontalScrollBar()->triggerAction(lastMousePoint_.x() < visible.left()
                                                     ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
        setCursorPosition(hitTest(contentsPoint(lastMousePoint_)), true);
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

// ---- focus, caret, font, menu

void TLogMemo::restartBlinking() {
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    cursorShown_ = hasFocus();
    if (hasFocus() && flash >= 2)
        blinkTimer_.start(flash / 2, this);
    else
        blinkTimer_.stop();
    viewport()->update();
}

void TLogMemo::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    restartBlinking();
}

void TLogMemo::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    restartBlinking();
}

void TLogMemo::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange) {
        forgetLayouts();
        rows_.clear();
        adjustScrollBars();
        viewport()->update();
    }
}

QMenu* TLogMemo::createStandardContextMenu() {
    // The texts of Qt's own text controls, so that Qt's translations apply to them.
    const auto text = [](const char* source, QKeySequence::StandardKey key) {
        const QString label = QCoreApplication::translate("QWidgetTextControl", source);
        const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
        return shortcut.isEmpty() ? label : label + u'\t' + shortcut;
    };
    const bool selected = document_->hasSelection();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("logContextMenu"));
    menu->addAction(text("&Undo", QKeySequence::Undo), this, &TLogMemo::undo)
        ->setEnabled(document_->canUndo());
    menu->addAction(text("&Redo", QKeySequence::Redo), this, &TLogMemo::redo)
        ->setEnabled(document_->canRedo());
    menu->addSeparator();
    menu->addAction(text("Cu&t", QKeySequence::Cut), this, &TLogMemo::cut)->setEnabled(selected);
    menu->addAction(text("&Copy", QKeySequence::Copy), this, &TLogMemo::copy)->setEnabled(selected);
    menu->addAction(text("&Paste", QKeySequence::Paste), this, &TLogMemo::paste)
        ->setEnabled(!clipboard()->text().isEmpty());
    menu->addAction(QCoreApplication::translate("QWidgetTextControl", "Delete"), document_,
                    &velt::LogDocument::removeSelectedText)
        ->setEnabled(selected);
    menu->addSeparator();
    menu->addAction(text("Select All", QKeySequence::SelectAll), this, &TLogMemo::selectAll)
        ->setEnabled(store().characterCount() > 0);
    return menu;
}

void TLogMemo::selectLine(std::int64_t line) {
    line = std::clamp<std::int64_t>(line, 0, store().lineCount() - 1);
    document_->select({line, 0}, {line, store().lineLength(line)});
    ensureCursorVisible();
}

void TLogMemo::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    if (!extraActions_.isEmpty()) {
        menu->addSeparator();
        menu->addActions(extraActions_);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
