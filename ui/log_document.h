#pragma once
// LogDocument, the log's model: its text in a LogStore, the caret and the selection
// anchor, the user's editing commands with their undo history, and readings appended as
// new last lines. It knows nothing of widgets, fonts or painting; the view and the
// accessible interface follow it through contentsChange and cursorChanged.
//
// Caret moves stop where QPlainTextEdit's do: characters step by grapheme cluster
// (QTextBoundaryFinder), words by the rule of QTextLayout::SkipWords, and a line break
// is one stop. Readings never move the caret and never enter the undo history.

#include "ui/log_store.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>
#include <vector>

namespace velt {

class LogDocument : public QObject {
    Q_OBJECT
public:
    enum class Move {
        NextCharacter,
        PreviousCharacter,
        NextWord,
        PreviousWord,
        // Left and Right follow the direction of the caret's line: in a right-to-left
        // line, Left goes forward.
        Left,
        Right,
        WordLeft,
        WordRight,
        StartOfLine,
        EndOfLine,
        Start,
        End,
    };

    explicit LogDocument(QObject* parent = nullptr);
    ~LogDocument() override;

    const LogStore& store() const { return store_; }
    QString toPlainText() const { return store_.text(); }
    std::int64_t characterCount() const { return store_.characterCount(); }

    LogPosition cursor() const { return cursor_; }
    LogPosition anchor() const { return anchor_; }
    bool hasSelection() const { return cursor_ != anchor_; }
    LogPosition selectionStart() const { return std::min(cursor_, anchor_); }
    LogPosition selectionEnd() const { return std::max(cursor_, anchor_); }
    QString selectedText() const { return store_.text(selectionStart(), selectionEnd()); }

    // Positions are clamped into the text and never left inside a surrogate pair.
    void setCursor(LogPosition position, bool keepAnchor = false);
    void select(LogPosition anchor, LogPosition cursor);
    void selectAll();
    void move(Move move, bool keepAnchor);
    LogPosition moved(LogPosition from, Move move) const;
    // The word around a position, as a double click selects it.
    std::pair<LogPosition, LogPosition> wordAt(LogPosition position) const;
    bool isRightToLeft(std::int64_t line) const;

    // The user's edits; each is recorded for undo. Typed text and runs of deletions in one
    // direction merge into one undo step, as in QPlainTextEdit.
    void insertText(QStringView text); // replaces the selection
    void replaceText(LogPosition from, LogPosition to, QStringView text);
    void removeSelectedText();
    void deletePreviousCharacter(); // Backspace: one code point, both halves of a pair
    void deleteNextCharacter();     // Delete: one grapheme cluster
    void deletePreviousWord();
    void deleteNextWord();
    void deleteToEndOfLine();
    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    void undo();
    void redo();

    // Replaces the whole text and forgets the undo history; the caret goes to the start.
    void setPlainText(QStringView text);

    // Readings: new last lines, below whatever the user typed. Returns how many were
    // appended, in order: fewer when memory ran out, and then the rest are not.
    qsizetype appendLines(const QStringList& lines);
    // The same for readings' lines, kept as readings (see LogStore::appendReadings).
    std::int64_t appendReadings(std::span<const float> values,
                                std::span<const std::uint8_t> lengths, char16_t separator);
    LogStore& storeForTesting() { return store_; }

signals:
    // Characters from `position` on: `removed` went, `added` characters came. One signal a
    // change, after the store holds the new text.
    void contentsChange(std::int64_t position, const QString& removed, std::int64_t added);
    // The caret or the anchor moved.
    void cursorChanged();

private:
    enum class EditKind { Typing, DeleteBackward, DeleteForward, Other };
    struct Edit {
        std::int64_t position = 0;
        QString removed;
        QString inserted;
        EditKind kind = EditKind::Other;
    };

    LogPosition snapped(LogPosition p) const;
    void edit(LogPosition from, LogPosition to, QStringView text, EditKind kind);
    void apply(const Edit& edit, bool backwards);
    void setCursorSilently(LogPosition cursor, LogPosition anchor);

    LogStore store_;
    LogPosition cursor_;
    LogPosition anchor_;
    std::vector<Edit> undo_;
    std::vector<Edit> redo_;
};

} // namespace velt
