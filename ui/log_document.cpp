#include "ui/log_document.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace velt {

namespace {

constexpr std::size_t kMaxUndoSteps = 1000;

// The characters at which QTextLayout's word moves stop besides white space.
bool isWordSeparator(QChar c) {
    switch (c.unicode()) {
    case u'.':
    case u',':
    case u'?':
    case u'!':
    case u'@':
    case u'#':
    case u'$':
    case u':':
    case u';':
    case u'-':
    case u'<':
    case u'>':
    case u'[':
    case u']':
    case u'(':
    case u')':
    case u'{':
    case u'}':
    case u'=':
    case u'/':
    case u'+':
    case u'%':
    case u'&':
    case u'^':
    case u'*':
    case u'\'':
    case u'"':
    case u'`':
    case u'~':
    case u'|':
    case u'\\':
        return true;
    default:
        return false;
    }
}

std::int32_t length(QStringView line) {
    return static_cast<std::int32_t>(line.size());
}

std::int32_t nextWordStop(QStringView s, std::int32_t i) {
    const std::int32_t n = length(s);
    if (i < n && isWordSeparator(s[i])) {
        while (i < n && isWordSeparator(s[i]))
            ++i;
    } else {
        while (i < n && !s[i].isSpace() && !isWordSeparator(s[i]))
            ++i;
    }
    while (i < n && s[i].isSpace())
        ++i;
    return i;
}

std::int32_t previousWordStop(QStringView s, std::int32_t i) {
    while (i > 0 && s[i - 1].isSpace())
        --i;
    if (i > 0 && isWordSeparator(s[i - 1])) {
        while (i > 0 && isWordSeparator(s[i - 1]))
            --i;
    } else {
        while (i > 0 && !s[i - 1].isSpace() && !isWordSeparator(s[i - 1]))
            --i;
    }
    return i;
}

std::int32_t graphemeStop(QStringView s, std::int32_t i, bool forward) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s.data(), s.size());
    finder.setPosition(i);
    const qsizetype next = forward ? finder.toNextBoundary() : finder.toPreviousBoundary();
    return next < 0 ? (forward ? length(s) : 0) : static_cast<std::int32_t>(next);
}

} // namespace

LogDocument::LogDocument(QObject* parent) : QObject(parent) {}

LogDocument::~LogDocument() = default;

LogPosition LogDocument::snapped(LogPosition p) const {
    p = store_.clamp(p);
    const QStringView line = store_.line(p.line);
    if (p.column > 0 && p.column < line.size() && line[p.column - 1].isHighSurrogate() &&
        line[p.column].isLowSurrogate())
        --p.column;
    return p;
}

bool LogDocument::isRightToLeft(std::int64_t line) const {
    return store_.line(line).isRightToLeft();
}

void LogDocument::setCursorSilently(LogPosition cursor, LogPosition anchor) {
    cursor_ = cursor;
    anchor_ = anchor;
}

void LogDocument::setCursor(LogPosition position, bool keepAnchor) {
    position = snapped(position);
    const LogPosition anchor = keepAnchor ? anchor_ : position;
    if (position == cursor_ && anchor == anchor_)
        return;
    setCursorSilently(position, anchor);
    emit cursorChanged();
}

void LogDocument::select(LogPosition anchor, LogPosition cursor) {
    anchor = snapped(anchor);
    cursor = snapped(cursor);
    if (anchor == anchor_ && cursor == cursor_)
        return;
    setCursorSilently(cursor, anchor);
    emit cursorChanged();
}

void LogDocument::selectAll() {
    select({0, 0}, store_.end());
}

