#include "ui/log_memo.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 4; // left of the text
constexpr int kTop = 2;    // above the first line
constexpr std::size_t kMaxUndoSteps = 1000;

LogPosition endOf(LogPosition from, QStringView text) {
    const qsizetype breaks = text.count(u'\n');
    if (breaks == 0)
        return {from.line, from.column + static_cast<std::int32_t>(text.size())};
    return {from.line + breaks,
            static_cast<std::int32_t>(text.size() - text.lastIndexOf(u'\n') - 1)};
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

// What a screen reader sees: the control's text, caret and selection in character
// offsets, and the means to edit it.
class LogMemoAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit LogMemoAccessible(TLogMemo* memo)
        : QAccessibleWidget(memo, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return memo()->toPlainText();
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && memo()->hasSelection()) {
            const auto [a, b] = ordered();
            *start = offset(a);
            *end = offset(b);
        }
    }
    int selectionCount() const override { return memo()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { memo()->setCursorPosition(memo()->cursorPosition()); }
    void setSelection(int, int start, int end) override {
        memo()->setCursorPosition(at(start));
        memo()->setCursorPosition(at(end), true);
    }
    int cursorPosition() const override { return offset(memo()->cursorPosition()); }
    void setCursorPosition(int position) override { memo()->setCursorPosition(at(position)); }
    QString text(int start, int end) const override {
        return memo()->store().text(at(start), at(end));
    }
    int characterCount() const override {
        return static_cast<int>(memo()->store().characterCount());
    }
    QRect characterRect(int offset) const override {
        const QRect r = memo()->characterRect(at(offset));
        return QRect(memo()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        return offset(memo()->positionAt(memo()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int) override { memo()->setCursorPosition(at(start)); }
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return QString();
    }

    void deleteText(int start, int end) override {
        memo()->replaceText(at(start), at(end), QString());
    }
    void insertText(int offset, const QString& text) override {
        memo()->replaceText(at(offset), at(offset), text);
    }
    void replaceText(int start, int end, const QString& text) override {
        memo()->replaceText(at(start), at(end), text);
    }

private:
    TLogMemo* memo() const { return static_cast<TLogMemo*>(widget()); }
    LogPosition at(int offset) const { return memo()->store().positionAt(offset); }
    int offset(LogPosition p) const { return static_cast<int>(memo()->store().offsetOf(p)); }
    std::pair<LogPosition, LogPosition> ordered() const {
        return std::minmax(memo()->anchorPosition(), memo()->cursorPosition());
    }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("TLogMemo") && object && object->isWidgetType())
        return new LogMemoAccessible(static_cast<TLogMemo*>(object));
    return nullptr;
}

} // namespace

TLogMemo::TLogMemo(QWidget* parent) : QAbstractScrollArea(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    lineHeight_ = std::max(1, fontMetrics().lineSpacing());
    updateScrollBars();
}

TLogMemo::~TLogMemo() = default;

// ---- reading and appending

void TLogMemo::appendLines(const QStringList& lines) {
    if (lines.isEmpty())
        return;
    QScrollBar* bar = verticalScrollBar();
    const bool followNewest = bar->value() >= bar->maximum();
    const auto insertedAt = static_cast<int>(store_.characterCount());
    for (const QString& line : lines) {
        store_.appendLine(line);
        noteWidth(line);
    }
    updateScrollBars();
    if (followNewest)
        bar->setValue(bar->maximum());
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent event(this, insertedAt,
                                         QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
        QAccessible::updateAccessibility(&event);
    }
}

void TLogMemo::noteWidth(QStringView line) {
    // Measuring every appended line would cost more than storing it; only a line with
    // more characters than any before can plausibly be the widest.
    if (line.size() <= widestChars_)
        return;
    widestChars_ = line.size();
    widestPixels_ = std::max(widestPixels_, fontMetrics().horizontalAdvance(line.toString()));
}

// ---- caret and selection

void TLogMemo::setCursorPosition(LogPosition position, bool keepAnchor) {
    caret_ = store_.clamp(position);
    if (!keepAnchor)
        anchor_ = caret_;
    preferredColumn_ = -1;
    afterCaretMove();
}

void TLogMemo::selectAll() {
    anchor_ = {0, 0};
    caret_ = store_.end();
    afterCaretMove();
}

