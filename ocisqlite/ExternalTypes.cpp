#include "ocisqlite/ExternalTypes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "ocisqlite/ClientCharset.h"
#include "ocisqlite/Handles.h"

namespace velnor::ocisqlite {
namespace {

// Decimal digits and exponent: value = 0.digits x 10^exponent, no leading or trailing zeros.
struct TDecimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

TDecimal ToDecimal(const sql::Value& v) {
    TDecimal d;
    char buf[64];
    if (v.kind == sql::Value::Kind::Integer) {
        const auto r = std::to_chars(buf, buf + sizeof buf, v.integer);
        std::string text(buf, r.ptr);
        if (!text.empty() && text[0] == '-') {
            d.negative = true;
            text.erase(0, 1);
        }
        d.exponent = static_cast<int>(text.size());
        d.digits = text;
    } else {
        if (!std::isfinite(v.real)) throw OraError(1426);
        const auto r = std::to_chars(buf, buf + sizeof buf, v.real, std::chars_format::scientific);
        std::string text(buf, r.ptr);  // [-]d[.ddd]e[+-]xx, the shortest exact form
        if (text[0] == '-') {
            d.negative = true;
            text.erase(0, 1);
        }
        const auto e = text.find('e');
        const int exp10 = std::stoi(text.substr(e + 1));
        std::string mantissa = text.substr(0, e);
        mantissa.erase(std::remove(mantissa.begin(), mantissa.end(), '.'), mantissa.end());
        d.digits = mantissa;
        d.exponent = exp10 + 1;
    }
    while (!d.digits.empty() && d.digits.front() == '0') {
        d.digits.erase(0, 1);
        --d.exponent;
    }
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) d.negative = false;
    return d;
}

std::int64_t CheckedInteger(const sql::Value& v, std::int64_t lo, std::int64_t hi) {
    sql::Value n = v;
    if (v.kind == sql::Value::Kind::Text) n = sql::TextToNumber(v.bytes);
    long double x = 0;
    if (n.kind == sql::Value::Kind::Integer) {
        x = static_cast<long double>(n.integer);
    } else if (n.kind == sql::Value::Kind::Double) {
        x = std::nearbyint(static_cast<long double>(n.real));
    } else {
        throw OraError(932, {"NUMBER", "DATE"});
    }
    if (n.kind == sql::Value::Kind::Integer && n.integer >= lo && n.integer <= hi) return n.integer;
    if (!(x >= static_cast<long double>(lo) && x <= static_cast<long double>(hi)))
        throw OraError(1455);
    return static_cast<std::int64_t>(x);
}

double ToDouble(const sql::Value& v) {
    sql::Value n = v;
    if (v.kind == sql::Value::Kind::Text) n = sql::TextToNumber(v.bytes);
    if (n.kind == sql::Value::Kind::Integer) return static_cast<double>(n.integer);
    if (n.kind == sql::Value::Kind::Double) return n.real;
    throw OraError(932, {"NUMBER", "DATE"});
}

template <class T>
void Store(void* buffer, T value) {
    std::memcpy(buffer, &value, sizeof value);
}

template <class T>
T Load(const void* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

}  // namespace

std::string EncodeNumber(const sql::Value& number) {
    TDecimal d = ToDecimal(number);
    if (d.digits.empty()) return std::string(1, '\x80');
    // Base-100 digits need the decimal point on a pair boundary.
    if (d.exponent % 2 != 0) {
        d.digits.insert(0, 1, '0');
        ++d.exponent;
    }
    if (d.digits.size() % 2 != 0) d.digits.push_back('0');
    const int exp100 = d.exponent / 2 - 1;
    if (exp100 > 62 || exp100 < -65) throw OraError(1426);
    std::string out;
    out.push_back(static_cast<char>(d.negative ? 62 - exp100 : 193 + exp100));
    for (std::size_t i = 0; i < d.digits.size() && out.size() < 21; i += 2) {
        const int pair = (d.digits[i] - '0') * 10 + (d.digits[i + 1] - '0');
        out.push_back(static_cast<char>(d.negative ? 101 - pair : pair + 1));
    }
    if (d.negative && out.size() < 21) out.push_back(static_cast<char>(102));
    return out;
}

sql::Value DecodeNumber(const unsigned char* bytes, std::size_t length) {
    if (length == 0) throw OraError(1722);
    if (length == 1 && bytes[0] == 0x80) return sql::Value::Integer(0);
    const bool negative = bytes[0] < 0x80;
    const int exp100 = negative ? 62 - bytes[0] : bytes[0] - 193;
    std::string digits;
    for (std::size_t i = 1; i < length; ++i) {
        if (negative && bytes[i] == 102) break;
        const int pair = negative ? 101 - bytes[i] : bytes[i] - 1;
        if (pair < 0 || pair > 99) throw OraError(1722);
        digits.push_back(static_cast<char>('0' + pair / 10));
        digits.push_back(static_cast<char>('0' + pair % 10));
    }
    // digits are 0.DDDD x 100^(exp100 + 1)
    const int point = (exp100 + 1) * 2;
    std::string text = negative ? "-" : "";
    if (point <= 0) {
        text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        text += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        text += digits.substr(0, static_cast<std::size_t>(point)) + "." +
                digits.substr(static_cast<std::size_t>(point));
    }
    return sql::TextToNumber(text);
}

namespace {

sql::Value ReadAsGiven(ub2 type, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    switch (type) {
        case SQLT_CHR:
        case SQLT_AFC:
        case SQLT_LNG:
            return sql::Value::Text(std::string(static_cast<const char*>(data), size));
        case SQLT_STR:
        case SQLT_AVC: {
            const void* nul = std::memchr(data, 0, size);
            const std::size_t n =
                nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - bytes)
                    : size;
            return sql::Value::Text(std::string(static_cast<const char*>(data), n));
        }
        case SQLT_VCS: {
            if (size < 2) return sql::Value::Null();
            const ub2 n = Load<ub2>(data);
            return sql::Value::Text(std::string(reinterpret_cast<const char*>(bytes + 2),
                                                std::min<std::size_t>(n, size - 2)));
        }
        case SQLT_INT:
            switch (size) {
                case 1:
                    return sql::Value::Integer(Load<sb1>(data));
                case 2:
                    return sql::Value::Integer(Load<sb2>(data));
                case 4:
                    return sql::Value::Integer(Load<sb4>(data));
                case 8:
                    return sql::Value::Integer(Load<sb8>(data));
                default:
                    throw OraError(3001);
            }
        case SQLT_UIN:
            switch (size) {
                case 1:
                    return sql::Value::Integer(Load<ub1>(data));
                case 2:
                    return sql::Value::Integer(Load<ub2>(data));
                case 4:
                    return sql::Value::Integer(Load<ub4>(data));
                case 8: {
                    const ub8 v = Load<ub8>(data);
                    if (v > static_cast<ub8>(std::numeric_limits<std::int64_t>::max()))
                        return sql::Value::Double(static_cast<double>(v));
                    return sql::Value::Integer(static_cast<std::int64_t>(v));
                }
                default:
                    throw OraError(3001);
            }
        case SQLT_FLT:
            if (size == sizeof(float)) return sql::Value::Double(Load<float>(data));
            if (size == sizeof(double)) return sql::Value::Double(Load<double>(data));
            throw OraError(3001);
        case SQLT_NUM:
            return DecodeNumber(bytes, std::min<std::size_t>(size, 21));
        case SQLT_VNU:
            if (size < 1 || bytes[0] == 0 || bytes[0] > size - 1) return sql::Value::Null();
            return DecodeNumber(bytes + 1, bytes[0]);
        case SQLT_DAT:
            if (size < 7) throw OraError(1858);
            return sql::Value::Date(sql::DecodeDate(bytes));
        case SQLT_BIN:
        case SQLT_LBI:
            return sql::Value::Raw(std::string(static_cast<const char*>(data), size));
        default:
            throw OraError(3001);
    }
}

}  // namespace

