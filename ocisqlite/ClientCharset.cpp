#include "ocisqlite/ClientCharset.h"

#include <iconv.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "ocisqlite/Handles.h"

namespace velnor::ocisqlite {

namespace {

std::atomic<TClientCharset> g_charset{TClientCharset::Us7Ascii};

// Length of the UTF-8 sequence at text[at], or 0 when it is malformed.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    if (at >= text.size()) return 0;
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t n = lead < 0x80         ? 1
                          : (lead >> 5) == 6  ? 2
                          : (lead >> 4) == 14 ? 3
                          : (lead >> 3) == 30 ? 4
                                              : 0;
    if (n == 0 || at + n > text.size()) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    return n;
}

char32_t Decode(std::string_view s) {
    const auto b = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i]));
    };
    switch (s.size()) {
        case 1:
            return b(0);
        case 2:
            return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        case 3:
            return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        default:
            return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) |
                   (b(3) & 0x3F);
    }
}

void Encode3(std::string& out, char32_t c) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

void Encode4(std::string& out, char32_t c) {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

std::string Us7Ascii(std::string_view text, bool fromUtf8) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            out += text[i++];
            continue;
        }
        out += '?';
        const std::size_t n = fromUtf8 ? SequenceLength(text, i) : 1;
        i += n ? n : 1;
    }
    return out;
}

// Oracle's UTF8 is CESU-8: a character beyond the BMP travels as two 3-byte surrogates.
std::string Utf8ToCesu(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = SequenceLength(text, i);
        if (n == 4) {
            const char32_t c = Decode(text.substr(i, 4)) - 0x10000;
            Encode3(out, 0xD800 + (c >> 10));
            Encode3(out, 0xDC00 + (c & 0x3FF));
        } else if (n == 0) {
            out += '?';
        } else {
            out.append(text, i, n);
        }
        i += n ? n : 1;
    }
    return out;
}

std::string CesuToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = SequenceLength(text, i);
        if (n == 3 && SequenceLength(text, i + 3) == 3) {
            const char32_t hi = Decode(text.substr(i, 3)), lo = Decode(text.substr(i + 3, 3));
            if (hi >= 0xD800 && hi < 0xDC00 && lo >= 0xDC00 && lo < 0xE000) {
                Encode4(out, 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00));
                i += 6;
                continue;
            }
        }
        if (n == 0 || n == 4)
            out += '?';  // a 4-byte form is not UTF8's
        else
            out.append(text, i, n);
        i += n ? n : 1;
    }
    return out;
}

// One direction of CP932 through iconv, per thread (a descriptor keeps state).
class TConverter {
public:
    TConverter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~TConverter() { ::iconv_close(cd_); }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;

    // Converts, writing "?" for each unit the target lacks (`unit` gives its length).
    template <class Unit>
    std::string Convert(std::string_view text, Unit unit) {
        std::string out;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[256];
        std::size_t at = 0;
        while (at < text.size()) {
            char* in = const_cast<char*>(text.data() + at);
            std::size_t inLeft = text.size() - at;
            char* o = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = ::iconv(cd_, &in, &inLeft, &o, &outLeft);
            const int error = errno;
            out.append(buffer, static_cast<std::size_t>(o - buffer));
            at = static_cast<std::size_t>(in - text.data());
            if (rc != static_cast<std::size_t>(-1)) break;
            if (error == E2BIG) continue;
            out += '?';
            const std::size_t n = unit(text, at);
            at += n ? n : 1;
            ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

// Length of the CP932 character at text[at]: lead bytes 0x81-0x9F and 0xE0-0xFC take two.
std::size_t Cp932Length(std::string_view text, std::size_t at) {
    const auto b = static_cast<unsigned char>(text[at]);
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return lead && at + 1 < text.size() ? 2 : 1;
}

// JA16SJIS differs from JA16SJISTILDE (CP932) only in mapping 0x8160 to WAVE DASH U+301C
// instead of FULLWIDTH TILDE U+FF5E; the tilde then has no code.
constexpr std::string_view kWaveDash = "\xE3\x80\x9C", kFullwidthTilde = "\xEF\xBD\x9E";

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

}  // namespace

TClientCharset CharsetOfNlsLang(const char* nlsLang) {
    std::string_view value = nlsLang ? nlsLang : "";
    const auto dot = value.rfind('.');
    if (dot == std::string_view::npos) return TClientCharset::Us7Ascii;
    std::string set;
    for (const char c : value.substr(dot + 1))
        if (c != ' ' && c != '\t')
            set += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (set.empty() || set == "US7ASCII") return TClientCharset::Us7Ascii;
    if (set == "AL32UTF8") return TClientCharset::Al32Utf8;
    if (set == "UTF8") return TClientCharset::Utf8;
    if (set == "JA16SJIS") return TClientCharset::Ja16Sjis;
    if (set == "JA16SJISTILDE") return TClientCharset::Ja16SjisTilde;
    throw sql::OraError(12705, "Cannot access NLS data files or invalid environment specified");
}

void ReadClientCharset() { g_charset = CharsetOfNlsLang(std::getenv("NLS_LANG")); }

TClientCharset ClientCharset() noexcept { return g_charset; }

std::string ToClient(std::string_view text, TClientCharset set) {
    switch (set) {
        case TClientCharset::Al32Utf8:
            return std::string(text);
        case TClientCharset::Us7Ascii:
            return Us7Ascii(text, true);
        case TClientCharset::Utf8:
            return Utf8ToCesu(text);
        case TClientCharset::Ja16Sjis:
        case TClientCharset::Ja16SjisTilde:
            break;
    }
    thread_local TConverter converter("CP932", "UTF-8");
    if (set == TClientCharset::Ja16SjisTilde) return converter.Convert(text, SequenceLength);
    return converter.Convert(
        ReplaceAll(ReplaceAll(std::string(text), kFullwidthTilde, "?"), kWaveDash, kFullwidthTilde),
        SequenceLength);
}

std::string FromClient(std::string_view bytes, TClientCharset set) {
    switch (set) {
        case TClientCharset::Al32Utf8:
            return std::string(bytes);
        case TClientCharset::Us7Ascii:
            return Us7Ascii(bytes, false);
        case TClientCharset::Utf8:
            return CesuToUtf8(bytes);
        case TClientCharset::Ja16Sjis:
        case TClientCharset::Ja16SjisTilde:
            break;
    }
    thread_local TConverter converter("UTF-8", "CP932");
    std::string text = converter.Convert(bytes, Cp932Length);
    return set == TClientCharset::Ja16Sjis ? ReplaceAll(std::move(text), kFullwidthTilde, kWaveDash)
                                           : text;
}

}  // namespace velnor::ocisqlite