LogPosition LogDocument::moved(LogPosition p, Move move) const {
    p = snapped(p);
    const QStringView line = store_.line(p.line);
    const bool rtl = (move == Move::Left || move == Move::Right || move == Move::WordLeft ||
                      move == Move::WordRight) &&
                     line.isRightToLeft();
    switch (move) {
    case Move::Left:
        return moved(p, rtl ? Move::NextCharacter : Move::PreviousCharacter);
    case Move::Right:
        return moved(p, rtl ? Move::PreviousCharacter : Move::NextCharacter);
    case Move::WordLeft:
        return moved(p, rtl ? Move::NextWord : Move::PreviousWord);
    case Move::WordRight:
        return moved(p, rtl ? Move::PreviousWord : Move::NextWord);
    case Move::NextCharacter:
    case Move::NextWord:
        if (p.column >= line.size())
            return p.line + 1 < store_.lineCount() ? LogPosition{p.line + 1, 0} : p;
        return {p.line, move == Move::NextWord ? nextWordStop(line, p.column)
                                               : graphemeStop(line, p.column, true)};
    case Move::PreviousCharacter:
    case Move::PreviousWord:
        if (p.column == 0)
            return p.line > 0 ? LogPosition{p.line - 1, length(store_.line(p.line - 1))} : p;
        return {p.line, move == Move::PreviousWord ? previousWordStop(line, p.column)
                                                   : graphemeStop(line, p.column, false)};
    case Move::StartOfLine:
        return {p.line, 0};
    case Move::EndOfLine:
        return {p.line, length(line)};
    case Move::Start:
        return {0, 0};
    case Move::End:
        return store_.end();
    }
    return p;
}

void LogDocument::move(Move move, bool keepAnchor) {
    if (!keepAnchor && hasSelection()) {
        // An arrow with a selection goes to the selection's side, as in QPlainTextEdit.
        const bool rtl = isRightToLeft(cursor_.line);
        const bool toStart = move == Move::PreviousCharacter || (move == Move::Left && !rtl) ||
                             (move == Move::Right && rtl);
        const bool toEnd = move == Move::NextCharacter || (move == Move::Right && !rtl) ||
                           (move == Move::Left && rtl);
        if (toStart || toEnd)
            return setCursor(toStart ? selectionStart() : selectionEnd());
    }
    setCursor(moved(cursor_, move), keepAnchor);
}

std::pair<LogPosition, LogPosition> LogDocument::wordAt(LogPosition p) const {
    p = snapped(p);
    const QStringView line = store_.line(p.line);
    const std::int32_t n = length(line);
    std::int32_t start = p.column;
    if (start > 0 &&
        !(start == n && (line[start - 1].isSpace() || isWordSeparator(line[start - 1]))))
        start = previousWordStop(line, start < n ? start + 1 : start);
    std::int32_t end = start;
    if (end < n && isWordSeparator(line[end])) {
        while (end < n && isWordSeparator(line[end]))
            ++end;
    } else {
        while (end < n && !line[end].isSpace() && !isWordSeparator(line[end]))
            ++end;
    }
    return {{p.line, start}, {p.line, end}};
}

// ---- the user's edits

void LogDocument::edit(LogPosition from, LogPosition to, QStringView text, EditKind kind) {
    from = snapped(from);
    to = snapped(to);
    if (to < from)
        std::swap(from, to);
    Edit step{store_.offsetOf(from), store_.text(from, to), text.toString(), kind};
    if (step.removed.isEmpty() && step.inserted.isEmpty())
        return;
    const LogPosition after = store_.replace(from, to, text);

    bool merged = false;
    if (!undo_.empty() && undo_.back().kind == kind) {
        Edit& last = undo_.back();
        switch (kind) {
        case EditKind::Typing:
            merged = step.removed.isEmpty() && last.removed.isEmpty() &&
                     last.position + last.inserted.size() == step.position;
            if (merged)
                last.inserted += step.inserted;
            break;
        case EditKind::DeleteForward:
            merged = last.position == step.position;
            if (merged)
                last.removed += step.removed;
            break;
        case EditKind::DeleteBackward:
            merged = step.position + step.removed.size() == last.position;
            if (merged) {
                last.removed.prepend(step.removed);
                last.position = step.position;
            }
            break;
        case EditKind::Other:
            break;
        }
    }
    const std::int64_t position = step.position;
    const QString removed = step.removed;
    if (!merged) {
        undo_.push_back(std::move(step));
        if (undo_.size() > kMaxUndoSteps)
            undo_.erase(undo_.begin());
    }
    redo_.clear();
    setCursorSilently(after, after);
    emit contentsChange(position, removed, text.size());
    emit cursorChanged();
}