sql::Value ReadExternal(ub2 type, const void* data, std::size_t size) {
    sql::Value value = ReadAsGiven(type, data, size);
    if (value.kind == sql::Value::Kind::Text)  // text arrives in the client character set
        value.bytes = FromClient(value.bytes, ClientCharset());
    return value;
}

std::string ValueBytes(const sql::Value& value, const sql::Connection& session) {
    if (value.kind == sql::Value::Kind::Text) return ToClient(value.bytes, ClientCharset());
    if (value.kind == sql::Value::Kind::Raw) return value.bytes;
    return session.ToText(value);
}

TWriteResult WriteExternal(const sql::Value& value, ub2 type, void* buffer, std::size_t capacity,
                           const sql::Connection& session) {
    TWriteResult r;
    if (value.IsNull()) {
        r.isNull = true;
        return r;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    auto copy = [&](const std::string& bytes, std::size_t room) {
        r.fullLength = bytes.size();
        r.length = std::min(bytes.size(), room);
        if (r.length) std::memcpy(out, bytes.data(), r.length);
    };
    switch (type) {
        case SQLT_CHR:
        case SQLT_LNG:
        case SQLT_BIN:
        case SQLT_LBI: {
            std::string bytes = ValueBytes(value, session);
            if ((type == SQLT_CHR || type == SQLT_LNG) && value.kind == sql::Value::Kind::Raw)
                bytes = session.ToText(value);  // RAW as text is its hex form
            copy(bytes, capacity);
            return r;
        }
        case SQLT_STR: {
            if (capacity == 0) {
                r.fullLength = ValueBytes(value, session).size() + 1;
                return r;
            }
            copy(value.kind == sql::Value::Kind::Raw ? session.ToText(value)  // hex, as CHR
                                                     : ValueBytes(value, session),
                 capacity - 1);
            out[r.length] = 0;  // not counted in the return length
            return r;
        }
        case SQLT_AFC:
        case SQLT_AVC: {
            const std::size_t room = type == SQLT_AVC && capacity > 0 ? capacity - 1 : capacity;
            copy(ValueBytes(value, session), room);
            if (r.fullLength <= room) {
                std::memset(out + r.length, ' ', room - r.length);
                r.length = room;
                r.fullLength = room;
            }
            if (type == SQLT_AVC && capacity > 0) out[r.length] = 0;
            return r;
        }
        case SQLT_VCS: {
            if (capacity < 2) throw OraError(1406);
            copy(ValueBytes(value, session), capacity - 2);
            std::memmove(out + 2, out, r.length);
            Store<ub2>(out, static_cast<ub2>(r.length));
            r.length += 2;
            r.fullLength += 2;
            return r;
        }
        case SQLT_INT:
        case SQLT_UIN: {
            const bool u = type == SQLT_UIN;
            switch (capacity) {
                case 1:
                    u ? Store<ub1>(out, static_cast<ub1>(CheckedInteger(value, 0, UB1MAXVAL)))
                      : Store<sb1>(out, static_cast<sb1>(CheckedInteger(value, -128, 127)));
                    break;
                case 2:
                    u ? Store<ub2>(out, static_cast<ub2>(CheckedInteger(value, 0, UB2MAXVAL)))
                      : Store<sb2>(out, static_cast<sb2>(CheckedInteger(value, -32768, 32767)));
                    break;
                case 4:
                    u ? Store<ub4>(out, static_cast<ub4>(CheckedInteger(value, 0, UB4MAXVAL)))
                      : Store<sb4>(out, static_cast<sb4>(
                                            CheckedInteger(value, std::numeric_limits<sb4>::min(),
                                                           std::numeric_limits<sb4>::max())));
                    break;
                case 8:
                    Store<sb8>(out, CheckedInteger(value, u ? 0 : std::numeric_limits<sb8>::min(),
                                                   std::numeric_limits<sb8>::max()));
                    break;
                default:
                    throw OraError(3001);
            }
            r.length = r.fullLength = capacity;
            return r;
        }
        case SQLT_FLT:
            if (capacity == sizeof(float)) {
                Store<float>(out, static_cast<float>(ToDouble(value)));
            } else if (capacity == sizeof(double)) {
                Store<double>(out, ToDouble(value));
            } else {
                throw OraError(3001);
            }
            r.length = r.fullLength = capacity;
            return r;
        case SQLT_NUM:
        case SQLT_VNU: {
            sql::Value n = value;
            if (value.kind == sql::Value::Kind::Text) n = sql::TextToNumber(value.bytes);
            if (n.kind != sql::Value::Kind::Integer && n.kind != sql::Value::Kind::Double)
                throw OraError(932, {"NUMBER", "DATE"});
            const std::string bytes = EncodeNumber(n);
            if (type == SQLT_VNU) {
                if (capacity < 22) throw OraError(1406);
                out[0] = static_cast<unsigned char>(bytes.size());
                std::memcpy(out + 1, bytes.data(), bytes.size());
                r.length = r.fullLength = bytes.size() + 1;
                return r;
            }
            copy(bytes, capacity);
            return r;
        }
        case SQLT_DAT: {
            sql::DateTime date;
            if (value.kind == sql::Value::Kind::Date) {
                date = value.date;
            } else if (value.kind == sql::Value::Kind::Text) {
                date = sql::ParseDate(value.bytes, session.DateFormat());
            } else {
                throw OraError(932, {"DATE", "NUMBER"});
            }
            if (capacity < 7) throw OraError(1406);
            const auto bytes = sql::EncodeDate(date);
            std::memcpy(out, bytes.data(), bytes.size());
            r.length = r.fullLength = 7;
            return r;
        }
        default:
            throw OraError(3001);
    }
}

}  // namespace velnor::ocisqlite
