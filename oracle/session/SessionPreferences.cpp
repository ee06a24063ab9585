#include "oracle/session/SessionPreferences.h"

#include <algorithm>
#include <climits>

#include "oracle/session/OracleSession.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {
constexpr int kInteger = 3;
constexpr int kFloat = 4;
constexpr int kString = 5;
constexpr int kFloatScale = -127;
constexpr int kFloatTextExtra = 132;  // a FLOAT's text can run to 40 digits plus exponent
}  // namespace

TSessionPreferences& TSessionPreferences::operator=(const TSessionPreferences& source) {
    if (this == &source) return *this;
    SetConvertCRLF(source.ConvertCRLF());
    SetFloatPrecision(source.FloatPrecision());
    SetIntegerPrecision(source.IntegerPrecision());
    SetMaxStringFieldSize(source.MaxStringFieldSize());
    SetSmallIntPrecision(source.SmallIntPrecision());
    SetTrimStringFields(source.TrimStringFields());
    SetUseOCI7(source.UseOCI7());
    SetZeroDateIsNull(source.ZeroDateIsNull());
    SetNullLOBIsEmpty(source.NullLOBIsEmpty());
    return *this;
}

void TSessionPreferences::SetUseOCI7(bool value) {
    if (value == useOCI7_) return;
    if (session_ && session_->Connected()) {
        throw platform::Exception("Cannot change UseOCI7 property when session is connected");
    }
    useOCI7_ = value;
}

TNumberFieldChoice TSessionPreferences::ChooseNumberFieldType(int precision, int scale,
                                                              bool stringsOnly) const noexcept {
    const bool odbc = session_ && session_->ODBCMode();
    const int ip = integerPrecision_ != 0 ? integerPrecision_ : (odbc ? 10 : 9);
    const int fp = floatPrecision_ != 0 ? floatPrecision_ : INT_MAX;
    int p = precision;
    int s = scale;
    const bool isFloat = s == kFloatScale;
    if (isFloat) {
        p = 38;
        s = 1;
    }
    if (s == 0 && p == 0) p = 38;
    // Digits before the point: p - s, which exceeds p for a negative scale.
    const long long integerDigits = static_cast<long long>(p) - s;
    if (!stringsOnly && s <= 0 && integerDigits <= ip) return {kInteger, 4};
    if (!stringsOnly && p <= fp) return {kFloat, 8};
    // Sign and terminator, plus the point and a leading zero when there is a fraction.
    int size = s < 0 ? p - s + 2 : (s > 0 ? std::max(p, s) + 3 : p + 2);
    if (isFloat) size += kFloatTextExtra;
    return {kString, size};
}

}  // namespace velnor::oracle
