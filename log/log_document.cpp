#include "log/log_document.h"

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
    signalCursor();
}

void LogDocument::select(LogPosition anchor, LogPosition cursor) {
    anchor = snapped(anchor);
    cursor = snapped(cursor);
    if (anchor == anchor_ && cursor == cursor_)
        return;
    setCursorSilently(cursor, anchor);
    signalCursor();
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

// ---- the undo history

namespace {

bool containsBreak(const QString& text) {
    return text.contains(u'\n');
}

} // namespace

void LogDocument::beginBlock(std::int64_t cursorForUndo) {
    if (editBlock_ == 0)
        editBlockCursor_ = cursorForUndo;
    ++editBlock_;
}

void LogDocument::endBlock() {
    if (--editBlock_ > 0)
        return;
    if (state_ > 0 && commands_[state_ - 1].blockPart)
        commands_[state_ - 1].blockEnd = true;
    editBlockCursor_ = -1;
}

void LogDocument::record(Command c) {
    c.blockPart = editBlock_ > 0;
    commands_.resize(state_); // what could be redone is gone
    if (editBlock_ > 0 && editBlockCursor_ >= 0 && c.position != editBlockCursor_) {
        // Undoing the step puts the caret back where it was before the step.
        Command moved;
        moved.kind = Command::CursorMoved;
        moved.position = editBlockCursor_;
        moved.blockPart = true;
        commands_.push_back(std::move(moved));
        ++state_;
        editBlockCursor_ = -1;
    }
    if (state_ > 0) {
        Command& last = commands_[state_ - 1];
        const bool mayMerge = (last.blockPart && c.blockPart && !last.blockEnd) ||
                              (!c.blockPart && !last.blockPart) ||
                              (c.kind == Command::Inserted && last.kind == Command::Inserted &&
                               last.blockPart && !c.blockPart);
        const bool simple = c.runs.size() == 1 && !c.separator && !containsBreak(c.text);
        if (mayMerge && simple && last.kind == c.kind && !last.text.isEmpty() && !last.separator) {
            const Run& run = c.runs.front();
            if (c.kind == Command::Inserted && !last.text.endsWith(u'\n')) {
                // The last characters inserted are the buffer's last ones: typing goes on.
                const Run& tail = last.runs.back();
                if (last.position + last.text.size() == c.position &&
                    tail.buffer + tail.length == run.buffer) {
                    last.text += c.text;
                    last.runs.back().length += run.length;
                    return;
                }
            } else if (c.kind == Command::Removed && last.runs.size() == 1 &&
                       !containsBreak(last.text)) {
                Run& lastRun = last.runs.front();
                if (last.position == c.position && lastRun.buffer + lastRun.length == run.buffer) {
                    // Delete, again and again.
                    last.text += c.text;
                    lastRun.length += run.length;
                    return;
                }
                if (c.position + c.text.size() == last.position &&
                    run.buffer + run.length == lastRun.buffer) {
                    // Backspace, again and again; QTextDocument keeps the later command's
                    // way with the cursor.
                    last.text.prepend(c.text);
                    last.position = c.position;
                    last.keepCursor = c.keepCursor;
                    lastRun = {0, lastRun.length + run.length, run.buffer};
                    return;
                }
            }
        }
    }
    commands_.push_back(std::move(c));
    ++state_;
    if (editBlock_ == 0 && state_ > kMaxUndoSteps) {
        // The oldest step goes, all its commands together.
        std::size_t n = 1;
        while (n < state_ && commands_[n - 1].blockPart && !commands_[n - 1].blockEnd)
            ++n;
        commands_.erase(commands_.begin(), commands_.begin() + static_cast<std::ptrdiff_t>(n));
        state_ -= n;
    }
}

std::vector<LogDocument::Run> LogDocument::runsOf(std::int64_t position,
                                                  std::int64_t length) const {
    std::vector<Run> runs;
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), position,
                               [](std::int64_t p, const Piece& q) { return p < q.start; });
    if (it != pieces_.begin())
        --it;
    for (; it != pieces_.end() && it->start < position + length; ++it) {
        const std::int64_t from = std::max(position, it->start);
        const std::int64_t to = std::min(position + length, it->start + it->length);
        if (to > from)
            runs.push_back({from - position, to - from, it->buffer + (from - it->start)});
    }
    return runs;
}

