#include "oracle/query/Variables.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "oracle/query/OracleConvert.h"
#include "oracle/query/OracleNumber.h"
#include "oracle/query/SqlText.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"

namespace velnor::oracle {

using platform::Exception;
using platform::TVariant;

namespace {

constexpr std::size_t kNoSize = std::numeric_limits<std::size_t>::max();

// Bytes per element at declaration; kNoSize for a type that cannot be declared.
std::size_t DeclarationSize(int typeCode) noexcept {
    switch (typeCode) {
        case otInteger:
            return 4;
        case otFloat:
            return 8;
        case otString:
        case otFixedChar:
            return 4001;
        case otBigString:
            return 32513;
        case otDate:
            return 7;
        case otNumber:
            return OracleVarnumSize;
        case otSubstitution:
        case otLong:
        case otLongRaw:
        case otObject:
        case otReference:
        case otCLOB:
        case otBLOB:
        case otBFile:
        case otCursor:
            return 0;
        default:
            return kNoSize;
    }
}

bool IsComplexType(int typeCode) noexcept {
    return typeCode == otObject || typeCode == otReference ||
           (typeCode >= otCLOB && typeCode <= otBFile) || typeCode == otCursor;
}

// The exact value of a number variable: text keeps every digit it has, a float the shortest
// digits that read back to it.
TDecimal ExactValue(const TVariant& value) {
    switch (value.Kind()) {
        case platform::TVariantKind::vkString:
            if (const auto decimal = ParseDecimal(value.StringRef())) return *decimal;
            throw platform::EConvertError("'" + value.StringRef() + "' is not a valid number");
        case platform::TVariantKind::vkInteger:
            return *ParseDecimal(platform::IntToText(value.AsInteger()));
        case platform::TVariantKind::vkFloat:
            return DecimalFromDouble(value.AsFloat());
        default:
            throw platform::EVariantError("Not a number");
    }
}

// NUL-terminated text in fixed slots.
bool IsSlotTextType(int typeCode) noexcept {
    return typeCode == otString || typeCode == otBigString || typeCode == otFixedChar;
}

// Types whose single value is the whole buffer.
bool IsWholeValueType(int typeCode) noexcept {
    return typeCode == otSubstitution || typeCode == otLong || typeCode == otLongRaw;
}

// Far above any real array DML batch, far below what the allocator refuses.
constexpr std::size_t kMaxBufferBytes = std::size_t{1} << 31;

std::size_t CheckedProduct(std::size_t a, std::size_t b, const std::string& name) {
    if (b != 0 && a > kMaxBufferBytes / b) throw Exception("Variable " + name + " is too large");
    return a * b;
}

// The empty variant of a null: Unassigned, or Null when the session asks for it.
TVariant NullVariant(const TVariableSettings& settings) {
    return settings.nullValueIsNull ? TVariant::Null() : TVariant();
}

// The value of an empty LONG or LONG RAW, which has no buffer.
TVariant BufferValue(int typeCode) {
    return typeCode == otLong ? TVariant(std::string()) : TVariant::FromBytes({});
}

// Without a session line breaks are converted.
bool ConvertCRLF(const TVariableSettings& settings) noexcept {
    return !settings.hasSession || settings.convertCRLF;
}

}  // namespace

// ---- TVariableData ----

TVariableData::TVariableData(std::string name, std::int16_t typeCode)
    : name_(std::move(name)), typeCode_(typeCode), indicators_(1, -1) {}

bool TVariableData::IsComplex() const noexcept { return IsComplexType(typeCode_); }

const std::byte* TVariableData::Slot(std::size_t i) const {
    if (!buffer_) return nullptr;
    if (i >= ElementCount())
        throw Exception("Element " + std::to_string(i) + " of " + name_ + " does not exist");
    return buffer_.get() + i * elementSize_;
}

std::byte* TVariableData::MutableSlot(std::size_t i) { return const_cast<std::byte*>(Slot(i)); }

std::size_t TVariableData::TextLength(std::size_t i) const {
    const std::byte* slot = Slot(i);
    if (!slot) return 0;
    const void* nul = std::memchr(slot, 0, elementSize_);
    return nul ? static_cast<std::size_t>(static_cast<const std::byte*>(nul) - slot) : elementSize_;
}

void TVariableData::Allocate(std::size_t count, std::size_t elementSize) {
    const std::size_t size = CheckedProduct(count, elementSize, name_);
    buffer_ = size > 0 ? std::make_unique<std::byte[]>(size) : nullptr;
    bufferSize_ = size;
    elementSize_ = elementSize;
    terminated_ = false;
}

void TVariableData::ReleaseData() noexcept {
    buffer_.reset();
    bufferSize_ = 0;
    elementSize_ = 0;
}

void TVariableData::ForgetBind() noexcept { bound_ = TBoundState{}; }

void TVariableData::ResizeVariable(std::size_t count, int stringSize,
                                   const TVariableSettings& settings) {
    if (count == ElementCount() && stringSize <= 0) return;
    std::size_t size = elementSize_;
    if (buffer_ && !IsComplex()) {
        if (typeCode_ == otString || typeCode_ == otFixedChar) {
            const std::size_t limit =
                static_cast<std::size_t>(settings.hasSession ? settings.maxVarcharChars : 2000) + 1;
            size = std::min(size, limit);
        }
        if (stringSize > 0) size = static_cast<std::size_t>(stringSize) + 1;
        Allocate(count, size);  // raises before anything changed when too large
    }
    indicators_.assign(count, -1);
}

void TVariableData::StoreWhole(std::string_view bytes, bool terminate) {
    const std::size_t size = bytes.size() + (terminate ? 1 : 0);
    auto buffer = size > 0 ? std::make_unique<std::byte[]>(size) : nullptr;
    if (!bytes.empty()) std::memcpy(buffer.get(), bytes.data(), bytes.size());
    buffer_ = std::move(buffer);
    bufferSize_ = size;
    elementSize_ = size;
    valueLength_ = bytes.size();
    bindLength_ = bytes.size() <= UB2MAXVAL ? static_cast<ub2>(bytes.size()) : 0;
    indicators_[0] = 0;
}

void TVariableData::StoreText(std::size_t i, std::string_view text) {
    std::byte* slot = MutableSlot(i);
    if (!slot || elementSize_ == 0) throw Exception("Variable " + name_ + " has no buffer");
    if (text.size() > elementSize_ - 1) {
        throw Exception("Value for variable " + name_ + " is longer than " +
                        std::to_string(elementSize_ - 1) + " bytes");
    }
    std::memcpy(slot, text.data(), text.size());
    slot[text.size()] = std::byte{0};
    indicators_[i] = 0;
}

void TVariableData::StoreElement(std::size_t i, const TVariant& value,
                                 const TVariableSettings& settings) {
    if (value.IsEmpty()) {
        indicators_.at(i) = -1;
        if (IsComplex()) object_ = nullptr;
        return;
    }
    try {
        switch (typeCode_) {
            case otSubstitution:
            case otLong:
                StoreWhole(NormalizeLineBreaksOut(value.AsString(), ConvertCRLF(settings)), true);
                return;
            case otInteger: {
                const std::int32_t v = value.AsInteger();
                std::memcpy(MutableSlot(i), &v, sizeof v);
                indicators_[i] = 0;
                return;
            }
            case otFloat: {
                const double v = value.AsFloat();
                std::memcpy(MutableSlot(i), &v, sizeof v);
                indicators_[i] = 0;
                return;
            }
            case otNumber:
                EncodeOracleVarnum(ExactValue(value),
                                   reinterpret_cast<std::uint8_t*>(MutableSlot(i)));
                indicators_[i] = 0;
                return;
            case otString:
            case otBigString:
            case otFixedChar:
                // Most values are text without a carriage return: stored without the two
                // copies the general path makes.
                if (value.Kind() == platform::TVariantKind::vkString &&
                    (!ConvertCRLF(settings) || value.StringRef().find('\r') == std::string::npos)) {
                    StoreText(i, value.StringRef());
                    return;
                }
                StoreText(i, NormalizeLineBreaksOut(value.AsString(), ConvertCRLF(settings)));
                return;
            case otDate: {
                const platform::TDateTime v = value.Kind() == platform::TVariantKind::vkString
                                                  ? platform::TextToDateTime(value.StringRef())
                                                  : value.AsDateTime();
                if (v != 0 || (settings.hasSession && !settings.zeroDateIsNull)) {
                    DateTimeToOracleDate(v, reinterpret_cast<std::uint8_t*>(MutableSlot(i)));
                    indicators_[i] = 0;
                } else {
                    indicators_[i] = -1;
                }
                return;
            }
            case otLongRaw: {
                if (value.Kind() == platform::TVariantKind::vkString) {
                    StoreWhole(value.StringRef(), false);
                } else if (value.Kind() == platform::TVariantKind::vkBytes) {
                    const auto& bytes = value.BytesRef();
                    StoreWhole({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, false);
                } else {
                    throw Exception("Only one-dimensional array of bytes allowed for " + name_);
                }
                return;
            }
            default:
                throw Exception("Attach an object to complex variable " + name_ +
                                " with SetVariableObject");
        }
    } catch (const platform::EVariantError&) {
        throw Exception("Variant conversion error for variable " + name_);
    }
}

TVariant TVariableData::ElementValue(std::size_t i, const TVariableSettings& settings) const {
    if (indicators_.at(i) == -1) return NullVariant(settings);
    const std::byte* slot = Slot(i);
    const bool whole = typeCode_ == otLong || typeCode_ == otLongRaw;
    if (!slot) return whole ? BufferValue(typeCode_) : NullVariant(settings);
    TVariant value = NullVariant(settings);
    // A PL/SQL block may hand back a shorter LONG through the length the client library holds.
    const std::size_t length =
        valueLength_ <= UB2MAXVAL ? std::min<std::size_t>(bindLength_, valueLength_) : valueLength_;
    BufferToVariant(slot, typeCode_, whole ? length : elementSize_, ConvertCRLF(settings), value);
    return value;
}

// ---- TVariables: declarations ----

std::string TVariables::NormalizeName(std::string_view name) {
    if (!name.empty() && name.front() != ':') return ":" + UpperCaseAscii(name);
    return UpperCaseAscii(name);
}

TVariableSettings TVariables::Settings() const {
    return host_ ? host_->VariableSettings() : TVariableSettings{};
}

void TVariables::Changed() {
    if (host_) host_->VariablesChanged();
}

const TVariableData& TVariables::Item(int index) const {
    if (index < 0 || index >= Count()) {
        throw Exception("Variable " + std::to_string(index) + " does not exist");
    }
    return *items_[static_cast<std::size_t>(index)];
}

int TVariables::GetVariableIndex(std::string_view name) const {
    const std::string normal = NormalizeName(name);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i]->name_ == normal) return static_cast<int>(i);
    }
    return -1;
}