void TLogMemo::afterCaretMove() {
    ensureCaretVisible();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent event(this, static_cast<int>(store_.offsetOf(caret_)));
        QAccessible::updateAccessibility(&event);
    }
}

LogPosition TLogMemo::moved(LogPosition p, Move move) const {
    const auto lineLength = [this](std::int64_t line) {
        return static_cast<std::int32_t>(store_.line(line).size());
    };
    const auto vertical = [&](std::int64_t lines) {
        const std::int32_t column = preferredColumn_ >= 0 ? preferredColumn_ : p.column;
        const std::int64_t line =
            std::clamp<std::int64_t>(p.line + lines, 0, store_.lineCount() - 1);
        return LogPosition{line, std::min(column, lineLength(line))};
    };
    switch (move) {
    case Move::Left:
        if (p.column > 0)
            return {p.line, p.column - 1};
        return p.line > 0 ? LogPosition{p.line - 1, lineLength(p.line - 1)} : p;
    case Move::Right:
        if (p.column < lineLength(p.line))
            return {p.line, p.column + 1};
        return p.line + 1 < store_.lineCount() ? LogPosition{p.line + 1, 0} : p;
    case Move::WordLeft: {
        if (p.column == 0)
            return moved(p, Move::Left);
        const QStringView line = store_.line(p.line);
        std::int32_t c = p.column;
        while (c > 0 && !isWordChar(line[c - 1]))
            --c;
        while (c > 0 && isWordChar(line[c - 1]))
            --c;
        return {p.line, c};
    }
    case Move::WordRight: {
        const QStringView line = store_.line(p.line);
        if (p.column == line.size())
            return moved(p, Move::Right);
        std::int32_t c = p.column;
        while (c < line.size() && isWordChar(line[c]))
            ++c;
        while (c < line.size() && !isWordChar(line[c]))
            ++c;
        return {p.line, c};
    }
    case Move::Up:
        return vertical(-1);
    case Move::Down:
        return vertical(1);
    case Move::PageUp:
        return vertical(-std::max(1, visibleLines() - 1));
    case Move::PageDown:
        return vertical(std::max(1, visibleLines() - 1));
    case Move::LineStart:
        return {p.line, 0};
    case Move::LineEnd:
        return {p.line, lineLength(p.line)};
    case Move::Start:
        return {0, 0};
    case Move::End:
        return store_.end();
    }
    return p;
}

// ---- the user's edits

void TLogMemo::replaceText(LogPosition from, LogPosition to, QStringView text) {
    from = store_.clamp(from);
    to = store_.clamp(to);
    if (to < from)
        std::swap(from, to);
    Edit edit{from, store_.text(from, to), text.toString(), caret_, anchor_};
    if (edit.removed.isEmpty() && edit.inserted.isEmpty())
        return;
    const LogPosition after = store_.replace(from, to, text);
    noteWidth(store_.line(after.line));
    // Typing runs together into one undo step, as in other editors.
    const bool typing =
        edit.removed.isEmpty() && edit.inserted.size() == 1 && edit.inserted != u"\n";
    if (typing && !undo_.empty()) {
        Edit& last = undo_.back();
        if (last.removed.isEmpty() && !last.inserted.contains(u'\n') &&
            endOf(last.from, last.inserted) == from && !last.inserted.endsWith(u' ')) {
            last.inserted += edit.inserted;
            edit.inserted.clear();
        }
    }
    if (!edit.inserted.isEmpty() || !edit.removed.isEmpty()) {
        undo_.push_back(std::move(edit));
        if (undo_.size() > kMaxUndoSteps)
            undo_.erase(undo_.begin());
    }
    redo_.clear();
    caret_ = anchor_ = after;
    preferredColumn_ = -1;
    afterEdit(from);
}

void TLogMemo::insertText(QStringView text) {
    replaceText(anchor_, caret_, text);
}

void TLogMemo::afterEdit(LogPosition from) {
    updateScrollBars();
    ensureCaretVisible();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, static_cast<int>(store_.offsetOf(from)), QString(),
                                         QString());
        QAccessible::updateAccessibility(&event);
        QAccessibleTextCursorEvent cursor(this, static_cast<int>(store_.offsetOf(caret_)));
        QAccessible::updateAccessibility(&cursor);
    }
}

