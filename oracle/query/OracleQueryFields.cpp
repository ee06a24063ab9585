// Read access to the current row of a query.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleConvert.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/detail/QueryImpl.h"
#include "platform/Text.h"

namespace velnor::oracle {

using platform::Exception;

namespace {

template <class T>
T Load(const std::byte* p) noexcept {
    T value{};
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The low 32 bits of the value truncated toward zero, as the column's integer form.
std::int32_t LowBitsOfTruncated(double value) noexcept {
    if (!std::isfinite(value)) return 0;
    double m = std::fmod(std::trunc(value), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(m));
}

// An exact number as the double nearest to it (from_chars: the process locale plays no part).
double ExactToDouble(const TFieldData& field, std::size_t row) {
    const std::string text =
        DecimalToText(BufferToDecimal(field.Row(row), otNumber, field.bufferSize));
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

[[noreturn]] void CannotConvert(const TFieldData& field, const char* target) {
    throw Exception("Cannot convert field " + field.Name() + " to " + target);
}

}  // namespace

const TFieldData& TQueryImpl::CheckedField(int index) const {
    if (index < 0 || index >= q_.FieldCount()) {
        throw Exception("Field " + std::to_string(index) + " does not exist");
    }
    return *fields_[static_cast<std::size_t>(index)];
}

const TFieldData& TQueryImpl::ValueField(int index) const {
    const TFieldData& field = CheckedField(index);
    if (eof_) throw Exception("You cannot access field data beyond Eof");
    return field;
}

const TFieldData& TOracleQuery::FieldData(int index) const { return impl_->CheckedField(index); }
const std::string& TOracleQuery::FieldName(int index) const {
    return impl_->CheckedField(index).Name();
}
int TOracleQuery::FieldType(int index) const { return impl_->CheckedField(index).typeCode; }
int TOracleQuery::FieldInternalType(int index) const {
    return impl_->CheckedField(index).column.internalType;
}
int TOracleQuery::FieldPrecision(int index) const {
    return impl_->CheckedField(index).column.precision;
}
int TOracleQuery::FieldScale(int index) const { return impl_->CheckedField(index).column.scale; }
bool TOracleQuery::FieldOptional(int index) const {
    return impl_->CheckedField(index).column.nullable;
}

int TOracleQuery::FieldSize(int index) const {
    const TFieldData& field = impl_->CheckedField(index);
    if (field.typeCode != otString || field.bufferSize == 0) return 0;
    return static_cast<int>(std::min<std::size_t>(field.bufferSize - 1, 0x7fffffff));
}

int TOracleQuery::FindFieldIndex(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < impl_->fields_.size(); ++i) {
        if (platform::SameText(impl_->fields_[i]->Name(), name)) return static_cast<int>(i);
    }
    return -1;
}

int TOracleQuery::FieldIndex(std::string_view name) const {
    const int index = FindFieldIndex(name);
    if (index < 0) throw Exception("Field " + std::string(name) + " does not exist");
    return index;
}

bool TOracleQuery::FieldIsNull(int index) const {
    return impl_->ValueField(index).IsNull(static_cast<std::size_t>(impl_->currentRow_));
}

std::string FieldText(const TFieldData& f, std::size_t row, bool convertCRLF) {
    if (f.IsNull(row)) return {};
    switch (f.typeCode) {
        case otInteger:
            return platform::IntToText(Load<std::int32_t>(f.Row(row)));
        case otFloat:
            return platform::FloatToText(Load<double>(f.Row(row)));
        case otString:
            return NormalizeLineBreaksIn(f.RowText(row), convertCRLF);
        case otDate:
            return platform::DateTimeToText(
                OracleDateToDateTime(reinterpret_cast<const std::uint8_t*>(f.Row(row))));
        case otNumber:
            return DecimalToText(BufferToDecimal(f.Row(row), otNumber, f.bufferSize));
        default:
            CannotConvert(f, "a String");
    }
}

std::int32_t FieldInteger(const TFieldData& f, std::size_t row) {
    if (f.IsNull(row)) return 0;
    switch (f.typeCode) {
        case otInteger:
            return Load<std::int32_t>(f.Row(row));
        case otFloat:
            return LowBitsOfTruncated(Load<double>(f.Row(row)));
        case otNumber:
            return LowBitsOfTruncated(ExactToDouble(f, row));
        case otString:
            return platform::TextToInteger(f.RowText(row));
        case otDate:
            return static_cast<std::int32_t>(std::trunc(
                OracleDateToDateTime(reinterpret_cast<const std::uint8_t*>(f.Row(row)))));
        default:
            CannotConvert(f, "an Integer");
    }
}

double FieldFloat(const TFieldData& f, std::size_t row) {
    if (f.IsNull(row)) return 0.0;
    switch (f.typeCode) {
        case otInteger:
            return Load<std::int32_t>(f.Row(row));
        case otFloat:
            return Load<double>(f.Row(row));
        case otNumber:
            return ExactToDouble(f, row);
        case otString:
            return platform::TextToFloat(f.RowText(row));
        case otDate:
            return OracleDateToDateTime(reinterpret_cast<const std::uint8_t*>(f.Row(row)));
        default:
            CannotConvert(f, "a Float");
    }
}

TDecimal FieldDecimal(const TFieldData& f, std::size_t row) {
    if (f.IsNull(row)) return {};
    switch (f.typeCode) {
        case otInteger:
        case otFloat:
        case otNumber:
            return BufferToDecimal(f.Row(row), f.typeCode, f.bufferSize);
        case otString: {
            const std::string text = f.RowText(row);
            return BufferToDecimal(text.data(), otString, text.size());
        }
        default:
            CannotConvert(f, "a Number");
    }
}

double FieldDate(const TFieldData& f, std::size_t row) {
    if (f.IsNull(row)) return 0.0;
    switch (f.typeCode) {
        case otInteger:
            return Load<std::int32_t>(f.Row(row));
        case otFloat:
            return Load<double>(f.Row(row));
        case otString:
            return platform::TextToDate(f.RowText(row));
        case otDate:
            return OracleDateToDateTime(reinterpret_cast<const std::uint8_t*>(f.Row(row)));
        default:
            CannotConvert(f, "a Date");
    }
}

std::string TOracleQuery::FieldAsString(int index) const {
    return FieldText(impl_->ValueField(index), static_cast<std::size_t>(impl_->currentRow_),
                     !session_ || session_->Preferences().ConvertCRLF());
}

std::int32_t TOracleQuery::FieldAsInteger(int index) const {
    return FieldInteger(impl_->ValueField(index), static_cast<std::size_t>(impl_->currentRow_));
}

double TOracleQuery::FieldAsFloat(int index) const {
    return FieldFloat(impl_->ValueField(index), static_cast<std::size_t>(impl_->currentRow_));
}

TDecimal TOracleQuery::FieldAsDecimal(int index) const {
    return FieldDecimal(impl_->ValueField(index), static_cast<std::size_t>(impl_->currentRow_));
}

double TOracleQuery::FieldAsDate(int index) const {
    return FieldDate(impl_->ValueField(index), static_cast<std::size_t>(impl_->currentRow_));
}

int TOracleQuery::BufferRow() const noexcept { return impl_->eof_ ? 0 : impl_->currentRow_; }

int TOracleQuery::BufferedRows() const noexcept {
    return impl_->eof_ ? 0 : impl_->rowsInBuffer_ - impl_->currentRow_;
}

void TOracleQuery::SkipBufferedRows() {
    if (impl_->eof_) return;
    impl_->currentRow_ = impl_->rowsInBuffer_ - 1;
    Next();
}

platform::TVariant TOracleQuery::GetFieldValue(int index) const { return Field(index); }

platform::TVariant TOracleQuery::Field(int index) const {
    const TFieldData& f = impl_->ValueField(index);
    const auto row = static_cast<std::size_t>(impl_->currentRow_);
    const bool nullIsNull = session_ && session_->NullValue() == TNullValueOption::nvNull;
    const platform::TVariant nullValue =
        nullIsNull ? platform::TVariant::Null() : platform::TVariant::Unassigned();
    const bool convertCRLF = !session_ || session_->Preferences().ConvertCRLF();
    if (f.IsNull(row)) return nullValue;
    switch (f.typeCode) {
        case otObject:
        case otReference:
        case otCursor:
        case otBFile:
            // Reached through value objects, which this client does not provide.
            return nullValue;
        case otCLOB:
        case otBLOB: {
            // The whole content; an empty LOB reads as the session's null value.
            const std::string content = impl_->LobValue(f);
            if (content.empty()) return nullValue;
            if (f.typeCode == otBLOB)
                return platform::TVariant::FromBytes(content.data(), content.size());
            return platform::TVariant(NormalizeLineBreaksIn(content, convertCRLF));
        }
        case otLong:
            return platform::TVariant(
                NormalizeLineBreaksIn(impl_->LongValue(f, index), convertCRLF));
        case otLongRaw: {
            const std::string bytes = impl_->LongValue(f, index);
            return platform::TVariant::FromBytes(bytes.data(), bytes.size());
        }
        case otString:
            return platform::TVariant(NormalizeLineBreaksIn(f.RowText(row), convertCRLF));
        default: {
            platform::TVariant value = nullValue;
            BufferToVariant(f.Row(row), f.typeCode, f.bufferSize, convertCRLF, value);
            return value;
        }
    }
}

std::string TQueryImpl::LongValue(const TFieldData& field, int index) const {
    std::string text;
    if (const auto known = statement_->KnownLongLength(field)) {
        text.resize(*known);
        text.resize(q_.ReadLongField(index, text.data(), 0, text.size()));
        return text;
    }
    std::size_t chunk = 1000;
    std::size_t read = 0;
    for (;;) {
        if (chunk < 32000) chunk = std::min<std::size_t>(chunk * 2, 32000);
        text.resize(read + chunk);
        const std::size_t got = q_.ReadLongField(index, text.data() + read, read, chunk);
        read += got;
        if (got < chunk) break;
    }
    text.resize(read);
    return text;
}

std::size_t TOracleQuery::ReadLongField(int index, void* destination, std::size_t offset,
                                        std::size_t length) const {
    const TFieldData& f = impl_->CheckedField(index);
    if (!f.IsLong()) throw Exception("Field " + std::to_string(index) + " is not a Long");
    if (impl_->eof_) throw Exception("You cannot access field data beyond Eof");
    if (length == 0) return 0;
    return impl_->statement_->ReadLong(f, index, impl_->currentRow_,
                                       static_cast<std::byte*>(destination), offset, length);
}

bool TOracleQuery::FieldIsNull(std::string_view name) const {
    return FieldIsNull(FieldIndex(name));
}
std::string TOracleQuery::FieldAsString(std::string_view name) const {
    return FieldAsString(FieldIndex(name));
}
std::int32_t TOracleQuery::FieldAsInteger(std::string_view name) const {
    return FieldAsInteger(FieldIndex(name));
}
double TOracleQuery::FieldAsFloat(std::string_view name) const {
    return FieldAsFloat(FieldIndex(name));
}
double TOracleQuery::FieldAsDate(std::string_view name) const {
    return FieldAsDate(FieldIndex(name));
}
platform::TVariant TOracleQuery::Field(std::string_view name) const {
    return Field(FieldIndex(name));
}

}  // namespace velnor::oracle
