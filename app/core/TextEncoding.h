// The encodings of CSV files: UTF-8 as the program holds text, UTF-8 with a byte-order mark,
// and CP932 (Shift-JIS as Windows writes it). CP932 goes through glibc's iconv: it is part
// of the C library already, so no new dependency, and its CP932 table is the Windows one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace velnor::app {

enum class TTextEncoding { teUtf8, teUtf8Bom, teCp932 };

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// "utf-8", "utf-8-bom", "cp932": the command line's and the settings' word for it.
[[nodiscard]] const char* TextEncodingKey(TTextEncoding encoding) noexcept;
[[nodiscard]] std::optional<TTextEncoding> TextEncodingFromKey(std::string_view key) noexcept;
// The name shown to the user and in messages.
[[nodiscard]] const char* TextEncodingName(TTextEncoding encoding) noexcept;

// Text that cannot be written in the file's encoding. Offset is the byte of the text given
// to the failing call where the character starts; CodePoint is 0 for bytes that are not
// UTF-8 at all.
class ETextEncodeError : public platform::Exception {
public:
    ETextEncodeError(std::string message, std::size_t offset, char32_t codePoint)
        : Exception(std::move(message)), offset_(offset), codePoint_(codePoint) {}
    [[nodiscard]] std::size_t Offset() const noexcept { return offset_; }
    [[nodiscard]] char32_t CodePoint() const noexcept { return codePoint_; }

private:
    std::size_t offset_;
    char32_t codePoint_;
};

// Bytes that are not text in the file's encoding; the message names the bytes and the
// encoding, and the reader adds line and column.
class ETextDecodeError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// Length of the valid UTF-8 prefix of `text`; `incomplete` tells whether what stops it is a
// sequence cut by the end of the text (more bytes may complete it) rather than a bad byte.
[[nodiscard]] std::size_t ValidUtf8Prefix(std::string_view text, bool& incomplete) noexcept;

// Whether the bytes read as CP932 text (a character cut by the end counts as valid).
[[nodiscard]] bool LooksLikeCp932(std::string_view bytes);

// UTF-8 text into CP932, piece by piece: a character cut between two pieces is completed by
// the next. A character CP932 cannot hold raises, as does one that iconv would write as a
// different character (¥ as a backslash, 〜 as ～): such text would not read back the same.
class TCp932Encoder {
public:
    TCp932Encoder();
    ~TCp932Encoder();
    TCp932Encoder(const TCp932Encoder&) = delete;
    TCp932Encoder& operator=(const TCp932Encoder&) = delete;

    // Appends the encoded bytes of `text` to `out`.
    void Encode(std::string_view text, std::string& out);
    // Raises when the text so far ended inside a character (its offset is that character's in
    // the last piece).
    void Finish();

private:
    void EncodeRun(std::string_view text, std::size_t base, std::string& out);

    void* cd_;
    std::string carry_;  // the start of a character the next piece completes
    std::size_t carryOffset_ = 0;
};

// CP932 bytes into UTF-8, piece by piece; a character cut between pieces waits for the next.
class TCp932Decoder {
public:
    TCp932Decoder();
    ~TCp932Decoder();
    TCp932Decoder(const TCp932Decoder&) = delete;
    TCp932Decoder& operator=(const TCp932Decoder&) = delete;

    // Converts from `in` into `out` as far as both go: returns the bytes written and moves
    // `in` past the bytes taken. Stops before a bad byte, which the next call raises on; at
    // `last`, bytes left that only start a character are bad too.
    std::size_t Decode(std::string_view& in, char* out, std::size_t room, bool last);

private:
    void* cd_;
};

}  // namespace velnor::app