void TLogMemo::undo() {
    replay(undo_, redo_, true);
}

void TLogMemo::redo() {
    replay(redo_, undo_, false);
}

void TLogMemo::replay(std::vector<Edit>& from, std::vector<Edit>& to, bool backwards) {
    if (from.empty())
        return;
    Edit edit = std::move(from.back());
    from.pop_back();
    const QString& present = backwards ? edit.inserted : edit.removed;
    store_.replace(edit.from, endOf(edit.from, present), backwards ? edit.removed : edit.inserted);
    // The caret goes back to where it was before; the edit keeps where it was now, for
    // the way back.
    const LogPosition caret = caret_, anchor = anchor_;
    caret_ = store_.clamp(edit.caretBefore);
    anchor_ = store_.clamp(edit.anchorBefore);
    edit.caretBefore = caret;
    edit.anchorBefore = anchor;
    to.push_back(std::move(edit));
    afterEdit(to.back().from);
}

void TLogMemo::copy() const {
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

void TLogMemo::cut() {
    if (!hasSelection())
        return;
    copy();
    insertText(QString());
}

void TLogMemo::paste() {
    QString text = QApplication::clipboard()->text();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    if (!text.isEmpty())
        insertText(text);
}

// ---- geometry

int TLogMemo::visibleLines() const {
    return std::max(1, (viewport()->height() - kTop) / lineHeight_);
}

int TLogMemo::textLeft() const {
    return kMargin - horizontalScrollBar()->value();
}

double TLogMemo::advance(std::int64_t line, std::int32_t column) const {
    return QFontMetricsF(font()).horizontalAdvance(store_.line(line).left(column).toString());
}

QRect TLogMemo::characterRect(LogPosition p) const {
    p = store_.clamp(p);
    const int x = textLeft() + static_cast<int>(std::lround(advance(p.line, p.column)));
    const QStringView line = store_.line(p.line);
    const int width = p.column < line.size() ? fontMetrics().horizontalAdvance(line[p.column]) : 1;
    const auto y = kTop + static_cast<int>((p.line - verticalScrollBar()->value()) * lineHeight_);
    return QRect(x, y, width, lineHeight_);
}

LogPosition TLogMemo::positionAt(QPoint point) const {
    const int y = point.y() - kTop;
    const std::int64_t line = std::clamp<std::int64_t>(
        verticalScrollBar()->value() + (y < 0 ? y / lineHeight_ - 1 : y / lineHeight_), 0,
        store_.lineCount() - 1);
    const double x = point.x() - textLeft();
    const QStringView text = store_.line(line);
    // The nearest character boundary; advances grow with the column.
    std::int32_t lo = 0, hi = static_cast<std::int32_t>(text.size());
    while (lo < hi) {
        const std::int32_t mid = (lo + hi + 1) / 2;
        if (advance(line, mid) <= x)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo < text.size() && x - advance(line, lo) > advance(line, lo + 1) - x)
        ++lo;
    return {line, lo};
}

void TLogMemo::updateScrollBars() {
    QScrollBar* v = verticalScrollBar();
    const int visible = visibleLines();
    v->setRange(0, static_cast<int>(std::max<std::int64_t>(0, store_.lineCount() - visible)));
    v->setPageStep(visible);
    v->setSingleStep(1);
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, widestPixels_ + 2 * kMargin - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
}

void TLogMemo::ensureCaretVisible() {
    QScrollBar* v = verticalScrollBar();
    const int visible = visibleLines();
    if (caret_.line < v->value())
        v->setValue(static_cast<int>(caret_.line));
    else if (caret_.line >= v->value() + visible)
        v->setValue(static_cast<int>(caret_.line - visible + 1));
    QScrollBar* h = horizontalScrollBar();
    const int x = kMargin + static_cast<int>(std::lround(advance(caret_.line, caret_.column)));
    if (x - h->value() < kMargin)
        h->setValue(x - kMargin);
    else if (x - h->value() > viewport()->width() - kMargin) {
        h->setMaximum(std::max(h->maximum(), x - viewport()->width() + kMargin));
        h->setValue(x - viewport()->width() + kMargin);
    }
}

// ---- events

void TLogMemo::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette& pal = palette();
    const QFontMetricsF metrics(font());
    const auto [selFrom, selTo] = std::minmax(anchor_, caret_);
    const std::int64_t first = verticalScrollBar()->value();
    const std::int64_t last =
        std::min<std::int64_t>(store_.lineCount() - 1, first + visibleLines());
    const int left = textLeft();
    const int ascent = fontMetrics().ascent();
    for (std::int64_t i = first; i <= last; ++i) {
        const int y = kTop + static_cast<int>((i - first) * lineHeight_);
        const QString line = store_.line(i).toString();
        if (hasSelection() && i >= selFrom.line && i <= selTo.line) {
            const std::int32_t from = i == selFrom.line ? selFrom.column : 0;
            const std::int32_t to =
                i == selTo.line ? selTo.column : static_cast<std::int32_t>(line.size());
            const double x0 = left + metrics.horizontalAdvance(line.left(from));
            double x1 = left + metrics.horizontalAdvance(line.left(to));
            if (i < selTo.line)
                x1 += metrics.horizontalAdvance(u' '); // the line break is selected too
            painter.fillRect(QRectF(x0, y, x1 - x0, lineHeight_), pal.brush(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::Text));
            painter.drawText(left, y + ascent, line);
            painter.save();
            painter.setClipRect(QRectF(x0, y, x1 - x0, lineHeight_));
            painter.setPen(pal.color(QPalette::HighlightedText));
            painter.drawText(left, y + ascent, line);
            painter.restore();
        } else {
            painter.setPen(pal.color(QPalette::Text));
            painter.drawText(left, y + ascent, line);
        }
        if (line.size() > widestChars_ / 2) {
            const int width = static_cast<int>(std::ceil(metrics.horizontalAdvance(line)));
            if (width > widestPixels_) {
                widestPixels_ = width;
                QMetaObject::invokeMethod(this, &TLogMemo::updateScrollBars, Qt::QueuedConnection);
            }
        }
    }
    if (hasFocus() && caret_.line >= first && caret_.line <= last) {
        const QRect r = characterRect(caret_);
        painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), pal.color(QPalette::Text));
    }
}

