#include "app/core/CsvDecodingSource.h"

#include <algorithm>
#include <cstring>

namespace velnor::app {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

// The bad bytes: up to four, as far as the next ASCII one.
std::string ByteList(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i > 0 && b < 0x80) break;
        if (i > 0) text += ' ';
        text += "0x";
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

}  // namespace

TCsvDecodingSource::TCsvDecodingSource(TCsvSource& source, TTextEncoding encoding)
    : source_(source),
      encoding_(encoding == TTextEncoding::teCp932 ? encoding : TTextEncoding::teUtf8) {}

TCsvDecodingSource::~TCsvDecodingSource() = default;

bool TCsvDecodingSource::ReadMore() {
    // Bytes still waiting (the start of a cut character) move to the front.
    raw_.erase(0, rawPos_);
    rawPos_ = rawReady_ = 0;
    if (ended_) return false;
    const std::size_t kept = raw_.size();
    raw_.resize(kept + kChunk);
    const std::size_t n = source_.Read(raw_.data() + kept, kChunk);
    raw_.resize(kept + n);
    sourceBytes_ += n;
    if (n == 0) ended_ = true;
    return n > 0;
}

std::size_t TCsvDecodingSource::Read(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    if (!started_) {
        started_ = true;
        while (raw_.size() < kUtf8Bom.size() && ReadMore()) {
        }
        // A byte-order mark means UTF-8 whatever was chosen: no CP932 text starts so.
        if (raw_.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
            rawPos_ = kUtf8Bom.size();
            encoding_ = TTextEncoding::teUtf8;
        }
    }
    for (;;) {
        if (encoding_ == TTextEncoding::teCp932 && textPos_ < textEnd_) {
            const std::size_t n = std::min(size, textEnd_ - textPos_);
            std::memcpy(buffer, text_.data() + textPos_, n);
            textPos_ += n;
            return n;
        }
        if (encoding_ != TTextEncoding::teCp932 && rawPos_ < rawReady_) {
            const std::size_t n = std::min(size, rawReady_ - rawPos_);
            std::memcpy(buffer, raw_.data() + rawPos_, n);
            rawPos_ += n;
            return n;
        }
        if (!failure_.empty()) throw ETextDecodeError(failure_);
        if (!Produce()) return 0;
    }
}

bool TCsvDecodingSource::Produce() {
    return encoding_ == TTextEncoding::teCp932 ? ProduceCp932() : ProduceUtf8();
}

void TCsvDecodingSource::FailUtf8(std::string_view bad) {
    failure_ = "UTF-8 として読めないバイトがあります (" + ByteList(bad) + ")";
    // Judged on the rest of the line: a Shift-JIS file usually reads as CP932 from there.
    if (LooksLikeCp932(bad.substr(0, bad.find_first_of("\r\n")))) {
        failure_ += "。Shift-JIS で書かれたファイルのようです: 文字コードに " +
                    std::string(TextEncodingName(TTextEncoding::teCp932)) + " を選んでください";
    }
}

bool TCsvDecodingSource::ProduceUtf8() {
    // Called with nothing ready: what is left in raw_ is a cut character.
    if (rawPos_ == raw_.size() || !ended_) ReadMore();
    const std::string_view bytes(raw_.data() + rawPos_, raw_.size() - rawPos_);
    if (bytes.empty()) return false;
    bool incomplete = false;
    const std::size_t valid = ValidUtf8Prefix(bytes, incomplete);
    rawReady_ = rawPos_ + valid;
    if (valid < bytes.size() && incomplete && ended_) {
        failure_ =
            "UTF-8 の文字がファイルの終わりで切れています (" + ByteList(bytes.substr(valid)) + ")";
    } else if (valid < bytes.size() && !incomplete) {
        FailUtf8(bytes.substr(valid));
    }
    return true;
}

bool TCsvDecodingSource::ProduceCp932() {
    if (!cp932_) cp932_ = std::make_unique<TCp932Decoder>();
    // A CP932 byte becomes at most three UTF-8 bytes; sized once, as refilling overwrites it.
    if (text_.empty()) text_.resize(kChunk * 3);
    textPos_ = textEnd_ = 0;
    for (;;) {
        std::string_view in(raw_.data() + rawPos_, raw_.size() - rawPos_);
        if (!in.empty()) {
            const std::size_t before = in.size();
            std::size_t written = 0;
            try {
                written = cp932_->Decode(in, text_.data(), text_.size(), ended_);
            } catch (const ETextDecodeError& e) {
                failure_ = e.Message();
                return true;
            }
            rawPos_ += before - in.size();
            if (written > 0) {
                textEnd_ = written;
                return true;
            }
        }
        if (!ReadMore() && rawPos_ == raw_.size()) return false;
    }
}

}  // namespace velnor::app
