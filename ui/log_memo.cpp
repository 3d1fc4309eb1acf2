#include "ui/log_memo.h"

#include "ui/log_memo_accessible.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// As QPlainTextEdit's document margin: around the text and inside the wrap width.
constexpr int kMargin = 4;
// Laid-out lines kept; a screen needs a few dozen.
constexpr std::size_t kMaxLayouts = 256;
constexpr int kAutoScrollMs = 50;

QClipboard* clipboard() {
    return QGuiApplication::clipboard();
}

QString withoutCarriageReturns(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
}

} // namespace

TLogMemo::TLogMemo(QWidget* parent)
    : QAbstractScrollArea(parent), document_(new velt::LogDocument(this)) {
    velt::installLogMemoAccessible();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // lines wrap instead
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    connect(document_, &velt::LogDocument::contentsChange, this, &TLogMemo::documentChanged);
    connect(document_, &velt::LogDocument::cursorChanged, this, &TLogMemo::cursorMoved);
    updateScrollBars();
}

TLogMemo::~TLogMemo() = default;

std::int64_t TLogMemo::appendReadings(std::span<const float> values,
                                      std::span<const std::uint8_t> lengths, char16_t separator) {
    appending_ = true;
    const std::int64_t appended = document_->appendReadings(values, lengths, separator);
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
    scheduleScrollBars();
    // New last lines change no line already laid out or painted: they are painted when
    // the scroll bars are updated, by scrolling what is on screen where possible.
    if (appending_) {
        // Remembered until the scroll bars are updated, which paints them.
        const std::int64_t firstNew = store().positionAt(position).line + 1;
        firstUnpainted_ = firstUnpainted_ < 0 ? firstNew : std::min(firstUnpainted_, firstNew);
    } else {
        forgetLayouts(store().positionAt(position).line);
        viewport()->update();
    }
}

void TLogMemo::cursorMoved() {
    const velt::LogPosition start = document_->selectionStart(), end = document_->selectionEnd();
    const bool selectionChanged = start != lastSelectionStart_ || end != lastSelectionEnd_;
    lastSelectionStart_ = start;
    lastSelectionEnd_ = end;
    velt::notifyLogCursorChanged(this, selectionChanged);
    if (!preedit_.isEmpty())
        forgetLayouts();
    restartBlinking();
    // The caret may be in a line whose layout is not made yet: after this event.
    updateScrollBars();
    ensureCursorVisible();
    viewport()->update();
    if (!selecting_ && selectionChanged)
        selectionToPrimary();
}

void TLogMemo::forgetLayouts(std::int64_t fromLine) {
    layouts_.erase(layouts_.lower_bound(fromLine), layouts_.end());
}

QTextLayout* TLogMemo::layoutOf(std::int64_t line) const {
    if (auto it = layouts_.find(line); it != layouts_.end())
        return it->second.get();
    if (layouts_.size() >= kMaxLayouts)
        layouts_.clear();
    auto layout = std::make_unique<QTextLayout>(store().line(line).toString(), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    if (!preedit_.isEmpty() && line == document_->cursor().line)
        layout->setPreeditArea(document_->cursor().column, preedit_);
    const qreal width = std::max(1, viewport()->width() - 2 * kMargin);
    qreal y = 0;
    layout->beginLayout();
    for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
        row.setLeadingIncluded(true);
        row.setLineWidth(width);
        row.setPosition({0, y});
        y += row.height();
    }
    layout->endLayout();
    return layouts_.emplace(line, std::move(layout)).first->second.get();
}

qreal TLogMemo::heightOf(std::int64_t line) const {
    return std::max<qreal>(1, layoutOf(line)->boundingRect().height());
}

qreal TLogMemo::lineTop(std::int64_t line) const {
    qreal y = kMargin;
    for (std::int64_t i = verticalScrollBar()->value(); i < line; ++i) {
        y += heightOf(i);
        if (y > viewport()->height())
            break;
    }
    return y;
}

int TLogMemo::rowsInView() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) /
                           std::max(1, fontMetrics().lineSpacing()));
}

// ---- scrolling

