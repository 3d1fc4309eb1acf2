#include "log/reading_lines.h"

#include <algorithm>

namespace velt {

void ReadingLines::appended(std::int64_t firstReading, std::int64_t firstLine, std::int64_t count) {
    if (count <= 0)
        return;
    if (!runs_.empty()) {
        Run& last = runs_.back();
        if (last.firstReading + last.count == firstReading &&
            last.firstLine + last.count == firstLine) {
            last.count += count;
            return;
        }
    }
    runs_.push_back({firstReading, firstLine, count});
}

void ReadingLines::edited(std::int64_t line, std::int64_t removedBreaks, std::int64_t addedBreaks) {
    const std::int64_t keptTo = line + 1;                    // lines before this stay
    const std::int64_t movedFrom = line + removedBreaks + 1; // lines from this on move
    const std::int64_t shift = addedBreaks - removedBreaks;
    std::vector<Run> runs;
    runs.reserve(runs_.size() + 1);
    for (const Run& run : runs_) {
        const std::int64_t end = run.firstLine + run.count;
        if (run.firstLine < keptTo)
            runs.push_back(
                {run.firstReading, run.firstLine, std::min(end, keptTo) - run.firstLine});
        const std::int64_t from = std::max(run.firstLine, movedFrom);
        if (from < end)
            runs.push_back({run.firstReading + (from - run.firstLine), from + shift, end - from});
    }
    runs_ = std::move(runs);
}

std::optional<std::int64_t> ReadingLines::lineOf(std::int64_t reading) const {
    const auto it = std::partition_point(runs_.begin(), runs_.end(), [reading](const Run& r) {
        return r.firstReading + r.count <= reading;
    });
    if (it == runs_.end() || it->firstReading > reading)
        return std::nullopt;
    return it->firstLine + (reading - it->firstReading);
}

} // namespace velt
