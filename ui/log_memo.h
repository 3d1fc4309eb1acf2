#pragma once
// TLogMemo, the window's log: an ordinary editable multi-line text control over a
// velt::LogDocument, split as QPlainTextEdit is over its text control. The document holds the
// text, caret, selection and undo history; this view lays out and paints only the lines
// in view, each through a cached QTextLayout, so caret, selection and hit testing follow
// Qt's bidirectional and grapheme rules and long lines wrap at the widget's width.
// Geometry, scrolling, mouse and keys follow QPlainTextEdit's rules step by step: the
// vertical scroll bar counts rows, a line's rows are learnt when it is laid out (one until
// then, as QPlainTextEdit counts them), so millions of one-row lines need no layout.
// Readings are appended below whatever the user typed; the view follows the newest line
// only while it is at the bottom.

#include "log/log_document.h"
#include "ui/log_rows.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>
#include <QPointer>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QMimeData;
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
                                std::span<const std::int64_t> timesMs,
                                std::span<const std::uint8_t> lengths, QStringView separator,
                                std::int64_t* inReadings = nullptr);

    void copy() const;
    void cut();
    void paste();
    void undo();
    void redo();
    void selectAll();
    // The right-click menu: undo, redo, cut, copy, paste, delete, select all. The caller
    // owns it.
    QMenu* createStandardContextMenu();
    // Shown below the standard entries of the right-click menu.
    void setExtraContextActions(const QList<QAction*>& actions) { extraActions_ = actions; }
    // Selects a whole line and scrolls to it.
    void selectLine(std::int64_t line);

    // Viewport geometry: the caret's rectangle, the box of the grapheme at a position
    // (empty past a line's end), and the position nearest to a point.
    QRect cursorRect() const;
    QRectF characterRect(velt::LogPosition position) const;
    velt::LogPosition positionAt(QPoint viewportPoint) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A selection remembered by a double or triple click, which later shift-clicks and
    // drags extend by words or lines. Kept as offsets that follow the user's edits, and
    // with the caret's x of when it was made, as a QTextCursor keeps them.
    struct Span {
        std::int64_t anchor = 0;
        std::int64_t cursor = 0;
        qreal x = -1; // the caret's x for Up and Down when the span is selected again
        bool selects() const { return anchor != cursor; }
        void follow(std::int64_t position, std::int64_t removed, std::int64_t added, bool keep);
    };
    struct Selection {
        velt::LogPosition anchor;
        velt::LogPosition cursor;
        velt::LogPosition start() const { return std::min(anchor, cursor); }
        velt::LogPosition end() const { return std::max(anchor, cursor); }
    };
    Selection resolved(const Span& span) const;
    Span spanOf(velt::LogPosition anchor, velt::LogPosition cursor) const;

    QTextLayout* layoutOf(std::int64_t line) const;
    void rememberCaretX();
    bool learnRows(std::int64_t line, int rows) const;
    bool learnWidth(std::int64_t line, qreal width) const;
    void adjustHorizontalBar() const;
    int horizontalOffset() const;
    qreal textLeft() const;
    QPoint contentsPoint(QPointF viewportPoint) const;
    void trimLayouts();
    qreal boxHeight(std::int64_t line) const;
    qreal verticalOffset(std::int64_t line, int row) const;
    qreal verticalOffset() const;
    std::optional<qreal> boxTop(std::int64_t line) const;
    velt::LogPosition hitTest(QPoint contentsPoint) const;
    QRectF caretRect(velt::LogPosition position) const;
    void setTopLine(std::int64_t row);
    void setTopBlock(std::int64_t line, int row);
    void ensureVisible(velt::LogPosition position);
    void ensureCursorVisible();
    void adjustScrollBars();
    void pageUpDown(int direction, bool select);
    bool moveRow(int direction, bool keepAnchor);
    velt::LogPosition rowEdge(velt::LogPosition from, bool end) const;
    bool handleMove(QKeyEvent* event);
    void documentChanged(std::int64_t position, const QString& removed, std::int64_t added);
    void cursorMoved();
    void finishEdit();
    void askWhereToRepaint(std::int64_t firstLine, std::int64_t lastLine);
    std::int64_t rowsInView() const;
    void followNewest();
    void followLineWidths(std::int64_t firstLine, std::int64_t removedLines,
                          std::int64_t addedLines);
    void forgetLayouts(std::int64_t fromLine = 0);
    void restartBlinking();
    void setClipboardSelection();
    void keepPrimaryText(std::int64_t position);
    void setCursorPosition(velt::LogPosition position, bool keepAnchor = false);
    void extendWordwise(velt::LogPosition position, qreal x);
    void extendBlockwise(velt::LogPosition position);
    void insertFromMimeData(const QMimeData* data);
    void startDrag();

    velt::LogDocument* document_;
    mutable std::map<std::int64_t, std::unique_ptr<QTextLayout>> layouts_;
    mutable velt::LogRows rows_;
    mutable bool rowsChanged_ = false; // a layout within an adjustment learnt new rows
    // As QPlainTextEdit's layout finds it: the widest line laid out since the width last
    // changed (a line can come out a pixel or two wider than its wrap width), and the
    // widths of the lines laid out, among which the next widest is looked for where the
    // widest narrows. QPlainTextEdit keeps every line's; the widest kWidthsKept give the
    // same answer while any of them stays laid out, and millions of readings' lines
    // need not be kept.
    static constexpr std::size_t kWidthsKept = 64;
    mutable qreal widest_ = 0;
    mutable std::int64_t widestLine_ = 0;
    mutable std::map<std::int64_t, qreal> widths_;
    mutable bool trimScheduled_ = false;
    bool adjusting_ = false;
    // The edit under way, as QTextDocument tells its layout of it when it is whole.
    struct Edit {
        std::int64_t from = 0;
        std::int64_t removed = 0;
        std::int64_t added = 0;
        std::int64_t linesBefore = 0;
        void follow(std::int64_t at, std::int64_t addedOrRemoved);
    };
    std::optional<Edit> edit_;
    std::int64_t topLine_ = 0;
    int topRow_ = 0;
    qreal topFraction_ = 0;
    bool followScheduled_ = false;
    bool wasAtBottom_ = true;
    bool following_ = false; // scrolling to new readings
    bool appending_ = false;
    std::int64_t firstUnpainted_ = -1; // first appended line not painted yet
    qreal preferredX_ = -1;            // kept across vertical moves, as QTextCursor keeps its x
    bool keepX_ = false;
    bool selectingAll_ = false; // QWidgetTextControl's selectAll tells of no cursor move
    std::optional<qreal> pageCaretY_;
    std::int64_t cursorOffset_ = 0;
    QString preedit_;
    int preeditCursor_ = 0;
    bool cursorShown_ = false;
    QBasicTimer blinkTimer_;
    QBasicTimer tripleClickTimer_;
    QPoint tripleClickPoint_; // in contentsPoint()'s coordinates
    QBasicTimer autoScrollTimer_;
    QPoint lastMousePoint_;
    QPoint mousePressPoint_;
    bool mousePressed_ = false;
    bool mightStartDrag_ = false;
    Span wordOnDoubleClick_;
    Span lineOnTripleClick_;
    velt::LogPosition lastSelectionStart_;
    velt::LogPosition lastSelectionEnd_;
    QPointer<QMimeData> primary_; // what this log last put in PRIMARY
    QList<QAction*> extraActions_;
};