const std::string& TVariables::GetVariableName(int index) const { return Item(index).Name(); }

std::int16_t TVariables::GetVariableType(int index) const { return Item(index).TypeCode(); }

const TVariableData* TVariables::Find(std::string_view name) const {
    const int index = GetVariableIndex(name);
    return index < 0 ? nullptr : items_[static_cast<std::size_t>(index)].get();
}

TVariableData& TVariables::Declared(std::string_view name, const char* prefix, const char* suffix) {
    const int index = GetVariableIndex(name);
    if (index < 0) throw Exception(prefix + NormalizeName(name) + suffix);
    return *items_[static_cast<std::size_t>(index)];
}

void TVariables::AddVariable(std::string_view name, int typeCode) {
    if (name.empty()) throw Exception("You cannot declare a variable with an empty name");
    // Checked first, so a failed redeclaration keeps the variable it was meant to replace.
    const std::size_t size = DeclarationSize(typeCode);
    if (size == kNoSize) throw Exception("Unsupported variable type");
    std::string normal = NormalizeName(name);
    const int old = GetVariableIndex(normal);
    if (old >= 0) items_.erase(items_.begin() + old);
    Changed();
    auto variable =
        std::make_unique<TVariableData>(std::move(normal), static_cast<std::int16_t>(typeCode));
    variable->Allocate(1, size);
    if (old >= 0) {
        items_.insert(items_.begin() + old, std::move(variable));
    } else {
        items_.push_back(std::move(variable));
    }
}

