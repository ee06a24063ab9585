#include "oracle/query/FieldData.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "oracle/query/OracleNumber.h"
#include "platform/Exception.h"

namespace velnor::oracle {

namespace {

constexpr std::size_t kFirstPiece = 2000;
constexpr std::size_t kLargestPiece = 32000;
constexpr std::size_t kHandleSize = sizeof(void*);
// "-1.7976931348623157E+308" and "-999999999 23:59:59.999999999" with room to spare.
constexpr std::size_t kBinaryTextSize = 41;
constexpr std::size_t kIntervalTextSize = 41;

void Check(const TMappingContext& context, const char* feature) {
    if (context.checkFeature) context.checkFeature(feature);
}

std::size_t PlusOne(int size) {
    // A negative size from a broken describe must not wrap into a huge buffer.
    return static_cast<std::size_t>(std::max(size, 0)) + 1;
}

}  // namespace

TLongPiece::TLongPiece(std::size_t capacity) : data(capacity), length(static_cast<ub4>(capacity)) {}

std::size_t NextLongPieceCapacity(std::size_t previousCapacity) noexcept {
    if (previousCapacity == 0) return kFirstPiece;
    return previousCapacity < kLargestPiece ? std::min(previousCapacity * 2, kLargestPiece)
                                            : previousCapacity;
}

std::size_t CheckedProduct(std::size_t a, std::size_t b) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
        throw platform::Exception("Fetch buffer too large");
    }
    return a * b;
}

std::size_t TextBufferSize(const TColumnDescription& column, int clientBytesPerCharacter,
                           int clientCharsetId) {
    const std::size_t described = PlusOne(column.dataSize);
    if (clientBytesPerCharacter <= 0) return described;
    if (column.charsetId != 0 && column.charsetId == clientCharsetId) return described;
    // The server converts to the client character set, which may need more bytes per
    // character than the column's own set: an NCHAR column, a CHAR-semantics width or a
    // single-byte database set read as UTF-8. Without a character count the byte width
    // bounds the characters.
    const int dataSize = std::max(column.dataSize, 0);
    const int characters = column.charLength > 0 ? std::min(column.charLength, dataSize) : dataSize;
    const std::size_t converted =
        CheckedProduct(static_cast<std::size_t>(characters),
                       static_cast<std::size_t>(clientBytesPerCharacter)) +
        1;
    return std::max(described, std::min(converted, kMaxTextBuffer));
}

TColumnMapping MapColumnType(const TColumnDescription& column, const TMappingContext& context) {
    TColumnMapping m;
    switch (column.internalType) {
        case itNumber: {
            if (context.exactNumbers && !context.stringFieldsOnly &&
                NumberColumnDigits(column.precision, column.scale) > 15) {
                m.typeCode = otNumber;
                m.bufferSize = OracleVarnumSize;
                break;
            }
            const TNumberFieldChoice choice =
                context.numberRule
                    ? context.numberRule(column.precision, column.scale, context.stringFieldsOnly)
                    : TNumberFieldChoice{otFloat, 8};
            m.typeCode = static_cast<std::int16_t>(choice.fieldType);
            m.bufferSize = static_cast<std::size_t>(std::max(choice.bufferSize, 0));
            break;
        }
        case itLong:
        case itLongRaw:
            m.typeCode = column.internalType == itLong ? otLong : otLongRaw;
            m.bufferSize = context.longPrefix;
            m.isLong = true;
            break;
        case itRowId:
        case itRowIdDescriptor:
            m.bufferSize = std::max<std::size_t>(PlusOne(column.dataSize), 19);
            break;
        case itDate:
            if (context.stringFieldsOnly) {
                const int length = context.dateFormatLength ? context.dateFormatLength() : 40;
                m.bufferSize = PlusOne(length);
            } else {
                m.typeCode = otDate;
                m.bufferSize = 7;
            }
            break;
        case itRaw:
            m.bufferSize =
                CheckedProduct(2, static_cast<std::size_t>(std::max(column.dataSize, 0))) + 1;
            break;
        case itVarchar2:
        case itChar:
            m.bufferSize =
                TextBufferSize(column, context.clientBytesPerCharacter, context.clientCharsetId);
            break;
        case itMlsLabel:
            m.bufferSize = 255;
            break;
        case itObject:
            Check(context, "A query with objects");
            m.typeCode = otObject;
            m.bufferSize = kHandleSize;
            break;
        case itRef:
            Check(context, "A query with references");
            m.typeCode = otReference;
            m.bufferSize = kHandleSize;
            break;
        case itClob:
        case itBlob:
        case itBFile:
            Check(context, "A query with LOB's");
            m.typeCode = static_cast<std::int16_t>(column.internalType);
            m.bufferSize = kHandleSize;
            break;
        case itCursor:
            Check(context, "A query with sub-queries");
            m.typeCode = otCursor;
            m.bufferSize = kHandleSize;
            break;
        case itTimestamp:
        case itTimestampTz:
        case itTimestampLtz: {
            const int bytes = context.bytesPerCharacter ? context.bytesPerCharacter() : 1;
            m.bufferSize = CheckedProduct(50, static_cast<std::size_t>(std::max(bytes, 1)));
            break;
        }
        case itBinaryFloat:
        case itBinaryDouble:
            // Fetched as a native double, which holds either exactly, NaN and infinities too.
            if (context.stringFieldsOnly) {
                m.bufferSize = kBinaryTextSize;
            } else {
                m.typeCode = otFloat;
                m.bufferSize = 8;
            }
            break;
        case itIntervalYm:
        case itIntervalDs:
            m.bufferSize = kIntervalTextSize;
            break;
        default:
            m.bufferSize = PlusOne(column.dataSize);
            break;
    }
    return m;
}

