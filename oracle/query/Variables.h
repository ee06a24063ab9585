// Bind variables of a query: declarations, values, their bind buffers and their stream form.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "oci/Oci7.h"
#include "oci/OciFunctions.h"
#include "oci/OciTypes.h"
#include "oracle/query/detail/TypeCodes.h"
#include "platform/Variant.h"

namespace velnor::platform {
class TComponent;
}

namespace velnor::oracle {

// The session facts that steer how variable values are buffered and read back.
struct TVariableSettings {
    bool hasSession = false;
    int maxVarcharChars = 2000;    // string bind limit in characters
    bool nullValueIsNull = false;  // a null reads back as Null instead of Unassigned
    bool convertCRLF = true;
    bool zeroDateIsNull = true;
};

// What the variables need from the query that owns them.
class TVariablesHost {
public:
    virtual ~TVariablesHost() = default;
    [[nodiscard]] virtual TVariableSettings VariableSettings() const = 0;
    // A declaration changed, so the statement must be parsed and bound afresh.
    virtual void VariablesChanged() = 0;
    // Whether `object` may be attached to a complex variable of `typeCode`.
    [[nodiscard]] virtual bool AcceptsObject(std::int16_t typeCode,
                                             platform::TComponent& object) const = 0;
    // Opens the attached query of a cursor variable for the statement about to run and
    // returns the address to bind.
    virtual void* PrepareCursorVariable(platform::TComponent& query) = 0;
};

// What a variable last handed to the client library on the current statement; a bind with the
// same addresses and sizes need not be renewed.
struct TBoundState {
    OCIBind* handle = nullptr;
    const void* value = nullptr;
    sb4 valueSize = 0;
    ub2 externalType = 0;
    const void* indicators = nullptr;
    const void* lengths = nullptr;
    ub4 maxElements = 0;
    bool operator==(const TBoundState&) const = default;
};

// One variable's bind as the client library receives it.
struct TBindRequest {
    std::string& name;
    void* value;
    sb4 valueSize;
    ub2 externalType;
    sb2* indicators;
    ub2* lengths;
    ub4 maxElements;
    ub4* currentCount;
};

// Hands binds to the statement about to run; each client interface has its own.
class TBinder {
public:
    virtual ~TBinder() = default;
    // The external type code a cursor variable binds as.
    [[nodiscard]] virtual ub2 CursorType() const noexcept = 0;
    // Raises when the client library reports an error; `bound` belongs to the variable.
    virtual void Bind(const TBindRequest& request, TBoundState& bound) = 0;
};

// The elements of an array variable built outside it and handed over whole (TVariables::
// SwapArray), so a batch of array DML can be filled while the previous one executes.
struct TArrayBuffer {
    std::unique_ptr<std::byte[]> data;  // elementSize bytes per element
    std::size_t size = 0;               // bytes of data
    std::size_t elementSize = 0;
    std::vector<sb2> indicators;  // one per element: -1 null, 0 present
    // Filled under SwapArray's terms (text terminated within its slot), so binding it need
    // not look for each terminator again.
    bool terminated = false;

    [[nodiscard]] std::byte* Slot(std::size_t i) noexcept { return data.get() + i * elementSize; }
};

// One named variable. Its buffer, indicators, length and table count are handed to the client
// library by address, so a variable is never moved (the list keeps it behind a unique_ptr) and
// its buffers are only replaced by a new declaration, resize or value.
class TVariableData {
public:
    TVariableData(std::string name, std::int16_t typeCode);  // name already normalised

    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    [[nodiscard]] std::int16_t TypeCode() const noexcept { return typeCode_; }
    [[nodiscard]] std::size_t ElementSize() const noexcept { return elementSize_; }
    [[nodiscard]] std::size_t ElementCount() const noexcept { return indicators_.size(); }
    [[nodiscard]] std::size_t ValueLength() const noexcept { return valueLength_; }
    [[nodiscard]] int LowIndex() const noexcept { return lowIndex_; }
    [[nodiscard]] bool IsTable() const noexcept { return isTable_; }
    [[nodiscard]] std::size_t TableCount() const noexcept { return tableCount_; }
    [[nodiscard]] bool IsComplex() const noexcept;
    [[nodiscard]] bool HasBuffer() const noexcept { return buffer_ != nullptr; }
    // Element i of the buffer; null when the variable has no buffer.
    [[nodiscard]] const std::byte* Slot(std::size_t i) const;
    [[nodiscard]] std::span<const std::byte> Bytes() const noexcept {
        return {buffer_.get(), bufferSize_};
    }
    [[nodiscard]] const std::vector<sb2>& Indicators() const noexcept { return indicators_; }
    [[nodiscard]] bool IsNull(std::size_t i) const { return indicators_.at(i) == -1; }
    [[nodiscard]] platform::TComponent* Object() const noexcept { return object_; }

private:
    friend class TVariables;

    void Allocate(std::size_t count, std::size_t elementSize);
    void ReleaseData() noexcept;
    void ResizeVariable(std::size_t count, int stringSize, const TVariableSettings& settings);
    void StoreElement(std::size_t i, const platform::TVariant& value,
                      const TVariableSettings& settings);
    void StoreText(std::size_t i, std::string_view text);
    void StoreWhole(std::string_view bytes, bool terminate);
    [[nodiscard]] platform::TVariant ElementValue(std::size_t i,
                                                  const TVariableSettings& settings) const;
    [[nodiscard]] std::byte* MutableSlot(std::size_t i);
    [[nodiscard]] std::size_t TextLength(std::size_t i) const;
    void ForgetBind() noexcept;

