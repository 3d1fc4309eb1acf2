#include "log/reading_series.h"

#include <algorithm>
#include <new>
#include <utility>

namespace velt {

namespace {

constexpr std::int64_t kValuePage = 1 << 16;
constexpr std::int64_t kBytePage = 1 << 16;
constexpr std::int64_t kCheckpointEvery = 256;
constexpr std::int64_t kBottom = 128; // readings per entry of the lowest summary level
// A summary entry's readings never cross a page of values.
static_assert(kValuePage % kBottom == 0);
constexpr std::int64_t kFan = 8; // entries per entry of the level above
constexpr std::int64_t kAverageMemory = 32;
constexpr int kMaxVarintBytes = 10;

float halfway(float average, float value) {
    return static_cast<float>((double{average} + double{value}) * 0.5);
}

template <typename T> std::size_t heldBy(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

// Reserves room for one more element, so that a later push_back cannot fail.
template <typename T> void roomForOne(std::vector<T>& v) {
    if (v.size() == v.capacity())
        v.reserve(std::max<std::size_t>(16, v.capacity() * 2));
}

} // namespace

ReadingSeries::ReadingSeries() = default;
ReadingSeries::~ReadingSeries() = default;

void ReadingSeries::Summary::take(float v, std::int64_t index) {
    open.take(v);
    std::int64_t n = index + 1;
    if (n % kBottom != 0)
        return;
    levels[0].push_back(open);
    open = {};
    n /= kBottom;
    for (std::size_t level = 0; n % kFan == 0; ++level, n /= kFan) {
        Span s;
        const std::vector<Span>& below = levels[level];
        for (auto it = below.end() - kFan; it != below.end(); ++it)
            s.take(*it);
        levels[level + 1].push_back(s);
    }
}

ReadingSeries::Span ReadingSeries::Summary::over(const ReadingSeries& series, bool averages,
                                                 std::int64_t from, std::int64_t to) const {
    Span s;
    // Readings one by one up to the first whole entry, and from the last whole entry on;
    // averages are walked forward, each from the one before.
    const auto walk = [&](std::int64_t a, std::int64_t b) {
        if (a >= b)
            return;
        if (!averages) {
            // Within one entry, so within one page: straight through memory.
            const float* v =
                &series.valuePages_[static_cast<std::size_t>(a / kValuePage)][a % kValuePage];
            // Four lanes that do not wait on each other: one waited for the last minimum
            // before the next, and these walks were a sixth of drawing the whole run.
            float lo0 = s.minimum, lo1 = lo0, lo2 = lo0, lo3 = lo0;
            float hi0 = s.maximum, hi1 = hi0, hi2 = hi0, hi3 = hi0;
            const std::int64_t n = b - a;
            std::int64_t i = 0;
            for (; i + 4 <= n; i += 4) {
                lo0 = std::min(lo0, v[i]);
                hi0 = std::max(hi0, v[i]);
                lo1 = std::min(lo1, v[i + 1]);
                hi1 = std::max(hi1, v[i + 1]);
                lo2 = std::min(lo2, v[i + 2]);
                hi2 = std::max(hi2, v[i + 2]);
                lo3 = std::min(lo3, v[i + 3]);
                hi3 = std::max(hi3, v[i + 3]);
            }
            for (; i < n; ++i) {
                lo0 = std::min(lo0, v[i]);
                hi0 = std::max(hi0, v[i]);
            }
            s.minimum = std::min({lo0, lo1, lo2, lo3});
            s.maximum = std::max({hi0, hi1, hi2, hi3});
            return;
        }
        float average = series.average(a);
        s.take(average);
        for (std::int64_t i = a + 1; i < b; ++i)
            s.take(average = halfway(average, series.value(i)));
    };
    std::int64_t a = (from + kBottom - 1) / kBottom; // first whole entry
    std::int64_t b = to / kBottom;                   // past the last whole one
    if (a >= b) {
        // No whole entry: the part in each of at most two entries.
        const std::int64_t split = std::clamp(a * kBottom, from, to);
        walk(from, split);
        walk(split, to);
        return s;
    }
    walk(from, a * kBottom);
    walk(b * kBottom, to);
    s.take(entries(a, b));
    return s;
}

ReadingSeries::Span ReadingSeries::Summary::entries(std::int64_t a, std::int64_t b) const {
    Span s;
    if (!levels.empty() && b > static_cast<std::int64_t>(levels[0].size())) {
        s.take(open);
        b = static_cast<std::int64_t>(levels[0].size());
    } else if (levels.empty()) {
        s.take(open);
        return s;
    }
    for (std::size_t level = 0; a < b; ++level) {
        const std::vector<Span>& entries = levels[level];
        while (a < b && a % kFan != 0)
            s.take(entries[static_cast<std::size_t>(a++)]);
        while (b > a && b % kFan != 0)
            s.take(entries[static_cast<std::size_t>(--b)]);
        a /= kFan;
        b /= kFan;
    }
    return s;
}

bool ReadingSeries::append(float value, std::int64_t timeMs) {
    if (size_ > 0 && timeMs < lastTime_)
        timeMs = lastTime_;
    // Everything that may fail is allocated first, so that a failure changes nothing.
    try {
        std::size_t more = 0;
        const bool newValuePage = size_ % kValuePage == 0;
        const bool checkpoint = size_ % kCheckpointEvery == 0;
        const bool newBytePage =
            !checkpoint &&
            bytes_ + kMaxVarintBytes > static_cast<std::int64_t>(bytePages_.size()) * kBytePage;
        more += newValuePage ? kValuePage * sizeof(float) : 0;
        more += newBytePage ? kBytePage : 0;
        if (limitBytes_ != 0 && memoryBytes() + more > limitBytes_)
            throw std::bad_alloc();
        if (newValuePage) {
            roomForOne(valuePages_);
            valuePages_.push_back(std::make_unique_for_overwrite<float[]>(kValuePage));
        }
        if (newBytePage) {
            roomForOne(bytePages_);
            bytePages_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBytePage));
        }
        if (checkpoint)
            roomForOne(checkpoints_);
        if (gapPending_)
            roomForOne(gaps_);
        // The summary levels this reading completes entries of.
        for (Summary* summary : {&readings_, &averages_}) {
            std::int64_t n = size_ + 1;
            if (n % kBottom != 0)
                continue;
            n /= kBottom;
            for (std::size_t level = 0;; ++level, n /= kFan) {
                if (summary->levels.size() <= level)
                    summary->levels.emplace_back();
                roomForOne(summary->levels[level]);
                if (n % kFan != 0)
                    break;
            }
        }
    } catch (const std::bad_alloc&) {
        gapPending_ = true;
        return false;
    }
    if (std::exchange(gapPending_, false))
        gaps_.push_back(size_);
    valuePages_[static_cast<std::size_t>(size_ / kValuePage)][size_ % kValuePage] = value;
    if (size_ % kCheckpointEvery == 0) {
        checkpoints_.push_back({timeMs, bytes_});
    } else {
        for (auto d = static_cast<std::uint64_t>(timeMs - lastTime_);; d >>= 7) {
            if (d < 0x80) {
                pushByte(static_cast<std::uint8_t>(d));
                break;
            }
            pushByte(static_cast<std::uint8_t>(d | 0x80));
        }
    }
    lastAverage_ = size_ == 0 ? value : halfway(lastAverage_, value);
    readings_.take(value, size_);
    averages_.take(lastAverage_, size_);
    lastTime_ = timeMs;
    ++size_;
    return true;
}

