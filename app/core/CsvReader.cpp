#include "app/core/CsvReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/core/TextFile.h"

namespace velnor::app {
namespace {

constexpr int kEnd = -1;
constexpr char kEndMark = 26;  // Ctrl+Z

// Bytes that end a run of unquoted text.
struct TUnquotedStops {
    bool stop[256] = {};
    constexpr TUnquotedStops() {
        stop[static_cast<unsigned char>(',')] = true;
        stop[static_cast<unsigned char>('\r')] = true;
        stop[static_cast<unsigned char>('\n')] = true;
        stop[static_cast<unsigned char>(kEndMark)] = true;
    }
};
constexpr TUnquotedStops kUnquotedStops;

std::string LineText(std::int64_t line) { return std::to_string(line) + " 行目"; }

}  // namespace

ECsvError::ECsvError(std::string message, std::int64_t line, int column)
    : platform::Exception(std::move(message)), line_(line), column_(column) {}

std::size_t TCsvMemorySource::Read(char* buffer, std::size_t size) {
    const std::size_t n = std::min(size, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

TCsvFileSource::TCsvFileSource(const std::string& path) : path_(path) {
    if (path.empty() || path.find('\0') != std::string::npos)
        throw EInOutError(InOutErrorCode(ENOENT, false), path);
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw EInOutError(InOutErrorCode(errno, false), path);
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd_);
        fd_ = -1;
        throw EInOutError(InOutErrorCode(error, false), path);
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
}

TCsvFileSource::~TCsvFileSource() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t TCsvFileSource::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) {
            read_ += static_cast<std::uint64_t>(n);
            return static_cast<std::size_t>(n);
        }
        if (n == 0) {
            CheckNotCut();
            return 0;
        }
        if (errno != EINTR) throw EInOutError(InOutErrorCode(errno, false), path_);
    }
}

void TCsvFileSource::CheckNotCut() const {
    // A file cut short while it was read would otherwise pass for a complete one.
    if (read_ >= size_) return;
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && static_cast<std::uint64_t>(info.st_size) >= size_) return;
    throw platform::Exception(path_ + ": 読み込み中にファイルが短くなりました (開いたときは " +
                              std::to_string(size_) + " バイト、読めたのは " +
                              std::to_string(read_) + " バイト)");
}

TCsvReader::TCsvReader(TCsvSource& source, std::size_t bufferSize)
    : source_(source), buffer_(std::max<std::size_t>(bufferSize, 1)) {
    pos_ = end_ = buffer_.data();
}

bool TCsvReader::Fill() {
    if (sourceEnded_) return false;
    const std::size_t n = source_.Read(buffer_.data(), buffer_.size());
    if (n == 0) {
        sourceEnded_ = true;
        pos_ = end_ = buffer_.data();
        return false;
    }
    sourceBytes_ += n;
    pos_ = buffer_.data();
    end_ = pos_ + n;
    return true;
}

int TCsvReader::Peek() {
    if (pos_ == end_ && !Fill()) return kEnd;
    return static_cast<unsigned char>(*pos_);
}

void TCsvReader::SkipLineEnd() {
    // CR, LF or CR LF: one physical line either way.
    const int c = Peek();
    ++pos_;
    ++line_;
    if (c == '\r' && Peek() == '\n') ++pos_;
}

void TCsvReader::CheckTailAfterEndMark() {
    // Only line ends (and more end marks, as old editors pad with them) may follow.
    ++pos_;
    for (int c = Peek(); c != kEnd; c = Peek()) {
        if (c == '\r' || c == '\n') {
            SkipLineEnd();
        } else if (c == kEndMark) {
            ++pos_;
        } else {
            throw ECsvError(LineText(line_) + ": ファイル終端 (Ctrl+Z) の後にデータがあります",
                            line_);
        }
    }
}

std::string& TCsvReader::NewField() {
    if (maxFields_ != 0 && count_ == maxFields_) {
        throw ECsvError(LineText(recordLine_) + ": フィールドの数がテーブルの列数 (" +
                            std::to_string(maxFields_) + ") を超えています",
                        recordLine_);
    }
    if (count_ == fields_.size()) fields_.emplace_back();
    std::string& field = fields_[count_++];
    field.clear();
    return field;
}

void TCsvReader::ReadUnquoted(std::string& field) {
    // A quote inside an unquoted field is ordinary text.
    for (;;) {
        const char* run = pos_;
        while (run != end_ && !kUnquotedStops.stop[static_cast<unsigned char>(*run)]) ++run;
        field.append(pos_, run);
        pos_ = run;
        if (pos_ != end_ || !Fill()) return;
    }
}

void TCsvReader::ReadQuoted(std::string& field) {
    ++pos_;  // the opening quote
    for (;;) {
        const char* run = pos_;
        while (run != end_ && *run != '"' && *run != '\r' && *run != '\n') ++run;
        field.append(pos_, run);
        pos_ = run;
        const int c = Peek();
        if (c == kEnd) {
            throw ECsvError(LineText(recordLine_) + ": 引用符が閉じられていません", recordLine_,
                            static_cast<int>(count_));
        }
        if (c != '"' && c != '\r' && c != '\n') continue;  // the run went on past a refill
        ++pos_;
        if (c == '"') {
            if (Peek() != '"') return;
            ++pos_;
            field.push_back('"');
        } else {
            // A line break inside quotes is data, but it still starts a new physical line.
            field.push_back(static_cast<char>(c));
            ++line_;
            if (c == '\r' && Peek() == '\n') {
                ++pos_;
                field.push_back('\n');
            }
        }
    }
}

bool TCsvReader::ReadRecord() {
    count_ = 0;
    if (finished_) return false;
    for (;;) {
        const int c = Peek();
        if (c == kEnd) {
            finished_ = true;
            return false;
        }
        if (c == kEndMark) {
            finished_ = true;
            CheckTailAfterEndMark();
            return false;
        }
        if (c != '\r' && c != '\n') break;
        SkipLineEnd();  // empty lines carry no record
    }
    recordLine_ = line_;
    for (;;) {
        std::string& field = NewField();
        const bool quoted = Peek() == '"';
        quoted_.resize(fields_.size());
        quoted_[count_ - 1] = quoted;
        if (quoted) {
            ReadQuoted(field);
            const int next = Peek();
            if (next != ',' && next != '\r' && next != '\n' && next != kEnd && next != kEndMark) {
                throw ECsvError(LineText(line_) + " " + std::to_string(count_) +
                                    " 列目: 閉じ引用符の後に文字があります",
                                line_, static_cast<int>(count_));
            }
        } else {
            ReadUnquoted(field);
        }
        const int c = Peek();
        if (c == ',') {
            ++pos_;
            continue;
        }
        if (c == '\r' || c == '\n') SkipLineEnd();
        return true;  // a Ctrl+Z or the end is dealt with by the next call
    }
}

}  // namespace velnor::app
