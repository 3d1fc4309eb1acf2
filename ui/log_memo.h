#pragma once
// TLogMemo, the window's log: an ordinary editable multi-line text control over a
// velt::LogDocument, split as QPlainTextEdit is over its text control. The document holds the
// text, caret, selection and undo history; this view lays out and paints only the lines
// in view, each through a cached QTextLayout, so caret, selection and hit testing follow
// Qt's bidirectional and grapheme rules and long lines wrap at the widget's width. The
// vertical scroll bar counts lines, so millions of one-row lines need no layout.
// Readings are appended below whatever the user typed; the view follows the newest line
// only while it is at the bottom.

#include "ui/log_document.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>
#include <QStringList>

#include <map>
#include <memory>

class QMenu;
class QTextLayout;

class TLogMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TLogMemo(QWidget* parent = nullptr);
    ~TLogMemo() override;

    velt::LogDocument& document() { return *document_; }
    const velt::LogDocument& document() const { return *document_; }
    const velt::LogStore& store() const { return document_->store(); }
    QString toPlainText() const { return document_->toPlainText(); }

    // New last lines that are not the user's edits; returns how many fitted in memory.
    qsizetype appendLines(const QStringList& lines);
    std::int64_t appendReadings(std::span<const float> values,
                                std::span<const std::uint8_t> lengths, char16_t separator);

    void copy() const;
    void cut();
    void paste();
    void undo() { document_->undo(); }
    void redo() { document_->redo(); }
    void selectAll() { document_->selectAll(); }
    // The right-click menu: undo, redo, cut, copy, paste, delete, select all. The caller
    // owns it.
    QMenu* createStandardContextMenu();

    // Viewport geometry: the caret's rectangle, the box of the grapheme at a position
    // (empty past a line's end), and the position nearest to a point.
    QRect cursorRect() const;
    QRectF characterRect(velt::LogPosition position) const;
    velt::LogPosition positionAt(QPoint viewportPoint) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QTextLayout* layoutOf(std::int64_t line) const;
    qreal heightOf(std::int64_t line) const;
    int rowsInView() const;
    qreal lineTop(std::int64_t line) const; // viewport y; only for lines from the first shown
    velt::LogPosition verticalMove(velt::LogPosition from, int rows, bool clampAtEnds);
    velt::LogPosition rowEdge(velt::LogPosition from, bool end) const;
    bool handleMove(QKeyEvent* event);
    void documentChanged(std::int64_t position, const QString& removed, std::int64_t added);
    void cursorMoved();
    void updateScrollBars();
    void scheduleScrollBars();
    void ensureCursorVisible();
    void forgetLayouts(std::int64_t fromLine = 0);
    void restartBlinking();
    void selectionToPrimary() const;
    void extendSelectionTo(QPoint viewportPoint);

    velt::LogDocument* document_;
    mutable std::map<std::int64_t, std::unique_ptr<QTextLayout>> layouts_;
    bool scrollBarsScheduled_ = false;
    bool appending_ = false;
    std::int64_t firstUnpainted_ = -1; // first appended line not painted yet
    bool followNewest_ = true;
    qreal preferredX_ = -1; // kept across vertical moves, as in QPlainTextEdit
    QString preedit_;
    int preeditCursor_ = 0;
    bool cursorShown_ = false;
    QBasicTimer blinkTimer_;
    QBasicTimer tripleClickTimer_;
    QPoint tripleClickPoint_;
    QBasicTimer autoScrollTimer_;
    QPoint lastMousePoint_;
    bool selecting_ = false;
    velt::LogPosition lastSelectionStart_;
    velt::LogPosition lastSelectionEnd_;
};