void TVariables::SetVariableTable(std::string_view name, std::int64_t count,
                                  std::int64_t stringSize) {
    MakeTable(Declared(name, "Variable ", " not declared"), count, stringSize, Settings());
}

void TVariables::MakeTable(TVariableData& v, std::int64_t count, std::int64_t stringSize,
                           const TVariableSettings& settings) {
    const int type = v.typeCode_;
    if (type != otInteger && type != otFloat && type != otString && type != otDate) {
        throw Exception("Only PL/SQL Tables of strings, integers, floats and dates supported");
    }
    if (type == otString && stringSize < 1) {
        throw Exception("You must specify a string size for a PL/SQL Table of strings");
    }
    if (type != otString && stringSize != 0) {
        throw Exception("You can only specify a string size for a PL/SQL Table of strings");
    }
    if (count < 1) throw Exception("You must specify the size of the PL/SQL Table");
    if (count > std::numeric_limits<int>::max() || stringSize >= std::numeric_limits<int>::max()) {
        throw Exception("Variable " + v.name_ + " is too large");
    }
    v.ResizeVariable(static_cast<std::size_t>(count), static_cast<int>(stringSize), settings);
    v.isTable_ = true;
    v.tableCount_ = 0;
}

void TVariables::RemoveVariable(std::string_view name) {
    const int index = GetVariableIndex(name);
    if (index < 0) throw Exception("Variable " + NormalizeName(name) + " not declared");
    items_.erase(items_.begin() + index);
    Changed();
}

