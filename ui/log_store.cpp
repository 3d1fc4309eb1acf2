#include "ui/log_store.h"

#include <QStringList>

#include <algorithm>
#include <new>

namespace velt {

namespace {

// Room for `more` elements, growing geometrically as push_back would.
template <typename T> void makeRoom(std::vector<T>& v, std::size_t more) {
    if (v.capacity() - v.size() < more)
        v.reserve(std::max(v.size() + more, 2 * v.capacity()));
}

} // namespace

LogStore::LogStore(std::int32_t chunkChars, std::int32_t chunkLines)
    : chunkChars_(chunkChars), chunkLines_(chunkLines) {
    appendLine(QStringView());
}

std::size_t LogStore::chunkOf(std::int64_t line) const {
    const auto it = std::upper_bound(firstLine_.begin(), firstLine_.end(), line);
    return static_cast<std::size_t>(it - firstLine_.begin()) - 1;
}

QStringView LogStore::line(std::int64_t index) const {
    const std::size_t c = chunkOf(index);
    const Chunk& chunk = chunks_[c];
    const auto i = static_cast<std::size_t>(index - firstLine_[c]);
    const std::uint32_t begin = i == 0 ? 0 : chunk.ends[i - 1];
    return QStringView(chunk.text.data() + begin, static_cast<qsizetype>(chunk.ends[i] - begin));
}

void LogStore::startChunk() {
    // Everything that can fail is reserved first, so that a failure changes nothing.
    firstLine_.reserve(firstLine_.size() + 1);
    firstChar_.reserve(firstChar_.size() + 1);
    Chunk fresh;
    fresh.ends.reserve(static_cast<std::size_t>(chunkLines_));
    chunks_.reserve(chunks_.size() + 1);
    if (!chunks_.empty()) {
        // A full chunk keeps only what it holds; only the last one has room to grow.
        chunks_.back().text.shrink_to_fit();
        chunks_.back().ends.shrink_to_fit();
    }
    chunks_.push_back(std::move(fresh));
    firstLine_.push_back(lineCount_);
    firstChar_.push_back(charCount_);
}

void LogStore::appendLine(QStringView text) {
    if (limitBytes_ > 0 && memoryBytes() + static_cast<std::size_t>(text.size()) * 2 > limitBytes_)
        throw std::bad_alloc();
    if (chunks_.empty() || static_cast<std::int32_t>(chunks_.back().ends.size()) >= chunkLines_ ||
        (!chunks_.back().ends.empty() &&
         static_cast<std::int64_t>(chunks_.back().text.size()) + text.size() > chunkChars_))
        startChunk();
    Chunk& chunk = chunks_.back();
    // Both reservations before either change: a line is appended whole or not at all.
    makeRoom(chunk.text, static_cast<std::size_t>(text.size()));
    makeRoom(chunk.ends, 1);
    chunk.text.insert(chunk.text.end(), text.utf16(), text.utf16() + text.size());
    chunk.ends.push_back(static_cast<std::uint32_t>(chunk.text.size()));
    ++lineCount_;
    charCount_ += text.size();
}

LogPosition LogStore::end() const {
    return {lineCount_ - 1, static_cast<std::int32_t>(line(lineCount_ - 1).size())};
}

LogPosition LogStore::clamp(LogPosition p) const {
    p.line = std::clamp<std::int64_t>(p.line, 0, lineCount_ - 1);
    p.column =
        std::clamp<std::int32_t>(p.column, 0, static_cast<std::int32_t>(line(p.line).size()));
    return p;
}

QString LogStore::text(LogPosition from, LogPosition to) const {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from.line == to.line)
        return line(from.line).mid(from.column, to.column - from.column).toString();
    QString result;
    result.reserve(static_cast<qsizetype>(offsetOf(to) - offsetOf(from)));
    result.append(line(from.line).mid(from.column));
    for (std::int64_t i = from.line + 1; i < to.line; ++i) {
        result.append(u'\n');
        result.append(line(i));
    }
    result.append(u'\n');
    result.append(line(to.line).left(to.column));
    return result;
}

