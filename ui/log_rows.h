#pragma once
// How many rows each line of the log wraps to at the view's width: one for nearly every
// line, more for the few that wrap, which alone are kept. The vertical scroll bar counts
// rows, as QPlainTextEdit's does, so a long wrapped line scrolls row by row while millions
// of one-row readings need no layout.

#include <cstdint>
#include <utility>
#include <vector>

namespace velt {

class LogRows {
public:
    void clear();
    // `count` lines from `first` on were replaced by `added` lines of one row each.
    void replaceLines(std::int64_t first, std::int64_t count, std::int64_t added);
    void setRows(std::int64_t line, int rows);
    int rowsOf(std::int64_t line) const;
    std::int64_t firstRowOf(std::int64_t line) const;
    // The line that holds a row, and the row's place in it.
    std::pair<std::int64_t, int> lineOfRow(std::int64_t row) const;
    std::int64_t rowCount(std::int64_t lineCount) const;

private:
    struct Tall {
        std::int64_t line;
        int rows;
    };
    void index() const;

    std::vector<Tall> tall_;                        // by line
    mutable std::vector<std::int64_t> extraBefore_; // rows past one, in tall_ before each
    mutable bool indexed_ = false;
};

} // namespace velt
