#pragma once
// Which log line shows which reading. Readings reach the log in runs of consecutive lines;
// an edit drops the lines it removed from their runs and moves the lines below it, so a
// reading keeps its line until the user edits that line away. The caller still compares
// the line's text: an edit within the line leaves it in place but changed.

#include <cstdint>
#include <optional>
#include <vector>

namespace velt {

class ReadingLines {
public:
    // Readings first..first+count-1 became lines line..line+count-1.
    void appended(std::int64_t firstReading, std::int64_t firstLine, std::int64_t count);
    // An edit starting in `line` removed `removedBreaks` line breaks and added
    // `addedBreaks`: the lines after `line` up to the last removed break are gone.
    void edited(std::int64_t line, std::int64_t removedBreaks, std::int64_t addedBreaks);
    void clear() { runs_.clear(); }
    std::optional<std::int64_t> lineOf(std::int64_t reading) const;

private:
    struct Run {
        std::int64_t firstReading;
        std::int64_t firstLine;
        std::int64_t count;
    };
    std::vector<Run> runs_;
};

} // namespace velt
