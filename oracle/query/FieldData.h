// The per-column record of a select list: what describe reported, the field type code chosen
// for it, and the array buffers the fetch writes into.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "oci/OciTypes.h"
#include "oracle/query/OracleNumber.h"
#include "oracle/query/detail/TypeCodes.h"
#include "oracle/session/SessionPreferences.h"

namespace velnor::oracle {

// Oracle internal data type codes reported by describe.
inline constexpr int itVarchar2 = 1;
inline constexpr int itNumber = 2;
inline constexpr int itLong = 8;
inline constexpr int itRowId = 11;
inline constexpr int itDate = 12;
inline constexpr int itRaw = 23;
inline constexpr int itLongRaw = 24;
inline constexpr int itChar = 96;
inline constexpr int itRowIdDescriptor = 104;
inline constexpr int itBinaryFloat = 100;
inline constexpr int itBinaryDouble = 101;
inline constexpr int itMlsLabel = 106;
inline constexpr int itObject = 108;
inline constexpr int itRef = 110;
inline constexpr int itClob = 112;
inline constexpr int itBlob = 113;
inline constexpr int itBFile = 114;
inline constexpr int itCursor = 116;
inline constexpr int itTimestamp = 187;
inline constexpr int itTimestampTz = 188;
inline constexpr int itIntervalYm = 189;
inline constexpr int itIntervalDs = 190;
inline constexpr int itTimestampLtz = 232;

// Bytes of the first part of a LONG value fetched with the row through the OCI7 interface.
inline constexpr std::size_t kOci7LongPrefix = 2000;
// Column names are kept whole up to this many bytes.
inline constexpr std::size_t kMaxColumnNameLength = 128;

// One piece of a LONG or LONG RAW value received through a dynamic define.
struct TLongPiece {
    explicit TLongPiece(std::size_t capacity);
    std::size_t Capacity() const noexcept { return data.size(); }
    std::vector<std::byte> data;  // never resized after the client library got its address
    ub4 length = 0;               // bytes the client library stored; starts at the capacity
};

// Capacity of the next piece: 2000 first, then doubling while below 32000.
[[nodiscard]] std::size_t NextLongPieceCapacity(std::size_t previousCapacity) noexcept;

// What describe reported about one column.
struct TColumnDescription {
    int dataSize = 0;
    int internalType = 0;
    std::string name;
    int precision = 0;
    int scale = 0;
    bool nullable = true;
    // Characters a text column holds (OCI_ATTR_CHAR_SIZE); 0 when the interface does not tell.
    int charLength = 0;
    // The character set of the column's values (OCI_ATTR_CHARSET_ID); 0 when not told.
    int charsetId = 0;
};

// The facts of the session and the query the type mapping depends on. The date length and
// bytes per character are asked only when a column needs them (they may run a query).
struct TMappingContext {
    // Bytes of a LONG value fetched with its row; 0 when it arrives in pieces instead.
    std::size_t longPrefix = 0;
    bool stringFieldsOnly = false;
    // NUMBER columns that can hold more than 15 digits are fetched as otNumber, every digit.
    bool exactNumbers = false;
    std::function<TNumberFieldChoice(int precision, int scale, bool stringsOnly)> numberRule;
    std::function<int()> dateFormatLength;
    std::function<int()> bytesPerCharacter;
    // Most bytes one character takes in the client character set; 0 when unknown.
    int clientBytesPerCharacter = 0;
    // Oracle's number of the client character set; 0 when unknown.
    int clientCharsetId = 0;
    // Raises when a column type needs a connected OCI8 session; the argument names the feature.
    std::function<void(const char* feature)> checkFeature;
};

struct TColumnMapping {
    std::int16_t typeCode = otString;
    std::size_t bufferSize = 0;
    bool isLong = false;  // LONG or LONG RAW: one row per fetch
    bool operator==(const TColumnMapping&) const = default;
};

// Bytes per row of a fetched text column, terminator included: its characters in the
// client character set, never less than the described width, at most kMaxTextBuffer.
// A column in the client's own character set arrives unconverted: its described width holds.
[[nodiscard]] std::size_t TextBufferSize(const TColumnDescription& column,
                                         int clientBytesPerCharacter, int clientCharsetId = 0);
// The fetched length of a value is two bytes wide.
inline constexpr std::size_t kMaxTextBuffer = 65535;

// The field type code and bytes per row of a described column.
[[nodiscard]] TColumnMapping MapColumnType(const TColumnDescription& column,
                                           const TMappingContext& context);

// `a` x `b`, raising when the product does not fit.
[[nodiscard]] std::size_t CheckedProduct(std::size_t a, std::size_t b);

// One column of a select list. The buffers are sized once by Allocate and are never moved
// afterwards: the client library keeps their addresses from the define on.
class TFieldData {
public:
    TFieldData() = default;
    TFieldData(const TFieldData&) = delete;
    TFieldData& operator=(const TFieldData&) = delete;

