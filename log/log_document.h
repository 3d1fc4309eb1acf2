#pragma once
// LogDocument, the log's model: its text in a LogStore, the caret and the selection
// anchor, the user's editing commands with their undo history, and readings appended as
// new last lines. It knows nothing of widgets, fonts or painting; the view and the
// accessible interface follow it through contentsChange and cursorChanged.
//
// Caret moves stop where QPlainTextEdit's do: characters step by grapheme cluster
// (QTextBoundaryFinder), words by the rule of QTextLayout::SkipWords, and a line break
// is one stop. Readings never move the caret and never enter the undo history.

#include "log/log_store.h"

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

    // The user's edits, as QWidgetTextControl makes them on a QTextCursor, each recorded
    // for undo as QTextDocument records it (see the undo section of the source).
    void insertText(QStringView text); // typing; replaces the selection
    void insertLineBreak();            // Return
    // Paste, drop and middle click: one undo step with the selection it replaces.
    void insertFragment(QStringView text);
    // An input method's commit: one undo step, whose undo puts the caret back.
    void commitText(QStringView text);
    // Moves the selected text to `target` (a drag within the log): one undo step.
    void moveSelection(LogPosition target);
    void replaceText(LogPosition from, LogPosition to, QStringView text);
    void removeSelectedText();
    void deletePreviousCharacter(); // Backspace: one code point, both halves of a pair
    void deleteNextCharacter();     // Delete: one grapheme cluster
    void deletePreviousWord();
    void deleteNextWord();
    void deleteToEndOfLine();
    bool canUndo() const { return state_ > 0; }
    bool canRedo() const { return state_ < commands_.size(); }
    void undo();
    void redo();

    // Replaces the whole text and forgets the undo history; the caret goes to the start.
    void setPlainText(QStringView text);

    // Readings: new last lines, below whatever the user typed. Returns how many were
    // appended, in order: fewer when memory ran out, and then the rest are not.
    qsizetype appendLines(const QStringList& lines);
    // The same for readings' lines, kept as readings (see LogStore::appendReadings).
    std::int64_t appendReadings(std::span<const float> values,
                                std::span<const std::int64_t> timesMs,
                                std::span<const std::uint8_t> lengths, QStringView separator,
                                std::int64_t* inReadings = nullptr);
    // Readings that never reached the log: a gap in the store's readings().
    void markReadingsMissing() { store_.markReadingsMissing(); }
    LogStore& storeForTesting() { return store_; }
    // True where the last edit only removed text from the cursor on with the cursor before
    // its anchor: QTextCursor then calls the cursor unmoved, and a text edit tells of no
    // move of it (a page move keeps the caret's height in the view from before).
    bool cursorKeptByLastEdit() const { return cursorKept_; }
    // While contentsChange is emitted: true where a cursor that stands where the change
    // inserts stays before the text (undoing a removal that kept the cursor), as
    // QTextCursor keeps it; otherwise such a cursor moves after it.
    bool insertionKeepsCursors() const { return insertionKeepsCursors_; }
    // While contentsChange is emitted: true where the change undoes an edit. QTextDocument
    // splits and joins its blocks the other way round then, which a view that keeps
    // something a line follows as QPlainTextEdit keeps it a block needs to know.
    bool undoing() const { return undoing_; }

signals:
    // A user's edit or an undo is about to change the text from `position` on.
    void contentsAboutToChange(std::int64_t position);
    // Characters from `position` on: `removed` went, `added` characters came. One signal a
    // change, after the store holds the new text.
    void contentsChange(std::int64_t position, const QString& removed, std::int64_t added);
    // setPlainText replaced the whole text: views start afresh.
    void textReset();
    // The caret or the anchor moved.
    void cursorChanged();

private:
    void signalCursor();
    // The undo history, kept as QTextDocument keeps it, so that the same edits merge into
    // the same steps: a command per insertion or removal, where consecutive typing and
    // consecutive deletions merge only where QTextDocument's would (adjacent in the text
    // and in its append-only buffer of inserted characters); an edit block groups the
    // commands of one step.
    struct Run {
        std::int64_t offset; // in the command's text
        std::int64_t length;
        std::int64_t buffer; // where QTextDocument's buffer holds these characters
    };
    struct Command {
        // Restyled lines and characters: a paste at the log's start restyles the first
        // line, Return on an empty line the lines and characters it selects. Nothing
        // changes here, but undone or redone they move the caret their own way.
        enum Kind {
            Inserted,
            Removed,
            CursorMoved,
            BlockFormatChanged,
            CharFormatChanged
        } kind = Inserted;
        std::int64_t position = 0;
        std::int64_t linesEnd = 0; // BlockFormatChanged: after the last line's break
        QString text;
        std::vector<Run> runs;
        bool separator = false; // a lone line break: never merges
        // A removal that kept the cursor (QTextCursor's KeepCursor): undoing it inserts
        // the text with cursors where it starts staying there.
        bool keepCursor = false;
        bool blockPart = false;
        bool blockEnd = false;
    };
    // Characters of the text, by offset, and where the buffer holds them.
    struct Piece {
        std::int64_t start;
        std::int64_t length;
        std::int64_t buffer;
    };

    LogPosition snapped(LogPosition p) const;
    void setCursorSilently(LogPosition cursor, LogPosition anchor);
    void beginBlock(std::int64_t cursorForUndo = -1);
    void endBlock();
    void record(Command command);
    void insertAt(std::int64_t position, QStringView text, std::vector<Run> runs);
    std::vector<Run> runsOf(std::int64_t position, std::int64_t length) const;
    void removeAt(std::int64_t position, std::int64_t length, bool single);
    void insertTyped(QStringView text);
    void applyPieces(std::int64_t position, std::int64_t removed, const std::vector<Run>& added);
    void changeText(std::int64_t position, std::int64_t removedLength, QStringView added);
    void undoRedo(bool undo);
    void removeSelection();
    void restyleSelection();

    LogStore store_;
    LogPosition cursor_;
    LogPosition anchor_;
    std::vector<Command> commands_;
    std::size_t state_ = 0;
    std::vector<Piece> pieces_;
    std::int64_t bufferEnd_ = 0;
    int editBlock_ = 0;
    std::int64_t editBlockCursor_ = -1;
    bool changedSinceSignal_ = false;
    bool keepingCursor_ = false; // the change under way keeps the cursor
    bool cursorKept_ = false;
    bool insertionKeepsCursors_ = false;
    bool undoing_ = false;
};

} // namespace velt