void TLogMemo::scheduleScrollBars() {
    QScrollBar* bar = verticalScrollBar();
    if (!scrollBarsScheduled_)
        followNewest_ = bar->value() >= bar->maximum();
    if (scrollBarsScheduled_)
        return;
    // Once per turn of the event loop, however many changes come in it.
    scrollBarsScheduled_ = true;
    QMetaObject::invokeMethod(this, &TLogMemo::updateScrollBars, Qt::QueuedConnection);
}

void TLogMemo::updateScrollBars() {
    QScrollBar* bar = verticalScrollBar();
    const bool follow = scrollBarsScheduled_ ? followNewest_ : bar->value() >= bar->maximum();
    scrollBarsScheduled_ = false;
    // The highest first line that still fills the view: only the last page is laid out.
    const qreal room = viewport()->height() - 2 * kMargin;
    std::int64_t first = store().lineCount() - 1;
    for (qreal used = heightOf(first); first > 0 && used + heightOf(first - 1) <= room; --first)
        used += heightOf(first - 1);
    const int before = bar->value();
    {
        const QSignalBlocker blocker(bar); // the range is ours, not a user's scroll
        bar->setRange(0, static_cast<int>(std::min<std::int64_t>(first, INT_MAX)));
        bar->setPageStep(rowsInView());
        bar->setSingleStep(1);
        if (follow)
            bar->setValue(bar->maximum());
    }
    const int moved = bar->value() - before;
    const std::int64_t firstNew = std::exchange(firstUnpainted_, -1);
    if (moved > 0 && moved < rowsInView()) {
        // Following the newest lines: move the pixels up, then paint from the first new
        // line down (the strip the scroll uncovers, and new lines that came into the
        // part of the view that was empty).
        qreal shift = 0;
        for (int i = before; i < bar->value(); ++i)
            shift += heightOf(i);
        if (std::abs(shift - std::round(shift)) < 0.01) {
            // The top margin stays blank: only the text below it moves, so what is left to
            // paint is the one strip at the bottom.
            const QRect text(0, kMargin, viewport()->width(), viewport()->height() - kMargin);
            viewport()->scroll(0, -static_cast<int>(std::lround(shift)), text);
            if (firstNew >= bar->value()) {
                const int top = static_cast<int>(lineTop(firstNew));
                viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
            }
            return;
        }
    }
    if (moved != 0 || lineTop(store().lineCount() - 1) < viewport()->height())
        viewport()->update();
}

void TLogMemo::scrollContentsBy(int, int) {
    viewport()->update();
}

void TLogMemo::ensureCursorVisible() {
    QScrollBar* bar = verticalScrollBar();
    const velt::LogPosition cursor = document_->cursor();
    if (cursor.line < bar->value()) {
        bar->setValue(static_cast<int>(cursor.line));
        return;
    }
    // Lowest first line that keeps the caret's row in view.
    const QTextLayout* layout = layoutOf(cursor.line);
    const QTextLine row = layout->lineForTextPosition(cursor.column);
    qreal needed = row.isValid() ? row.y() + row.height() : heightOf(cursor.line);
    const qreal room = viewport()->height() - 2 * kMargin;
    std::int64_t first = cursor.line;
    while (first > bar->value() && needed + heightOf(first - 1) <= room)
        needed += heightOf(--first);
    if (first > bar->value())
        bar->setValue(static_cast<int>(first));
}

void TLogMemo::resizeEvent(QResizeEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    const bool follow = bar->value() >= bar->maximum();
    QAbstractScrollArea::resizeEvent(event);
    forgetLayouts();
    updateScrollBars();
    if (follow)
        bar->setValue(bar->maximum());
}

// ---- geometry

QRect TLogMemo::cursorRect() const {
    const velt::LogPosition cursor = document_->cursor();
    const QTextLayout* layout = layoutOf(cursor.line);
    const int column = cursor.column + (preedit_.isEmpty() ? 0 : preeditCursor_);
    const QTextLine row = layout->lineForTextPosition(column);
    const qreal top = lineTop(cursor.line);
    if (!row.isValid())
        return QRect(kMargin, static_cast<int>(top), 1, fontMetrics().height());
    const qreal x = kMargin + row.cursorToX(column);
    return QRectF(x, top + row.y(), 1, row.height()).toAlignedRect();
}