void ReadingSeries::pushByte(std::uint8_t byte) {
    bytePages_[static_cast<std::size_t>(bytes_ / kBytePage)][bytes_ % kBytePage] = byte;
    ++bytes_;
}

float ReadingSeries::average(std::int64_t index) const {
    const std::int64_t start = std::max<std::int64_t>(0, index - kAverageMemory);
    float average = value(start);
    for (std::int64_t i = start + 1; i <= index; ++i)
        average = halfway(average, value(i));
    return average;
}

std::int64_t ReadingSeries::time(std::int64_t index) const {
    return TimeReader(*this, index).time();
}

std::int64_t ReadingSeries::indexAtTime(std::int64_t timeMs) const {
    if (size_ == 0 || timeMs > lastTime_)
        return size_;
    // The first checkpoint at or after the time; the reading sought is in the block
    // before it, or is that checkpoint itself.
    const auto c =
        std::partition_point(checkpoints_.begin(), checkpoints_.end(),
                             [timeMs](const Checkpoint& cp) { return cp.time < timeMs; });
    if (c == checkpoints_.begin())
        return 0;
    const std::int64_t block = (c - checkpoints_.begin()) - 1;
    const std::int64_t end = std::min(size_, (block + 1) * kCheckpointEvery);
    TimeReader reader(*this, block * kCheckpointEvery);
    while (reader.index() + 1 < end && reader.time() < timeMs)
        reader.next();
    return reader.time() < timeMs ? end : reader.index();
}

