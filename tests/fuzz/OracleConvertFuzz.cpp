// libFuzzer target for the query layer's conversions of client-library bytes: buffered
// values, 7-byte dates, line breaks, fetch rows and LONG pieces either convert or raise
// platform::Exception, never read outside their buffers, and dates survive the round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "oracle/query/FieldData.h"
#include "oracle/query/OracleConvert.h"
#include "platform/Exception.h"

using namespace velnor;
using platform::TVariant;
using platform::TVariantKind;

namespace {

// Consumes the input from the front; empty once it is used up.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }
    std::size_t Left() const { return size_; }
    // Up to `n` bytes in a buffer of exactly their size, so a read past them is seen.
    std::unique_ptr<std::uint8_t[]> Take(std::size_t n, std::size_t& taken) {
        taken = n < size_ ? n : size_;
        auto out = std::make_unique<std::uint8_t[]>(taken ? taken : 1);
        std::memcpy(out.get(), data_, taken);
        data_ += taken;
        size_ -= taken;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Line breaks coming in are all CR LF.
bool AllCrLf(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n')) return false;
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) return false;
    }
    return true;
}

void CheckDateBytes(const std::uint8_t* bytes) {
    platform::TDateTime value;
    try {
        value = oracle::OracleDateToDateTime(bytes);
    } catch (const platform::EConvertError&) {
        return;
    }
    std::uint8_t back[oracle::OracleDateSize];
    oracle::DateTimeToOracleDate(value, back);  // an accepted date always writes back
    if (std::memcmp(back, bytes, sizeof back) != 0) std::abort();
}

void CheckDateValue(double value) {
    std::uint8_t bytes[oracle::OracleDateSize] = {1, 2, 3, 4, 5, 6, 7};
    try {
        oracle::DateTimeToOracleDate(value, bytes);
    } catch (const platform::EConvertError&) {
        const std::uint8_t untouched[] = {1, 2, 3, 4, 5, 6, 7};
        if (std::memcmp(bytes, untouched, sizeof bytes) != 0) std::abort();
        return;
    }
    // Whole seconds survive: the bytes read back and write the same bytes again.
    const platform::TDateTime seconds = oracle::OracleDateToDateTime(bytes);
    std::uint8_t again[oracle::OracleDateSize];
    oracle::DateTimeToOracleDate(seconds, again);
    if (std::memcmp(again, bytes, sizeof bytes) != 0) std::abort();
}

void CheckLineBreaks(std::string_view text) {
    const std::string in = oracle::NormalizeLineBreaksIn(text, true);
    if (!AllCrLf(in) || oracle::NormalizeLineBreaksIn(in, true) != in) std::abort();
    const std::string out = oracle::NormalizeLineBreaksOut(in, true);
    if (out.find('\r') != std::string::npos) std::abort();
    if (oracle::NormalizeLineBreaksIn(text, false) != text) std::abort();
    if (oracle::NormalizeLineBreaksOut(text, false) != text) std::abort();
}

// The type's own width, read when the length is 0.
std::size_t WidthOf(int code) {
    switch (code) {
        case 3:
        case 108:
        case 110:
        case 112:
        case 113:
        case 114:
        case 116:
            return 4;
        case 4:
            return 8;
        case 12:
            return oracle::OracleDateSize;
        default:
            return 0;
    }
}

void CheckBuffer(Input& in) {
    const int codes[] = {1, 5, 10, 97, 8, 24, 3, 108, 116, 4, 12, 2, 96};
    const int code = codes[in.Byte() % std::size(codes)];
    const bool crlf = in.Byte() & 1;
    std::size_t length = in.Byte() % 16;
    std::size_t taken = 0;
    const std::size_t want = length == 0 ? WidthOf(code) : length;
    auto buffer = in.Take(want, taken);
    if (taken < want) return;  // the caller always hands over `length` bytes
    const std::uint8_t* bytes = buffer.get();

    TVariant value(7);
    try {
        oracle::BufferToVariant(bytes, code, length, crlf, value);
    } catch (const platform::Exception&) {
        if (!(value == TVariant(7))) std::abort();  // a refused value leaves the variant
        return;
    }
    switch (code) {
        case 1:
        case 5:
        case 10:
        case 97: {
            const std::string& s = value.StringRef();
            if (s.find('\0') != std::string::npos) std::abort();
            const std::size_t n = strnlen(reinterpret_cast<const char*>(bytes), length);
            const std::string_view raw(reinterpret_cast<const char*>(bytes), n);
            if (s != oracle::NormalizeLineBreaksIn(raw, crlf)) std::abort();
            break;
        }
        case 8:
            if (value.StringRef() != std::string(reinterpret_cast<const char*>(bytes), length))
                std::abort();
            break;
        case 24:
            if (value.BytesRef() != std::vector<std::uint8_t>(bytes, bytes + length)) std::abort();
            break;
        case 3:
        case 108:
        case 116: {
            std::int64_t expected = 0;
            if (length == 2) {
                std::int16_t v;
                std::memcpy(&v, bytes, 2);
                expected = v;
            } else if (length == 8) {
                std::memcpy(&expected, bytes, 8);
            } else {
                std::int32_t v;
                std::memcpy(&v, bytes, 4);
                expected = v;
            }
            if (value.Kind() != TVariantKind::vkInteger || value.AsInteger() != expected)
                std::abort();
            break;
        }
        case 4:
            if (value.Kind() != TVariantKind::vkFloat) std::abort();
            break;
        case 12: {
            if (value.Kind() != TVariantKind::vkDate) std::abort();
            std::uint8_t back[oracle::OracleDateSize];
            oracle::DateTimeToOracleDate(value.AsDateTime(), back);
            if (std::memcmp(back, bytes, sizeof back) != 0) std::abort();
            break;
        }
        default:  // codes without a conversion leave the variant alone
            if (!(value == TVariant(7))) std::abort();
            break;
    }
}

