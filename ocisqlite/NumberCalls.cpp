// The OCINumber conversions of the client: an OCINumber holds a length byte followed by
// the NUMBER's internal form.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "oci/OciFunctions.h"
#include "ocisqlite/Handles.h"
#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Functions.h"

namespace velnor::ocisqlite {
namespace {

constexpr uword kSigned = 2;  // OCI_NUMBER_SIGNED
constexpr uword kUnsigned = 0;

sql::Decimal Read(const OCINumber* number, int argument) {
    if (!number) throw OraError(22060, {std::to_string(argument)});
    const ub1* part = number->OCINumberPart;
    if (part[0] == 0 || part[0] > OCI_NUMBER_SIZE - 1)
        throw OraError(22060, {std::to_string(argument)});
    try {
        return sql::Decimal::FromBytes(part + 1, part[0]);
    } catch (const sql::OraError&) {
        throw OraError(22060, {std::to_string(argument)});
    }
}

void Write(const sql::Decimal& value, OCINumber* number) {
    if (!number) throw OraError(22060, {"1"});
    sql::Decimal fitted;
    try {
        fitted = sql::Fit(value);
    } catch (const sql::OraError&) {
        throw OraError(22053);
    }
    const std::string bytes = sql::OracleBytes(fitted);
    std::memset(number->OCINumberPart, 0, OCI_NUMBER_SIZE);
    number->OCINumberPart[0] = static_cast<ub1>(bytes.size());
    std::memcpy(number->OCINumberPart + 1, bytes.data(), bytes.size());
}

// Text read with a number model of the elements 9 0 . D , G $ S FM: the separators and
// the currency sign the model places are dropped; other models are refused.
std::string Unformatted(const std::string& text, const std::string& format) {
    std::string model = format;
    for (char& c : model) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (model.rfind("FM", 0) == 0) model.erase(0, 2);
    if (model.find_first_not_of("90.D,G$S") != std::string::npos) throw OraError(22061, {format});
    const bool groups = model.find_first_of(",G") != std::string::npos;
    const bool currency = model.find('$') != std::string::npos;
    std::string out;
    for (char c : text)
        if (!(groups && c == ',') && !(currency && c == '$')) out.push_back(c);
    return out;
}

void CheckLength(uword length) {
    if (length != 1 && length != 2 && length != 4 && length != 8)
        throw OraError(22057, {std::to_string(length)});
}

}  // namespace
}  // namespace velnor::ocisqlite

using namespace velnor::ocisqlite;