QRectF TLogMemo::characterRect(velt::LogPosition p) const {
    p = store().clamp(p);
    const QTextLayout* layout = layoutOf(p.line);
    const QTextLine row = layout->lineForTextPosition(p.column);
    if (!row.isValid())
        return {};
    const qreal top = lineTop(p.line) + row.y();
    const int next = layout->nextCursorPosition(p.column);
    // In mixed-direction text a character's two edges can come in either order.
    const qreal x0 = row.cursorToX(p.column), x1 = next > p.column ? row.cursorToX(next) : x0;
    return QRectF(kMargin + std::min(x0, x1), top, std::abs(x1 - x0), row.height());
}

velt::LogPosition TLogMemo::positionAt(QPoint point) const {
    const std::int64_t first = verticalScrollBar()->value();
    const qreal x = point.x() - kMargin;
    if (point.y() < kMargin) {
        // Above the view: the last row of the line before, for a drag that scrolls up.
        const std::int64_t line = std::max<std::int64_t>(0, first - 1);
        const QTextLayout* layout = layoutOf(line);
        const QTextLine row = layout->lineAt(std::max(0, layout->lineCount() - 1));
        return {line, static_cast<std::int32_t>(row.isValid() ? row.xToCursor(x) : 0)};
    }
    qreal top = kMargin;
    for (std::int64_t line = first; line < store().lineCount(); ++line) {
        const QTextLayout* layout = layoutOf(line);
        const qreal height = heightOf(line);
        if (point.y() < top + height) {
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine row = layout->lineAt(i);
                if (point.y() < top + row.y() + row.height() || i + 1 == layout->lineCount())
                    return {line, static_cast<std::int32_t>(row.xToCursor(x))};
            }
            return {line, 0};
        }
        top += height;
    }
    // Below the last line: the end, as in QPlainTextEdit.
    return store().end();
}

velt::LogPosition TLogMemo::verticalMove(velt::LogPosition from, int rows, bool clampAtEnds) {
    const QTextLayout* layout = layoutOf(from.line);
    const QTextLine current = layout->lineForTextPosition(from.column);
    if (preferredX_ < 0)
        preferredX_ = current.isValid() ? current.cursorToX(from.column) : 0;
    std::int64_t line = from.line;
    int row = (current.isValid() ? current.lineNumber() : 0) + rows;
    while (row < 0) {
        if (line == 0) {
            if (!clampAtEnds)
                return from;
            row = 0;
            break;
        }
        row += layoutOf(--line)->lineCount();
    }
    while (row >= layoutOf(line)->lineCount()) {
        if (line + 1 >= store().lineCount()) {
            if (!clampAtEnds)
                return from;
            row = layoutOf(line)->lineCount() - 1;
            break;
        }
        row -= layoutOf(line++)->lineCount();
    }
    const QTextLine target = layoutOf(line)->lineAt(std::max(0, row));
    return {line, static_cast<std::int32_t>(target.isValid() ? target.xToCursor(preferredX_) : 0)};
}

