// The chart: its columns drawn from summaries must cover exactly the pixels that the line
// through every reading covers; a lone spike shows at every zoom; the view follows new
// readings only while it shows "now"; the keys; a click selects the reading's log line
// while the user has not edited it away; the locale's separator; gaps.

#include "log/reading_series.h"
#include "ui/VELT_projekt.h"
#include "ui/chart_view.h"
#include "ui/log_memo.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>
#include <QToolTip>

#include <chrono>
#include <thread>

namespace {

constexpr int kColumns = 300;
constexpr int kRows = 160;

velt::ChartMapping mappingFor(const velt::ReadingSeries& series, double startMs, double spanMs) {
    const velt::ReadingSeries::Span s = series.values(0, series.size());
    const double low = s.minimum - 1, high = s.maximum + 1;
    return {startMs, spanMs / kColumns, low, (high - low) / kRows, kRows};
}

QImage blank() {
    QImage image(kColumns, kRows, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

QImage drawn(const velt::ReadingSeries& series, const velt::ChartMapping& m, bool average = false) {
    QImage image = blank();
    QPainter p(&image);
    p.setPen(QPen(Qt::black, 1));
    velt::drawSeries(p, series, m, kColumns, average);
    return image;
}

// The reference: the line through every reading (or every running average, computed as
// the figures compute it), broken at gaps, one segment from each reading to the next.
QImage everyReading(const velt::ReadingSeries& series, const velt::ChartMapping& m,
                    bool average = false) {
    QImage image = blank();
    QPainter p(&image);
    p.setPen(QPen(Qt::black, 1));
    QList<QLineF> lines;
    QPointF previous;
    float runningAverage = 0;
    for (std::int64_t i = 0; i < series.size(); ++i) {
        const float v = series.value(i);
        runningAverage =
            i == 0 ? v : static_cast<float>((double{runningAverage} + double{v}) * 0.5);
        const QPointF point(m.column(series.time(i)), m.row(average ? runningAverage : v));
        if (i > 0 && !series.gapBefore(i))
            lines.append(QLineF(previous, point));
        else if (i + 1 == series.size() || series.gapBefore(i + 1))
            p.drawPoint(point); // alone between gaps
        previous = point;
    }
    p.drawLines(lines);
    return image;
}

int differingPixels(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

void send(TForm1& form, float degrees) {
    const auto sixteenths = static_cast<std::uint16_t>(std::lround(degrees * 16));
    QByteArray payload;
    payload.append(char(sixteenths >> 8)).append(char(sixteenths & 0xff));
    QBuffer buffer(&payload);
    buffer.open(QIODevice::ReadOnly);
    form.udpSUDPRead(nullptr, buffer, nullptr);
}

} // namespace

class TestChart : public QObject {
    Q_OBJECT
private slots:
    void drawingIsExact_data();
    void drawingIsExact();
    void aLoneSpikeShowsAtEveryZoom();
    void followsOnlyWhileShowingNow();
    void keysZoomPanAndJump();
    void clickSelectsTheReadingsLogLine();
    void tooltipAndDescriptionUseTheLocalesSeparator();
};

void TestChart::drawingIsExact_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("gap");
    for (quint32 seed = 1; seed <= 12; ++seed)
        QTest::addRow("seed %u", seed) << seed << false;
    QTest::newRow("a gap where memory ran out") << 99u << true;
}

void TestChart::drawingIsExact() {
    QFETCH(quint32, seed);
    QFETCH(bool, gap);
    QRandomGenerator random(seed);
    velt::ReadingSeries series;
    std::int64_t t = 1'765'000'000'000;
    float v = 20;
    const int count = 2000 + int(random.bounded(60000));
    for (int i = 0; i < count; ++i) {
        // Bursts and pauses; a random walk with rare spikes both ways.
        t += random.bounded(8) == 0 ? random.bounded(2000) : random.bounded(3);
        v += float(random.bounded(9) - 4) / 16;
        const float spike = random.bounded(3000) == 0 ? float(random.bounded(80)) - 40 : 0;
        if (gap && i == count / 2) {
            series.setMemoryLimit(1);
            QVERIFY(!series.append(v, t));
            series.setMemoryLimit(0);
            t += 5000;
        }
        QVERIFY(series.append(v + spike, t));
    }
    QCOMPARE(series.gapCount(), gap ? 1 : 0);
    const double run = double(series.lastTime() - series.firstTime()) + 1;
    // From the whole run down to a few readings, at random places.
    for (int zoom = 0; zoom < 12; ++zoom) {
        const double span = run * std::pow(0.45, zoom) * (0.8 + random.generateDouble() * 0.4);
        // Every fourth view starts before the run: its first readings have no line in.
        const double start = double(series.firstTime()) - span * 0.1 +
                             (zoom % 4 == 3 ? 0.0 : random.generateDouble() * (run - span * 0.8));
        const velt::ChartMapping m = mappingFor(series, start, span);
        const QImage chart = drawn(series, m);
        const QImage reference = everyReading(series, m);
        const int differing = differingPixels(chart, reference);
        if (differing != 0) {
            chart.save(QStringLiteral("chart-%1-%2.png").arg(seed).arg(zoom));
            reference.save(QStringLiteral("reference-%1-%2.png").arg(seed).arg(zoom));
        }
        // The average's line too, where each column holds few enough readings that their
        // averages are walked one by one (with many, the summary entries that hold them).
        if (span / kColumns < 100) {
            const int averageDiffering =
                differingPixels(drawn(series, m, true), everyReading(series, m, true));
            QVERIFY2(averageDiffering == 0,
                     qPrintable(QStringLiteral("averages, zoom %1: %2 pixels differ")
                                    .arg(zoom)
                                    .arg(averageDiffering)));
        }
        QVERIFY2(differing == 0,
                 qPrintable(QStringLiteral("zoom %1 (%2 ms from %3): %4 pixels differ")
                                .arg(zoom)
                                .arg(span)
                                .arg(start, 0, 'f', 0)
                                .arg(differing)));
    }
}

void TestChart::aLoneSpikeShowsAtEveryZoom() {
    velt::ReadingSeries series;
    constexpr std::int64_t kCount = 10'000'000;
    constexpr std::int64_t kSpike = 6'543'210;
    const std::int64_t start = 1'765'000'000'000;
    for (std::int64_t i = 0; i < kCount; ++i)
        QVERIFY(series.append(i == kSpike ? 30.0f : 20.0f + float(i % 7) / 16, start + i / 5));
    const std::int64_t spikeTime = series.time(kSpike);
    double span = double(series.lastTime() - start) + 1;
    for (int zoom = 0; span > 10; ++zoom, span /= 3) {
        // The spike somewhere in view, never at the same place.
        const double from = std::max(double(start), spikeTime - span * (0.1 + 0.08 * (zoom % 10)));
        const velt::ChartMapping m = mappingFor(series, from, span);
        const QImage image = drawn(series, m);
        const int x = int(m.column(spikeTime));
        const int y = int(m.row(30.0));
        QVERIFY2(x >= 0 && x < kColumns && image.pixel(x, y) == qRgb(0, 0, 0),
                 qPrintable(QStringLiteral("zoom %1: span %2 ms").arg(zoom).arg(span)));
    }
}

void TestChart::followsOnlyWhileShowingNow() {
    velt::ReadingSeries series;
    std::int64_t t = 1'765'000'000'000;
    for (int i = 0; i < 100; ++i)
        series.append(20, t += 100);
    TChartPlot plot(series);
    plot.resize(600, 300);
    plot.show();
    QVERIFY(plot.following());
    const double before = plot.viewStart();
    series.append(21, t += 1000);
    QCOMPARE(plot.viewStart(), before + 1000); // "now" stays at the right edge
    plot.pan(-200);
    QVERIFY(!plot.following());
    const double fixed = plot.viewStart();
    series.append(22, t += 1000);
    QCOMPARE(plot.viewStart(), fixed);
    plot.pan(10'000); // back past "now": follows again
    QVERIFY(plot.following());
    series.append(23, t += 1000);
    QCOMPARE(plot.viewStart() + plot.viewSpan(), double(t + 1));
}

void TestChart::keysZoomPanAndJump() {
    velt::ReadingSeries series;
    std::int64_t t = 1'765'000'000'000;
    for (int i = 0; i < 10000; ++i)
        series.append(float(i % 50), t += 100);
    TChartPlot plot(series);
    plot.resize(600, 300);
    plot.show();
    QTest::keyClick(&plot, Qt::Key_Home);
    QCOMPARE(plot.viewStart(), double(series.firstTime()));
    QCOMPARE(plot.viewSpan(), double(series.lastTime() - series.firstTime() + 1));
    QVERIFY(plot.following()); // the whole run grows with it
    const double whole = plot.viewSpan();
    QTest::keyClick(&plot, Qt::Key_Plus);
    QCOMPARE(plot.viewSpan(), whole / 2);
    QTest::keyClick(&plot, Qt::Key_Minus);
    QCOMPARE(plot.viewSpan(), whole);
    QTest::keyClick(&plot, Qt::Key_Plus);
    QTest::keyClick(&plot, Qt::Key_Left);
    QVERIFY(!plot.following());
    const double panned = plot.viewStart();
    QTest::keyClick(&plot, Qt::Key_Right);
    QVERIFY(plot.viewStart() > panned);
    QTest::keyClick(&plot, Qt::Key_End);
    QVERIFY(plot.following());
    QCOMPARE(plot.viewStart() + plot.viewSpan(), double(series.lastTime() + 1));
}

void TestChart::clickSelectsTheReadingsLogLine() {
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form)); // shortcuts reach the active window only
    for (int i = 0; i < 40; ++i) {
        send(form, 20 + float(i) / 16);
        std::this_thread::sleep_for(std::chrono::milliseconds(3)); // apart on the chart
    }
    QCOMPARE(form.readings().size(), 40);
    auto* log = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    QVERIFY(log);
    QTest::keyClick(&form, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(form.chart() && form.chart()->isVisible());
    TChartPlot* plot = form.chart()->plot();
    QVERIFY(QTest::qWaitForWindowExposed(form.chart()));
    QTest::keyClick(plot, Qt::Key_Home);
    // Where the chart draws a reading.
    const auto pointOf = [&](std::int64_t reading) {
        const QRect r = plot->plotRect();
        const double x = (double(form.readings().time(reading)) - plot->viewStart()) /
                         plot->viewSpan() * r.width();
        return QPoint(r.left() + int(x), r.center().y());
    };
    const auto selected = [&] {
        return log->store().text(log->document().selectionStart(), log->document().selectionEnd());
    };
    QTest::mouseClick(plot, Qt::LeftButton, {}, pointOf(39));
    QCOMPARE(selected(), QStringLiteral("Teplota = 22.4375"));
    const std::int64_t line = log->document().selectionStart().line;
    // A line added above moves the reading's line; it is still found.
    log->document().setCursor({0, 0});
    log->document().insertLineBreak();
    QTest::mouseClick(plot, Qt::LeftButton, {}, pointOf(39));
    QCOMPARE(selected(), QStringLiteral("Teplota = 22.4375"));
    QCOMPARE(log->document().selectionStart().line, line + 1);
    // Edited away: nothing is selected anew.
    log->document().setCursor({line + 1, 10});
    log->document().insertText(QStringLiteral("1"));
    log->document().setCursor({0, 0});
    QTest::mouseClick(plot, Qt::LeftButton, {}, pointOf(39));
    QVERIFY(!log->document().hasSelection());
}

void TestChart::tooltipAndDescriptionUseTheLocalesSeparator() {
    velt::ReadingSeries series;
    std::int64_t t = 1'765'000'000'000;
    for (int i = 0; i < 20; ++i)
        series.append(20.5f + float(i), t += 1000);
    TChartPlot plot(series);
    plot.resize(600, 300);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    plot.showWholeRun();
    const QString separator = qEnvironmentVariable("LC_ALL").startsWith(u"cs") ? "," : ".";
    QVERIFY2(plot.describe().contains("39" + separator + "5 °C"), qPrintable(plot.describe()));
    const QRect r = plot.plotRect();
    const int x = r.left() + int(19000.0 / plot.viewSpan() * r.width());
    QHelpEvent help(QEvent::ToolTip, QPoint(x, r.center().y()), plot.mapToGlobal(QPoint(x, 10)));
    QApplication::sendEvent(&plot, &help);
    QVERIFY2(QToolTip::text().contains("č. 20"), qPrintable(QToolTip::text()));
    QVERIFY2(QToolTip::text().contains("39" + separator + "5 °C"), qPrintable(QToolTip::text()));
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