void LogDocument::applyPieces(std::int64_t position, std::int64_t removed,
                              const std::vector<Run>& added) {
    const auto splitAt = [this](std::int64_t at) {
        auto it = std::upper_bound(pieces_.begin(), pieces_.end(), at,
                                   [](std::int64_t p, const Piece& q) { return p < q.start; });
        if (it == pieces_.begin())
            return;
        Piece& before = *(it - 1);
        if (at > before.start && at < before.start + before.length) {
            const Piece tail{at, before.start + before.length - at,
                             before.buffer + at - before.start};
            before.length = at - before.start;
            pieces_.insert(it, tail);
        }
    };
    splitAt(position);
    splitAt(position + removed);
    const auto startsBefore = [](const Piece& q, std::int64_t p) { return q.start < p; };
    auto first = std::lower_bound(pieces_.begin(), pieces_.end(), position, startsBefore);
    auto last = std::lower_bound(first, pieces_.end(), position + removed, startsBefore);
    first = pieces_.erase(first, last);
    std::int64_t addedLength = 0;
    for (const Run& run : added)
        addedLength += run.length;
    for (auto it = first; it != pieces_.end(); ++it)
        it->start += addedLength - removed;
    std::vector<Piece> fresh;
    for (const Run& run : added)
        fresh.push_back({position + run.offset, run.length, run.buffer});
    const auto at = first - pieces_.begin();
    pieces_.insert(first, fresh.begin(), fresh.end());
    // Neighbours that continue each other in the buffer are one piece, as QTextDocument
    // unites its fragments.
    const auto from = static_cast<std::size_t>(std::max<std::ptrdiff_t>(at - 1, 0));
    const std::size_t to =
        std::min(pieces_.size(), static_cast<std::size_t>(at) + fresh.size() + 1);
    std::size_t write = from;
    for (std::size_t read = from; read < pieces_.size(); ++read) {
        if (read > from && read <= to &&
            pieces_[write].start + pieces_[write].length == pieces_[read].start &&
            pieces_[write].buffer + pieces_[write].length == pieces_[read].buffer) {
            pieces_[write].length += pieces_[read].length;
            continue;
        }
        if (read > from)
            pieces_[++write] = pieces_[read];
    }
    pieces_.resize(std::min(pieces_.size(), write + 1));
}

void LogDocument::signalCursor() {
    changedSinceSignal_ = false;
    emit cursorChanged();
}

void LogDocument::changeText(std::int64_t position, std::int64_t removedLength, QStringView added) {
    cursorKept_ = (std::exchange(changedSinceSignal_, true) ? cursorKept_ : true) &&
                  std::exchange(keepingCursor_, false);
    emit contentsAboutToChange(position);
    const LogPosition from = store_.positionAt(position);
    const LogPosition to = store_.positionAt(position + removedLength);
    const QString removed = store_.text(from, to);
    store_.replace(from, to, added);
    emit contentsChange(position, removed, added.size());
}

void LogDocument::insertAt(std::int64_t position, QStringView text, std::vector<Run> runs) {
    if (text.isEmpty())
        return;
    changeText(position, 0, text);
    applyPieces(position, 0, runs);
    Command c;
    c.kind = Command::Inserted;
    c.position = position;
    c.text = text.toString();
    c.runs = std::move(runs);
    c.separator = text == u"\n";
    record(std::move(c));
    const LogPosition after = store_.positionAt(position + text.size());
    setCursorSilently(after, after);
}