velt::LogPosition TLogMemo::rowEdge(velt::LogPosition p, bool end) const {
    const QTextLayout* layout = layoutOf(p.line);
    const QTextLine row = layout->lineForTextPosition(p.column);
    if (!row.isValid())
        return p;
    if (!end)
        return {p.line, static_cast<std::int32_t>(row.textStart())};
    int column = row.textStart() + row.textLength();
    // A wrapped row ends before the space it broke at, as in QPlainTextEdit.
    if (row.lineNumber() < layout->lineCount() - 1 && column > 0 &&
        layout->text().at(column - 1).isSpace())
        --column;
    return {p.line, column};
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
    qreal y = kMargin;
    for (std::int64_t line = verticalScrollBar()->value();
         line < store().lineCount() && y < clip.bottom() + 1; ++line) {
        QTextLayout* layout = layoutOf(line);
        const qreal height = heightOf(line);
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
                const qreal x = kMargin + last.cursorToX(layout->text().size());
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
        layout->draw(&painter, QPointF(kMargin, y), selections, clip);
        if (cursorShown_ && line == cursor.line)
            layout->drawCursor(&painter, QPointF(kMargin, y),
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
            preferredX_ = -1;
            return true;
        }
    }
    // Moves that depend on the layout: rows, pages and the edges of a wrapped row.
    enum Kind { Row, Page, RowStart, RowEnd };
    struct Visual {
        QKeySequence::StandardKey key;
        Kind kind;
        int direction;
        bool select;
    };
    static const Visual visual[] = {
        {QKeySequence::MoveToNextLine, Row, 1, false},
        {QKeySequence::MoveToPreviousLine, Row, -1, false},
        {QKeySequence::MoveToNextPage, Page, 1, false},
        {QKeySequence::MoveToPreviousPage, Page, -1, false},
        {QKeySequence::MoveToStartOfLine, RowStart, 0, false},
        {QKeySequence::MoveToEndOfLine, RowEnd, 0, false},
        {QKeySequence::SelectNextLine, Row, 1, true},
        {QKeySequence::SelectPreviousLine, Row, -1, true},
        {QKeySequence::SelectNextPage, Page, 1, true},
        {QKeySequence::SelectPreviousPage, Page, -1, true},
        {QKeySequence::SelectStartOfLine, RowStart, 0, true},
        {QKeySequence::SelectEndOfLine, RowEnd, 0, true},
    };
    for (const Visual& v : visual) {
        if (!event->matches(v.key))
            continue;
        const velt::LogPosition cursor = document_->cursor();
        if (v.kind == RowStart || v.kind == RowEnd) {
            preferredX_ = -1;
            document_->setCursor(rowEdge(cursor, v.kind == RowEnd), v.select);
            return true;
        }
        // A page moves the caret as many rows as the view shows and the view with it;
        // at either end it stops on the first or last row instead of not moving.
        const int rows = v.kind == Page ? std::max(1, rowsInView() - 1) : 1;
        const velt::LogPosition target = verticalMove(cursor, rows * v.direction, v.kind == Page);
        if (v.kind == Page) {
            QScrollBar* bar = verticalScrollBar();
            bar->setValue(bar->value() + static_cast<int>(target.line - cursor.line));
        }
        document_->setCursor(target, v.select); // keeps preferredX_ for the next row
        return true;
    }
    return false;
}

void TLogMemo::keyPressEvent(QKeyEvent* event) {
    restartBlinking();
    if (handleMove(event))
        return;
    const auto done = [this] { preferredX_ = -1; };
    if (event->matches(QKeySequence::SelectAll))
        return selectAll(), done();
    if (event->matches(QKeySequence::Copy))
        return copy();
    if (event->matches(QKeySequence::Cut))
        return cut(), done();
    if (event->matches(QKeySequence::Paste))
        return paste(), done();
    if (event->matches(QKeySequence::Undo))
        return undo(), done();
    if (event->matches(QKeySequence::Redo))
        return redo(), done();
    if (event->matches(QKeySequence::DeleteStartOfWord))
        return document_->deletePreviousWord(), done();
    if (event->matches(QKeySequence::DeleteEndOfWord))
        return document_->deleteNextWord(), done();
    if (event->matches(QKeySequence::DeleteEndOfLine))
        return document_->deleteToEndOfLine(), done();
    if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier))
        return document_->deletePreviousCharacter(), done();
    if (event->matches(QKeySequence::Delete))
        return document_->deleteNextCharacter(), done();
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return document_->insertText(u"\n"), done();
    const QString text = event->text();
    if (!text.isEmpty() && (text.front().isPrint() || text.front() == u'\t') &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return document_->insertText(text), done();
    event->ignore();
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
    const QString text = withoutCarriageReturns(clipboard()->text());
    if (!text.isEmpty())
        document_->insertText(text);
}

