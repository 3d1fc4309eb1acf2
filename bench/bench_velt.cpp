// Benchmarks that print figures; they assert nothing. Run through bench/run, which
// starts a virtual display so that the window is really shown.
//
//   bench_velt e2e UDP_SEND      end to end: zero-loss rate, unpaced loss, bare recvmmsg
//                                limit, and the worst lateness of a 16 ms timer in a flood
//   bench_velt flood UDP_SEND    the unpaced flood alone, on a fresh window
//   bench_velt soak UDP_SEND [N [RATE]]  N readings (10M) at RATE/s (200k): loss, memory a reading
//   bench_velt overload UDP_SEND  a flood while the window's thread is blocked: the queue bound
//   bench_velt startup VELT      exec to port bound and to window shown; CPU while idle
//   bench_velt cpu UDP_SEND      CPU per reading and share of a core at 100, 1000 and 5000
//                                readings/s and unpaced, a bare recvmmsg loop's CPU per
//                                reading in the same run, and the latency from a datagram's
//                                sending to the paint that shows it
//   bench_velt log N             log: append cost and resident memory per line at N lines,
//                                time to paint one screen and to jump to the first line

#include "log/reading_series.h"
#include "net/udp_server.h"
#include "support/test_support.h"
#include "temperature/stats.h"
#include "ui/VELT_projekt.h"
#include "ui/chart_view.h"

#include "temperature/format.h"
#include "ui/log_memo.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <span>
#include <thread>
#include <vector>

namespace {

// The window shown and exposed; a benchmark that cannot show it says so.
bool shown(QWidget& form) {
    form.show();
    if (QTest::qWaitForWindowExposed(&form))
        return true;
    std::fprintf(stderr, "bench_velt: the window was not exposed (is the display up?)\n");
    return false;
}

int countField(QWidget& form) {
    return form.findChild<QLineEdit*>(QStringLiteral("edit_pocitadlo"))->text().toInt();
}

// Waits until the count stops moving for half a second.
int settledCount(QWidget& form) {
    int last = -1;
    for (;;) {
        QTest::qWait(500);
        const int now = countField(form);
        if (now == last)
            return now;
        last = now;
    }
}

QByteArray send(const QString& udpSend, const QStringList& arguments) {
    // Wait in the event loop, as the program itself would run, not in a polling loop.
    QProcess sender;
    QEventLoop loop;
    QObject::connect(&sender, &QProcess::finished, &loop, &QEventLoop::quit);
    sender.start(udpSend, arguments);
    loop.exec();
    return sender.readAllStandardOutput().trimmed();
}

// The machine's limit: a bare thread receiving with recvmmsg and doing nothing else.
double bareReceiveRate(const QString& udpSend, int count) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int size = 16 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    timeval timeout{0, 300000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::atomic<long> received = 0;
    std::thread receiver([&] {
        constexpr int kBatch = 64;
        static char buffers[kBatch][2048];
        iovec iov[kBatch];
        mmsghdr messages[kBatch];
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                iov[i] = {buffers[i], sizeof buffers[i]};
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &iov[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = ::recvmmsg(fd, messages, kBatch, MSG_WAITFORONE, nullptr);
            if (n <= 0)
                return;
            received += n;
        }
    });
    const QList<QByteArray> report =
        send(udpSend, {"--sequence", "--count", QString::number(count), "127.0.0.1",
                       QString::number(ntohs(a.sin_port))})
            .split(' ');
    receiver.join();
    ::close(fd);
    std::printf("bare recvmmsg loop: %ld of %d received, sender took %s s\n", received.load(),
                count, report.value(1).constData());
    return received.load() == count ? count / report.value(1).toDouble() : 0;
}

int flood(QWidget& form, const QString& udpSend);

int e2e(const QString& udpSend, bool floodOnly) {
    TForm1 form;
    if (!shown(form))
        return 1;
    if (floodOnly)
        return flood(form, udpSend);

    int zeroLossRate = 0;
    for (int rate : {50000, 100000, 200000, 300000, 400000, 600000}) {
        const int count = rate * 3; // three seconds at the rate
        const int before = countField(form);
        const QList<QByteArray> report =
            send(udpSend, {"--sequence", "--count", QString::number(count), "--rate",
                           QString::number(rate), "127.0.0.1", "55555"})
                .split(' ');
        const int received = settledCount(form) - before;
        const double achieved = count / report.value(1).toDouble();
        std::printf("paced %6d/s (sender achieved %.0f/s): %d of %d received, %d lost\n", rate,
                    achieved, received, count, count - received);
        if (received == count)
            zeroLossRate = std::max(zeroLossRate, static_cast<int>(achieved));
    }
    std::printf("sustained with zero loss: %d readings/s\n", zeroLossRate);

    const int before = countField(form);
    const QList<QByteArray> burst = send(udpSend, {"--sequence", "--count", "1000000", "--rate",
                                                   "100000", "127.0.0.1", "55555"})
                                        .split(' ');
    const int received = settledCount(form) - before;
    std::printf("burst of 1000000 at 100000/s (took %s s): %d received, %d lost\n",
                burst.value(1).constData(), received, 1000000 - received);
    return flood(form, udpSend);
}

int flood(QWidget& form, const QString& udpSend) {
    auto* udpS = form.findChild<TUDPServer*>(QStringLiteral("udpS"));

    // Unpaced, with a 16 ms timer on the window's thread watching for lateness.
    constexpr int kBlast = 1000000;
    QElapsedTimer clock;
    qint64 worstLateMs = 0, expected = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstLateMs = std::max(worstLateMs, now - expected);
        expected = now + 16;
    });
    const int before = countField(form);
    const std::uint64_t droppedBefore = udpS->droppedDatagrams();
    clock.start();
    expected = 16;
    tick.start(16);
    const QList<QByteArray> report =
        send(udpSend, {"--sequence", "--count", QString::number(kBlast), "127.0.0.1", "55555"})
            .split(' ');
    const int received = settledCount(form) - before;
    tick.stop();
    std::printf("unpaced %d in %s s (%.0f/s): %d received, %d lost (%.2f %%), %llu dropped by the "
                "queue bound\n",
                kBlast, report.value(1).constData(), kBlast / report.value(1).toDouble(), received,
                kBlast - received, 100.0 * (kBlast - received) / kBlast,
                static_cast<unsigned long long>(udpS->droppedDatagrams() - droppedBefore));
    std::printf("worst lateness of a 16 ms timer during the flood: %lld ms\n", worstLateMs);
    const double bare = bareReceiveRate(udpSend, kBlast);
    std::printf("bare recvmmsg limit: %.0f/s\n", bare);
    return 0;
}