VELNOR_EXPORT sword OCINumberFromInt(OCIError* err, const void* inum, uword inum_length,
                                     uword inum_s_flag, OCINumber* number) {
    return Guard(err, [&]() -> sword {
        CheckLength(inum_length);
        if (inum_s_flag != kSigned && inum_s_flag != kUnsigned) throw OraError(22053);
        if (!inum) throw OraError(22060, {"1"});
        std::uint64_t raw = 0;
        std::memcpy(&raw, inum, inum_length);
        sql::Decimal d;
        if (inum_s_flag == kUnsigned) {
            d = sql::Decimal::FromUnsigned(raw);
        } else {
            const unsigned shift = 64 - 8 * static_cast<unsigned>(inum_length);
            // Sign-extend the low inum_length bytes (little-endian host).
            const auto value = static_cast<std::int64_t>(raw << shift) >> shift;
            d = sql::Decimal::FromInt(value);
        }
        Write(d, number);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCINumberToInt(OCIError* err, const OCINumber* number, uword rsl_length,
                                   uword rsl_flag, void* rsl) {
    return Guard(err, [&]() -> sword {
        CheckLength(rsl_length);
        if (rsl_flag != kSigned && rsl_flag != kUnsigned) throw OraError(22053);
        const sql::Decimal whole = sql::RoundTo(Read(number, 1), 0, true);
        if (!rsl) throw OraError(22060, {"2"});
        const unsigned bits = 8 * static_cast<unsigned>(rsl_length);
        std::uint64_t out = 0;
        if (rsl_flag == kSigned) {
            const auto value = sql::ToInt64(whole);
            const std::int64_t limit =
                bits == 64 ? INT64_MAX : static_cast<std::int64_t>((1ULL << (bits - 1)) - 1);
            if (!value) throw OraError(whole.negative ? 22054 : 22053);
            if (*value > limit) throw OraError(22053);
            if (*value < -limit - 1) throw OraError(22054);
            out = static_cast<std::uint64_t>(*value);
        } else {
            if (whole.negative) throw OraError(22054);
            const sql::Decimal max =
                sql::Decimal::FromUnsigned(bits == 64 ? UINT64_MAX : (1ULL << bits) - 1);
            if (sql::Compare(whole, max) > 0) throw OraError(22053);
            for (int k = 0; k < whole.exponent; ++k)
                out = out * 10 + (k < static_cast<int>(whole.digits.size())
                                      ? static_cast<std::uint64_t>(
                                            whole.digits[static_cast<std::size_t>(k)] - '0')
                                      : 0);
        }
        std::memcpy(rsl, &out, rsl_length);  // the low bytes (little-endian host)
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCINumberFromReal(OCIError* err, const void* rnum, uword rnum_length,
                                      OCINumber* number) {
    return Guard(err, [&]() -> sword {
        if (!rnum) throw OraError(22060, {"1"});
        double value = 0;
        if (rnum_length == sizeof(float)) {
            float f = 0;
            std::memcpy(&f, rnum, sizeof f);
            value = f;
        } else if (rnum_length == sizeof(double)) {
            std::memcpy(&value, rnum, sizeof value);
        } else {
            throw OraError(22057, {std::to_string(rnum_length)});
        }
        if (!std::isfinite(value)) throw OraError(22053);
        // The digits the double stands for, not its binary expansion.
        sql::Decimal d = sql::Decimal::FromDouble(value);
        if (rnum_length == sizeof(float)) d = sql::RoundTo(d, 9 - sql::IntegerDigits(d));
        Write(d, number);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCINumberToReal(OCIError* err, const OCINumber* number, uword rsl_length,
                                    void* rsl) {
    return Guard(err, [&]() -> sword {
        const double value = sql::ToDouble(Read(number, 1));
        if (!rsl) throw OraError(22060, {"2"});
        if (rsl_length == sizeof(float)) {
            const auto f = static_cast<float>(value);
            std::memcpy(rsl, &f, sizeof f);
        } else if (rsl_length == sizeof(double)) {
            std::memcpy(rsl, &value, sizeof value);
        } else {
            throw OraError(22057, {std::to_string(rsl_length)});
        }
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCINumberToText(OCIError* err, const OCINumber* number, const oratext* fmt,
                                    ub4 fmt_length, const oratext* nls_params, ub4 nls_p_length,
                                    ub4* buf_size, oratext* buf) {
    (void)nls_params;
    (void)nls_p_length;
    return Guard(err, [&]() -> sword {
        const sql::Decimal d = Read(number, 1);
        if (!buf_size || !buf) throw OraError(22060, {"2"});
        const std::string format = TextArg(fmt, fmt ? static_cast<sb8>(fmt_length) : 0);
        // Without a model the text is TO_CHAR's; a model goes through the engine's TO_CHAR.
        const std::string text = format.empty()
                                     ? sql::OracleText(d)
                                     : sql::FormatNumberText(sql::Value::Number(d), format);
        if (text.size() > *buf_size) throw OraError(22053);
        std::memcpy(buf, text.data(), text.size());
        *buf_size = static_cast<ub4>(text.size());
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCINumberFromText(OCIError* err, const oratext* str, ub4 str_length,
                                      const oratext* fmt, ub4 fmt_length, const oratext* nls_params,
                                      ub4 nls_p_length, OCINumber* number) {
    (void)nls_params;
    (void)nls_p_length;
    return Guard(err, [&]() -> sword {
        if (!str) throw OraError(22062, {""});
        std::string text = TextArg(str, static_cast<sb8>(str_length));
        const std::string format = TextArg(fmt, fmt ? static_cast<sb8>(fmt_length) : 0);
        if (!format.empty()) text = Unformatted(text, format);
        sql::Decimal d;
        try {
            d = sql::DecimalOf(sql::TextToNumber(text));
        } catch (const sql::OraError& e) {
            if (e.Code() == 1426) throw OraError(22053);
            throw OraError(22062, {text});
        }
        Write(d, number);
        return OCI_SUCCESS;
    });
}