namespace {

// The mouse selection's text, made only when another program asks for it: selecting a
// log of millions of lines must not copy it on every change of the selection.
class SelectionData : public QMimeData {
public:
    explicit SelectionData(const TLogMemo* memo) : memo_(memo) {}
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }
    bool hasFormat(const QString& type) const override { return type == u"text/plain"; }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        if (type != u"text/plain" || !memo_)
            return {};
        return memo_->document().selectedText();
    }

private:
    QPointer<const TLogMemo> memo_;
};

} // namespace

void TLogMemo::selectionToPrimary() const {
    if (document_->hasSelection() && clipboard()->supportsSelection())
        clipboard()->setMimeData(new SelectionData(this), QClipboard::Selection);
}

// ---- input methods

void TLogMemo::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        if (event->replacementLength() > 0) {
            const velt::LogPosition c = document_->cursor();
            const std::int32_t from = std::max(0, c.column + event->replacementStart());
            document_->select({c.line, from}, {c.line, from + event->replacementLength()});
        }
        document_->insertText(event->commitString());
    }
    preedit_ = event->preeditString();
    preeditCursor_ = preedit_.size();
    for (const QInputMethodEvent::Attribute& a : event->attributes())
        if (a.type == QInputMethodEvent::Cursor)
            preeditCursor_ = a.start;
    forgetLayouts(document_->cursor().line);
    viewport()->update();
    event->accept();
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

// ---- mouse

void TLogMemo::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    preferredX_ = -1;
    selecting_ = true;
    lastMousePoint_ = point;
    if (tripleClickTimer_.isActive() &&
        (point - tripleClickPoint_).manhattanLength() < QApplication::startDragDistance()) {
        tripleClickTimer_.stop();
        // The whole line with its line break, as QPlainTextEdit selects it.
        const std::int64_t line = document_->cursor().line;
        const velt::LogPosition end{line, static_cast<std::int32_t>(store().line(line).size())};
        document_->select({line, 0}, document_->moved(end, velt::LogDocument::Move::NextCharacter));
        return;
    }
    document_->setCursor(positionAt(point), event->modifiers() & Qt::ShiftModifier);
}

void TLogMemo::extendSelectionTo(QPoint point) {
    document_->setCursor(positionAt(point), true);
}

void TLogMemo::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !selecting_)
        return;
    lastMousePoint_ = event->position().toPoint();
    // Outside the view the selection keeps growing while the button is held.
    const bool outside = lastMousePoint_.y() < 0 || lastMousePoint_.y() > viewport()->height();
    if (outside && !autoScrollTimer_.isActive())
        autoScrollTimer_.start(kAutoScrollMs, this);
    else if (!outside)
        autoScrollTimer_.stop();
    extendSelectionTo(lastMousePoint_);
}

void TLogMemo::mouseReleaseEvent(QMouseEvent* event) {
    autoScrollTimer_.stop();
    if (event->button() == Qt::LeftButton) {
        selecting_ = false;
        selectionToPrimary();
        return;
    }
    if (event->button() == Qt::MiddleButton && clipboard()->supportsSelection()) {
        const QString text = withoutCarriageReturns(clipboard()->text(QClipboard::Selection));
        document_->setCursor(positionAt(event->position().toPoint()));
        if (!text.isEmpty())
            document_->insertText(text);
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    const velt::LogPosition p = positionAt(event->position().toPoint());
    document_->setCursor(p);
    if (!store().line(p.line).isEmpty()) {
        const auto [from, to] = document_->wordAt(p);
        document_->select(from, to);
    }
    tripleClickPoint_ = event->position().toPoint();
    tripleClickTimer_.start(QApplication::doubleClickInterval(), this);
}

void TLogMemo::timerEvent(QTimerEvent* event) {
    if (event->timerId() == blinkTimer_.timerId()) {
        cursorShown_ = !cursorShown_;
        viewport()->update(cursorRect().adjusted(-2, 0, 2, 0));
    } else if (event->timerId() == tripleClickTimer_.timerId()) {
        tripleClickTimer_.stop();
    } else if (event->timerId() == autoScrollTimer_.timerId()) {
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->value() + (lastMousePoint_.y() < 0 ? -1 : 1));
        extendSelectionTo(lastMousePoint_);
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
        updateScrollBars();
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

void TLogMemo::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