void TVariables::RemoveAllVariables() {
    items_.clear();
    Changed();
}

// ---- values ----

void TVariables::SetVariableValue(std::string_view name, const TVariant& value) {
    StoreValue(Declared(name, "Variable ", " not declared"), value);
}

void TVariables::SetVariableValue(int index, const TVariant& value) {
    (void)Item(index);  // raises for an index out of range
    StoreValue(*items_[static_cast<std::size_t>(index)], value);
}

void TVariables::StoreValue(TVariableData& v, const TVariant& value) {
    const TVariableSettings settings = Settings();
    const bool isArray = value.IsArray() && v.typeCode_ != otLongRaw;
    if (!isArray) {
        if (v.isTable_) {
            if (!value.IsEmpty()) {
                throw Exception(v.name_ + " is a PL/SQL Table, assign a variant array to it");
            }
            v.tableCount_ = 0;
            return;
        }
        v.ResizeVariable(1, -1, settings);
        v.lowIndex_ = 0;
        v.StoreElement(0, value, settings);
        return;
    }
    if (v.IsComplex()) throw Exception(v.name_ + " is a complex variable and cannot be an array");
    if (v.typeCode_ == otSubstitution) {
        throw Exception(v.name_ + " is a substitution variable and cannot be an array");
    }
    // A LONG holds one value in its whole buffer; elements would overwrite each other.
    if (v.typeCode_ == otLong)
        throw Exception(v.name_ + " is a LONG variable and cannot be an array");
    const int low = value.LowBound();
    const std::int64_t n = static_cast<std::int64_t>(value.HighBound()) - low + 1;
    if (v.isTable_) {
        if (n > static_cast<std::int64_t>(v.ElementCount())) {
            throw Exception("Array is larger than PL/SQL Table (" + std::to_string(n) + " > " +
                            std::to_string(v.ElementCount()) + ")");
        }
        v.tableCount_ = static_cast<ub4>(n);
    } else {
        v.ResizeVariable(static_cast<std::size_t>(n), -1, settings);
    }
    v.lowIndex_ = low;
    for (std::int64_t k = 0; k < n; ++k) {
        v.StoreElement(static_cast<std::size_t>(k), value.Element(low + static_cast<int>(k)),
                       settings);
    }
}

TArrayBuffer TVariables::NewArrayBuffer(int index, std::size_t count, std::size_t maxText) const {
    const TVariableData& v = Item(index);
    const int type = v.typeCode_;
    if (v.IsComplex() || v.isTable_ || IsWholeValueType(type) || !v.buffer_)
        throw Exception(v.name_ + " cannot take an array buffer");
    std::size_t size = v.elementSize_;
    if (type == otString || type == otFixedChar) {
        const TVariableSettings settings = Settings();
        size = std::min(
            size,
            static_cast<std::size_t>(settings.hasSession ? settings.maxVarcharChars : 2000) + 1);
        if (maxText > 0) size = std::min(size, maxText + 1);
    }
    TArrayBuffer buffer;
    buffer.size = CheckedProduct(count, size, v.name_);
    buffer.data = buffer.size > 0 ? std::make_unique<std::byte[]>(buffer.size) : nullptr;
    buffer.elementSize = size;
    buffer.indicators.assign(count, -1);
    buffer.terminated = true;
    return buffer;
}

