#include "ui/log_memo_accessible.h"

#include "ui/log_memo.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>

namespace velt {

namespace {

LogAccessibilityObserver observer = nullptr;

bool listening() {
    return observer || QAccessible::isActive();
}

void send(QAccessibleEvent* event) {
    if (observer)
        observer(event);
    QAccessible::updateAccessibility(event);
}

// The accessible interface counts in int. Past INT_MAX characters it covers the newest
// INT_MAX of them: its offset 0 is the log's character `shift`, and an offset before that
// shows as 0, never negative or wrapped.
std::int64_t shiftOf(const LogStore& store) {
    return std::max<std::int64_t>(0, store.characterCount() - INT_MAX);
}

int toAccessible(const LogStore& store, std::int64_t offset) {
    return static_cast<int>(std::clamp<std::int64_t>(offset - shiftOf(store), 0, INT_MAX));
}

std::int64_t fromAccessible(const LogStore& store, int offset) {
    return shiftOf(store) + std::max(offset, 0);
}

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

    // The value would be the whole log, possibly gigabytes: readers take the text
    // interface's ranges instead.
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? QString() : QAccessibleWidget::text(t);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && document().hasSelection()) {
            *start = offset(document().selectionStart());
            *end = offset(document().selectionEnd());
        }
    }
    int selectionCount() const override { return document().hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { document().setCursor(document().cursor()); }
    void setSelection(int, int start, int end) override { document().select(at(start), at(end)); }
    int cursorPosition() const override { return offset(document().cursor()); }
    void setCursorPosition(int position) override { document().setCursor(at(position)); }
    QString text(int start, int end) const override { return store().text(at(start), at(end)); }
    int characterCount() const override {
        return static_cast<int>(std::min<std::int64_t>(store().characterCount(), INT_MAX));
    }
    QRect characterRect(int offset) const override {
        const QRect r = memo()->characterRect(at(offset)).toAlignedRect();
        return QRect(memo()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint local = memo()->viewport()->mapFromGlobal(point);
        if (!memo()->viewport()->rect().contains(local))
            return -1;
        return offset(memo()->positionAt(local));
    }
    void scrollToSubstring(int start, int) override { document().setCursor(at(start)); }
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return QString();
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        int s = 0, e = 0;
        textAtOffset(offset, type, &s, &e);
        if (s <= 0) {
            *start = *end = -1;
            return QString();
        }
        return textAtOffset(s - 1, type, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        int s = 0, e = 0;
        textAtOffset(offset, type, &s, &e);
        if (e >= characterCount() || e <= offset) {
            *start = *end = -1;
            return QString();
        }
        return textAtOffset(e, type, start, end);
    }
    // Within the line that holds the offset: characters, words and sentences by
    // QTextBoundaryFinder, lines and paragraphs with their line break.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        const std::int64_t count = characterCount();
        if (type == QAccessible::NoBoundary) {
            *start = 0;
            *end = characterCount();
            return text(0, *end);
        }
        const LogPosition p = at(offset);
        const QStringView line = store().line(p.line);
        const std::int64_t lineStart = store().offsetOf({p.line, 0}) - shiftOf(store());
        std::int64_t from = lineStart, to = lineStart + line.size();
        if (type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary) {
            if (to < count)
                ++to; // the line break
        } else if (p.column >= line.size()) {
            to = std::min(to + 1, count); // the line break itself
            from = to - (to > lineStart + line.size() ? 1 : 0);
        } else {
            const auto kind = type == QAccessible::CharBoundary   ? QTextBoundaryFinder::Grapheme
                              : type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                  : QTextBoundaryFinder::Sentence;
            QTextBoundaryFinder finder(kind, line.data(), line.size());
            finder.setPosition(p.column);
            if (!finder.isAtBoundary())
                finder.toPreviousBoundary();
            const qsizetype a = std::max<qsizetype>(0, finder.position());
            const qsizetype b = finder.toNextBoundary();
            from = lineStart + a;
            to = lineStart + (b < 0 ? line.size() : b);
        }
        *start = static_cast<int>(std::clamp<std::int64_t>(from, 0, INT_MAX));
        *end = static_cast<int>(std::clamp<std::int64_t>(to, 0, INT_MAX));
        return text(*start, *end);
    }

    void deleteText(int start, int end) override { document().replaceText(at(start), at(end), {}); }
    void insertText(int offset, const QString& text) override {
        document().replaceText(at(offset), at(offset), text);
    }
    void replaceText(int start, int end, const QString& text) override {
        document().replaceText(at(start), at(end), text);
    }

private:
    TLogMemo* memo() const { return static_cast<TLogMemo*>(widget()); }
    LogDocument& document() const { return memo()->document(); }
    const LogStore& store() const { return memo()->store(); }
    LogPosition at(int offset) const { return store().positionAt(fromAccessible(store(), offset)); }
    int offset(LogPosition p) const { return toAccessible(store(), store().offsetOf(p)); }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("TLogMemo") && object && object->isWidgetType())
        return new LogMemoAccessible(static_cast<TLogMemo*>(object));
    return nullptr;
}

} // namespace

void installLogMemoAccessible() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void setLogAccessibilityObserver(LogAccessibilityObserver newObserver) {
    observer = newObserver;
}

void notifyLogTextChanged(TLogMemo* memo, std::int64_t position, const QString& removed,
                          std::int64_t added) {
    if (!listening())
        return;
    const LogStore& store = memo->store();
    const QString inserted =
        store.text(store.positionAt(position), store.positionAt(position + added));
    const int at = toAccessible(store, position);
    if (!removed.isEmpty() && !inserted.isEmpty()) {
        QAccessibleTextUpdateEvent event(memo, at, removed, inserted);
        send(&event);
    } else if (!removed.isEmpty()) {
        QAccessibleTextRemoveEvent event(memo, at, removed);
        send(&event);
    } else if (!inserted.isEmpty()) {
        QAccessibleTextInsertEvent event(memo, at, inserted);
        send(&event);
    }
}

void notifyLogCursorChanged(TLogMemo* memo, bool selectionChanged) {
    if (!listening())
        return;
    const LogDocument& document = memo->document();
    const LogStore& store = memo->store();
    if (selectionChanged) {
        QAccessibleTextSelectionEvent event(
            memo, toAccessible(store, store.offsetOf(document.selectionStart())),
            toAccessible(store, store.offsetOf(document.selectionEnd())));
        event.setCursorPosition(toAccessible(store, store.offsetOf(document.cursor())));
        send(&event);
    }
    QAccessibleTextCursorEvent event(memo, toAccessible(store, store.offsetOf(document.cursor())));
    send(&event);
}

} // namespace velt
