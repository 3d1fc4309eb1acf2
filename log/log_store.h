#pragma once
// The log's text, kept compactly for logs of hundreds of millions of lines, in chunks of
// lines with no object per line. A chunk holds either text (UTF-16, back to back, with
// the end of every line) or readings' lines: those are fully given by the reading and
// the decimal separator. Every reading appended is kept once, with its arrival time, in
// readings() (the chart's record, which the user's edits do not touch); a chunk of
// readings' lines names where its readings start there and keeps each line's length in
// half a byte as a rule, and makes the text when it is read, exactly as the handler made
// it.
// Appending touches only the last chunk; an edit rebuilds the chunks it spans as text.
// Offsets are 64-bit throughout. There is always at least one line.

#include "log/reading_series.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <vector>

namespace velt {

struct LogPosition {
    std::int64_t line = 0;
    std::int32_t column = 0;
    friend auto operator<=>(const LogPosition&, const LogPosition&) = default;
};

class LogStore {
public:
    explicit LogStore(std::int32_t chunkChars = 32768, std::int32_t chunkLines = 2048);
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    std::int64_t lineCount() const { return lineCount_; }
    // Characters with one separator between lines: the length of text().
    std::int64_t characterCount() const { return charCount_ + lineCount_ - 1; }
    // Valid until the store next changes and for seven more lines read after it.
    QStringView line(std::int64_t index) const;
    std::int32_t lineLength(std::int64_t index) const;

    void appendLine(QStringView text);
    // Readings that arrived at `timesMs` and their lines: each is "Teplota = " and the
    // reading's text with `separator`, of the length given (what the reading handler
    // made). Returns how many lines were appended, in order: fewer when memory ran out.
    // Where `inReadings` is given, it gets each appended reading's index in readings(), or
    // -1 where that had no room (its line is then kept as text).
    std::int64_t appendReadings(const float* values, const std::int64_t* timesMs,
                                const std::uint8_t* lengths, std::int64_t count,
                                QStringView separator, std::int64_t* inReadings = nullptr);
    // Every reading appended, with its arrival time, whatever became of its line.
    const ReadingSeries& readings() const { return readings_; }
    // Readings that never reached the log (it was out of memory): a gap in readings().
    void markReadingsMissing() { readings_.markGap(); }
    // Replaces the text between two positions (from <= to) with `text`, which may hold
    // line breaks; returns the position just after the inserted text.
    LogPosition replace(LogPosition from, LogPosition to, QStringView text);

    QString text(LogPosition from, LogPosition to) const;
    QString text() const { return text({0, 0}, end()); }
    LogPosition end() const;
    LogPosition clamp(LogPosition p) const;

    std::int64_t offsetOf(LogPosition p) const;
    LogPosition positionAt(std::int64_t offset) const;

    // Bytes held by the lines, for benchmarks (readings() counts its own).
    std::size_t memoryBytes() const;
    // Appending past this many bytes held throws std::bad_alloc, as running out of memory
    // would; 0 is no limit. Lets tests make memory run out where they choose.
    void setMemoryLimit(std::size_t bytes) { limitBytes_ = bytes; }

private:
    struct Chunk {
        std::vector<char16_t> text;
        std::vector<std::uint32_t> ends; // end of each line within text
        // Readings' lines: the first line's reading in readings(), and the lines' lengths:
        // above a base length, two lines a byte (low half first), or where a length lies
        // too far from the others, a byte a line.
        std::int64_t firstReading = 0;
        std::int64_t readingCount = 0;
        std::vector<std::uint8_t> lengths;
        std::uint8_t baseLength = 0;
        bool wideLengths = false;
        std::int64_t chars = 0;
        char16_t separator = u'.';
        bool readingLines = false;

        std::int64_t lines() const;
        std::int64_t startOf(std::size_t line) const;
        std::int32_t lengthOf(std::size_t line) const;
    };

    std::size_t chunkOf(std::int64_t line) const;
    void startChunk(bool readingLines, char16_t separator, std::int64_t firstReading = 0,
                    std::uint8_t firstLength = 0, bool wideLengths = false);
    void rebuildIndex();
    void checkLimit(std::size_t moreBytes) const;

    ReadingSeries readings_;
    std::int32_t chunkChars_;
    std::int32_t chunkLines_;
    std::vector<Chunk> chunks_;
    std::vector<std::int64_t> firstLine_; // per chunk
    std::vector<std::int64_t> firstChar_; // per chunk, separators not counted
    std::int64_t lineCount_ = 0;
    std::int64_t charCount_ = 0;
    std::size_t limitBytes_ = 0;
    std::unique_ptr<QString[]> scratch_;
    mutable unsigned nextScratch_ = 0;
};

} // namespace velt
