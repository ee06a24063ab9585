// The bytes of a CSV file as UTF-8 text, whatever the file's encoding: a byte-order mark
// at the start is skipped (and makes the file UTF-8 whatever was chosen), CP932 is converted
// piece by piece, and UTF-8 is checked as it passes. Bytes that are not text in the
// encoding raise ETextDecodeError once everything before them has been handed out, so the
// reader knows the line and field they stand in.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "app/core/CsvReader.h"
#include "app/core/TextEncoding.h"

namespace velnor::app {

class TCsvDecodingSource : public TCsvSource {
public:
    // The source is borrowed and read from its current position.
    TCsvDecodingSource(TCsvSource& source, TTextEncoding encoding);
    ~TCsvDecodingSource() override;
    std::size_t Read(char* buffer, std::size_t size) override;

    // Bytes taken from the underlying source so far.
    [[nodiscard]] std::uint64_t SourceBytes() const noexcept { return sourceBytes_; }
    // The encoding the file is read in: UTF-8 once a byte-order mark was seen.
    [[nodiscard]] TTextEncoding Encoding() const noexcept { return encoding_; }

private:
    bool Produce();
    bool ProduceUtf8();
    bool ProduceCp932();
    bool ReadMore();
    void FailUtf8(std::string_view bad);

    TCsvSource& source_;
    TTextEncoding encoding_;
    bool started_ = false;
    bool ended_ = false;
    std::uint64_t sourceBytes_ = 0;
    std::string raw_;  // bytes read from the source, not yet handed out or decoded
    std::size_t rawPos_ = 0;
    std::size_t rawReady_ = 0;  // UTF-8: raw_[rawPos_, rawReady_) is checked text
    std::string text_;          // CP932: decoded text not yet handed out
    std::size_t textPos_ = 0;
    std::size_t textEnd_ = 0;
    std::string failure_;  // raised once the text before the bad bytes is out
    std::unique_ptr<TCp932Decoder> cp932_;
};

}  // namespace velnor::app