void TVariables::SwapArray(int index, TArrayBuffer& buffer) {
    (void)Item(index);  // raises for an index out of range
    TVariableData& v = *items_[static_cast<std::size_t>(index)];
    const std::size_t count = buffer.indicators.size();
    const bool text = IsSlotTextType(v.typeCode_);
    const std::size_t declared = DeclarationSize(v.typeCode_);
    const bool wrongSize = text ? buffer.elementSize > declared : buffer.elementSize != declared;
    if (v.IsComplex() || v.isTable_ || IsWholeValueType(v.typeCode_) || count == 0 ||
        buffer.elementSize == 0 || wrongSize || buffer.size / buffer.elementSize < count) {
        throw Exception("Array buffer does not fit variable " + v.name_);
    }
    std::swap(v.buffer_, buffer.data);
    std::swap(v.bufferSize_, buffer.size);
    std::swap(v.elementSize_, buffer.elementSize);
    std::swap(v.indicators_, buffer.indicators);
    std::swap(v.terminated_, buffer.terminated);
    v.lowIndex_ = 0;
}

bool TVariables::ConvertsLineBreaks() const { return ConvertCRLF(Settings()); }

TVariant TVariables::GetVariableValue(std::string_view name) const {
    const TVariableData* v = Find(name);
    if (!v) throw Exception("Unknown variable: " + NormalizeName(name));
    return ValueOf(*v);
}

TVariant TVariables::GetVariableValue(int index) const { return ValueOf(Item(index)); }

TVariant TVariables::ValueOf(const TVariableData& v) const {
    const TVariableSettings settings = Settings();
    if (v.ElementCount() != 1 || v.isTable_) {
        // The server never reports more elements than the table holds; trust that no further.
        const std::size_t n =
            v.isTable_ ? std::min<std::size_t>(v.tableCount_, v.ElementCount()) : v.ElementCount();
        if (n < 1) return NullVariant(settings);
        std::vector<TVariant> elements;
        elements.reserve(n);
        for (std::size_t j = 0; j < n; ++j) elements.push_back(v.ElementValue(j, settings));
        return TVariant::Array(std::move(elements), v.lowIndex_);
    }
    if (v.IsComplex()) {
        if (!v.object_) return NullVariant(settings);
        throw Exception("Variable " + v.name_ + " holds an object: use GetVariableObject");
    }
    if (v.indicators_[0] == -1) return NullVariant(settings);
    TVariant value = v.ElementValue(0, settings);
    if (v.typeCode_ == otLong)
        return NormalizeLineBreaksIn(value.StringRef(), ConvertCRLF(settings));
    return value;
}

void TVariables::SetVariableObject(std::string_view name, platform::TComponent* object) {
    const int index = GetVariableIndex(name);
    if (index < 0) throw Exception("Unknown variable: " + NormalizeName(name));
    TVariableData& v = *items_[static_cast<std::size_t>(index)];
    if (!v.IsComplex()) throw Exception(v.name_ + " is not a complex variable");
    if (object && !(host_ && host_->AcceptsObject(v.typeCode_, *object))) {
        switch (v.typeCode_) {
            case otObject:
                throw Exception("Assign TOracleObject instance to variable " + v.name_);
            case otReference:
                throw Exception("Assign TOracleReference instance to variable " + v.name_);
            case otCursor:
                throw Exception("Assign TOracleQuery instance to variable " + v.name_);
            default:
                throw Exception("Assign TLOBLocator instance to variable " + v.name_);
        }
    }
    v.object_ = object;
    v.indicators_[0] = object ? 0 : -1;
}

platform::TComponent* TVariables::GetVariableObject(std::string_view name) const {
    const TVariableData* v = Find(name);
    if (!v) throw Exception("Unknown variable: " + NormalizeName(name));
    return v->object_;
}

void TVariables::Assign(const TVariables& source) {
    if (&source == this) return;
    if (!host_ || !source.host_) {
        throw platform::EConvertError("Can only Assign TVariables owned by a TOracleQuery");
    }
    RemoveAllVariables();
    for (const auto& item : source.items_) {
        const TVariableData& s = *item;
        AddVariable(s.name_, s.typeCode_);
        if (s.isTable_) {
            SetVariableTable(s.name_, static_cast<std::int64_t>(s.ElementCount()),
                             s.typeCode_ == otString ? static_cast<int>(s.elementSize_) - 1 : 0);
        } else if (s.IsComplex()) {
            TVariableData& d = *items_.back();
            d.object_ = s.object_;
            d.indicators_[0] = s.indicators_[0];
        } else {
            SetVariableValue(s.name_, source.ValueOf(s));
        }
    }
}

