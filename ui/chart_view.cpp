#include "ui/chart_view.h"

#include "log/reading_series.h"
#include "temperature/format.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <optional>
#include <vector>

namespace velt {

namespace {

float halfwayOf(float average, float value) {
    return static_cast<float>((double{average} + double{value}) * 0.5);
}

// The same pixels as one-pixel-wide column spans (`spans`, by column, each
// x + 1 wide), as fewer and wider rectangles: a run of neighbouring columns shares the rows
// all of them cover, and what each reaches above or below them is cut into horizontal
// strips, as a histogram is. Filling a pixel row costs a call however wide it is, so a
// band of noise hundreds of columns wide is filled row by row, not pixel by pixel.
void mergeSpans(const QRect* spans, qsizetype count, QList<QRect>& out) {
    struct Bar {
        int start;
        int height;
    };
    std::vector<Bar> stack;
    // Bars of heights[i] rows, growing away from a base row; `up` grows towards row 0.
    const auto strips = [&](int left, const std::vector<int>& heights, int base, bool up) {
        stack.clear();
        const auto n = static_cast<int>(heights.size());
        for (int i = 0; i <= n; ++i) {
            const int h = i < n ? heights[i] : 0;
            int start = i;
            while (!stack.empty() && stack.back().height > h) {
                const Bar bar = stack.back();
                stack.pop_back();
                const int lower = std::max(h, stack.empty() ? 0 : stack.back().height);
                const int rows = bar.height - lower;
                out.append(QRect(left + bar.start, up ? base - bar.height : base + lower + 1,
                                 i - bar.start, rows));
                start = bar.start;
            }
            if (h > 0 && (stack.empty() || stack.back().height < h))
                stack.push_back({start, h});
        }
    };
    std::vector<int> heights;
    const auto merge = [&](auto& self, const QRect* first, qsizetype n) -> void {
        int common = INT_MIN, commonEnd = INT_MAX;
        for (qsizetype i = 0; i < n; ++i) {
            common = std::max(common, first[i].top());
            commonEnd = std::min(commonEnd, first[i].bottom());
        }
        if (common > commonEnd) {
            // No row all of them cover: in halves, each of which has one or is one column.
            self(self, first, n / 2);
            self(self, first + n / 2, n - n / 2);
            return;
        }
        const int left = first[0].left();
        out.append(QRect(left, common, static_cast<int>(n), commonEnd - common + 1));
        heights.resize(static_cast<std::size_t>(n));
        for (qsizetype i = 0; i < n; ++i)
            heights[std::size_t(i)] = common - first[i].top();
        strips(left, heights, common, true);
        for (qsizetype i = 0; i < n; ++i)
            heights[std::size_t(i)] = first[i].bottom() - commonEnd;
        strips(left, heights, commonEnd, false);
    };
    // Runs of columns side by side.
    for (qsizetype from = 0; from < count;) {
        qsizetype to = from + 1;
        while (to < count && spans[to].left() == spans[to - 1].left() + 1)
            ++to;
        merge(merge, spans + from, to - from);
        from = to;
    }
}

} // namespace

double ChartMapping::column(std::int64_t timeMs) const {
    return std::floor((static_cast<double>(timeMs) - startMs) / msPerColumn);
}

double ChartMapping::row(double value) const {
    return rows - 1 - std::floor((value - bottomValue) / valuesPerRow);
}

std::int64_t ChartMapping::firstTimeOf(double c) const {
    auto t = static_cast<std::int64_t>(std::ceil(startMs + c * msPerColumn));
    // Rounding may put the boundary a millisecond off: the columns decide.
    while (column(t - 1) >= c)
        --t;
    while (column(t) < c)
        ++t;
    return t;
}

ChartColumns columnsOf(const ReadingSeries& series, const ChartMapping& mapping, int columns) {
    ChartColumns result;
    if (series.size() == 0)
        return result;
    result.runs.reserve(static_cast<std::size_t>(columns));
    std::int64_t i = series.indexAtTime(mapping.firstTimeOf(0));
    result.before = i > 0 && !series.gapBefore(i) ? i - 1 : -1;
    const std::int64_t end = series.indexAtTime(mapping.firstTimeOf(columns));
    result.after = end < series.size() && !series.gapBefore(end) ? end : -1;
    // Walked forward column by column; far ahead, it starts again from a checkpoint.
    ReadingSeries::TimeReader reader(series, std::min(i, series.size() - 1));
    while (i < end) {
        const double c = mapping.column(reader.time());
        series.seek(reader, mapping.firstTimeOf(c + 1));
        std::int64_t next = std::min(end, reader.index());
        const std::int64_t gap = series.nextGap(i + 1);
        if (gap < next) {
            next = gap;
            reader = ReadingSeries::TimeReader(series, gap);
        }
        result.runs.push_back({c, i, next, next == gap});
        i = next;
    }
    if (!result.runs.empty() && result.runs.back().brokenAfter)
        result.after = -1;
    return result;
}

void drawSeries(QPainter& painter, const ReadingSeries& series, const ChartMapping& mapping,
                const ChartColumns& columns, bool average) {
    if (series.size() == 0)
        return;
    // Segments, not a polyline: a polyline's joins leave out pixels by the order its
    // points come in, and a column's points come here in another order than the readings.
    QList<QLineF> lines;
    QList<QPointF> points;
    // A column's span from its lowest to its highest reading is most of what is drawn, a
    // few hundred pixels a column zoomed out: filled as a rectangle, not stroked pixel by
    // pixel, where the rectangle is exactly the pixels the raster engine's 1-pixel pen
    // would stroke (no antialiasing, whole-pixel offsets, an opaque pen with caps).
    QList<QRect> spans;
    // A few of each a column: grown one by one, they were copied over and over.
    lines.reserve(columns.runs.size() + 2);
    points.reserve(columns.runs.size());
    spans.reserve(columns.runs.size());
    const QTransform device = painter.deviceTransform();
    const QPen pen = painter.pen();
    const bool fillSpans =
        pen.style() == Qt::SolidLine && pen.widthF() <= 1 && pen.capStyle() != Qt::FlatCap &&
        pen.color().alpha() == 255 && !painter.testRenderHint(QPainter::Antialiasing) &&
        device.type() <= QTransform::TxTranslate && device.dx() == std::floor(device.dx()) &&
        device.dy() == std::floor(device.dy());
    const auto addSpan = [&](double x, double top, double bottom) {
        // In 26.6 fixed point, as the stroker takes them; its square caps reach from the
        // top's pixel row to the bottom's.
        const auto fixed = [](double v) { return static_cast<int>(v * 64.); };
        const int x0 = fixed(x + device.dx()), y0 = fixed(top + device.dy()),
                  y1 = fixed(bottom + device.dy());
        if (y0 == y1)
            return; // the stroker draws nothing for it either
        spans.append(QRect((x0 >> 6) - int(device.dx()), (y0 >> 6) - int(device.dy()), 1,
                           (y1 >> 6) - (y0 >> 6) + 1));
    };
    std::optional<QPointF> previous; // where the line goes on from
    // The running average is carried from one column to the next where they touch.
    std::int64_t carriedAt = -2; // none: not the reading before any
    float carried = 0;
    const auto averageAt = [&](std::int64_t i) {
        carried = carriedAt == i - 1 ? halfwayOf(carried, series.value(i)) : series.average(i);
        carriedAt = i;
        return carried;
    };
    const auto valueAt = [&](std::int64_t i) { return average ? averageAt(i) : series.value(i); };
    // The line that comes in from the left.
    if (columns.before >= 0)
        previous = QPointF(mapping.column(series.time(columns.before)),
                           mapping.row(valueAt(columns.before)));
    for (const ChartColumns::Run& run : columns.runs) {
        // A column's readings: the line comes in at the first and goes on from the last,
        // and covers the column from the lowest to the highest: the same pixels as the
        // line through every reading, which goes through all of them within the column.
        const QPointF first(run.column, mapping.row(valueAt(run.from)));
        ReadingSeries::Span span;
        float last = 0;
        if (!average) {
            span = series.values(run.from, run.to);
            last = series.value(run.to - 1);
        } else if (run.to - run.from <= 256) {
            span.take(carried);
            for (std::int64_t k = run.from + 1; k < run.to; ++k)
                span.take(averageAt(k));
            last = carried;
        } else {
            // Many readings in the column: the averages of the summary entries that hold
            // them, at most 127 more either side of thousands; walking the averages at
            // both ends cost more than the whole column. A line of averages hides no spike.
            span = series.averagesAround(run.from, run.to);
            last = averageAt(run.to - 1);
        }
        if (previous)
            lines.append(QLineF(*previous, first));
        const double top = mapping.row(span.maximum), bottom = mapping.row(span.minimum);
        if (top == bottom)
            points.append(first);
        else if (fillSpans)
            addSpan(run.column, top, bottom);
        else
            lines.append(QLineF(run.column, top, run.column, bottom));
        previous = QPointF(run.column, mapping.row(last));
        if (run.brokenAfter)
            previous.reset();
    }
    // And the line that goes out to the right.
    if (previous && columns.after >= 0)
        lines.append(QLineF(*previous, QPointF(mapping.column(series.time(columns.after)),
                                               mapping.row(valueAt(columns.after)))));
    painter.drawLines(lines);
    painter.drawPoints(points.constData(), static_cast<int>(points.size()));
    if (!spans.isEmpty()) {
        QList<QRect> rects;
        rects.reserve(4 * spans.size());
        mergeSpans(spans.constData(), spans.size(), rects);
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(pen.color());
        painter.drawRects(rects.constData(), static_cast<int>(rects.size()));
        painter.restore();
    }
}

void drawSeries(QPainter& painter, const ReadingSeries& series, const ChartMapping& mapping,
                int columns, bool average) {
    drawSeries(painter, series, mapping, columnsOf(series, mapping, columns), average);
}

} // namespace velt

