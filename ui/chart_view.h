#pragma once
// The chart of every reading since start, in a window of its own, "Průběh teploty":
// arrival time across (local clock), temperature up, the running average as a second
// line. Each device-pixel column draws the first, lowest, highest and last of its readings
// (the M4 rule), read from the series' summaries: a repaint costs the columns, not the
// readings, and no spike is ever hidden. Zoomed in far enough each reading is also a
// point. While the right edge shows "now" (or the whole run) the view follows new
// readings, as the log follows at its bottom; otherwise new readings do not move it.

#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QPainter;
class QTimer;

namespace velt {
class ReadingSeries;

// Where the chart puts a reading: device-pixel column by arrival time and row by value.
struct ChartMapping {
    double startMs = 0;      // time at the left edge of column 0
    double msPerColumn = 1;  // the columns' width in time
    double bottomValue = 0;  // value at the bottom edge of the plot
    double valuesPerRow = 1; // the rows' height in value
    int rows = 1;            // the plot's height in device pixels
    double column(std::int64_t timeMs) const;
    double row(double value) const;
    // The first whole millisecond whose column is at or right of `column`.
    std::int64_t firstTimeOf(double column) const;
};

// The readings that fall in each column shown, found once for both lines.
struct ChartColumns {
    struct Run {
        double column;
        std::int64_t from, to; // readings [from, to)
        bool brokenAfter;      // a gap follows
    };
    std::vector<Run> runs;
    std::int64_t before = -1; // the reading the line comes in from, if any
    std::int64_t after = -1;  // the reading it goes out to
};
ChartColumns columnsOf(const ReadingSeries& series, const ChartMapping& mapping, int columns);

// Draws the readings (or their running average) as the chart does, in device pixels, with
// the painter's pen, over `columns` columns; what lies left and right of them only as the
// lines that come in and go out. Gaps (readings lost for want of memory) break the line.
void drawSeries(QPainter& painter, const ReadingSeries& series, const ChartMapping& mapping,
                const ChartColumns& columns, bool average);
void drawSeries(QPainter& painter, const ReadingSeries& series, const ChartMapping& mapping,
                int columns, bool average);
} // namespace velt

class TChartPlot : public QWidget {
    Q_OBJECT
public:
    explicit TChartPlot(const velt::ReadingSeries& series, QWidget* parent = nullptr);

    // After each batch of readings; repaints at most five times a second.
    void readingsAdded();
    void showWholeRun(); // Home
    void follow();       // End
    // Zooms time by `factor` (< 1 zooms in) around x (widget coordinates).
    void zoom(double factor, double x);
    void pan(double pixels);
    void setAverageShown(bool shown);
    bool averageShown() const { return averageShown_; }
    bool following() const { return mode_ != Mode::Fixed; }
    double viewStart() const;
    double viewSpan() const;
    QRect plotRect() const;
    // The visible time range, the lowest and highest reading in view and the newest.
    QString describe() const;
    // The reading drawn nearest to a point in the plot, within a few pixels; -1 if none.
    std::int64_t readingAt(QPoint point) const;

signals:
    void readingClicked(std::int64_t index);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Mode { Follow, WholeRun, Fixed };
    struct Fit {
        double low = 0;
        double high = 1;
    };
    double endMs() const;
    Fit fitValues(double start, double span) const;
    velt::ChartMapping mapping(const QRect& plot, double dpr) const;
    void changed();

    const velt::ReadingSeries& series_;
    Mode mode_ = Mode::Follow;
    double spanMs_ = 60'000;
    double fixedStartMs_ = 0;
    bool averageShown_ = true;
    QTimer* repaint_ = nullptr;
    QPoint pressedAt_;
    double pressedStart_ = 0;
    bool dragging_ = false;
    bool pressed_ = false;
};

class TChartWindow : public QWidget {
    Q_OBJECT
public:
    explicit TChartWindow(const velt::ReadingSeries& series, QWidget* parent = nullptr);
    TChartPlot* plot() const { return plot_; }
    QCheckBox* averageBox() const { return average_; }

private:
    TChartPlot* plot_ = nullptr;
    QCheckBox* average_ = nullptr;
};
