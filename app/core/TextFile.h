// Text files read and written byte for byte, line by line: CR LF written after each line,
// CR ends a line when reading, Ctrl+Z (byte 26) ends the file wherever it stands.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/TextEncoding.h"
#include "platform/Exception.h"

namespace velnor::app {

// A failed file step, with the error code of the message table (2 file not found, 3 invalid
// file name, 4 too many open files, 5 access denied, 101 disk full, others "I/O エラー (n)").
class EInOutError : public platform::Exception {
public:
    // `namePath`: the message ends with ": <fileName>", for an error shown without the
    // file's context (a dialog, the end of a transfer).
    EInOutError(int errorCode, std::string fileName, bool namePath = false);
    [[nodiscard]] int ErrorCode() const noexcept { return errorCode_; }
    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }

private:
    int errorCode_;
    std::string fileName_;
};

[[nodiscard]] std::string InOutErrorMessage(int errorCode);
// The table code for an errno value; `writing` tells a write fault from a read fault for EIO.
[[nodiscard]] int InOutErrorCode(int systemError, bool writing) noexcept;

class TTextFile {
public:
    TTextFile() = default;
    ~TTextFile();  // closes without raising; call Close() to learn of a late write error
    TTextFile(const TTextFile&) = delete;
    TTextFile& operator=(const TTextFile&) = delete;

    // Creates the file or cuts it to length 0. Text written is UTF-8 and goes into the file
    // in `encoding` (a byte-order mark first for teUtf8Bom); text the encoding cannot hold
    // raises ETextEncodeError and writes nothing of that call from the bad character on.
    void OpenForWriting(const std::string& path, TTextEncoding encoding = TTextEncoding::teUtf8);
    // The file must exist and must not be a directory.
    void OpenForReading(const std::string& path);
    [[nodiscard]] bool IsOpen() const noexcept { return fd_ >= 0; }
    [[nodiscard]] const std::string& FileName() const noexcept { return path_; }

    // Buffered; a failed write raises here or at the latest at Close(). After a failure every
    // further write raises too, so a loop cannot go on writing into a broken file.
    void Write(std::string_view text);
    // A line may not end inside a character.
    void WriteLine(std::string_view text);
    void Flush();

    // True for CR, for Ctrl+Z and at the end of the file; consumes nothing.
    [[nodiscard]] bool AtLineEnd();
    // True at Ctrl+Z or at the physical end.
    [[nodiscard]] bool AtEnd();
    // The bytes up to (not including) the next CR, Ctrl+Z or end; the CR stays.
    [[nodiscard]] std::string ReadLine();
    void ReadLine(std::string& line);  // reuses the caller's string
    // Consumes up to and including the next CR, then a LF directly after it.
    void SkipLineEnd();
    // Whether bytes other than CR, LF and Ctrl+Z follow the Ctrl+Z that ended the file;
    // reads to the physical end. False when the file ended without a Ctrl+Z.
    [[nodiscard]] bool DataAfterEndMark();
    // Bytes consumed by reading, or written (buffered ones included), so far.
    [[nodiscard]] std::uint64_t Position() const noexcept;

    // Writes out what is buffered and closes; raises a write or close error not yet reported.
    // The descriptor is closed in every case. Closing a closed file does nothing.
    void Close();

    // Fault injection for tests: the nth write to the system from now on (1 = the next) fails
    // with `systemError`; 0 switches it off. VELNOR_FAIL_WRITE=n in the environment, read at
    // the first write of the process, does the same with ENOSPC.
    static void SetWriteFault(int nth, int systemError);

private:
    enum class TMode { Closed, Reading, Writing };
    void Open(const std::string& path, bool writing);
    [[noreturn]] void Raise(int systemError, bool writing) const;
    void RequireMode(TMode mode) const;
    void WriteOut(const char* data, std::size_t size);
    void WriteBytes(std::string_view bytes);
    bool Fill();
    bool Peek(char& c);
    void CloseDescriptor() noexcept;

    int fd_ = -1;
    TMode mode_ = TMode::Closed;
    std::string path_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;             // next byte to read
    std::size_t end_ = 0;             // end of the readable bytes (a Ctrl+Z cuts it short)
    std::size_t rawEnd_ = 0;          // end of the bytes read into the buffer
    std::uint64_t bufferOffset_ = 0;  // file offset of buffer_[0], or bytes written before it
    bool ended_ = false;              // no more bytes will be read
    bool sawEndMark_ = false;         // the end came from a Ctrl+Z
    int writeError_ = 0;              // errno of a failed write, kept so later writes fail too
    std::unique_ptr<TCp932Encoder> encoder_;  // CP932 files only: UTF-8 is written as it is
    std::string encoded_;
};

}  // namespace velnor::app