namespace {

constexpr double kMinSpanMs = 20;
// Following, the chart moves by a few pixels a repaint at most zooms: five a second
// look smooth and cost half of ten.
constexpr int kRepaintMs = 200;
constexpr int kNearPixels = 6;

const QString kTitle = QStringLiteral("Průběh teploty");

// The average's line apart from the readings' in hue, in any theme.
QColor averageColor(const QPalette& palette) {
    const QColor readings = palette.color(QPalette::Highlight);
    return QColor::fromHsv((readings.hsvHue() + 150) % 360, std::max(160, readings.hsvSaturation()),
                           readings.value());
}

QString numberText(double value) {
    return velt::floatToStr(value, velt::userDecimalSeparator());
}

// A round step (1, 2 or 5 times a power of ten) near `rough`.
double niceStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough)
            return m * power;
    return 10 * power;
}

// Round time steps, in milliseconds.
double timeStep(double rough) {
    static constexpr std::array<double, 25> steps = {
        1,    2,    5,    10,    20,    50,    100,   200,    500,    1e3,    2e3,     5e3,    10e3,
        15e3, 30e3, 60e3, 120e3, 300e3, 600e3, 900e3, 1800e3, 3600e3, 7200e3, 21600e3, 86400e3};
    for (const double s : steps)
        if (s >= rough)
            return s;
    return std::ceil(rough / 86400e3) * 86400e3;
}