LogPosition LogStore::replace(LogPosition from, LogPosition to, QStringView text) {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);

    // The affected chunks are rebuilt from their untouched lines and the new ones.
    const std::size_t first = chunkOf(from.line);
    const std::size_t last = chunkOf(to.line);
    std::vector<QString> lines;
    for (std::int64_t i = firstLine_[first]; i < from.line; ++i)
        lines.push_back(line(i).toString());
    QString joined = line(from.line).left(from.column).toString();
    joined.append(text).append(line(to.line).mid(to.column));
    const auto pieces = QStringView(joined).split(u'\n');
    const LogPosition after{
        from.line + static_cast<std::int64_t>(pieces.size()) - 1,
        static_cast<std::int32_t>(pieces.last().size() - line(to.line).mid(to.column).size())};
    for (QStringView piece : pieces)
        lines.push_back(piece.toString());
    const std::int64_t lastLineOfChunk =
        last + 1 < firstLine_.size() ? firstLine_[last + 1] - 1 : lineCount_ - 1;
    for (std::int64_t i = to.line + 1; i <= lastLineOfChunk; ++i)
        lines.push_back(line(i).toString());

    std::vector<Chunk> tail(
        std::make_move_iterator(chunks_.begin() + static_cast<std::ptrdiff_t>(last) + 1),
        std::make_move_iterator(chunks_.end()));
    chunks_.resize(first);
    firstLine_.resize(first);
    firstChar_.resize(first);
    rebuildIndex();
    for (const QString& l : lines)
        appendLine(l);
    chunks_.back().text.shrink_to_fit();
    chunks_.back().ends.shrink_to_fit();
    for (Chunk& chunk : tail)
        chunks_.push_back(std::move(chunk));
    rebuildIndex();
    return after;
}

void LogStore::rebuildIndex() {
    firstLine_.resize(chunks_.size());
    firstChar_.resize(chunks_.size());
    lineCount_ = 0;
    charCount_ = 0;
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        firstLine_[i] = lineCount_;
        firstChar_[i] = charCount_;
        lineCount_ += static_cast<std::int64_t>(chunks_[i].ends.size());
        charCount_ += static_cast<std::int64_t>(chunks_[i].text.size());
    }
}

std::int64_t LogStore::offsetOf(LogPosition p) const {
    p = clamp(p);
    const std::size_t c = chunkOf(p.line);
    const auto i = static_cast<std::size_t>(p.line - firstLine_[c]);
    const std::int64_t charsBefore = firstChar_[c] + (i == 0 ? 0 : chunks_[c].ends[i - 1]);
    return charsBefore + p.line + p.column; // one separator per earlier line
}

LogPosition LogStore::positionAt(std::int64_t offset) const {
    offset = std::clamp<std::int64_t>(offset, 0, characterCount());
    // The chunk whose first line starts at or before the offset.
    std::size_t lo = 0, hi = chunks_.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (firstChar_[mid] + firstLine_[mid] <= offset)
            lo = mid;
        else
            hi = mid;
    }
    const Chunk& chunk = chunks_[lo];
    std::int64_t lineStart = firstChar_[lo] + firstLine_[lo];
    for (std::size_t i = 0; i < chunk.ends.size(); ++i) {
        const std::uint32_t begin = i == 0 ? 0 : chunk.ends[i - 1];
        const std::int64_t length = chunk.ends[i] - begin;
        if (offset <= lineStart + length)
            return {firstLine_[lo] + static_cast<std::int64_t>(i),
                    static_cast<std::int32_t>(offset - lineStart)};
        lineStart += length + 1;
    }
    return end();
}

std::size_t LogStore::memoryBytes() const {
    std::size_t bytes =
        chunks_.capacity() * sizeof(Chunk) + firstLine_.capacity() * 8 + firstChar_.capacity() * 8;
    for (const Chunk& chunk : chunks_)
        bytes += chunk.text.capacity() * sizeof(char16_t) +
                 chunk.ends.capacity() * sizeof(std::uint32_t);
    return bytes;
}

} // namespace velt