// A long paced run: memory per reading and whether anything was lost.
int soak(const QString& udpSend, int count, int rate) {
    TForm1 form;
    if (!shown(form))
        return 1;
    auto* udpS = form.findChild<TUDPServer*>(QStringLiteral("udpS"));
    const qint64 before = velt::test::residentBytes();
    const QList<QByteArray> report =
        send(udpSend, {"--sequence", "--count", QString::number(count), "--rate",
                       QString::number(rate), "127.0.0.1", "55555"})
            .split(' ');
    const int received = settledCount(form);
    std::printf(
        "soak: %s sent at %d/s in %s s, %d received, %d lost, %llu dropped by the queue bound, "
        "%.1f bytes resident a reading\n",
        report.value(0).constData(), rate, report.value(1).constData(), received, count - received,
        static_cast<unsigned long long>(udpS->droppedDatagrams()),
        double(velt::test::residentBytes() - before) / std::max(1, received));
    return 0;
}

// Endless overload: the window's thread is blocked while a sender floods. The queue
// fills to its bound, the newest are dropped, and memory stays bounded.
int overload(const QString& udpSend) {
    TForm1 form;
    if (!shown(form))
        return 1;
    auto* udpS = form.findChild<TUDPServer*>(QStringLiteral("udpS"));
    constexpr int kCount = 3000000;
    const qint64 before = velt::test::residentBytes();
    QProcess sender;
    sender.start(udpSend, {"--sequence", "--count", QString::number(kCount), "127.0.0.1", "55555"});
    sender.waitForFinished(120000); // blocks the window's thread: nothing is handled meanwhile
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const qint64 grown = velt::test::residentBytes() - before;
    const std::int64_t pending = udpS->pendingDatagrams();
    const std::uint64_t dropped = udpS->droppedDatagrams();
    const int received = settledCount(form);
    std::printf(
        "overload: %d sent while the window was blocked; %lld pending at the bound, %llu dropped, "
        "%d handled afterwards; memory grew %.1f MiB while blocked\n",
        kCount, static_cast<long long>(pending), static_cast<unsigned long long>(dropped), received,
        grown / 1048576.0);
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Probes: readings the sequence never sends, sent from here while a rate runs; the time
// from sending one to the first paint of the log after the batch that holds it.
class LatencyProbe : public QObject {
public:
    LatencyProbe(TForm1& form, TLogMemo* memo)
        : memo_(memo), fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(55555);
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        seen_ = memo->store().lineCount();
        connect(form.findChild<TUDPServer*>(QStringLiteral("udpS")), &TUDPServer::batchDelivered,
                this, [this] {
                    for (; seen_ < memo_->store().lineCount(); ++seen_)
                        if (memo_->store().line(seen_) == kProbeLine)
                            delivered_ = true;
                });
        memo->viewport()->installEventFilter(this);
    }
    ~LatencyProbe() override { ::close(fd_); }
    void send() {
        if (clock_.isValid() && !painted_)
            return; // one probe at a time
        static const char payload[] = {0x7f, 0x01, 0x02, 0x03};
        painted_ = delivered_ = false;
        clock_.start();
        ::sendto(fd_, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to_),
                 sizeof to_);
    }
    QList<double> latenciesMs;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && delivered_ && !painted_) {
            painted_ = true;
            latenciesMs << clock_.nsecsElapsed() / 1e6;
        }
        return false;
    }

