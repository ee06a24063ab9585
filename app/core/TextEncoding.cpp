#include "app/core/TextEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace velnor::app {
namespace {

iconv_t Open(const char* to, const char* from) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw platform::Exception(std::string("文字コード変換 ") + from + " → " + to +
                                  " がこのシステムにありません");
    return cd;
}

void Close(void* cd) noexcept { ::iconv_close(static_cast<iconv_t>(cd)); }

// Bytes a UTF-8 sequence takes by its first byte; 0 for a byte that cannot start one.
std::size_t SequenceLength(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The code point of the valid sequence at the start of `text`.
char32_t DecodeOne(std::string_view text) noexcept {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    switch (SequenceLength(b(0))) {
        case 1:
            return b(0);
        case 2:
            return (char32_t{b(0)} & 0x1F) << 6 | (b(1) & 0x3F);
        case 3:
            return (char32_t{b(0)} & 0x0F) << 12 | (char32_t{b(1)} & 0x3F) << 6 | (b(2) & 0x3F);
        default:
            return (char32_t{b(0)} & 0x07) << 18 | (char32_t{b(1)} & 0x3F) << 12 |
                   (char32_t{b(2)} & 0x3F) << 6 | (b(3) & 0x3F);
    }
}

std::string CodePointText(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

// Characters glibc writes in CP932 as another character's bytes, with the one they read
// back as; tags (U+E0000..E007F) it drops without a trace.
char32_t ReadsBackAs(char32_t c) noexcept {
    switch (c) {
        case 0x00A2:
            return 0xFFE0;
        case 0x00A3:
            return 0xFFE1;
        case 0x00A5:
            return 0x005C;
        case 0x00AC:
            return 0xFFE2;
        case 0x2014:
            return 0x2015;
        case 0x2016:
            return 0x2225;
        case 0x203E:
            return 0x007E;
        case 0x2212:
            return 0xFF0D;
        case 0x301C:
            return 0xFF5E;
        default:
            return c >= 0xE0000 && c <= 0xE007F ? 0 : c;
    }
}

std::string ByteList(std::string_view bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%s0x%02X", i ? " " : "",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
        text += hex;
    }
    return text;
}

}  // namespace

const char* TextEncodingKey(TTextEncoding encoding) noexcept {
    switch (encoding) {
        case TTextEncoding::teUtf8Bom:
            return "utf-8-bom";
        case TTextEncoding::teCp932:
            return "cp932";
        default:
            return "utf-8";
    }
}

std::optional<TTextEncoding> TextEncodingFromKey(std::string_view key) noexcept {
    for (auto e : {TTextEncoding::teUtf8, TTextEncoding::teUtf8Bom, TTextEncoding::teCp932})
        if (key == TextEncodingKey(e)) return e;
    return std::nullopt;
}

const char* TextEncodingName(TTextEncoding encoding) noexcept {
    switch (encoding) {
        case TTextEncoding::teUtf8Bom:
            return "UTF-8 (BOM 付き)";
        case TTextEncoding::teCp932:
            return "Shift-JIS (CP932)";
        default:
            return "UTF-8";
    }
}

std::size_t ValidUtf8Prefix(std::string_view text, bool& incomplete) noexcept {
    incomplete = false;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time: most of most files.
        while (i + 8 <= n) {
            std::uint64_t word;
            __builtin_memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i == n) break;
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = SequenceLength(lead);
        if (length == 0) return i;
        // The second byte's range rules out overlong forms, surrogates and code points
        // past U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k == n) {
                incomplete = true;
                return i;
            }
            const unsigned char c = p[i + k];
            if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return i;
        }
        i += length;
    }
    return n;
}

bool LooksLikeCp932(std::string_view bytes) {
    TCp932Decoder decoder;
    char out[4096];
    try {
        while (!bytes.empty()) {
            const std::size_t before = bytes.size();
            decoder.Decode(bytes, out, sizeof out, false);
            if (bytes.size() == before) return true;  // only a cut character is left
        }
    } catch (const ETextDecodeError&) {
        return false;
    }
    return true;
}

TCp932Encoder::TCp932Encoder() : cd_(Open("CP932", "UTF-8")) {}

TCp932Encoder::~TCp932Encoder() { Close(cd_); }

