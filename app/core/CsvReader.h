// Reads CSV records: quote-aware fields, CR, LF and CR LF line ends, empty lines
// skipped, Ctrl+Z as the end of the file. Buffered; a record has no length limit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace velnor::app {

// A file that breaks the CSV rules or a field that does not fit its column. Line is the
// physical line (from 1) where the record starts; column is 1-based, 0 when none applies.
class ECsvError : public platform::Exception {
public:
    ECsvError(std::string message, std::int64_t line, int column = 0);
    [[nodiscard]] std::int64_t Line() const noexcept { return line_; }
    [[nodiscard]] int Column() const noexcept { return column_; }

private:
    std::int64_t line_;
    int column_;
};

// Where the reader's bytes come from.
class TCsvSource {
public:
    virtual ~TCsvSource() = default;
    // Up to `size` bytes into `buffer`; 0 at the end. Raises on a read error.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

// Bytes held in memory (tests, fuzzing).
class TCsvMemorySource : public TCsvSource {
public:
    explicit TCsvMemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(char* buffer, std::size_t size) override;

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

// A file read from its start; open and read failures raise EInOutError. A file that ends
// short of the size it had when opened, because it was cut meanwhile, raises too.
class TCsvFileSource : public TCsvSource {
public:
    explicit TCsvFileSource(const std::string& path);
    ~TCsvFileSource() override;
    TCsvFileSource(const TCsvFileSource&) = delete;
    TCsvFileSource& operator=(const TCsvFileSource&) = delete;
    std::size_t Read(char* buffer, std::size_t size) override;
    // The file's size when it was opened, for progress.
    [[nodiscard]] std::uint64_t Size() const noexcept { return size_; }

private:
    void CheckNotCut() const;

    int fd_ = -1;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0;
};

class TCsvReader {
public:
    static constexpr std::size_t DefaultBufferSize = 256 * 1024;

    // The source is borrowed and read from its current position.
    explicit TCsvReader(TCsvSource& source, std::size_t bufferSize = DefaultBufferSize);

    // Reads the next record into Fields(); false at the end of the file or at Ctrl+Z.
    // Raises ECsvError for an unclosed quote, text after a closing quote, more fields than
    // SetMaxFields allows, or anything but line ends after Ctrl+Z.
    bool ReadRecord();

    [[nodiscard]] std::span<const std::string> Fields() const noexcept {
        return {fields_.data(), count_};
    }
    // Whether field i of the last record was quoted: "" and an empty field differ for LOBs.
    [[nodiscard]] bool FieldQuoted(std::size_t i) const noexcept {
        return i < count_ && quoted_[i];
    }
    // The physical line (from 1) where the last record read starts.
    [[nodiscard]] std::int64_t RecordLine() const noexcept { return recordLine_; }
    // Bytes of the source consumed so far.
    [[nodiscard]] std::uint64_t BytesRead() const noexcept {
        return sourceBytes_ - static_cast<std::uint64_t>(end_ - pos_);
    }
    // A record with more fields raises, before they are all collected; 0 means no limit.
    void SetMaxFields(std::size_t count) noexcept { maxFields_ = count; }

private:
    bool Fill();
    int Peek();
    void SkipLineEnd();
    void CheckTailAfterEndMark();
    std::string& NewField();
    void ReadQuoted(std::string& field);
    void ReadUnquoted(std::string& field);
    void CountLineBreak(char c) noexcept;

    TCsvSource& source_;
    std::vector<char> buffer_;
    const char* pos_ = nullptr;
    const char* end_ = nullptr;
    std::uint64_t sourceBytes_ = 0;
    bool sourceEnded_ = false;
    bool finished_ = false;

    std::vector<std::string> fields_;  // kept across records so their storage is reused
    std::vector<char> quoted_;         // per field of the last record
    std::size_t count_ = 0;
    std::size_t maxFields_ = 0;
    std::int64_t line_ = 1;  // physical line of the next byte
    std::int64_t recordLine_ = 0;
    bool afterCR_ = false;  // the last line break counted was a CR (a LF then joins it)
};

}  // namespace velnor::app