void LogDocument::removeAt(std::int64_t position, std::int64_t length, bool single) {
    if (length <= 0)
        return;
    const bool keepCursor = keepingCursor_;
    const std::vector<Run> runs = runsOf(position, length);
    const QString text =
        store_.text(store_.positionAt(position), store_.positionAt(position + length));
    changeText(position, length, {});
    applyPieces(position, length, {});
    if (!single) {
        Command c;
        c.kind = Command::Removed;
        c.position = position;
        c.text = text;
        c.runs = runs;
        c.keepCursor = keepCursor;
        record(std::move(c));
    } else {
        // QTextDocument records a removal fragment by fragment, each line break apart.
        for (const Run& run : runs) {
            std::int64_t i = run.offset;
            while (i < run.offset + run.length) {
                std::int64_t j = i;
                if (text[i] == u'\n') {
                    ++j;
                } else {
                    while (j < run.offset + run.length && text[j] != u'\n')
                        ++j;
                }
                Command c;
                c.kind = Command::Removed;
                c.position = position;
                c.text = text.mid(i, j - i);
                c.runs = {{0, j - i, run.buffer + (i - run.offset)}};
                c.separator = c.text == u"\n";
                c.keepCursor = keepCursor;
                record(std::move(c));
                i = j;
            }
        }
    }
    const LogPosition at = store_.positionAt(position);
    setCursorSilently(at, at);
}

void LogDocument::removeSelection() {
    if (!hasSelection())
        return;
    const std::int64_t from = store_.offsetOf(selectionStart());
    keepingCursor_ = cursor_ < anchor_;
    removeAt(from, store_.offsetOf(selectionEnd()) - from, editBlock_ == 0);
}

// QTextCursor::insertText: the whole text goes to the buffer first, and each line break
// is added after it, so that typing goes on merging only after text without breaks.
void LogDocument::insertTyped(QStringView text) {
    const std::int64_t position = store_.offsetOf(cursor_);
    std::vector<Run> runs;
    std::int64_t breaks = bufferEnd_ + text.size();
    qsizetype segment = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u'\n')
            continue;
        if (i > segment)
            runs.push_back({segment, i - segment, bufferEnd_ + segment});
        if (i < text.size())
            runs.push_back({i, 1, breaks++});
        segment = i + 1;
    }
    bufferEnd_ = breaks;
    insertAt(position, text, std::move(runs));
}

void LogDocument::insertText(QStringView text) {
    const bool block = hasSelection() || text.contains(u'\n');
    if (block)
        beginBlock();
    removeSelection();
    insertTyped(text);
    if (block)
        endBlock();
    signalCursor();
}

// QWidgetTextControl resets the formats of an empty line before it breaks it (a second
// Return ends a list there): the selected lines and characters are restyled, each an undo
// step of its own, as QTextDocument records them.
void LogDocument::restyleSelection() {
    const LogPosition start = selectionStart(), end = selectionEnd();
    beginBlock();
    Command lines;
    lines.kind = Command::BlockFormatChanged;
    lines.position = store_.offsetOf({start.line, 0});
    lines.linesEnd = store_.offsetOf({end.line, store_.lineLength(end.line)}) + 1;
    record(std::move(lines));
    endBlock();
    if (!hasSelection())
        return;
    // QTextDocument records a command for each of its fragments (pieces of its buffer, every
    // line break a fragment of its own); only the first and the last place the caret.
    Command characters;
    characters.kind = Command::CharFormatChanged;
    const std::int64_t from = store_.offsetOf(start), to = store_.offsetOf(end);
    characters.position = from;
    // The piece that holds the character at an offset.
    const auto piece = [this](std::int64_t offset) {
        const auto it =
            std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                             [](std::int64_t p, const Piece& q) { return p < q.start; });
        return it == pieces_.begin() ? Piece{offset, 1, 0} : *(it - 1);
    };
    const std::int64_t firstEnd =
        start.column == store_.lineLength(start.line)
            ? from + 1
            : std::min({piece(from).start + piece(from).length, to,
                        from + store_.lineLength(start.line) - start.column});
    const std::int64_t lastStart =
        end.column == 0 ? to - 1 : std::max({piece(to - 1).start, from, to - end.column});
    characters.runs = {{0, firstEnd - from, 0}, {lastStart - from, to - lastStart, 0}};
    beginBlock();
    record(std::move(characters));
    endBlock();
}