// ---- text ----

std::string TVariables::SubstituteVariables(const std::string& text) const {
    const bool any = std::any_of(items_.begin(), items_.end(),
                                 [](const auto& v) { return v->typeCode_ == otSubstitution; });
    if (!any) return text;
    std::string result = text;
    const auto found = ScanVariableNames(text, true);
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        const TVariableData* v = Find(":" + it->name);
        if (!v || v->typeCode_ != otSubstitution) continue;
        const TVariant value = ValueOf(*v);
        const std::string pasted = value.IsEmpty() ? std::string() : value.AsString();
        result.replace(it->position - 1, it->name.size() + 1, pasted);
    }
    return result;
}

std::string TVariables::VariableDisplayText(int index) const {
    const TVariableData& v = Item(index);
    if (v.isTable_) return "(PL/SQL Table)";
    if (v.ElementCount() > 1) return "(Array)";
    switch (v.typeCode_) {
        case otLong:
            return "(Long)";
        case otLongRaw:
            return "(Long Raw)";
        case otObject:
            return "(Object)";
        case otReference:
            return "(Reference)";
        case otCLOB:
            return "(CLOB)";
        case otBLOB:
            return "(BLOB)";
        case otBFile:
            return "(BFile)";
        case otCursor:
            return "(Cursor)";
        default: {
            const TVariant value = ValueOf(v);
            return value.IsEmpty() ? "Null" : value.AsString();
        }
    }
}

// ---- binding ----

void TVariables::ForgetBinds() noexcept {
    for (auto& v : items_) v->ForgetBind();
}

int TVariables::BindVariables(TBinder& binder) {
    const TVariableSettings settings = Settings();
    int arrayLength = 0;
    for (auto& v : items_) {
        if (v->typeCode_ != otSubstitution)
            BindOne(*v, binder, settings.maxVarcharChars, arrayLength);
    }
    return arrayLength;
}

void TVariables::BindOne(TVariableData& v, TBinder& binder, int maxVarcharChars, int& arrayLength) {
    const std::string& name = v.name_;
    void* address = v.buffer_.get();
    ub2 externalType = static_cast<ub2>(v.typeCode_);
    switch (v.typeCode_) {
        case otBigString:
            externalType = otString;
            break;
        case otObject:
            if (!v.object_) throw Exception("Object variable " + name + " cannot be nil");
            throw Exception("An object variable is not supported by this client");
        case otReference:
            if (!v.object_) throw Exception("Reference variable " + name + " cannot be nil");
            throw Exception("A reference variable is not supported by this client");
        case otCLOB:
        case otBLOB:
        case otBFile:
            if (!v.object_) throw Exception("LOB variable " + name + " cannot be nil");
            throw Exception("A LOB Locator variable is not supported by this client");
        case otCursor:
            if (!v.object_) throw Exception("Cursor variable " + name + " cannot be nil");
            if (!host_) throw Exception("Cursor variable " + name + " needs a query");
            address = host_->PrepareCursorVariable(*v.object_);
            externalType = binder.CursorType();
            break;
        default:
            break;
    }

    const bool isArray = v.isTable_ || v.ElementCount() != 1;
    if (v.ElementCount() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw Exception("Variable " + name + " has too many elements");
    }
    const int count = static_cast<int>(v.ElementCount());
    if (v.isTable_) {
        arrayLength = 1;
    } else if (arrayLength == 0) {
        arrayLength = count;
    } else if (arrayLength != count) {
        throw Exception("All arrays must be of equal size for Array DML");
    }

    // LONG and LONG RAW go with their real length and without the terminator; the 16-bit
    // length array can only describe values up to 65535 bytes.
    const bool whole = v.typeCode_ == otLong || v.typeCode_ == otLongRaw;
    ub2* lengths = whole && v.valueLength_ <= UB2MAXVAL ? &v.bindLength_ : nullptr;
    std::size_t valueSize = whole ? v.valueLength_ : v.elementSize_;
    // Elements of an array are one element size apart, so only a single value may be
    // announced smaller than its buffer.
    if ((externalType == otString || externalType == otFixedChar) && v.typeCode_ != otBigString &&
        !isArray) {
        valueSize = std::min(valueSize, static_cast<std::size_t>(maxVarcharChars) + 1);
    }
    if (IsSlotTextType(v.typeCode_) && !v.terminated_) {
        const std::size_t used =
            v.isTable_ ? std::min<std::size_t>(v.tableCount_, v.ElementCount()) : v.ElementCount();
        for (std::size_t i = 0; i < used; ++i) {
            if (v.indicators_[i] != -1 && v.TextLength(i) + 1 > valueSize) {
                throw Exception("Value for variable " + name + " is longer than " +
                                std::to_string(valueSize == 0 ? 0 : valueSize - 1) + " bytes");
            }
        }
    }
    if (valueSize > static_cast<std::size_t>(SB4MAXVAL)) {
        throw Exception("Value for variable " + name + " is too large to bind");
    }
    if (whole && v.buffer_) v.bindLength_ = lengths ? static_cast<ub2>(v.valueLength_) : 0;
    const ub4 maxElements = v.isTable_ ? static_cast<ub4>(v.ElementCount()) : 0;
    ub4* currentCount = v.isTable_ ? &v.tableCount_ : nullptr;

    binder.Bind({v.name_, address, static_cast<sb4>(valueSize), externalType, v.indicators_.data(),
                 lengths, maxElements, currentCount},
                v.bound_);
}