// A column of fetched rows: every row's text stays inside its slot, and the text
// conversions the fields apply to it work or raise.
void CheckRows(Input& in) {
    oracle::TFieldData field;
    field.bufferSize = in.Byte() % 24;
    const std::size_t rows = 1 + in.Byte() % 8;
    field.Allocate(rows);
    std::size_t taken = 0;
    auto data = in.Take(field.buffer.size(), taken);
    if (taken) std::memcpy(field.buffer.data(), data.get(), taken);
    for (std::size_t r = 0; r < rows; ++r) {
        field.lengths[r] = in.Byte();
        field.indicators[r] = static_cast<sb2>(static_cast<std::int8_t>(in.Byte()));
        const std::string text = field.RowText(r);
        if (text.size() > field.bufferSize || text.find('\0') != std::string::npos) std::abort();
        if (text.compare(0, text.size(), reinterpret_cast<const char*>(field.Row(r)),
                         text.size()) != 0)
            std::abort();
        try {
            (void)platform::TextToInteger(text);
        } catch (const platform::Exception&) {
        }
        try {
            (void)platform::TextToFloat(text);
        } catch (const platform::Exception&) {
        }
        try {
            (void)platform::TextToDate(text);
        } catch (const platform::Exception&) {
        }
        if (field.bufferSize >= oracle::OracleDateSize)
            CheckDateBytes(reinterpret_cast<const std::uint8_t*>(field.Row(r)));
    }
    if (!field.RowText(rows).empty()) std::abort();  // past the last row
}

// LONG pieces as a dynamic define leaves them: lengths the library stored may exceed the
// capacity; copies never do, and they give back the bytes in order.
void CheckLongPieces(Input& in) {
    oracle::TFieldData field;
    field.typeCode = oracle::otLong;
    std::string whole;
    const int pieces = in.Byte() % 4;
    for (int p = 0; p < pieces; ++p) {
        oracle::TLongPiece& piece = field.AddLongPiece();
        const std::uint8_t fill = in.Byte();
        std::memset(piece.data.data(), fill, piece.Capacity());
        for (std::size_t i = 0; i < piece.Capacity(); i += 97)
            piece.data[i] = static_cast<std::byte>(i / 97);
        const std::size_t stored = (std::size_t{in.Byte()} << 8 | in.Byte()) * 2;
        piece.length = static_cast<ub4>(stored);
        const std::size_t kept = stored < piece.Capacity() ? stored : piece.Capacity();
        whole.append(reinterpret_cast<const char*>(piece.data.data()), kept);
    }
    if (field.LongPieceLength() != whole.size()) std::abort();
    const std::size_t offset = (std::size_t{in.Byte()} << 8 | in.Byte()) * 3;
    const std::size_t length = (std::size_t{in.Byte()} << 8 | in.Byte()) * 3;
    auto out = std::make_unique<std::byte[]>(length ? length : 1);
    const std::size_t copied = field.CopyFromPieces(out.get(), offset, length);
    const std::size_t expected =
        offset >= whole.size() ? 0 : std::min(length, whole.size() - offset);
    if (copied != expected) std::abort();
    if (copied && std::memcmp(out.get(), whole.data() + offset, copied) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    if (size >= oracle::OracleDateSize) CheckDateBytes(data);
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        CheckDateValue(value);
    }
    CheckLineBreaks(std::string_view(reinterpret_cast<const char*>(data), size));

    Input in(data, size);
    switch (in.Byte() % 3) {
        case 0:
            while (in.Left() > 0) CheckBuffer(in);
            break;
        case 1:
            CheckRows(in);
            break;
        default:
            CheckLongPieces(in);
            break;
    }
    return 0;
}
