#include "app/core/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace velnor::app {
namespace {

constexpr std::size_t BufferSize = 64 * 1024;
constexpr char EndMark = 26;

// Fault injection: counts writes down to the one that fails.
std::atomic<long> writesUntilFault{0};
std::atomic<int> faultError{ENOSPC};
std::once_flag faultFromEnvironment;

void ReadFaultFromEnvironment() {
    if (const char* text = std::getenv("VELNOR_FAIL_WRITE")) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end != text && n > 0) writesUntilFault.store(n);
    }
}

// write(2) with the injected fault; returns -1 with errno set on failure.
ssize_t SystemWrite(int fd, const char* data, std::size_t size) {
    std::call_once(faultFromEnvironment, ReadFaultFromEnvironment);
    long left = writesUntilFault.load();
    while (left > 0 && !writesUntilFault.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) {
        errno = faultError.load();
        return -1;
    }
    return ::write(fd, data, size);
}

}  // namespace

EInOutError::EInOutError(int errorCode, std::string fileName, bool namePath)
    : Exception(namePath ? InOutErrorMessage(errorCode) + ": " + fileName
                         : InOutErrorMessage(errorCode)),
      errorCode_(errorCode),
      fileName_(std::move(fileName)) {}

std::string InOutErrorMessage(int errorCode) {
    switch (errorCode) {
        case 2:
            return "ファイルが見つかりません";
        case 3:
            return "不正なファイル名です";
        case 4:
            return "オープンしたファイルが多すぎます";
        case 5:
            return "ファイルへのアクセスが拒否されました";
        case 100:
            return "ファイルの末尾以降を読み込みました";
        case 101:
            return "ディスクがいっぱいです";
        case 106:
            return "入力値が数値ではありません";
        default:
            return "I/O エラー (" + std::to_string(errorCode) + ")";
    }
}

int InOutErrorCode(int systemError, bool writing) noexcept {
    switch (systemError) {
        case ENOENT:
            return 2;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case EINVAL:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return 5;
        case EBADF:
            return 6;
        case EIO:
            return writing ? 29 : 30;  // write fault, read fault
        case ETXTBSY:
        case EBUSY:
            return 32;  // in use by another program
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return 101;
        default:
            return systemError;
    }
}

TTextFile::~TTextFile() { CloseDescriptor(); }

void TTextFile::Raise(int systemError, bool writing) const {
    throw EInOutError(InOutErrorCode(systemError, writing), path_);
}

void TTextFile::RequireMode(TMode mode) const {
    if (mode_ == mode) return;
    // Codes for a file that is not open, not open for input, not open for output.
    throw EInOutError(mode_ == TMode::Closed ? 103 : mode == TMode::Reading ? 104 : 105, path_);
}

void TTextFile::Open(const std::string& path, bool writing) {
    CloseDescriptor();
    path_ = path;
    if (path.empty() || path.find('\0') != std::string::npos) Raise(ENOENT, writing);
    const int flags = writing ? (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) Raise(errno, writing);
    if (!writing) {
        struct stat info {};
        if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
            const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
            ::close(fd);
            Raise(error, writing);
        }
    }
    fd_ = fd;
    mode_ = writing ? TMode::Writing : TMode::Reading;
    buffer_.resize(BufferSize);
    pos_ = end_ = rawEnd_ = 0;
    bufferOffset_ = 0;
    ended_ = sawEndMark_ = false;
    writeError_ = 0;
}

void TTextFile::OpenForWriting(const std::string& path, TTextEncoding encoding) {
    encoder_.reset();
    Open(path, true);
    if (encoding == TTextEncoding::teCp932) encoder_ = std::make_unique<TCp932Encoder>();
    if (encoding == TTextEncoding::teUtf8Bom) WriteBytes(kUtf8Bom);
}

void TTextFile::OpenForReading(const std::string& path) {
    encoder_.reset();
    Open(path, false);
}

void TTextFile::WriteOut(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = SystemWrite(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            writeError_ = errno;
            Raise(writeError_, true);
        }
        if (n == 0) {
            writeError_ = ENOSPC;  // a write that takes nothing makes no progress
            Raise(writeError_, true);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        bufferOffset_ += static_cast<std::uint64_t>(n);
    }
}

void TTextFile::Write(std::string_view text) {
    if (!encoder_) {
        WriteBytes(text);
        return;
    }
    RequireMode(TMode::Writing);
    encoded_.clear();
    encoder_->Encode(text, encoded_);
    WriteBytes(encoded_);
}