void TCp932Encoder::Encode(std::string_view text, std::string& out) {
    std::size_t start = 0;
    if (!carry_.empty()) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(carry_[0]));
        while (carry_.size() < length && start < text.size()) carry_ += text[start++];
        if (carry_.size() < length) return;  // still cut
        std::string whole;
        whole.swap(carry_);
        try {
            EncodeRun(whole, 0, out);
        } catch (const ETextEncodeError& e) {
            throw ETextEncodeError(e.Message(), 0, e.CodePoint());
        }
        if (!carry_.empty()) {
            carry_.clear();
            throw ETextEncodeError(
                "UTF-8 として正しくないバイト列があります (" + ByteList(whole) + ")", 0, 0);
        }
    }
    EncodeRun(text.substr(start), start, out);
}

void TCp932Encoder::EncodeRun(std::string_view text, std::size_t base, std::string& out) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // ASCII is the same in both: copied without iconv.
        std::size_t j = i;
        while (j < n && static_cast<unsigned char>(text[j]) < 0x80) ++j;
        out.append(text.data() + i, j - i);
        i = j;
        if (i == n) break;
        while (j < n && static_cast<unsigned char>(text[j]) >= 0x80) ++j;
        std::string_view run = text.substr(i, j - i);
        bool incomplete = false;
        const std::size_t valid = ValidUtf8Prefix(run, incomplete);
        // Stop at the first character that would not read back as itself.
        std::size_t stop = valid;
        for (std::size_t k = 0; k < valid;) {
            const std::size_t length = SequenceLength(static_cast<unsigned char>(run[k]));
            const char32_t c = DecodeOne(run.substr(k));
            if (ReadsBackAs(c) != c) {
                stop = k;
                break;
            }
            k += length;
        }
        const std::size_t size = out.size();
        out.resize(size + stop);  // CP932 never takes more bytes than UTF-8
        char* in = const_cast<char*>(run.data());
        std::size_t inLeft = stop;
        char* dst = out.data() + size;
        std::size_t room = stop;
        const std::size_t result = ::iconv(static_cast<iconv_t>(cd_), &in, &inLeft, &dst, &room);
        out.resize(static_cast<std::size_t>(dst - out.data()));
        const std::size_t done = stop - inLeft;
        if (result == static_cast<std::size_t>(-1) || stop < valid) {
            const std::size_t at = done;
            const char32_t c = DecodeOne(run.substr(at));
            const char32_t back = ReadsBackAs(c);
            std::string message =
                "文字 '" +
                std::string(run.substr(at, SequenceLength(static_cast<unsigned char>(run[at])))) +
                "' (" + CodePointText(c) + ") は " + TextEncodingName(TTextEncoding::teCp932) +
                " で書けません";
            if (back != c && back != 0) message += " (" + CodePointText(back) + " に変わります)";
            throw ETextEncodeError(std::move(message), base + i + at, c);
        }
        if (valid < run.size()) {
            if (incomplete && j == n) {
                carry_.assign(run.substr(valid));
                carryOffset_ = base + i + valid;
                return;
            }
            throw ETextEncodeError(
                "UTF-8 として正しくないバイト列があります (" + ByteList(run.substr(valid)) + ")",
                base + i + valid, 0);
        }
        i = j;
    }
}

void TCp932Encoder::Finish() {
    if (carry_.empty()) return;
    const std::string cut = ByteList(carry_);
    carry_.clear();
    throw ETextEncodeError("UTF-8 の文字が途中で切れています (" + cut + ")", carryOffset_, 0);
}

TCp932Decoder::TCp932Decoder() : cd_(Open("UTF-8", "CP932")) {}

TCp932Decoder::~TCp932Decoder() { Close(cd_); }

std::size_t TCp932Decoder::Decode(std::string_view& in, char* out, std::size_t room, bool last) {
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char* dst = out;
    std::size_t space = room;
    const std::size_t result = ::iconv(static_cast<iconv_t>(cd_), &src, &left, &dst, &space);
    const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
    const auto written = static_cast<std::size_t>(dst - out);
    in.remove_prefix(in.size() - left);
    const bool bad = error == EILSEQ || (error == EINVAL && last);
    if (bad && written == 0) {
        throw ETextDecodeError(TextEncodingName(TTextEncoding::teCp932) +
                               std::string(" として読めないバイトがあります (") +
                               ByteList(in.substr(0, 2)) + ")");
    }
    return written;
}

}  // namespace velnor::app