private:
    static constexpr QStringView kProbeLine = u"Teplota = 133173280";
    TLogMemo* memo_;
    int fd_;
    sockaddr_in to_{};
    std::int64_t seen_ = 0;
    QElapsedTimer clock_;
    bool delivered_ = false, painted_ = true;
};

int cpu(const QString& udpSend) {
    TForm1 form;
    if (!shown(form))
        return 1;
    auto* memo = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    // VELT_BENCH_PREFILL=N: the log already holds N readings, as after a long run, where
    // the scroll bar's slider moves by far less than a pixel a look.
    if (const int prefill = qEnvironmentVariableIntValue("VELT_BENCH_PREFILL"); prefill > 0) {
        const std::vector<float> values(static_cast<std::size_t>(prefill), 24.5f);
        const std::vector<std::uint8_t> lengths(values.size(), 14); // "Teplota = 24.5"
        const std::vector<std::int64_t> times(values.size(), QDateTime::currentMSecsSinceEpoch());
        memo->appendReadings(values, times, lengths, u".");
        QTest::qWait(300);
    }
    // Each rate with the chart closed, then with it open and following, in the same run.
    for (const auto& [rate, chartOpen] : {std::pair{100, false},
                                          {100, true},
                                          {1000, false},
                                          {1000, true},
                                          {5000, false},
                                          {5000, true}}) {
        if (chartOpen && !(form.chart() && form.chart()->isVisible())) {
            form.showChart();
            QTest::qWait(300);
        } else if (!chartOpen && form.chart()) {
            form.chart()->hide();
            QTest::qWait(100);
        }
        const int count = rate * 5; // five seconds
        LatencyProbe probe(form, memo);
        QTimer probing;
        QObject::connect(&probing, &QTimer::timeout, &probe, &LatencyProbe::send);
        probing.start(97);
        const int before = countField(form);
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        send(udpSend, {"--sequence", "--count", QString::number(count), "--rate",
                       QString::number(rate), "127.0.0.1", "55555"});
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double used = cpuSeconds() - cpuBefore;
        probing.stop();
        QTest::qWait(300);
        const int received = countField(form) - before - int(probe.latenciesMs.size());
        std::sort(probe.latenciesMs.begin(), probe.latenciesMs.end());
        std::printf("%5d/s, chart %s: %d of %d, %.1f %% of a core, %.1f us a reading; latency "
                    "to the paint median %.1f ms, worst %.1f ms (%lld probes)\n",
                    rate, chartOpen ? "open  " : "closed", received, count, 100 * used / seconds,
                    1e6 * used / count, probe.latenciesMs.value(probe.latenciesMs.size() / 2),
                    probe.latenciesMs.isEmpty() ? 0.0 : probe.latenciesMs.last(),
                    static_cast<long long>(probe.latenciesMs.size()));
    }
    constexpr int kBlast = 1000000;
    const int before = countField(form);
    const double cpuBefore = cpuSeconds();
    send(udpSend, {"--sequence", "--count", QString::number(kBlast), "127.0.0.1", "55555"});
    const int received = settledCount(form) - before;
    const double used = cpuSeconds() - cpuBefore; // settledCount waits idle
    std::printf("unpaced: %d of %d, %.2f us a reading\n", received, kBlast,
                1e6 * used / std::max(1, received));
    const double bareBefore = cpuSeconds();
    bareReceiveRate(udpSend, kBlast);
    std::printf("bare recvmmsg loop, same run: %.2f us a reading\n",
                1e6 * (cpuSeconds() - bareBefore) / kBlast);
    return 0;
}