QString timeText(std::int64_t ms, double step, bool withDate) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    QString text = t.toString(step < 60e3 ? QStringLiteral("H:mm:ss") : QStringLiteral("H:mm"));
    if (step < 1000)
        text += velt::userDecimalSeparator().toString() + t.toString(QStringLiteral("zzz"));
    if (withDate)
        text = t.toString(QStringLiteral("d. M. ")) + text;
    return text;
}

QString fullTimeText(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("d. M. yyyy ")) +
           timeText(ms, 1, false);
}

class ChartAccessible : public QAccessibleWidget {
public:
    explicit ChartAccessible(TChartPlot* plot) : QAccessibleWidget(plot, QAccessible::Chart) {}
    QString text(QAccessible::Text t) const override {
        const auto* plot = static_cast<const TChartPlot*>(widget());
        if (t == QAccessible::Name)
            return kTitle;
        if (t == QAccessible::Description)
            return plot->describe(); // made when asked, not per reading
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* chartAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("TChartPlot") && object && object->isWidgetType())
        return new ChartAccessible(static_cast<TChartPlot*>(object));
    return nullptr;
}

} // namespace

TChartPlot::TChartPlot(const velt::ReadingSeries& series, QWidget* parent)
    : QWidget(parent), series_(series), repaint_(new QTimer(this)) {
    static const bool factory = [] {
        QAccessible::installFactory(chartAccessibleFactory);
        return true;
    }();
    Q_UNUSED(factory);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(kTitle);
    setMinimumSize(240, 160);
    repaint_->setSingleShot(true);
    repaint_->setInterval(kRepaintMs);
    connect(repaint_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

QRect TChartPlot::plotRect() const {
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("-0000,00")) + 10;
    const int bottom = fm.height() + 8;
    return QRect(left, 8, std::max(1, width() - left - 12), std::max(1, height() - 8 - bottom));
}

double TChartPlot::endMs() const {
    return series_.size() ? static_cast<double>(series_.lastTime()) + 1 : 0;
}

double TChartPlot::viewStart() const {
    switch (mode_) {
    case Mode::Follow:
        return endMs() - spanMs_;
    case Mode::WholeRun:
        return static_cast<double>(series_.firstTime());
    case Mode::Fixed:
        break;
    }
    return fixedStartMs_;
}

double TChartPlot::viewSpan() const {
    if (mode_ == Mode::WholeRun && series_.size() > 1)
        return std::max(kMinSpanMs, endMs() - static_cast<double>(series_.firstTime()));
    return spanMs_;
}

TChartPlot::Fit TChartPlot::fitValues(double start, double span) const {
    Fit fit;
    const velt::ChartMapping any{start, span, 0, 1, 1};
    const std::int64_t a = series_.indexAtTime(any.firstTimeOf(0));
    const std::int64_t b = series_.indexAtTime(any.firstTimeOf(1));
    velt::ReadingSeries::Span s;
    if (a < b) {
        s = series_.values(a, b);
        if (averageShown_)
            s.take(series_.averages(a, b));
    } else if (a > 0) {
        s.take(series_.value(a - 1)); // nothing in view: the level the line passes at
    }
    if (s.empty())
        return fit;
    double low = s.minimum, high = s.maximum;
    const double margin = high > low ? (high - low) * 0.08 : std::max(1.0, std::abs(low) * 0.01);
    return {low - margin, high + margin};
}

velt::ChartMapping TChartPlot::mapping(const QRect& plot, double dpr) const {
    const double columns = std::max(1.0, std::round(plot.width() * dpr));
    const int rows = std::max(1, static_cast<int>(std::round(plot.height() * dpr)));
    const double start = viewStart();
    const Fit fit = fitValues(start, viewSpan());
    return {start, viewSpan() / columns, fit.low, (fit.high - fit.low) / rows, rows};
}

void TChartPlot::readingsAdded() {
    if (!isVisible() || repaint_->isActive())
        return;
    // A fixed view shows new readings only if its right edge is past the last ones shown.
    if (mode_ == Mode::Fixed && fixedStartMs_ + spanMs_ < static_cast<double>(series_.lastTime()) &&
        series_.size() > 1)
        return;
    repaint_->start();
}

void TChartPlot::showWholeRun() {
    if (series_.size() > 1)
        spanMs_ = std::max(kMinSpanMs, endMs() - static_cast<double>(series_.firstTime()));
    mode_ = Mode::WholeRun;
    changed();
}

void TChartPlot::follow() {
    mode_ = Mode::Follow;
    changed();
}

void TChartPlot::zoom(double factor, double x) {
    const QRect plot = plotRect();
    const double at = std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    const double start = viewStart();
    const double span = viewSpan();
    const double pointer = start + at * span;
    const double longest = std::max(60'000.0, 2 * (endMs() - series_.firstTime()));
    const double newSpan = std::clamp(span * factor, kMinSpanMs, longest);
    const bool wasFollowing = mode_ != Mode::Fixed;
    spanMs_ = newSpan;
    fixedStartMs_ = pointer - at * newSpan;
    // Zooming while following keeps "now" at the right edge.
    mode_ = wasFollowing ? Mode::Follow : Mode::Fixed;
    changed();
}

void TChartPlot::pan(double pixels) {
    const double start = viewStart() + pixels * viewSpan() / plotRect().width();
    spanMs_ = viewSpan();
    fixedStartMs_ = start;
    // Panned up to "now", the view follows again.
    mode_ = start + spanMs_ >= endMs() ? Mode::Follow : Mode::Fixed;
    changed();
}

void TChartPlot::setAverageShown(bool shown) {
    averageShown_ = shown;
    update();
}

void TChartPlot::changed() {
    repaint_->stop();
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QString TChartPlot::describe() const {
    if (series_.size() == 0)
        return QStringLiteral("Zatím žádná měření.");
    const velt::ChartMapping any{viewStart(), viewSpan(), 0, 1, 1};
    const std::int64_t a = series_.indexAtTime(any.firstTimeOf(0));
    const std::int64_t b = series_.indexAtTime(any.firstTimeOf(1));
    QString text = QStringLiteral("Zobrazeno od %1 do %2. ")
                       .arg(fullTimeText(static_cast<std::int64_t>(viewStart())),
                            fullTimeText(static_cast<std::int64_t>(viewStart() + viewSpan())));
    if (a < b) {
        const velt::ReadingSeries::Span s = series_.values(a, b);
        text += QStringLiteral("Měření v zobrazení: %1, nejnižší %2 °C, nejvyšší %3 °C. ")
                    .arg(b - a)
                    .arg(numberText(s.minimum), numberText(s.maximum));
    } else {
        text += QStringLiteral("V zobrazení není žádné měření. ");
    }
    const std::int64_t last = series_.size() - 1;
    text += QStringLiteral("Nejnovější měření č. %1: %2 °C v %3.")
                .arg(last + 1)
                .arg(numberText(series_.value(last)), fullTimeText(series_.lastTime()));
    return text;
}

std::int64_t TChartPlot::readingAt(QPoint point) const {
    const QRect plot = plotRect();
    if (series_.size() == 0 || !plot.adjusted(-kNearPixels, 0, kNearPixels, 0).contains(point))
        return -1;
    const double dpr = devicePixelRatioF();
    const velt::ChartMapping m = mapping(plot, dpr);
    const double column = (point.x() - plot.left()) * dpr;
    const std::int64_t i = series_.indexAtTime(m.firstTimeOf(std::floor(column)));
    std::int64_t best = -1;
    double bestDistance = kNearPixels * dpr;
    for (std::int64_t j = std::max<std::int64_t>(0, i - 1); j <= std::min(i, series_.size() - 1);
         ++j) {
        const double d = std::abs(m.column(series_.time(j)) - column);
        if (d <= bestDistance) {
            bestDistance = d;
            best = j;
        }
    }
    return best;
}

bool TChartPlot::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const std::int64_t i = readingAt(help->pos());
        if (i < 0) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(
                help->globalPos(),
                QStringLiteral("Měření č. %1\n%2\n%3 °C")
                    .arg(i + 1)
                    .arg(fullTimeText(series_.time(i)), numberText(series_.value(i))),
                this);
        }
        return true;
    }
    return QWidget::event(event);
}

void TChartPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QRect plot = plotRect();
    const double dpr = devicePixelRatioF();
    const velt::ChartMapping m = mapping(plot, dpr);
    const QColor grid = palette().color(QPalette::Mid);
    const QColor text = palette().color(QPalette::Text);
    p.setPen(grid);
    p.drawRect(plot.adjusted(-1, -1, 0, 0));
    if (series_.size() == 0) {
        p.setPen(text);
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("Zatím žádná měření"));
        return;
    }
    const QFontMetrics fm = fontMetrics();
    // Temperature ticks at round values.
    const double low = m.bottomValue, high = m.bottomValue + m.valuesPerRow * m.rows;
    const double valueStep =
        niceStep((high - low) / std::max(1, plot.height() / (2 * fm.height())));
    for (double v = std::ceil(low / valueStep) * valueStep; v <= high; v += valueStep) {
        const int y = plot.top() + static_cast<int>(m.row(v) / dpr);
        p.setPen(grid);
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(text);
        const double shown = std::abs(v) < valueStep / 2 ? 0.0 : v;
        p.drawText(QRect(0, y - fm.height() / 2, plot.left() - 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, numberText(shown));
    }
    // Time ticks at round local times; the date where the view spans days.
    const double start = viewStart(), span = viewSpan();
    const double step = timeStep(
        span /
        std::max(1, plot.width() / (fm.horizontalAdvance(QStringLiteral("00:00:00,000")) + 16)));
    const auto firstDay = QDateTime::fromMSecsSinceEpoch(static_cast<std::int64_t>(start)).date();
    const auto lastDay =
        QDateTime::fromMSecsSinceEpoch(static_cast<std::int64_t>(start + span)).date();
    const bool days = firstDay != lastDay;
    const double offset =
        QDateTime::fromMSecsSinceEpoch(static_cast<std::int64_t>(start)).offsetFromUtc() * 1000.0;
    QDate labelledDay;
    for (double t = std::ceil((start + offset) / step) * step - offset; t <= start + span;
         t += step) {
        const int x = plot.left() + static_cast<int>((t - start) / span * plot.width());
        p.setPen(grid);
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(text);
        const auto ms = static_cast<std::int64_t>(std::llround(t));
        const QDate day = QDateTime::fromMSecsSinceEpoch(ms).date();
        const QString label = timeText(ms, step, days && day != labelledDay);
        labelledDay = day;
        const int w = fm.horizontalAdvance(label);
        p.drawText(QRect(x - w / 2, plot.bottom() + 4, w, fm.height()), Qt::AlignCenter, label);
    }
    // The readings, in device pixels, sharp at every scale.
    p.save();
    p.setClipRect(plot);
    p.translate(plot.topLeft());
    p.scale(1 / dpr, 1 / dpr);
    p.setRenderHint(QPainter::Antialiasing, false);
    const int columns = static_cast<int>(std::round(plot.width() * dpr));
    const double width = std::max(1.0, std::round(dpr));
    const velt::ChartColumns runs = velt::columnsOf(series_, m, columns);
    QPen pen(palette().color(QPalette::Highlight), width);
    pen.setCosmetic(true);
    p.setPen(pen);
    velt::drawSeries(p, series_, m, runs, false);
    // The average over the readings: smooth, it would vanish under their noise.
    if (averageShown_) {
        QPen averagePen(averageColor(palette()), width);
        averagePen.setCosmetic(true);
        p.setPen(averagePen);
        velt::drawSeries(p, series_, m, runs, true);
    }
    // Zoomed in far enough, each reading is a point at its own arrival time.
    const std::int64_t a = runs.runs.empty() ? 0 : runs.runs.front().from;
    const std::int64_t b = runs.runs.empty() ? 0 : runs.runs.back().to;
    if (b - a > 0 && b - a <= columns / 6) {
        const double r = 2 * width;
        for (velt::ReadingSeries::TimeReader t(series_, a); t.index() < b; t.next())
            p.fillRect(QRectF(m.column(t.time()) - r + 0.5,
                              m.row(series_.value(t.index())) - r + 0.5, 2 * r, 2 * r),
                       palette().color(QPalette::Highlight));
    }
    p.restore();
    if (series_.gapCount() > 0) {
        p.setPen(text);
        p.drawText(plot.adjusted(4, 2, -4, -2), Qt::AlignTop | Qt::AlignRight,
                   QStringLiteral("Došla paměť: v průběhu chybí měření (mezery)."));
    }
}