void TFieldData::Allocate(std::size_t rows) {
    rowCapacity = rows;
    buffer.assign(CheckedProduct(bufferSize, rows), std::byte{0});
    indicators.assign(rows, 0);
    lengths.assign(rows, 0);
    returnCodes.assign(rows, 0);
}

bool TFieldData::IsNull(std::size_t row) const noexcept {
    return row < indicators.size() && indicators[row] == -1;
}

bool TFieldData::Truncated(std::size_t row) const noexcept {
    // The first part of an OCI7 LONG is cut on purpose; the rest is read on demand.
    if (IsLong()) return false;
    if (row >= indicators.size()) return false;
    return indicators[row] == -2 || indicators[row] > 0 || returnCodes[row] == 1406;
}

std::string TFieldData::RowText(std::size_t row) const {
    if (bufferSize == 0 || row >= rowCapacity) return {};
    const char* begin = reinterpret_cast<const char*>(Row(row));
    const std::size_t limit =
        std::min<std::size_t>(bufferSize, lengths[row] ? bufferSize : bufferSize);
    const void* nul = std::memchr(begin, 0, limit);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin) : limit;
    return std::string(begin, n);
}

std::size_t TFieldData::LongPieceLength() const noexcept {
    std::size_t total = 0;
    for (const auto& piece : longPieces)
        total += std::min<std::size_t>(piece->length, piece->Capacity());
    return total;
}

std::size_t TFieldData::CopyFromPieces(std::byte* destination, std::size_t offset,
                                       std::size_t length) const noexcept {
    std::size_t copied = 0;
    std::size_t start = 0;
    for (const auto& piece : longPieces) {
        if (copied >= length) break;
        const std::size_t pieceLength = std::min<std::size_t>(piece->length, piece->Capacity());
        if (offset < start + pieceLength) {
            const std::size_t skip = offset > start ? offset - start : 0;
            const std::size_t n = std::min(length - copied, pieceLength - skip);
            std::memcpy(destination + copied, piece->data.data() + skip, n);
            copied += n;
        }
        start += pieceLength;
    }
    return copied;
}

void TFieldData::CopyRows(const TFieldData& from, std::size_t first, std::size_t count) {
    column = from.column;
    typeCode = from.typeCode;
    bufferSize = from.bufferSize;
    const std::size_t bytes = CheckedProduct(bufferSize, count);
    if (buffer.size() < bytes) buffer.resize(bytes);
    if (indicators.size() < count) {
        indicators.resize(count);
        lengths.resize(count);
        returnCodes.resize(count);
    }
    rowCapacity = std::max(rowCapacity, count);
    if (bytes > 0) std::memcpy(buffer.data(), from.Row(first), bytes);
    std::copy_n(from.indicators.begin() + static_cast<std::ptrdiff_t>(first), count,
                indicators.begin());
    std::copy_n(from.lengths.begin() + static_cast<std::ptrdiff_t>(first), count, lengths.begin());
    std::copy_n(from.returnCodes.begin() + static_cast<std::ptrdiff_t>(first), count,
                returnCodes.begin());
}

TLongPiece& TFieldData::AddLongPiece() {
    const std::size_t capacity =
        NextLongPieceCapacity(longPieces.empty() ? 0 : longPieces.back()->Capacity());
    longPieces.push_back(std::make_unique<TLongPiece>(capacity));
    return *longPieces.back();
}

}  // namespace velnor::oracle
