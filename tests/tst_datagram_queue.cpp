// The queue between the receive thread and the owner's thread: arrival order, the bound
// with its drop count, and a wake-up for every datagram that finds the owner idle.

#include "net/datagram_queue.h"

#include <QTest>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

QByteArray numbered(std::uint32_t i, int size) {
    QByteArray bytes(std::max<int>(size, sizeof i), 'x');
    std::memcpy(bytes.data(), &i, sizeof i);
    return bytes;
}

std::uint32_t numberOf(const velt::DatagramQueue::Datagram& d) {
    std::uint32_t i = 0;
    std::memcpy(&i, d.data, sizeof i);
    return i;
}

// Wake-ups as the receiver's event object or eventfd counts them. Not std::counting_semaphore:
// GCC 12's, built for Windows, now and then misses a release and sleeps for ever.
class WakeUps {
public:
    void release() {
        {
            const std::lock_guard lock(mutex_);
            ++count_;
        }
        changed_.notify_one();
    }
    void acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return count_ > 0; });
        --count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

} // namespace

class TestDatagramQueue : public QObject {
    Q_OBJECT
private slots:
    void boundDropsTheNewest_data();
    void boundDropsTheNewest();
    void acrossThreadsNothingIsLostOrStranded();
};

void TestDatagramQueue::boundDropsTheNewest_data() {
    QTest::addColumn<int>("maxDatagrams");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("queued");
    QTest::newRow("by count") << 100 << 1000000 << 4 << 100;
    QTest::newRow("by bytes") << 1000 << 4000 << 100 << 40;
    QTest::newRow("empty payloads count too") << 10 << 1000 << 0 << 10;
    QTest::newRow("a datagram larger than the bytes bound") << 10 << 50 << 100 << 0;
}

void TestDatagramQueue::boundDropsTheNewest() {
    QFETCH(int, maxDatagrams);
    QFETCH(int, maxBytes);
    QFETCH(int, size);
    QFETCH(int, queued);
    velt::DatagramQueue queue(maxDatagrams, maxBytes);
    constexpr int kPushed = 300;
    std::vector<QByteArray> payloads;
    std::vector<velt::DatagramQueue::Datagram> batch;
    for (int i = 0; i < kPushed; ++i) {
        payloads.push_back(size == 0 ? QByteArray() : numbered(i, size));
        batch.push_back({payloads.back().constData(), std::uint32_t(payloads.back().size()),
                         1'700'000'000'000 + i});
    }
    QCOMPARE(queue.push(batch.data(), kPushed), queued);
    QCOMPARE(queue.pendingDatagrams(), queued);
    QCOMPARE(queue.droppedDatagrams(), std::uint64_t(kPushed - queued));
    velt::DatagramQueue::Datagram d{};
    for (int i = 0; i < queued; ++i) {
        QVERIFY(queue.next(d));
        QCOMPARE(int(d.size), payloads[i].size());
        QCOMPARE(d.arrivalMs, 1'700'000'000'000 + i); // each with its own arrival time
        if (size > 0)
            QCOMPARE(numberOf(d), std::uint32_t(i)); // the oldest kept, in order
    }
    QVERIFY(!queue.next(d));
    // Drained, there is room again.
    QCOMPARE(queue.push(batch.data(), 1), std::min(1, queued > 0 ? 1 : 0));
}

void TestDatagramQueue::acrossThreadsNothingIsLostOrStranded() {
    constexpr std::uint32_t kCount = 200000;
    velt::DatagramQueue queue(5000, 1 << 20);
    WakeUps wakeUps;
    std::atomic<bool> done = false;
    std::thread producer([&] {
        for (std::uint32_t i = 0; i < kCount; i += 8) {
            QByteArray p[8];
            velt::DatagramQueue::Datagram batch[8];
            for (int j = 0; j < 8; ++j) {
                p[j] = numbered(i + j, 3 + j % 5);
                batch[j] = {p[j].constData(), std::uint32_t(p[j].size())};
            }
            queue.push(batch, 8);
            if (queue.takeWakeUp())
                wakeUps.release();
        }
        done = true;
        wakeUps.release(); // let the owner see the end
    });
    // The owner: sleeps until woken, drains, goes idle, as TUDPServer does.
    std::uint32_t received = 0;
    std::int64_t last = -1;
    bool ordered = true;
    for (;;) {
        wakeUps.acquire();
        velt::DatagramQueue::Datagram d{};
        for (;;) {
            while (queue.next(d)) {
                const std::uint32_t i = numberOf(d);
                ordered = ordered && std::int64_t(i) > last;
                last = i;
                ++received;
            }
            if (queue.goIdle())
                break;
        }
        if (done && queue.pendingDatagrams() == 0)
            break;
    }
    producer.join();
    QVERIFY(ordered);
    QCOMPARE(received + queue.droppedDatagrams(), std::uint64_t(kCount));
    QVERIFY(received > 0);
}

QTEST_APPLESS_MAIN(TestDatagramQueue)
#include "tst_datagram_queue.moc"