// ---- stream ----

namespace {

void PutInt(std::vector<std::byte>& out, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::byte>((u >> shift) & 0xFFu));
    }
}

void PutBytes(std::vector<std::byte>& out, const std::byte* data, std::size_t size) {
    if (size > 0) out.insert(out.end(), data, data + size);
}

[[noreturn]] void RaiseDamaged(const char* what) {
    throw Exception(std::string("Invalid Query variables data: ") + what);
}

// Reads the stream front to back and never past its end.
class TStreamReader {
public:
    explicit TStreamReader(std::span<const std::byte> data) : data_(data) {}
    std::int32_t Int(const char* what) {
        if (data_.size() - offset_ < 4) RaiseDamaged(what);
        std::uint32_t u = 0;
        for (int i = 0; i < 4; ++i) {
            u |= static_cast<std::uint32_t>(data_[offset_ + static_cast<std::size_t>(i)])
                 << (8 * i);
        }
        offset_ += 4;
        return static_cast<std::int32_t>(u);
    }
    // A length that must be 0 or more and fit in what is left.
    std::size_t Length(const char* what) {
        const std::int32_t n = Int(what);
        if (n < 0 || static_cast<std::size_t>(n) > data_.size() - offset_) RaiseDamaged(what);
        return static_cast<std::size_t>(n);
    }
    std::span<const std::byte> Bytes(std::size_t n, const char* what) {
        if (n > data_.size() - offset_) RaiseDamaged(what);
        auto part = data_.subspan(offset_, n);
        offset_ += n;
        return part;
    }
    [[nodiscard]] std::size_t Left() const noexcept { return data_.size() - offset_; }

private:
    std::span<const std::byte> data_;
    std::size_t offset_ = 0;
};

// The bytes of element 0 as the stream keeps them: empty for a null value or a table, whose
// values the stream never holds (reading one back would not restore it).
std::span<const std::byte> StoredValue(const TVariableData& v) {
    if (v.IsNull(0) || v.IsComplex() || v.IsTable() || !v.HasBuffer()) return {};
    const std::byte* slot = v.Slot(0);
    if (IsSlotTextType(v.TypeCode()) || v.TypeCode() == otSubstitution) {
        const void* nul = std::memchr(slot, 0, v.ElementSize());
        const std::size_t length =
            nul ? static_cast<std::size_t>(static_cast<const std::byte*>(nul) - slot) + 1
                : v.ElementSize();
        return {slot, length};
    }
    return {slot, v.ElementSize()};
}

std::int32_t StreamInt(std::size_t value) {
    if (value > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw Exception("Query variables are too large for the stream");
    }
    return static_cast<std::int32_t>(value);
}

void PutVariable(std::vector<std::byte>& out, const TVariableData& v) {
    PutInt(out, StreamInt(v.Name().size()));
    PutBytes(out, reinterpret_cast<const std::byte*>(v.Name().data()), v.Name().size());
    PutInt(out, v.TypeCode());
    const auto value = StoredValue(v);
    PutInt(out, StreamInt(value.size()));
    PutBytes(out, value.data(), value.size());
    PutInt(out, v.IsTable() ? 1 : 0);
    if (v.IsTable()) {
        PutInt(out, StreamInt(v.ElementCount()));
        const bool text = IsSlotTextType(v.TypeCode()) || v.TypeCode() == otSubstitution;
        PutInt(out, text ? StreamInt(v.ElementSize() - 1) : 0);
    }
}

}  // namespace