    std::string name_;
    std::int16_t typeCode_;
    std::size_t elementSize_ = 0;
    std::unique_ptr<std::byte[]> buffer_;  // ElementCount x ElementSize bytes
    std::size_t bufferSize_ = 0;
    std::vector<sb2> indicators_;  // -1 null, 0 present; one per element
    std::size_t valueLength_ = 0;  // LONG and LONG RAW: bytes of the value, no terminator
    ub2 bindLength_ = 0;  // LONG and LONG RAW up to 65535 bytes: the length the client reads
    int lowIndex_ = 0;
    bool isTable_ = false;
    bool terminated_ = false;  // an array swapped in from a TArrayBuffer
    ub4 tableCount_ = 0;       // PL/SQL table: elements passed in, and returned by the server
    platform::TComponent* object_ = nullptr;  // complex types: the attached object

    TBoundState bound_;
};

// The ordered variables of one query.
class TVariables {
public:
    static constexpr std::int32_t StreamVersion = 3;

    explicit TVariables(TVariablesHost* host = nullptr) : host_(host) {}
    TVariables(const TVariables&) = delete;
    TVariables& operator=(const TVariables&) = delete;

    // ":" + upper case for a name without the colon; upper case otherwise.
    [[nodiscard]] static std::string NormalizeName(std::string_view name);

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(items_.size()); }
    [[nodiscard]] const TVariableData& Item(int index) const;
    [[nodiscard]] int GetVariableIndex(std::string_view name) const;
    [[nodiscard]] const std::string& GetVariableName(int index) const;
    [[nodiscard]] std::int16_t GetVariableType(int index) const;
    // Null when no variable of that name is declared.
    [[nodiscard]] const TVariableData* Find(std::string_view name) const;

    void AddVariable(std::string_view name, int typeCode);
    void SetVariableTable(std::string_view name, std::int64_t count, std::int64_t stringSize);
    void SetVariableValue(std::string_view name, const platform::TVariant& value);
    void SetVariableValue(int index, const platform::TVariant& value);
    // A buffer of `count` null elements in the element size an array of the variable takes;
    // for text, `maxText` bytes (plus the terminator) when smaller.
    [[nodiscard]] TArrayBuffer NewArrayBuffer(int index, std::size_t count,
                                              std::size_t maxText = 0) const;
    // Exchanges the variable's elements with `buffer` (one from NewArrayBuffer, or one given
    // back by an earlier swap), making it an array of buffer.indicators.size() elements.
    // Present text elements must be NUL-terminated within their slot.
    void SwapArray(int index, TArrayBuffer& buffer);
    // Whether text values lose their carriage returns on the way to the statement.
    [[nodiscard]] bool ConvertsLineBreaks() const;
    [[nodiscard]] platform::TVariant GetVariableValue(std::string_view name) const;
    [[nodiscard]] platform::TVariant GetVariableValue(int index) const;
    void SetVariableObject(std::string_view name, platform::TComponent* object);
    [[nodiscard]] platform::TComponent* GetVariableObject(std::string_view name) const;
    void RemoveVariable(std::string_view name);
    void RemoveAllVariables();

    // Copies declarations and values of `source`; both lists must belong to a query.
    void Assign(const TVariables& source);

    // `text` with the values of substitution variables pasted over their placeholders.
    [[nodiscard]] std::string SubstituteVariables(const std::string& text) const;
    // What the debug display shows for a variable.
    [[nodiscard]] std::string VariableDisplayText(int index) const;

    // Binds every variable except substitutions to the statement and returns the iteration
    // count for array DML (0 when no variable holds an array).
    int BindVariables(TBinder& binder);
    // A new parse starts without binds.
    void ForgetBinds() noexcept;

    // The "Data" property of the component stream.
    [[nodiscard]] std::vector<std::byte> WriteData() const;
    // Replaces the variables by those of `data`; a damaged stream raises and leaves the
    // variables as they were.
    void ReadData(std::span<const std::byte> data);
    // Whether the stream needs the property: the list differs from the ancestor's, or there
    // is no ancestor and the list is not empty.
    [[nodiscard]] bool ShouldWriteData(const TVariables* ancestor) const;

private:
    [[nodiscard]] TVariableSettings Settings() const;
    [[nodiscard]] TVariableData& Declared(std::string_view name, const char* prefix,
                                          const char* suffix);
    void StoreValue(TVariableData& variable, const platform::TVariant& value);
    [[nodiscard]] platform::TVariant ValueOf(const TVariableData& variable) const;
    static void MakeTable(TVariableData& variable, std::int64_t count, std::int64_t stringSize,
                          const TVariableSettings& settings);
    void Changed();
    void BindOne(TVariableData& variable, TBinder& binder, int maxVarcharChars, int& arrayLength);

    TVariablesHost* host_;
    std::vector<std::unique_ptr<TVariableData>> items_;
};

}  // namespace velnor::oracle