void TLogMemo::resizeEvent(QResizeEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    const bool followNewest = bar->value() >= bar->maximum();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    if (followNewest)
        bar->setValue(bar->maximum());
}

void TLogMemo::keyPressEvent(QKeyEvent* event) {
    struct Binding {
        QKeySequence::StandardKey key;
        Move move;
        bool select;
    };
    static const Binding moves[] = {
        {QKeySequence::MoveToNextChar, Move::Right, false},
        {QKeySequence::MoveToPreviousChar, Move::Left, false},
        {QKeySequence::MoveToNextWord, Move::WordRight, false},
        {QKeySequence::MoveToPreviousWord, Move::WordLeft, false},
        {QKeySequence::MoveToNextLine, Move::Down, false},
        {QKeySequence::MoveToPreviousLine, Move::Up, false},
        {QKeySequence::MoveToNextPage, Move::PageDown, false},
        {QKeySequence::MoveToPreviousPage, Move::PageUp, false},
        {QKeySequence::MoveToStartOfLine, Move::LineStart, false},
        {QKeySequence::MoveToEndOfLine, Move::LineEnd, false},
        {QKeySequence::MoveToStartOfDocument, Move::Start, false},
        {QKeySequence::MoveToEndOfDocument, Move::End, false},
        {QKeySequence::SelectNextChar, Move::Right, true},
        {QKeySequence::SelectPreviousChar, Move::Left, true},
        {QKeySequence::SelectNextWord, Move::WordRight, true},
        {QKeySequence::SelectPreviousWord, Move::WordLeft, true},
        {QKeySequence::SelectNextLine, Move::Down, true},
        {QKeySequence::SelectPreviousLine, Move::Up, true},
        {QKeySequence::SelectNextPage, Move::PageDown, true},
        {QKeySequence::SelectPreviousPage, Move::PageUp, true},
        {QKeySequence::SelectStartOfLine, Move::LineStart, true},
        {QKeySequence::SelectEndOfLine, Move::LineEnd, true},
        {QKeySequence::SelectStartOfDocument, Move::Start, true},
        {QKeySequence::SelectEndOfDocument, Move::End, true},
    };
    for (const Binding& b : moves) {
        if (!event->matches(b.key))
            continue;
        const bool vertical = b.move == Move::Up || b.move == Move::Down ||
                              b.move == Move::PageUp || b.move == Move::PageDown;
        if (!b.select && hasSelection() && (b.move == Move::Left || b.move == Move::Right)) {
            // An arrow collapses a selection to its side, as in other editors.
            const auto [from, to] = std::minmax(anchor_, caret_);
            setCursorPosition(b.move == Move::Left ? from : to);
            return;
        }
        const std::int32_t column = preferredColumn_ >= 0 ? preferredColumn_ : caret_.column;
        const LogPosition target = moved(caret_, b.move);
        setCursorPosition(target, b.select);
        if (vertical)
            preferredColumn_ = column;
        return;
    }
    if (event->matches(QKeySequence::SelectAll))
        return selectAll();
    if (event->matches(QKeySequence::Copy))
        return copy();
    if (event->matches(QKeySequence::Cut))
        return cut();
    if (event->matches(QKeySequence::Paste))
        return paste();
    if (event->matches(QKeySequence::Undo))
        return undo();
    if (event->matches(QKeySequence::Redo))
        return redo();
    if (event->matches(QKeySequence::DeleteStartOfWord) ||
        event->matches(QKeySequence::DeleteEndOfWord)) {
        if (hasSelection())
            return insertText(QString());
        const bool back = event->matches(QKeySequence::DeleteStartOfWord);
        return replaceText(moved(caret_, back ? Move::WordLeft : Move::WordRight), caret_,
                           QString());
    }
    if (event->key() == Qt::Key_Backspace || event->matches(QKeySequence::Delete)) {
        if (hasSelection())
            return insertText(QString());
        const LogPosition other =
            moved(caret_, event->key() == Qt::Key_Backspace ? Move::Left : Move::Right);
        return replaceText(other, caret_, QString());
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return insertText(u"\n");
    const QString text = event->text();
    if (!text.isEmpty() &&
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint() || c == u'\t'; }) &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return insertText(text);
    QAbstractScrollArea::keyPressEvent(event);
}