int logBench(long long lines) {
    TForm1 form;
    if (!shown(form))
        return 1;
    auto* memo = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    // Readings as the window hands them to the log once a frame: values with the lengths
    // of the lines the handler made of them.
    std::vector<float> values(4096);
    std::vector<std::uint8_t> lengths(4096);
    std::vector<std::int64_t> times(4096);
    std::int64_t t = 1'765'000'000'000;
    for (int v = 0; v < 4096; ++v) {
        values[v] = v / 16.0f;
        lengths[v] = static_cast<std::uint8_t>(10 + velt::floatToStr(values[v], u".").size());
    }
    const qint64 memoryBefore = velt::test::residentBytes();
    QElapsedTimer clock;
    clock.start();
    qint64 slowestBatchNs = 0, firstBatchesNs = 0, lastBatchesNs = 0;
    constexpr int kBatch = 1024;
    for (long long i = 0; i < lines; i += kBatch) {
        const auto from = static_cast<std::size_t>(i % 4096);
        const auto n = static_cast<std::size_t>(std::min<long long>(kBatch, lines - i));
        QElapsedTimer one;
        one.start();
        for (std::size_t k = 0; k < n; ++k)
            times[from + k] = t += 10; // 100 a second
        memo->appendReadings(std::span(values).subspan(from, n), std::span(times).subspan(from, n),
                             std::span(lengths).subspan(from, n), u".");
        const qint64 ns = one.nsecsElapsed();
        slowestBatchNs = std::max(slowestBatchNs, ns);
        if (i < lines / 10)
            firstBatchesNs += ns;
        else if (i >= lines - lines / 10)
            lastBatchesNs += ns;
    }
    const double appendNs = clock.nsecsElapsed() / double(lines);
    QCoreApplication::processEvents();
    const qint64 memoryAfter = velt::test::residentBytes();
    clock.restart();
    memo->viewport()->repaint();
    const double paintMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    memo->viewport()->repaint();
    const double repaintMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    memo->verticalScrollBar()->setValue(0);
    memo->viewport()->repaint();
    const double jumpMs = clock.nsecsElapsed() / 1e6;
    std::printf("log %lld lines: %.3f us a line (first tenth %.3f, last tenth %.3f, slowest "
                "batch of %d %.2f ms), %.2f bytes resident a line (lines %.2f, readings with "
                "their times and the chart's summaries %.2f), paint %.2f ms (again %.2f ms), "
                "jump to first and paint %.2f ms\n",
                lines, appendNs / 1000, firstBatchesNs / 1000.0 / (lines / 10.0),
                lastBatchesNs / 1000.0 / (lines / 10.0), kBatch, slowestBatchNs / 1e6,
                double(memoryAfter - memoryBefore) / lines,
                double(memo->store().memoryBytes()) / lines,
                double(memo->store().readings().memoryBytes()) / lines, paintMs, repaintMs, jumpMs);
    if (lines <= 10000000) {
        // Ctrl+A, Ctrl+C: the whole text on the clipboard.
        memo->setFocus();
        const qint64 before = velt::test::residentBytes();
        clock.restart();
        QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_C, Qt::ControlModifier);
        const double copyMs = clock.nsecsElapsed() / 1e6;
        const qint64 copied = QGuiApplication::clipboard()->text().size();
        std::printf("select all and copy: %.0f ms, %lld characters on the clipboard (%.0f MiB "
                    "as UTF-16), resident grew %.0f MiB\n",
                    copyMs, copied, copied * 2 / 1048576.0,
                    (velt::test::residentBytes() - before) / 1048576.0);
    }
    return 0;
}

