#include "ui/log_rows.h"

#include <algorithm>

namespace velt {

namespace {

auto byLine = [](const auto& tall, std::int64_t line) { return tall.line < line; };

} // namespace

void LogRows::clear() {
    tall_.clear();
    indexed_ = false;
}

void LogRows::replaceLines(std::int64_t first, std::int64_t count, std::int64_t added) {
    auto from = std::lower_bound(tall_.begin(), tall_.end(), first, byLine);
    auto to = std::lower_bound(from, tall_.end(), first + count, byLine);
    from = tall_.erase(from, to);
    for (auto it = from; it != tall_.end(); ++it)
        it->line += added - count;
    indexed_ = false;
}

void LogRows::setRows(std::int64_t line, int rows) {
    auto it = std::lower_bound(tall_.begin(), tall_.end(), line, byLine);
    const bool present = it != tall_.end() && it->line == line;
    if (rows <= 1) {
        if (present)
            tall_.erase(it);
    } else if (present) {
        it->rows = rows;
    } else {
        tall_.insert(it, Tall{line, rows});
    }
    indexed_ = false;
}

int LogRows::rowsOf(std::int64_t line) const {
    const auto it = std::lower_bound(tall_.begin(), tall_.end(), line, byLine);
    return it != tall_.end() && it->line == line ? it->rows : 1;
}

void LogRows::index() const {
    if (indexed_)
        return;
    extraBefore_.resize(tall_.size() + 1);
    std::int64_t extra = 0;
    for (std::size_t i = 0; i < tall_.size(); ++i) {
        extraBefore_[i] = extra;
        extra += tall_[i].rows - 1;
    }
    extraBefore_[tall_.size()] = extra;
    indexed_ = true;
}

std::int64_t LogRows::firstRowOf(std::int64_t line) const {
    index();
    const auto it = std::lower_bound(tall_.begin(), tall_.end(), line, byLine);
    return line + extraBefore_[static_cast<std::size_t>(it - tall_.begin())];
}

std::pair<std::int64_t, int> LogRows::lineOfRow(std::int64_t row) const {
    index();
    // The last tall line whose first row is at or before the row.
    std::size_t lo = 0, hi = tall_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (tall_[mid].line + extraBefore_[mid] <= row)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo > 0) {
        const Tall& t = tall_[lo - 1];
        const std::int64_t first = t.line + extraBefore_[lo - 1];
        if (row < first + t.rows)
            return {t.line, static_cast<int>(row - first)};
    }
    return {row - extraBefore_[lo], 0};
}

std::int64_t LogRows::rowCount(std::int64_t lineCount) const {
    index();
    return lineCount + extraBefore_.back();
}

} // namespace velt