std::vector<std::byte> TVariables::WriteData() const {
    std::vector<std::byte> out;
    PutInt(out, StreamVersion);
    PutInt(out, StreamInt(items_.size()));
    for (const auto& v : items_) PutVariable(out, *v);
    return out;
}

bool TVariables::ShouldWriteData(const TVariables* ancestor) const {
    if (!ancestor) return !items_.empty();
    if (ancestor->items_.size() != items_.size()) return true;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const TVariableData& a = *items_[i];
        const TVariableData& b = *ancestor->items_[i];
        std::vector<std::byte> ra, rb;
        PutVariable(ra, a);
        PutVariable(rb, b);
        if (ra != rb || a.ElementSize() != b.ElementSize()) return true;
    }
    return false;
}

void TVariables::ReadData(std::span<const std::byte> data) {
    TStreamReader in(data);
    const std::int32_t version = in.Int("no version");
    if (version < 1 || version > StreamVersion) {
        throw Exception("Invalid version of Query variables");
    }
    const std::int32_t count = in.Int("no count");
    // Every variable takes at least a name length and a type.
    if (count < 0 || static_cast<std::size_t>(count) > in.Left() / 8) {
        RaiseDamaged("variable count larger than the data");
    }
    // Built aside, so a damaged stream leaves the current variables alone.
    TVariables read(nullptr);
    const TVariableSettings settings = Settings();
    for (std::int32_t k = 0; k < count; ++k) {
        const std::size_t nameLength = in.Length("name length");
        const auto nameBytes = in.Bytes(nameLength, "name");
        const std::string name(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
        const std::int32_t type = in.Int("type");
        if (type < std::numeric_limits<std::int16_t>::min() ||
            type > std::numeric_limits<std::int16_t>::max()) {
            throw Exception("Unsupported variable type");
        }
        read.AddVariable(name, type);
        TVariableData& v = *read.items_.back();
        if (version >= 2) {
            const std::size_t length = in.Length("value length");
            const auto value = in.Bytes(length, "value");
            if (length > 0) {
                if (v.IsComplex()) RaiseDamaged("value for a complex variable");
                if (IsWholeValueType(v.typeCode_)) {
                    std::string_view bytes(reinterpret_cast<const char*>(value.data()),
                                           value.size());
                    // Text is kept with its terminator; the value itself ends before it.
                    const bool text = v.typeCode_ != otLongRaw;
                    if (text && bytes.back() == '\0') bytes.remove_suffix(1);
                    v.StoreWhole(bytes, text);
                } else {
                    const bool text = IsSlotTextType(v.typeCode_);
                    const bool fits = text ? length <= v.elementSize_ : length == v.elementSize_;
                    if (!fits) RaiseDamaged("value does not fit its variable");
                    if (text && !std::memchr(value.data(), 0, length)) {
                        RaiseDamaged("text value without terminator");
                    }
                    std::memcpy(v.buffer_.get(), value.data(), length);
                    v.indicators_[0] = 0;
                }
            }
        }
        if (version >= 3) {
            const std::int32_t table = in.Int("table flag");
            if (table == 1) {
                const std::int32_t size = in.Int("table size");
                const std::int32_t stringSize = in.Int("table string size");
                // The stream holds no table values, so a few bytes could otherwise ask for
                // gigabytes; a stored table is refused beyond a generous bound.
                constexpr std::int64_t kMaxStreamTableBytes = 64ll << 20;
                const std::int64_t slot = std::max<std::int64_t>(stringSize, 0) + 16;
                if (size > 0 && static_cast<std::int64_t>(size) * slot > kMaxStreamTableBytes) {
                    RaiseDamaged("table larger than 64 MiB");
                }
                MakeTable(v, size, stringSize, settings);
            } else if (table != 0) {
                RaiseDamaged("table flag");
            }
        }
    }
    if (in.Left() != 0) RaiseDamaged("data after the last variable");
    items_ = std::move(read.items_);
    Changed();
}

}  // namespace velnor::oracle