// The chart beside a log of `readings` readings, 100 a second with a spike: bytes a
// reading of both, the cost of appending as the run grows, a repaint at every zoom from
// the whole run down to a few readings, and a zoom or pan step with its repaint.
int chartBench(long long readings) {
    TForm1 form;
    if (!shown(form))
        return 1;
    auto* memo = form.findChild<TLogMemo*>(QStringLiteral("Memo1"));
    const velt::ReadingSeries& series = memo->store().readings();
    constexpr int kBatch = 1024;
    std::vector<float> values(kBatch);
    std::vector<std::int64_t> times(kBatch);
    std::vector<std::uint8_t> lengths(kBatch);
    const qint64 memoryBefore = velt::test::residentBytes();
    std::int64_t t = 1'765'000'000'000;
    qint64 firstTenthNs = 0, lastTenthNs = 0;
    QElapsedTimer clock;
    for (long long i = 0; i < readings; i += kBatch) {
        const auto n = static_cast<std::size_t>(std::min<long long>(kBatch, readings - i));
        for (std::size_t k = 0; k < n; ++k) {
            const long long r = i + static_cast<long long>(k);
            values[k] = r == readings * 2 / 3 ? 60.0f : 20.0f + float(r % 97) / 16.0f;
            lengths[k] = static_cast<std::uint8_t>(10 + velt::floatToStr(values[k], u".").size());
            times[k] = t += 10;
        }
        clock.start();
        memo->appendReadings(std::span(values).first(n), std::span(times).first(n),
                             std::span(lengths).first(n), u".");
        const qint64 ns = clock.nsecsElapsed();
        if (i < readings / 10)
            firstTenthNs += ns;
        else if (i >= readings - readings / 10)
            lastTenthNs += ns;
    }
    QCoreApplication::processEvents();
    const qint64 memoryAfter = velt::test::residentBytes();
    std::printf("chart %lld readings: log and chart %.2f bytes resident a reading (the log's "
                "lines %.2f, the readings with their times and summaries %.2f); appending %.1f "
                "ns a reading in the first tenth, %.1f in the last\n",
                readings, double(memoryAfter - memoryBefore) / readings,
                double(memo->store().memoryBytes()) / readings,
                double(series.memoryBytes()) / readings, firstTenthNs / (readings / 10.0),
                lastTenthNs / (readings / 10.0));
    TChartWindow window(series);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    TChartPlot* plot = window.plot();
    const auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    // A repaint of the window, and the drawing alone (into an image, nothing sent to the
    // display server).
    QImage image(plot->size() * plot->devicePixelRatio(), QImage::Format_RGB32);
    image.setDevicePixelRatio(plot->devicePixelRatio());
    const auto timed = [&](auto paint) {
        QList<double> times;
        for (int k = 0; k < 5; ++k) {
            clock.start();
            paint();
            times << clock.nsecsElapsed() / 1e6;
        }
        return median(times);
    };
    plot->showWholeRun();
    QString levels, drawings;
    double worst = 0, worstDrawing = 0;
    for (int zoom = 0; plot->viewSpan() > 30; ++zoom) {
        const double ms = timed([&] { plot->repaint(); });
        const double drawing = timed([&] { plot->render(&image); });
        worst = std::max(worst, ms);
        worstDrawing = std::max(worstDrawing, drawing);
        levels += QStringLiteral(" %1").arg(ms, 0, 'f', 2);
        drawings += QStringLiteral(" %1").arg(drawing, 0, 'f', 2);
        // Towards the spike, a tenth of the span each step.
        const QRect r = plot->plotRect();
        const double spikeX =
            r.left() + (double(series.time(readings * 2 / 3)) - plot->viewStart()) /
                           plot->viewSpan() * r.width();
        plot->zoom(0.1, spikeX);
    }
    std::printf("repaint, median of 5, from the whole run to a few readings (ms):%s; worst "
                "%.2f ms\ndrawing alone (ms):%s; worst %.2f ms\n",
                qPrintable(levels), worst, qPrintable(drawings), worstDrawing);
    plot->showWholeRun();
    plot->zoom(0.01, plot->plotRect().center().x());
    QList<double> zooms, pans;
    for (int k = 0; k < 9; ++k) {
        clock.start();
        plot->zoom(k % 2 ? 1.25 : 0.8, plot->plotRect().center().x());
        plot->repaint();
        zooms << clock.nsecsElapsed() / 1e6;
        clock.start();
        plot->pan(k % 2 ? 40 : -40);
        plot->repaint();
        pans << clock.nsecsElapsed() / 1e6;
    }
    std::printf("zoom step with its repaint %.2f ms, pan step %.2f ms (medians of 9)\n",
                median(zooms), median(pans));
    return 0;
}