void TChartPlot::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0)
        zoom(std::pow(0.8, steps), event->position().x());
    event->accept();
}

void TChartPlot::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    pressed_ = true;
    dragging_ = false;
    pressedAt_ = event->position().toPoint();
    pressedStart_ = viewStart();
}

void TChartPlot::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_)
        return;
    const QPoint delta = event->position().toPoint() - pressedAt_;
    if (!dragging_ && delta.manhattanLength() < 4)
        return;
    dragging_ = true;
    const double start = pressedStart_ - delta.x() * viewSpan() / plotRect().width();
    spanMs_ = viewSpan();
    fixedStartMs_ = start;
    mode_ = start + spanMs_ >= endMs() ? Mode::Follow : Mode::Fixed;
    changed();
}

void TChartPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_)
        return QWidget::mouseReleaseEvent(event);
    pressed_ = false;
    if (!dragging_) {
        const std::int64_t i = readingAt(event->position().toPoint());
        if (i >= 0)
            emit readingClicked(i);
    }
    dragging_ = false;
}

void TChartPlot::keyPressEvent(QKeyEvent* event) {
    const double center = plotRect().center().x();
    switch (event->key()) {
    case Qt::Key_Home:
        return showWholeRun();
    case Qt::Key_End:
        return follow();
    case Qt::Key_Left:
        return pan(-plotRect().width() / 10.0);
    case Qt::Key_Right:
        return pan(plotRect().width() / 10.0);
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return zoom(0.5, center);
    case Qt::Key_Minus:
        return zoom(2, center);
    default:
        QWidget::keyPressEvent(event);
    }
}

TChartWindow::TChartWindow(const velt::ReadingSeries& series, QWidget* parent)
    : QWidget(parent, Qt::Window), plot_(new TChartPlot(series, this)),
      average_(new QCheckBox(QStringLiteral("Klouzavý průměr"), this)) {
    setWindowTitle(kTitle);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    average_->setChecked(true);
    // The box names the second line in its colour.
    QPalette boxPalette = average_->palette();
    boxPalette.setColor(QPalette::WindowText, averageColor(palette()));
    average_->setPalette(boxPalette);
    top->addWidget(average_);
    top->addStretch();
    auto* hint = new QLabel(QStringLiteral("Kolečko: přiblížení · tažení: posun · Home: celý "
                                           "průběh · End: sledovat nová měření"),
                            this);
    hint->setForegroundRole(QPalette::PlaceholderText);
    top->addWidget(hint);
    layout->addLayout(top);
    layout->addWidget(plot_, 1);
    connect(average_, &QCheckBox::toggled, plot_, &TChartPlot::setAverageShown);
    resize(760, 440);
    plot_->setFocus();
}