void TLogMemo::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty())
        insertText(event->commitString());
    event->accept();
}

void TLogMemo::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    setCursorPosition(positionAt(event->position().toPoint()),
                      event->modifiers() & Qt::ShiftModifier);
}

void TLogMemo::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint p = event->position().toPoint();
    // Dragging past an edge scrolls one line at a time.
    if (p.y() < 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
    else if (p.y() > viewport()->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    setCursorPosition(positionAt(p), true);
}

void TLogMemo::mouseDoubleClickEvent(QMouseEvent* event) {
    const LogPosition p = positionAt(event->position().toPoint());
    const QStringView line = store_.line(p.line);
    std::int32_t from = p.column, to = p.column;
    while (from > 0 && isWordChar(line[from - 1]))
        --from;
    while (to < line.size() && isWordChar(line[to]))
        ++to;
    setCursorPosition({p.line, from});
    setCursorPosition({p.line, to}, true);
}

void TLogMemo::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TLogMemo::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TLogMemo::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        lineHeight_ = std::max(1, fontMetrics().lineSpacing());
        widestChars_ = 0;
        widestPixels_ = 0;
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
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("logContextMenu"));
    menu->addAction(text("&Undo", QKeySequence::Undo), this, &TLogMemo::undo)
        ->setEnabled(!undo_.empty());
    menu->addAction(text("&Redo", QKeySequence::Redo), this, &TLogMemo::redo)
        ->setEnabled(!redo_.empty());
    menu->addSeparator();
    menu->addAction(text("Cu&t", QKeySequence::Cut), this, &TLogMemo::cut)
        ->setEnabled(hasSelection());
    menu->addAction(text("&Copy", QKeySequence::Copy), this, &TLogMemo::copy)
        ->setEnabled(hasSelection());
    menu->addAction(text("&Paste", QKeySequence::Paste), this, &TLogMemo::paste)
        ->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu->addAction(QCoreApplication::translate("QWidgetTextControl", "Delete"), this,
                    [this] { insertText(QString()); })
        ->setEnabled(hasSelection());
    menu->addSeparator();
    menu->addAction(text("Select All", QKeySequence::SelectAll), this, &TLogMemo::selectAll)
        ->setEnabled(store_.characterCount() > 0);
    return menu;
}

void TLogMemo::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