// From exec to the port bound and to the window shown, and CPU ticks while idle.
int startup(const QString& velt) {
    for (int run = 1; run <= 5; ++run) {
        QProcess program;
        QElapsedTimer clock;
        clock.start();
        program.start(velt, {});
        // Bounded, so that a program that never starts cannot hang the benchmark.
        while (velt::test::canBind(INADDR_ANY, 55555) && clock.elapsed() < 10000)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double boundMs = clock.nsecsElapsed() / 1e6;
        const auto shown = [] {
            QProcess xwininfo;
            xwininfo.start(QStringLiteral("xwininfo"), {"-name", QStringLiteral("UDP Teploměr")});
            xwininfo.waitForFinished();
            return xwininfo.readAllStandardOutput().contains("IsViewable");
        };
        while (!shown() && clock.elapsed() < 10000) {
        }
        if (clock.elapsed() >= 10000) {
            std::printf("start-up run %d: no window within 10 s\n", run);
            program.kill();
            program.waitForFinished();
            continue;
        }
        const double shownMs = clock.nsecsElapsed() / 1e6;
        std::printf("start-up run %d: port bound after %.1f ms, window shown after %.1f ms "
                    "(xwininfo polls)\n",
                    run, boundMs, shownMs);
        if (run == 5) {
            const auto ticks = [pid = program.processId()] {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
                stat.open(QIODevice::ReadOnly);
                const QList<QByteArray> fields = stat.readAll().split(' ');
                return fields.value(13).toLongLong() + fields.value(14).toLongLong();
            };
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const long long before = ticks();
            std::this_thread::sleep_for(std::chrono::seconds(10));
            std::printf("CPU while idle for 10 s: %lld ticks\n", ticks() - before);
        }
        program.terminate();
        program.waitForFinished();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == "e2e" && args.size() > 2)
        return e2e(args[2], false);
    if (args.value(1) == "flood" && args.size() > 2)
        return e2e(args[2], true);
    if (args.value(1) == "soak" && args.size() > 2)
        return soak(args[2], args.value(3, "10000000").toInt(), args.value(4, "200000").toInt());
    if (args.value(1) == "overload" && args.size() > 2)
        return overload(args[2]);
    if (args.value(1) == "startup" && args.size() > 2)
        return startup(args[2]);
    if (args.value(1) == "cpu" && args.size() > 2)
        return cpu(args[2]);
    if (args.value(1) == "chart" && args.size() > 2)
        return chartBench(args[2].toLongLong());
    if (args.value(1) == "log" && args.size() > 2)
        return logBench(args[2].toLongLong());
    std::fprintf(stderr, "usage: bench_velt e2e UDP_SEND | log N\n");
    return 2;
}
