// How a session's queries buffer and convert values.
#pragma once

namespace velnor::oracle {
class TOracleSession;

// Field type code and buffer size chosen for a NUMBER column.
struct TNumberFieldChoice {
    int fieldType = 0;   // 3 integer, 4 floating-point, 5 string
    int bufferSize = 0;  // bytes per row
    bool operator==(const TNumberFieldChoice&) const = default;
};

class TSessionPreferences {
public:
    explicit TSessionPreferences(TOracleSession* session = nullptr) noexcept : session_(session) {}
    TSessionPreferences(const TSessionPreferences&) = delete;
    // Copies every value through the setters, so the guards of this object apply.
    TSessionPreferences& operator=(const TSessionPreferences& source);
    void Assign(const TSessionPreferences& source) { *this = source; }

    // Largest NUMBER precision fetched as floating-point; 0 means no limit.
    [[nodiscard]] int FloatPrecision() const noexcept { return floatPrecision_; }
    void SetFloatPrecision(int value) noexcept { floatPrecision_ = value; }
    // Largest precision (scale 0 or less) fetched as integer; 0 means 9 (10 in ODBC mode).
    [[nodiscard]] int IntegerPrecision() const noexcept { return integerPrecision_; }
    void SetIntegerPrecision(int value) noexcept { integerPrecision_ = value; }
    [[nodiscard]] int SmallIntPrecision() const noexcept { return smallIntPrecision_; }
    void SetSmallIntPrecision(int value) noexcept { smallIntPrecision_ = value; }
    // True makes the next logon use OCI7 calls; refused while the session is connected.
    [[nodiscard]] bool UseOCI7() const noexcept { return useOCI7_; }
    void SetUseOCI7(bool value);
    // Removes CR from text sent to the database and turns line breaks read into CR LF.
    [[nodiscard]] bool ConvertCRLF() const noexcept { return convertCRLF_; }
    void SetConvertCRLF(bool value) noexcept { convertCRLF_ = value; }
    [[nodiscard]] bool TrimStringFields() const noexcept { return trimStringFields_; }
    void SetTrimStringFields(bool value) noexcept { trimStringFields_ = value; }
    [[nodiscard]] int MaxStringFieldSize() const noexcept { return maxStringFieldSize_; }
    void SetMaxStringFieldSize(int value) noexcept { maxStringFieldSize_ = value; }
    // A date bind value of exactly 0 (1899-12-30 00:00:00) is sent as null.
    [[nodiscard]] bool ZeroDateIsNull() const noexcept { return zeroDateIsNull_; }
    void SetZeroDateIsNull(bool value) noexcept { zeroDateIsNull_ = value; }
    [[nodiscard]] bool NullLOBIsEmpty() const noexcept { return nullLOBIsEmpty_; }
    void SetNullLOBIsEmpty(bool value) noexcept { nullLOBIsEmpty_ = value; }

    // How a NUMBER(precision, scale) column is fetched. Integers only when every digit
    // before the point fits the integer precision; strings hold sign, point and digits.
    [[nodiscard]] TNumberFieldChoice ChooseNumberFieldType(int precision, int scale,
                                                           bool stringsOnly) const noexcept;

private:
    TOracleSession* session_;
    int floatPrecision_ = 0;
    int integerPrecision_ = 0;
    int smallIntPrecision_ = -1;
    bool useOCI7_ = false;
    bool convertCRLF_ = true;
    bool trimStringFields_ = true;
    int maxStringFieldSize_ = 0;
    bool zeroDateIsNull_ = true;
    bool nullLOBIsEmpty_ = false;
};

}  // namespace velnor::oracle