void LogDocument::insertLineBreak() {
    if (store_.lineLength(cursor_.line) == 0)
        restyleSelection();
    beginBlock();
    removeSelection();
    insertAt(store_.offsetOf(cursor_), u"\n", {{0, 1, bufferEnd_++}});
    endBlock();
    signalCursor();
}

void LogDocument::insertFragment(QStringView text) {
    if (text.isEmpty())
        return;
    beginBlock();
    removeSelection();
    if (cursor_ == LogPosition{} && !text.startsWith(u'\n')) {
        Command format;
        format.kind = Command::BlockFormatChanged;
        format.linesEnd = store_.lineLength(0) + 1;
        record(std::move(format));
    }
    // A fragment is copied piece by piece, each appended to the buffer in turn.
    insertAt(store_.offsetOf(cursor_), text, {{0, text.size(), bufferEnd_}});
    bufferEnd_ += text.size();
    endBlock();
    signalCursor();
}

void LogDocument::commitText(QStringView text) {
    beginBlock(store_.offsetOf(cursor_));
    removeSelection();
    insertTyped(text);
    endBlock();
    signalCursor();
}

void LogDocument::moveSelection(LogPosition target) {
    if (!hasSelection())
        return;
    const QString text = selectedText();
    std::int64_t at = store_.offsetOf(snapped(target));
    const std::int64_t from = store_.offsetOf(selectionStart());
    const std::int64_t to = store_.offsetOf(selectionEnd());
    beginBlock(at);
    removeSelection();
    if (at >= to)
        at -= to - from;
    else if (at > from)
        at = from;
    const LogPosition p = store_.positionAt(at);
    setCursorSilently(p, p);
    insertAt(at, text, {{0, text.size(), bufferEnd_}});
    bufferEnd_ += text.size();
    endBlock();
    signalCursor();
}

void LogDocument::replaceText(LogPosition from, LogPosition to, QStringView text) {
    setCursorSilently(snapped(to), snapped(from));
    insertText(text);
}

void LogDocument::removeSelectedText() {
    if (!hasSelection())
        return;
    beginBlock();
    removeSelection();
    endBlock();
    signalCursor();
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
    const std::int64_t start = store_.offsetOf(from);
    removeAt(start, store_.offsetOf(cursor_) - start, true);
    signalCursor();
}

void LogDocument::deleteNextCharacter() {
    if (hasSelection())
        return removeSelectedText();
    const std::int64_t start = store_.offsetOf(cursor_);
    keepingCursor_ = true;
    removeAt(start, store_.offsetOf(moved(cursor_, Move::NextCharacter)) - start, true);
    signalCursor();
}

void LogDocument::deletePreviousWord() {
    if (!hasSelection())
        setCursorSilently(moved(cursor_, Move::PreviousWord), cursor_);
    removeSelectedText();
}

void LogDocument::deleteNextWord() {
    if (!hasSelection())
        setCursorSilently(moved(cursor_, Move::NextWord), cursor_);
    removeSelectedText();
}

void LogDocument::deleteToEndOfLine() {
    // As QWidgetTextControl: from the character before the line's end, one step right;
    // otherwise to the end of the line. The anchor stays where it is.
    const std::int32_t length = store_.lineLength(cursor_.line);
    const LogPosition to = cursor_.column == length - 1 ? moved(cursor_, Move::Right)
                                                        : LogPosition{cursor_.line, length};
    setCursorSilently(to, anchor_);
    removeSelectedText();
}

