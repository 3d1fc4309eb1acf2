#include "log/log_store.h"

#include "temperature/format.h"
#include "temperature/reading.h"

#include <QStringList>

// Where the system has no such advice (Windows), pages come as they come.
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <bit>
#include <new>
#include <numeric>

namespace velt {

namespace {

// Room for `more` elements, growing geometrically as push_back would.
template <typename T> void makeRoom(std::vector<T>& v, std::size_t more) {
    if (v.capacity() - v.size() < more)
        v.reserve(std::max(v.size() + more, 2 * v.capacity()));
}

// Reading lines are made on demand into one of these, so that a few lines read one
// after the other stay valid together. Each is reserved once and never grows past it.
constexpr int kScratchLines = 8;
constexpr qsizetype kLongestReadingLine = 64;

// A buffer of hundreds of megabytes is otherwise given its memory a 4 KiB page at a time,
// one fault each, and those faults took half the time of copying a long log.
void adviseHugePages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = 2 << 20;
    if (bytes < 4 * kHugePage)
        return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

} // namespace

LogStore::LogStore(std::int32_t chunkChars, std::int32_t chunkLines)
    : chunkChars_(chunkChars), chunkLines_(chunkLines),
      scratch_(std::make_unique<QString[]>(kScratchLines)) {
    for (int i = 0; i < kScratchLines; ++i)
        scratch_[i].reserve(kLongestReadingLine);
    appendLine(QStringView());
}

LogStore::~LogStore() = default;

std::size_t LogStore::chunkOf(std::int64_t line) const {
    const auto it = std::upper_bound(firstLine_.begin(), firstLine_.end(), line);
    return static_cast<std::size_t>(it - firstLine_.begin()) - 1;
}

std::int64_t LogStore::Chunk::lines() const {
    return readingLines ? readingCount : static_cast<std::int64_t>(ends.size());
}

std::int64_t LogStore::Chunk::startOf(std::size_t i) const {
    if (!readingLines)
        return i == 0 ? 0 : ends[i - 1];
    if (wideLengths)
        return std::accumulate(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(i),
                               std::int64_t{0});
    std::int64_t start = static_cast<std::int64_t>(i) * baseLength;
    for (std::size_t k = 0; k < i / 2; ++k)
        start += (lengths[k] & 15) + (lengths[k] >> 4);
    if (i % 2 != 0)
        start += lengths[i / 2] & 15;
    return start;
}

std::int32_t LogStore::Chunk::lengthOf(std::size_t i) const {
    if (readingLines && wideLengths)
        return lengths[i];
    if (readingLines)
        return baseLength + ((lengths[i / 2] >> (4 * (i % 2))) & 15);
    return static_cast<std::int32_t>(ends[i] - (i == 0 ? 0 : ends[i - 1]));
}

QStringView LogStore::line(std::int64_t index) const {
    const std::size_t c = chunkOf(index);
    const Chunk& chunk = chunks_[c];
    const auto i = static_cast<std::size_t>(index - firstLine_[c]);
    if (!chunk.readingLines) {
        const std::uint32_t begin = i == 0 ? 0 : chunk.ends[i - 1];
        return QStringView(chunk.text.data() + begin,
                           static_cast<qsizetype>(chunk.ends[i] - begin));
    }
    // Made as the reading handler made it: the same prefix and number text.
    QString& out = scratch_[nextScratch_++ % kScratchLines];
    out.resize(0);
    out.append(kLogLinePrefix);
    appendFloatToStr(out, readings_.value(chunk.firstReading + static_cast<std::int64_t>(i)),
                     QStringView(&chunk.separator, 1));
    return out;
}

std::int32_t LogStore::lineLength(std::int64_t index) const {
    const std::size_t c = chunkOf(index);
    return chunks_[c].lengthOf(static_cast<std::size_t>(index - firstLine_[c]));
}

void LogStore::startChunk(bool readingLines, char16_t separator, std::int64_t firstReading,
                          std::uint8_t firstLength, bool wideLengths) {
    // Everything that can fail is reserved first, so that a failure changes nothing.
    makeRoom(firstLine_, 1);
    makeRoom(firstChar_, 1);
    Chunk fresh;
    fresh.readingLines = readingLines;
    fresh.separator = separator;
    fresh.firstReading = firstReading;
    if (readingLines) {
        // Half a byte a line, within 15 of a base a little below the first length: readings
        // of one sensor differ by a few digits at most. Only a length shorter than any
        // reading's line (never made by the handler) takes a byte.
        const int shortest = static_cast<int>(kLogLinePrefix.size()) + 1;
        fresh.wideLengths = wideLengths || firstLength < shortest;
        fresh.baseLength = static_cast<std::uint8_t>(std::max(shortest, firstLength - 7));
        fresh.lengths.reserve(
            static_cast<std::size_t>(fresh.wideLengths ? chunkLines_ : (chunkLines_ + 1) / 2));
    } else {
        fresh.ends.reserve(static_cast<std::size_t>(chunkLines_));
    }
    makeRoom(chunks_, 1);
    if (!chunks_.empty()) {
        // A full chunk keeps only what it holds; only the last one has room to grow.
        Chunk& last = chunks_.back();
        last.text.shrink_to_fit();
        last.ends.shrink_to_fit();
        last.lengths.shrink_to_fit();
    }
    chunks_.push_back(std::move(fresh));
    firstLine_.push_back(lineCount_);
    firstChar_.push_back(charCount_);
}

void LogStore::checkLimit(std::size_t moreBytes) const {
    if (limitBytes_ > 0 && memoryBytes() + moreBytes > limitBytes_)
        throw std::bad_alloc();
}

void LogStore::appendLine(QStringView text) {
    checkLimit(static_cast<std::size_t>(text.size()) * 2);
    if (chunks_.empty() || chunks_.back().readingLines ||
        static_cast<std::int32_t>(chunks_.back().ends.size()) >= chunkLines_ ||
        (!chunks_.back().ends.empty() &&
         static_cast<std::int64_t>(chunks_.back().text.size()) + text.size() > chunkChars_))
        startChunk(false, u'.');
    Chunk& chunk = chunks_.back();
    // Both reservations before either change: a line is appended whole or not at all.
    makeRoom(chunk.text, static_cast<std::size_t>(text.size()));
    makeRoom(chunk.ends, 1);
    chunk.text.insert(chunk.text.end(), text.utf16(), text.utf16() + text.size());
    chunk.ends.push_back(static_cast<std::uint32_t>(chunk.text.size()));
    chunk.chars += text.size();
    ++lineCount_;
    charCount_ += text.size();
}

std::int64_t LogStore::appendReadings(const float* values, const std::int64_t* timesMs,
                                      const std::uint8_t* lengths, std::int64_t count,
                                      QStringView separator, std::int64_t* inReadings) {
    std::int64_t appended = 0;
    try {
        for (; appended < count; ++appended) {
            checkLimit(1);
            const std::int64_t reading =
                readings_.append(values[appended], timesMs[appended]) ? readings_.size() - 1 : -1;
            if (inReadings)
                inReadings[appended] = reading;
            const std::uint8_t length = lengths[appended];
            if (reading < 0 || separator.size() != 1) {
                // Kept as text: a reading with no room among the readings, or a separator
                // of more than one character.
                QString line = kLogLinePrefix.toString();
                appendFloatToStr(line, values[appended], separator);
                appendLine(line);
                continue;
            }
            const char16_t sep = separator.front().unicode();
            const auto fits = [&](const Chunk& c) {
                return c.wideLengths || (length >= c.baseLength && length - c.baseLength <= 15);
            };
            const bool misfit = !chunks_.empty() && chunks_.back().readingLines &&
                                chunks_.back().readingCount < chunkLines_ && !fits(chunks_.back());
            if (chunks_.empty() || !chunks_.back().readingLines ||
                chunks_.back().separator != sep || chunks_.back().readingCount >= chunkLines_ ||
                chunks_.back().firstReading + chunks_.back().readingCount != reading || misfit) {
                // Lengths far apart: the next chunk takes a byte a line, so that lines of
                // every length cost no more than that, however they alternate.
                startChunk(true, sep, reading, length, misfit);
            }
            // Within the capacity reserved when the chunk started: this cannot fail.
            Chunk& chunk = chunks_.back();
            if (chunk.wideLengths)
                chunk.lengths.push_back(length);
            else if (chunk.readingCount % 2 == 0)
                chunk.lengths.push_back(static_cast<std::uint8_t>(length - chunk.baseLength));
            else
                chunk.lengths.back() |= static_cast<std::uint8_t>((length - chunk.baseLength) << 4);
            ++chunk.readingCount;
            chunk.chars += length;
            charCount_ += length;
            ++lineCount_;
        }
    } catch (const std::bad_alloc&) {
        // Whole lines only were appended; the caller learns how many.
    }
    return appended;
}

LogPosition LogStore::end() const {
    return {lineCount_ - 1, lineLength(lineCount_ - 1)};
}

LogPosition LogStore::clamp(LogPosition p) const {
    p.line = std::clamp<std::int64_t>(p.line, 0, lineCount_ - 1);
    p.column = std::clamp<std::int32_t>(p.column, 0, lineLength(p.line));
    return p;
}

QString LogStore::text(LogPosition from, LogPosition to) const {
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from.line == to.line)
        return line(from.line).mid(from.column, to.column - from.column).toString();
    // Written straight into a buffer of the known length: a copy of the whole log makes
    // hundreds of millions of characters, and appending them piece by piece cost more
    // than making them.
    const auto length = static_cast<qsizetype>(offsetOf(to) - offsetOf(from));
    QString result(length, Qt::Uninitialized);
    adviseHugePages(result.data(), length * sizeof(QChar));
    QChar* out = result.data();
    QChar* const end = out + length;
    const auto put = [&out, end](QStringView text) {
        // Never past the end, even if a line's length were ever off.
        const qsizetype n = std::min<qsizetype>(text.size(), end - out);
        std::copy_n(text.data(), n, out);
        out += n;
    };
    put(line(from.line).mid(from.column));
    // Readings repeat (a sensor reports a narrow range in sixteenths of a degree), so a
    // long copy formats each distinct reading once.
    struct Formatted {
        std::uint32_t bits = 0;
        char16_t separator = 0;
        QString line;
    };
    const int formattedBits = to.line - from.line > 1024 ? 14 : 6;
    std::vector<Formatted> formatted(std::size_t{1} << formattedBits);
    for (std::int64_t i = from.line + 1; i < to.line;) {
        const std::size_t c = chunkOf(i);
        const Chunk& chunk = chunks_[c];
        const std::int64_t stop = std::min(to.line, firstLine_[c] + chunk.lines());
        for (; i < stop; ++i) {
            put(u"\n");
            const auto k = static_cast<std::size_t>(i - firstLine_[c]);
            if (!chunk.readingLines) {
                put(line(i));
                continue;
            }
            const float value = readings_.value(chunk.firstReading + static_cast<std::int64_t>(k));
            const auto bits = std::bit_cast<std::uint32_t>(value);
            Formatted& f = formatted[(bits * 0x9E3779B1u) >> (32 - formattedBits)];
            if (f.line.isEmpty() || f.bits != bits || f.separator != chunk.separator) {
                f.bits = bits;
                f.separator = chunk.separator;
                f.line = kLogLinePrefix.toString();
                appendFloatToStr(f.line, value, QStringView(&chunk.separator, 1));
            }
            put(f.line);
        }
    }
    put(u"\n");
    put(line(to.line).left(to.column));
    result.truncate(out - result.data());
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
        lineCount_ += chunks_[i].lines();
        charCount_ += chunks_[i].chars;
    }
}

std::int64_t LogStore::offsetOf(LogPosition p) const {
    p = clamp(p);
    const std::size_t c = chunkOf(p.line);
    const auto i = static_cast<std::size_t>(p.line - firstLine_[c]);
    const std::int64_t charsBefore = firstChar_[c] + chunks_[c].startOf(i);
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
    const auto lines = static_cast<std::size_t>(chunk.lines());
    for (std::size_t i = 0; i < lines; ++i) {
        const std::int64_t length = chunk.lengthOf(i);
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
                 chunk.ends.capacity() * sizeof(std::uint32_t) + chunk.lengths.capacity();
    return bytes;
}

} // namespace velt