void LogDocument::insertText(QStringView text) {
    const bool typed = !hasSelection() && !text.contains(u'\n');
    edit(anchor_, cursor_, text, typed ? EditKind::Typing : EditKind::Other);
}

void LogDocument::replaceText(LogPosition from, LogPosition to, QStringView text) {
    edit(from, to, text, EditKind::Other);
}

void LogDocument::removeSelectedText() {
    if (hasSelection())
        edit(anchor_, cursor_, {}, EditKind::Other);
}

void LogDocument::deletePreviousCharacter() {
    if (hasSelection())
        return removeSelectedText();
    LogPosition from = cursor_;
    if (from.column == 0) {
        from = moved(from, Move::PreviousCharacter);
    } else {
        // One code point, as QPlainTextEdit: a combining mark goes alone, a pair together.
        const QStringView line = store_.line(from.line);
        --from.column;
        if (from.column > 0 && line[from.column].isLowSurrogate() &&
            line[from.column - 1].isHighSurrogate())
            --from.column;
    }
    edit(from, cursor_, {}, EditKind::DeleteBackward);
}

void LogDocument::deleteNextCharacter() {
    if (hasSelection())
        return removeSelectedText();
    edit(cursor_, moved(cursor_, Move::NextCharacter), {}, EditKind::DeleteForward);
}

void LogDocument::deletePreviousWord() {
    if (hasSelection())
        return removeSelectedText();
    edit(moved(cursor_, Move::PreviousWord), cursor_, {}, EditKind::Other);
}

void LogDocument::deleteNextWord() {
    if (hasSelection())
        return removeSelectedText();
    edit(cursor_, moved(cursor_, Move::NextWord), {}, EditKind::Other);
}

void LogDocument::deleteToEndOfLine() {
    if (hasSelection())
        return removeSelectedText();
    const LogPosition end = moved(cursor_, Move::EndOfLine);
    edit(cursor_, end == cursor_ ? moved(cursor_, Move::NextCharacter) : end, {}, EditKind::Other);
}

void LogDocument::apply(const Edit& step, bool backwards) {
    const QString& present = backwards ? step.inserted : step.removed;
    const QString& restored = backwards ? step.removed : step.inserted;
    store_.replace(store_.positionAt(step.position),
                   store_.positionAt(step.position + present.size()), restored);
    // The caret goes after the restored text, as in QPlainTextEdit.
    const LogPosition after = store_.positionAt(step.position + restored.size());
    setCursorSilently(after, after);
    emit contentsChange(step.position, present, restored.size());
    emit cursorChanged();
}

void LogDocument::undo() {
    if (undo_.empty())
        return;
    redo_.push_back(std::move(undo_.back()));
    undo_.pop_back();
    apply(redo_.back(), true);
}

void LogDocument::redo() {
    if (redo_.empty())
        return;
    undo_.push_back(std::move(redo_.back()));
    redo_.pop_back();
    apply(undo_.back(), false);
}

void LogDocument::setPlainText(QStringView text) {
    const QString removed = store_.text();
    store_.replace({0, 0}, store_.end(), text);
    undo_.clear();
    redo_.clear();
    setCursorSilently({0, 0}, {0, 0});
    emit contentsChange(0, removed, text.size());
    emit cursorChanged();
}

// ---- readings

qsizetype LogDocument::appendLines(const QStringList& lines) {
    const std::int64_t position = store_.characterCount();
    qsizetype appended = 0;
    try {
        for (const QString& line : lines) {
            store_.appendLine(line);
            ++appended;
        }
    } catch (const std::bad_alloc&) {
        // The store is as it was before the line that failed.
    }
    if (appended > 0)
        emit contentsChange(position, QString(), store_.characterCount() - position);
    return appended;
}

std::int64_t LogDocument::appendReadings(std::span<const float> values,
                                         std::span<const std::uint8_t> lengths,
                                         char16_t separator) {
    const std::int64_t position = store_.characterCount();
    const std::int64_t appended = store_.appendReadings(
        values.data(), lengths.data(), static_cast<std::int64_t>(values.size()), separator);
    if (appended > 0)
        emit contentsChange(position, QString(), store_.characterCount() - position);
    return appended;
}

} // namespace velt