void LogDocument::undoRedo(bool undo) {
    if ((undo && state_ == 0) || (!undo && state_ == commands_.size()))
        return;
    std::int64_t editPosition = -1;
    std::int64_t editLength = -1;
    std::int64_t changedUpTo = 0;
    undoing_ = undo;
    for (;;) {
        if (undo)
            --state_;
        Command& c = commands_[state_];
        switch (c.kind) {
        case Command::Inserted:
            changeText(c.position, c.text.size(), {});
            applyPieces(c.position, c.text.size(), {});
            c.kind = Command::Removed;
            editPosition = c.position;
            editLength = 0;
            break;
        case Command::Removed:
            insertionKeepsCursors_ = c.keepCursor;
            changeText(c.position, 0, c.text);
            insertionKeepsCursors_ = false;
            applyPieces(c.position, 0, c.runs);
            c.kind = Command::Inserted;
            if (editPosition != c.position)
                editLength = 0;
            editPosition = c.position;
            editLength += c.text.size();
            break;
        case Command::CursorMoved:
            editPosition = c.position;
            editLength = 0;
            break;
        case Command::BlockFormatChanged:
            // Lines changed as a whole: the caret goes after them, unless a later command of
            // the step places it.
            editPosition = -1;
            changedUpTo = std::max(changedUpTo, c.linesEnd);
            break;
        case Command::CharFormatChanged: {
            // After the fragment restyled last: the first on undo, the last on redo.
            const Run& run = undo ? c.runs.front() : c.runs.back(); // both recorded
            editPosition = c.position + run.offset;
            editLength = run.length;
            break;
        }
        }
        if (!undo)
            ++state_;
        const bool inBlock = state_ > 0 && state_ < commands_.size() &&
                             commands_[state_].blockPart && commands_[state_ - 1].blockPart &&
                             !commands_[state_ - 1].blockEnd;
        if (!inBlock)
            break;
    }
    undoing_ = false;
    const LogPosition at =
        store_.positionAt(editPosition >= 0 ? editPosition + editLength
                                            : std::min(changedUpTo, store_.characterCount()));
    setCursorSilently(at, at);
    signalCursor();
}

void LogDocument::undo() {
    undoRedo(true);
}

void LogDocument::redo() {
    undoRedo(false);
}

void LogDocument::setPlainText(QStringView text) {
    emit contentsAboutToChange(0);
    const QString removed = store_.text();
    store_.replace({0, 0}, store_.end(), text);
    commands_.clear();
    state_ = 0;
    pieces_.clear();
    if (!text.isEmpty())
        pieces_.push_back({0, text.size(), 0});
    bufferEnd_ = text.size();
    setCursorSilently({0, 0}, {0, 0});
    cursorKept_ = false; // a new text and a caret at its start
    emit contentsChange(0, removed, text.size());
    signalCursor();
    emit textReset();
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
    if (appended > 0) {
        applyPieces(position, 0, {{0, store_.characterCount() - position, bufferEnd_}});
        bufferEnd_ += store_.characterCount() - position;
        emit contentsChange(position, QString(), store_.characterCount() - position);
    }
    return appended;
}

std::int64_t LogDocument::appendReadings(std::span<const float> values,
                                         std::span<const std::int64_t> timesMs,
                                         std::span<const std::uint8_t> lengths,
                                         QStringView separator, std::int64_t* inReadings) {
    const std::int64_t position = store_.characterCount();
    const std::int64_t appended =
        store_.appendReadings(values.data(), timesMs.data(), lengths.data(),
                              static_cast<std::int64_t>(values.size()), separator, inReadings);
    if (appended > 0) {
        // Not the user's: new characters of the buffer that no typing continues.
        applyPieces(position, 0, {{0, store_.characterCount() - position, bufferEnd_}});
        bufferEnd_ += store_.characterCount() - position;
        emit contentsChange(position, QString(), store_.characterCount() - position);
    }
    return appended;
}

} // namespace velt
