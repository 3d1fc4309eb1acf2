#pragma once
// Every reading since start with its arrival time, for the chart, whatever the log's user
// has edited. Values are kept in pages of floats; arrival times (milliseconds since the
// Unix epoch) as the differences between neighbours, one byte each at ordinary rates,
// with the full time every 256 readings to start decoding from. Two min/max summaries,
// of the readings and of the running average, cover 128 readings an entry at the bottom
// and 8 entries of the level below each above it, so that the lowest and highest of any
// range cost a few dozen entries whatever the run's length. A reading that finds no
// memory is left out and a gap is marked before the next one kept.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace velt {

class ReadingSeries {
public:
    struct Span {
        float minimum = std::numeric_limits<float>::infinity();
        float maximum = -std::numeric_limits<float>::infinity();
        void take(float v) {
            minimum = v < minimum ? v : minimum;
            maximum = v > maximum ? v : maximum;
        }
        void take(const Span& s) {
            minimum = s.minimum < minimum ? s.minimum : minimum;
            maximum = s.maximum > maximum ? s.maximum : maximum;
        }
        bool empty() const { return minimum > maximum; }
    };

    ReadingSeries();
    ~ReadingSeries();
    ReadingSeries(const ReadingSeries&) = delete;
    ReadingSeries& operator=(const ReadingSeries&) = delete;

    std::int64_t size() const { return size_; }
    // Keeps a reading that arrived at `timeMs`; a time before the last one kept counts as
    // that one (the clock was set back). False when memory ran out: the reading is left
    // out and the next one kept starts after a gap.
    bool append(float value, std::int64_t timeMs);
    // Readings were missing that never came here: the next one kept starts after a gap.
    void markGap() { gapPending_ = size_ > 0; }

    float value(std::int64_t index) const {
        return valuePages_[static_cast<std::size_t>(index >> kValuePageBits)]
                          [index & ((std::int64_t{1} << kValuePageBits) - 1)];
    }
    // The running average after reading `index`, as the figures compute it: the newest
    // reading weighs one half. Older readings than the last 32 weigh less than a float's
    // last bit, so it is computed from those.
    float average(std::int64_t index) const;
    std::int64_t time(std::int64_t index) const;
    std::int64_t firstTime() const { return size_ ? checkpoints_.front().time : 0; }
    std::int64_t lastTime() const { return lastTime_; }
    // The first reading that arrived at or after `timeMs`; size() when none did.
    std::int64_t indexAtTime(std::int64_t timeMs) const;
    // Readings [from, to), from < to.
    Span values(std::int64_t from, std::int64_t to) const;
    Span averages(std::int64_t from, std::int64_t to) const;
    // The averages of the whole summary entries that hold readings [from, to): at most 127
    // more on either side, for far less than walking the averages up to the entries.
    Span averagesAround(std::int64_t from, std::int64_t to) const;
    // True when readings are missing just before `index`.
    bool gapBefore(std::int64_t index) const;
    // The gaps' positions after `from`, in order: the first is at or after it.
    std::int64_t nextGap(std::int64_t from) const;
    std::int64_t gapCount() const { return static_cast<std::int64_t>(gaps_.size()); }

    std::size_t memoryBytes() const;
    // Appending past this many bytes held fails as running out of memory would; 0 is no
    // limit. Lets tests make memory run out where they choose.
    void setMemoryLimit(std::size_t bytes) { limitBytes_ = bytes; }

    // Reads times forward from a reading, for walking along the run.
    class TimeReader {
    public:
        TimeReader(const ReadingSeries& series, std::int64_t index);
        std::int64_t index() const { return index_; }
        std::int64_t time() const { return time_; }
        void next();

    private:
        friend class ReadingSeries;
        void skipShortBefore(std::int64_t timeMs);
        void moveTo(std::int64_t byte);
        const ReadingSeries* series_;
        std::int64_t index_;
        std::int64_t time_ = 0;
        // The next difference's byte, within its page.
        const std::uint8_t* at_ = nullptr;
        const std::uint8_t* pageEnd_ = nullptr;
        std::int64_t pageStart_ = 0; // of the page at_ is in
    };

    // Moves a reader forward to the first reading at or after `timeMs`, or to size().
    void seek(TimeReader& reader, std::int64_t timeMs) const;

private:
    static constexpr int kValuePageBits = 16;
    static constexpr int kBytePageBits = 16;
    struct Checkpoint {
        std::int64_t time;
        std::int64_t byte; // where the differences after this reading start
    };
    struct Summary {
        std::vector<std::vector<Span>> levels;
        Span open; // the bottom entry still filling
        void take(float v, std::int64_t count);
        Span over(const ReadingSeries& series, bool averages, std::int64_t from,
                  std::int64_t to) const;
        // Whole bottom entries [a, b), the one still filling included.
        Span entries(std::int64_t a, std::int64_t b) const;
    };

    void pushByte(std::uint8_t byte);
    void reserveFor(std::size_t more) const;

    std::vector<std::unique_ptr<float[]>> valuePages_;
    std::vector<std::unique_ptr<std::uint8_t[]>> bytePages_;
    std::vector<Checkpoint> checkpoints_;
    std::vector<std::int64_t> gaps_;
    Summary readings_;
    Summary averages_;
    std::int64_t size_ = 0;
    std::int64_t bytes_ = 0;
    std::int64_t lastTime_ = 0;
    float lastAverage_ = 0;
    bool gapPending_ = false;
    std::size_t limitBytes_ = 0;
};

} // namespace velt