    TColumnDescription column;
    std::int16_t typeCode = otString;
    std::size_t bufferSize = 0;  // bytes per row
    std::size_t rowCapacity = 0;
    std::vector<std::byte> buffer;  // rowCapacity x bufferSize
    std::vector<sb2> indicators;    // one per row; -1 null, -2 or > 0 truncated
    std::vector<ub2> lengths;       // bytes received per row
    std::vector<ub2> returnCodes;   // per-row column return code (1406 truncated)
    std::vector<std::unique_ptr<TLongPiece>> longPieces;  // OCI8: the current LONG value
    sb2 longIndicator = 0;  // OCI8 dynamic define: the LONG value's indicator

    [[nodiscard]] const std::string& Name() const noexcept { return column.name; }
    [[nodiscard]] bool IsLong() const noexcept {
        return typeCode == otLong || typeCode == otLongRaw;
    }
    // Sizes the buffers for `rows` rows; raises when the total size overflows.
    void Allocate(std::size_t rows);
    [[nodiscard]] const std::byte* Row(std::size_t row) const noexcept {
        return buffer.data() + row * bufferSize;
    }
    [[nodiscard]] bool IsNull(std::size_t row) const noexcept;
    // Whether the fetch cut the value of this row to its buffer.
    [[nodiscard]] bool Truncated(std::size_t row) const noexcept;
    // Text of a NUL-terminated string row; never reads past the row's slot.
    [[nodiscard]] std::string RowText(std::size_t row) const;
    // Total bytes of the LONG value held in the pieces.
    [[nodiscard]] std::size_t LongPieceLength() const noexcept;
    // Copies up to `length` bytes of the pieces from `offset`; returns the bytes copied.
    std::size_t CopyFromPieces(std::byte* destination, std::size_t offset,
                               std::size_t length) const noexcept;
    void ResetLongPieces() noexcept { longPieces.clear(); }
    // Appends a piece of the next capacity and returns it.
    TLongPiece& AddLongPiece();
    // Takes `count` rows of `from` from row `first` on, with its description, into rows 0 ..
    // count - 1; the buffers are resized, never shrunk. LONG pieces are not copied.
    void CopyRows(const TFieldData& from, std::size_t first, std::size_t count);
};

// One buffered row's value as TOracleQuery's accessors give it (NULL is "", 0 or the zero
// decimal), for a caller that reads the buffers directly.
[[nodiscard]] std::string FieldText(const TFieldData& field, std::size_t row, bool convertCRLF);
[[nodiscard]] std::int32_t FieldInteger(const TFieldData& field, std::size_t row);
[[nodiscard]] double FieldFloat(const TFieldData& field, std::size_t row);
[[nodiscard]] TDecimal FieldDecimal(const TFieldData& field, std::size_t row);
[[nodiscard]] double FieldDate(const TFieldData& field, std::size_t row);

}  // namespace velnor::oracle