void TTextFile::WriteBytes(std::string_view text) {
    RequireMode(TMode::Writing);
    if (writeError_ != 0) Raise(writeError_, true);
    if (text.size() > buffer_.size() - end_) {
        Flush();
        if (text.size() >= buffer_.size()) {
            WriteOut(text.data(), text.size());
            return;
        }
    }
    std::memcpy(buffer_.data() + end_, text.data(), text.size());
    end_ += text.size();
}

void TTextFile::WriteLine(std::string_view text) {
    Write(text);
    if (encoder_) encoder_->Finish();
    WriteBytes("\r\n");
}

void TTextFile::Flush() {
    RequireMode(TMode::Writing);
    if (writeError_ != 0) Raise(writeError_, true);
    const std::size_t size = end_;
    end_ = 0;  // dropped on failure: the file is broken from here on anyway
    WriteOut(buffer_.data(), size);
}

bool TTextFile::Fill() {
    if (pos_ < end_) return true;
    if (ended_) return false;
    bufferOffset_ += rawEnd_;
    pos_ = end_ = rawEnd_ = 0;
    ssize_t n;
    do {
        n = ::read(fd_, buffer_.data(), buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) Raise(errno, false);
    if (n == 0) {
        ended_ = true;
        return false;
    }
    rawEnd_ = static_cast<std::size_t>(n);
    end_ = rawEnd_;
    if (const void* mark = std::memchr(buffer_.data(), EndMark, rawEnd_)) {
        end_ = static_cast<std::size_t>(static_cast<const char*>(mark) - buffer_.data());
        ended_ = sawEndMark_ = true;
    }
    return pos_ < end_;
}

bool TTextFile::Peek(char& c) {
    if (!Fill()) return false;
    c = buffer_[pos_];
    return true;
}

bool TTextFile::AtLineEnd() {
    RequireMode(TMode::Reading);
    char c;
    return !Peek(c) || c == '\r';
}

bool TTextFile::AtEnd() {
    RequireMode(TMode::Reading);
    return !Fill();
}

void TTextFile::ReadLine(std::string& line) {
    RequireMode(TMode::Reading);
    line.clear();
    while (Fill()) {
        const char* start = buffer_.data() + pos_;
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - pos_));
        const std::size_t n = cr ? static_cast<std::size_t>(cr - start) : end_ - pos_;
        line.append(start, n);
        pos_ += n;
        if (cr) return;
    }
}

std::string TTextFile::ReadLine() {
    std::string line;
    ReadLine(line);
    return line;
}

void TTextFile::SkipLineEnd() {
    RequireMode(TMode::Reading);
    while (Fill()) {
        const char* start = buffer_.data() + pos_;
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - pos_));
        if (!cr) {
            pos_ = end_;
            continue;
        }
        pos_ += static_cast<std::size_t>(cr - start) + 1;
        char next;
        if (Peek(next) && next == '\n') ++pos_;
        return;
    }
}

bool TTextFile::DataAfterEndMark() {
    RequireMode(TMode::Reading);
    while (Fill()) pos_ = end_;
    if (!sawEndMark_) return false;
    auto isData = [](char c) { return c != '\r' && c != '\n' && c != EndMark; };
    // The rest of the buffer behind the mark, then the rest of the file.
    for (std::size_t i = end_; i < rawEnd_; ++i)
        if (isData(buffer_[i])) return true;
    for (;;) {
        ssize_t n;
        do {
            n = ::read(fd_, buffer_.data(), buffer_.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) Raise(errno, false);
        if (n == 0) break;
        bufferOffset_ += rawEnd_;
        pos_ = end_ = rawEnd_ = static_cast<std::size_t>(n);
        for (ssize_t i = 0; i < n; ++i)
            if (isData(buffer_[static_cast<std::size_t>(i)])) return true;
    }
    return false;
}

std::uint64_t TTextFile::Position() const noexcept {
    return bufferOffset_ + (mode_ == TMode::Writing ? end_ : pos_);
}

void TTextFile::Close() {
    if (mode_ == TMode::Closed) return;
    int error = 0;
    if (mode_ == TMode::Writing && writeError_ == 0 && end_ > 0) {
        try {
            Flush();
        } catch (const EInOutError&) {
            error = writeError_;
        }
    }
    const int fd = fd_;
    const bool writing = mode_ == TMode::Writing;
    fd_ = -1;
    mode_ = TMode::Closed;
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error != 0) Raise(error, writing);
}

void TTextFile::CloseDescriptor() noexcept {
    try {
        Close();
    } catch (...) {
        // Nobody is left to tell: a caller who cares calls Close() first.
    }
}

void TTextFile::SetWriteFault(int nth, int systemError) {
    std::call_once(faultFromEnvironment, ReadFaultFromEnvironment);
    faultError.store(systemError);
    writesUntilFault.store(nth > 0 ? nth : 0);
}

}  // namespace velnor::app