void ReadingSeries::seek(TimeReader& reader, std::int64_t timeMs) const {
    if (reader.index() >= size_ || reader.time() >= timeMs)
        return;
    // Far ahead, start from the checkpoint before the time instead of walking there. The
    // search gallops from where the reader is: the next column's time is usually near.
    const auto from = checkpoints_.begin() + reader.index() / kCheckpointEvery + 1;
    auto low = from, high = from;
    for (std::ptrdiff_t step = 1; high != checkpoints_.end() && high->time < timeMs; step *= 2) {
        low = high + 1;
        high = checkpoints_.end() - high > step ? high + step : checkpoints_.end();
    }
    const auto c = std::partition_point(
        low, high, [timeMs](const Checkpoint& cp) { return cp.time < timeMs; });
    if (c != from)
        reader = TimeReader(*this, ((c - checkpoints_.begin()) - 1) * kCheckpointEvery);
    while (reader.index() < size_ && reader.time() < timeMs) {
        reader.skipShortBefore(timeMs);
        reader.next();
    }
}

ReadingSeries::Span ReadingSeries::values(std::int64_t from, std::int64_t to) const {
    return readings_.over(*this, false, from, to);
}

ReadingSeries::Span ReadingSeries::averages(std::int64_t from, std::int64_t to) const {
    return averages_.over(*this, true, from, to);
}

ReadingSeries::Span ReadingSeries::averagesAround(std::int64_t from, std::int64_t to) const {
    return averages_.entries(from / kBottom, (to + kBottom - 1) / kBottom);
}

bool ReadingSeries::gapBefore(std::int64_t index) const {
    return std::binary_search(gaps_.begin(), gaps_.end(), index);
}

std::int64_t ReadingSeries::nextGap(std::int64_t from) const {
    const auto it = std::lower_bound(gaps_.begin(), gaps_.end(), from);
    return it == gaps_.end() ? std::numeric_limits<std::int64_t>::max() : *it;
}

std::size_t ReadingSeries::memoryBytes() const {
    std::size_t bytes = valuePages_.size() * kValuePage * sizeof(float) +
                        bytePages_.size() * kBytePage + heldBy(valuePages_) + heldBy(bytePages_) +
                        heldBy(checkpoints_) + heldBy(gaps_);
    for (const Summary* summary : {&readings_, &averages_})
        for (const std::vector<Span>& level : summary->levels)
            bytes += heldBy(level);
    return bytes;
}

ReadingSeries::TimeReader::TimeReader(const ReadingSeries& series, std::int64_t index)
    : series_(&series), index_(index / kCheckpointEvery * kCheckpointEvery) {
    const Checkpoint& cp = series.checkpoints_[static_cast<std::size_t>(index_ / kCheckpointEvery)];
    time_ = cp.time;
    moveTo(cp.byte);
    while (index_ < index)
        next();
}

void ReadingSeries::TimeReader::moveTo(std::int64_t byte) {
    const auto page = static_cast<std::size_t>(byte / kBytePage);
    pageStart_ = static_cast<std::int64_t>(page) * kBytePage;
    if (page < series_->bytePages_.size()) {
        at_ = series_->bytePages_[page].get() + (byte - pageStart_);
        pageEnd_ = series_->bytePages_[page].get() + kBytePage;
    } else {
        at_ = pageEnd_ = nullptr; // nothing written there yet
    }
}

// Most differences are one byte each: summed straight from memory while they are and the
// reading after stays before the time. Walking a column's readings zoomed out to the whole
// run was a fifth of its drawing through next().
void ReadingSeries::TimeReader::skipShortBefore(std::int64_t timeMs) {
    const std::int64_t n =
        std::min({kCheckpointEvery - 1 - index_ % kCheckpointEvery, series_->size_ - 1 - index_,
                  static_cast<std::int64_t>(pageEnd_ - at_)});
    std::int64_t t = time_, k = 0;
    for (; k < n && at_[k] < 0x80 && t + at_[k] < timeMs; ++k)
        t += at_[k];
    at_ += k;
    index_ += k;
    time_ = t;
}

void ReadingSeries::TimeReader::next() {
    ++index_;
    if (index_ % kCheckpointEvery == 0) {
        if (index_ < series_->size_) {
            const Checkpoint& cp =
                series_->checkpoints_[static_cast<std::size_t>(index_ / kCheckpointEvery)];
            time_ = cp.time;
            moveTo(cp.byte);
        }
        return;
    }
    if (index_ >= series_->size_)
        return;
    std::uint64_t d = 0;
    for (int shift = 0;; shift += 7) {
        if (at_ == pageEnd_) // the next page, or this one if it came since
            moveTo(at_ ? pageStart_ + kBytePage : pageStart_);
        const std::uint8_t b = *at_++;
        d |= std::uint64_t{b & 0x7fu} << shift;
        if (b < 0x80)
            break;
    }
    time_ += static_cast<std::int64_t>(d);
}

} // namespace velt
