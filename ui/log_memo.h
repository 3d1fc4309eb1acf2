#pragma once
// TLogMemo, the window's log: an ordinary editable multi-line text control whose text
// lives in a LogStore, so that millions of lines cost tens of bytes each and an append
// costs the same however long the log is. Only the lines in view are laid out and
// painted, all of one height. Readings are appended below whatever the user typed and
// never enter the undo history; the user's own edits undo and redo as usual.

#include "ui/log_store.h"

#include <QAbstractScrollArea>
#include <QStringList>

#include <vector>

class QMenu;

class TLogMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TLogMemo(QWidget* parent = nullptr);
    ~TLogMemo() override;

    // New last lines that are not the user's edits. The newest is brought into view only
    // when the view was already at the bottom.
    void appendLines(const QStringList& lines);

    const LogStore& store() const { return store_; }
    QString toPlainText() const { return store_.text(); }

    LogPosition cursorPosition() const { return caret_; }
    LogPosition anchorPosition() const { return anchor_; }
    void setCursorPosition(LogPosition position, bool keepAnchor = false);
    bool hasSelection() const { return caret_ != anchor_; }
    QString selectedText() const { return store_.text(anchor_, caret_); }
    void selectAll();

    // The user's edits: recorded for undo.
    void replaceText(LogPosition from, LogPosition to, QStringView text);
    void insertText(QStringView text); // replaces the selection
    void undo();
    void redo();
    int undoSteps() const { return static_cast<int>(undo_.size()); }
    int redoSteps() const { return static_cast<int>(redo_.size()); }

    void copy() const;
    void cut();
    void paste();

    // The right-click menu: undo, redo, cut, copy, paste, delete, select all. The caller
    // owns it.
    QMenu* createStandardContextMenu();

    // Viewport geometry, for hit tests and accessibility.
    QRect characterRect(LogPosition position) const;
    LogPosition positionAt(QPoint viewportPoint) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Edit {
        LogPosition from;
        QString removed;
        QString inserted;
        LogPosition caretBefore;
        LogPosition anchorBefore;
    };

    enum class Move {
        Left,
        Right,
        WordLeft,
        WordRight,
        Up,
        Down,
        PageUp,
        PageDown,
        LineStart,
        LineEnd,
        Start,
        End
    };

    LogPosition moved(LogPosition from, Move move) const;
    int visibleLines() const;
    int textLeft() const;
    double advance(std::int64_t line, std::int32_t column) const;
    void updateScrollBars();
    void ensureCaretVisible();
    void afterCaretMove();
    void afterEdit(LogPosition from);
    void replay(std::vector<Edit>& from, std::vector<Edit>& to, bool backwards);
    void noteWidth(QStringView line);

    LogStore store_;
    LogPosition caret_;
    LogPosition anchor_;
    std::int32_t preferredColumn_ = -1;
    std::vector<Edit> undo_;
    std::vector<Edit> redo_;
    int lineHeight_ = 1;
    qsizetype widestChars_ = 0;
    int widestPixels_ = 0;
};
