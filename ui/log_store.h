#pragma once
// The log's text, kept compactly for logs of many millions of lines: lines back to back
// in chunks of UTF-16 text, each chunk with the end offset of every line in it, and no
// object per line. Appending a line touches only the last chunk; an edit rebuilds only
// the chunks it spans. There is always at least one line.

#include <QString>
#include <QStringView>

#include <cstdint>
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

    std::int64_t lineCount() const { return lineCount_; }
    // Characters with one separator between lines: the length of text().
    std::int64_t characterCount() const { return charCount_ + lineCount_ - 1; }
    // Valid until the store next changes.
    QStringView line(std::int64_t index) const;

    void appendLine(QStringView text);
    // Replaces the text between two positions (from <= to) with `text`, which may hold
    // line breaks; returns the position just after the inserted text.
    LogPosition replace(LogPosition from, LogPosition to, QStringView text);

    QString text(LogPosition from, LogPosition to) const;
    QString text() const { return text({0, 0}, end()); }
    LogPosition end() const;
    LogPosition clamp(LogPosition p) const;

    std::int64_t offsetOf(LogPosition p) const;
    LogPosition positionAt(std::int64_t offset) const;

    // Bytes held, for benchmarks.
    std::size_t memoryBytes() const;
    // Appending past this many bytes held throws std::bad_alloc, as running out of memory
    // would; 0 is no limit. Lets tests make memory run out where they choose.
    void setMemoryLimit(std::size_t bytes) { limitBytes_ = bytes; }

private:
    struct Chunk {
        std::vector<char16_t> text;
        std::vector<std::uint32_t> ends; // end of each line within text
    };

    std::size_t chunkOf(std::int64_t line) const;
    void startChunk();
    void rebuildIndex();

    std::int32_t chunkChars_;
    std::int32_t chunkLines_;
    std::vector<Chunk> chunks_;
    std::vector<std::int64_t> firstLine_; // per chunk
    std::vector<std::int64_t> firstChar_; // per chunk, separators not counted
    std::int64_t lineCount_ = 0;
    std::int64_t charCount_ = 0;
    std::size_t limitBytes_ = 0;
};

} // namespace velt
