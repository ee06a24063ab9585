#include "ocisqlite/ExternalTypes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "ocisqlite/ClientCharset.h"
#include "ocisqlite/Handles.h"
#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite {
namespace {

sql::Decimal NumberOf(const sql::Value& v) {
    if (v.kind == sql::Value::Kind::Text) return sql::DecimalOf(sql::TextToNumber(v.bytes));
    if (!v.IsNumber()) throw OraError(932, {"NUMBER", "DATE"});
    return sql::DecimalOf(v);
}

// Integer external types take the value rounded half away from zero; ORA-01455 beyond.
std::int64_t CheckedInteger(const sql::Value& v, std::int64_t lo, std::int64_t hi) {
    if (v.kind == sql::Value::Kind::Integer && v.integer >= lo && v.integer <= hi) return v.integer;
    const auto whole = sql::ToInt64(sql::RoundTo(NumberOf(v), 0));
    if (!whole || *whole < lo || *whole > hi) throw OraError(1455);
    return *whole;
}

// For unsigned 8-byte integers beyond int64.
std::uint64_t CheckedUnsigned(const sql::Value& v) {
    if (v.kind == sql::Value::Kind::Integer && v.integer >= 0)
        return static_cast<std::uint64_t>(v.integer);
    const sql::Decimal whole = sql::RoundTo(NumberOf(v), 0);
    if (whole.negative) throw OraError(1455);
    if (auto i = sql::ToInt64(whole)) return static_cast<std::uint64_t>(*i);
    if (sql::Compare(whole, sql::Decimal::FromUnsigned(UINT64_MAX)) > 0) throw OraError(1455);
    std::uint64_t out = 0;
    for (int k = 0; k < whole.exponent; ++k)
        out = out * 10 +
              (k < static_cast<int>(whole.digits.size())
                   ? static_cast<std::uint64_t>(whole.digits[static_cast<std::size_t>(k)] - '0')
                   : 0);
    return out;
}

// A stored number whose digits a double holds exactly and whose power of ten is exact too:
// one multiply or divide rounds correctly, as reading its text would. nullopt otherwise.
std::optional<double> ExactlyScaled(const std::string& stored) {
    const auto* b = reinterpret_cast<const unsigned char*>(stored.data());
    std::size_t length = stored.size();
    if (length < 2 || length > 9) return std::nullopt;
    const bool negative = b[0] < 0x80;
    if (negative && b[length - 1] == 102) --length;
    const int exp100 = negative ? 62 - b[0] : b[0] - 193;
    std::uint64_t mantissa = 0;
    for (std::size_t i = 1; i < length; ++i) {
        const int pair = negative ? 101 - b[i] : b[i] - 1;
        if (pair < 0 || pair > 99) return std::nullopt;
        mantissa = mantissa * 100 + static_cast<unsigned>(pair);
    }
    if (mantissa == 0 || mantissa > (std::uint64_t{1} << 53)) return std::nullopt;
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const int power = 2 * (exp100 + 1 - static_cast<int>(length - 1));
    if (power > 22 || power < -22) return std::nullopt;
    const double m = static_cast<double>(mantissa);
    const double v = power >= 0 ? m * kPowers[power] : m / kPowers[-power];
    return negative ? -v : v;
}

double ToDouble(const sql::Value& v) {
    if (v.kind == sql::Value::Kind::Integer) return static_cast<double>(v.integer);
    if (v.kind == sql::Value::Kind::Double) return v.real;
    if (v.kind == sql::Value::Kind::Decimal) {
        if (const auto fast = ExactlyScaled(v.bytes)) return *fast;
    }
    return sql::ToDouble(NumberOf(v));
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

namespace {

// NUMBER bytes of an integer straight from its base-100 digits into `out` (room for 12);
// returns their count. Every int64 fits.
std::size_t IntegerBytes(std::int64_t value, unsigned char* out) {
    if (value == 0) {
        out[0] = 0x80;
        return 1;
    }
    const bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    unsigned char pairs[10];
    int count = 0;
    while (magnitude > 0) {
        pairs[count++] = static_cast<unsigned char>(magnitude % 100);
        magnitude /= 100;
    }
    const int exp100 = count - 1;
    int low = 0;
    while (pairs[low] == 0) ++low;  // trailing zero pairs are not stored
    std::size_t n = 0;
    out[n++] = static_cast<unsigned char>(negative ? 62 - exp100 : 193 + exp100);
    for (int i = count - 1; i >= low; --i)
        out[n++] = static_cast<unsigned char>(negative ? 101 - pairs[i] : pairs[i] + 1);
    if (negative) out[n++] = 102;  // at most 10 pairs: never full
    return n;
}

}  // namespace

std::string EncodeNumber(const sql::Value& number) {
    if (number.kind == sql::Value::Kind::Integer) {
        unsigned char bytes[12];
        return std::string(reinterpret_cast<const char*>(bytes),
                           IntegerBytes(number.integer, bytes));
    }
    return sql::OracleBytes(sql::Fit(NumberOf(number)));
}

sql::Value DecodeNumber(const unsigned char* bytes, std::size_t length) {
    try {
        return sql::Value::Number(sql::Decimal::FromBytes(bytes, length));
    } catch (const sql::OraError&) {
        throw OraError(1722);
    }
}

namespace {

void SetText(sql::Value& out, const char* data, std::size_t size) {
    out.kind = sql::Value::Kind::Text;
    // Text arrives in the client character set.
    if (ClientCharset() == TClientCharset::Al32Utf8)
        out.bytes.assign(data, size);
    else
        out.bytes = FromClient(std::string_view(data, size), ClientCharset());
}

void SetInteger(sql::Value& out, std::int64_t v) {
    out.kind = sql::Value::Kind::Integer;
    out.integer = v;
}

void SetNumber(sql::Value& out, const unsigned char* bytes, std::size_t length) {
    if (!sql::ReadNumberBytes(bytes, length, out)) out = DecodeNumber(bytes, length);
}

void ReadAsGiven(ub2 type, const void* data, std::size_t size, sql::Value& out) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto* chars = static_cast<const char*>(data);
    switch (type) {
        case SQLT_CHR:
        case SQLT_AFC:
        case SQLT_LNG:
            return SetText(out, chars, size);
        case SQLT_STR:
        case SQLT_AVC: {
            const void* nul = std::memchr(data, 0, size);
            return SetText(
                out, chars,
                nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - chars) : size);
        }
        case SQLT_VCS: {
            if (size < 2) return out.kind = sql::Value::Kind::Null, void();
            const ub2 n = Load<ub2>(data);
            return SetText(out, chars + 2, std::min<std::size_t>(n, size - 2));
        }
        case SQLT_INT:
            switch (size) {
                case 1:
                    return SetInteger(out, Load<sb1>(data));
                case 2:
                    return SetInteger(out, Load<sb2>(data));
                case 4:
                    return SetInteger(out, Load<sb4>(data));
                case 8:
                    return SetInteger(out, Load<sb8>(data));
                default:
                    throw OraError(3001);
            }
        case SQLT_UIN:
            switch (size) {
                case 1:
                    return SetInteger(out, Load<ub1>(data));
                case 2:
                    return SetInteger(out, Load<ub2>(data));
                case 4:
                    return SetInteger(out, Load<ub4>(data));
                case 8: {
                    const ub8 v = Load<ub8>(data);
                    if (v > static_cast<ub8>(std::numeric_limits<std::int64_t>::max())) {
                        out = sql::Value::Number(sql::Decimal::FromUnsigned(v));
                        return;
                    }
                    return SetInteger(out, static_cast<std::int64_t>(v));
                }
                default:
                    throw OraError(3001);
            }
        case SQLT_FLT:
            if (size == sizeof(float)) return out = sql::Value::Double(Load<float>(data)), void();
            if (size == sizeof(double)) return out = sql::Value::Double(Load<double>(data)), void();
            throw OraError(3001);
        case SQLT_BFLOAT:
            if (size < sizeof(float)) throw OraError(3001);
            return out = sql::Value::Double(Load<float>(data)), void();
        case SQLT_BDOUBLE:
            if (size < sizeof(double)) throw OraError(3001);
            return out = sql::Value::Double(Load<double>(data)), void();
        case SQLT_NUM:
            return SetNumber(out, bytes, std::min<std::size_t>(size, 21));
        case SQLT_VNU:
            if (size < 1 || bytes[0] == 0 || bytes[0] > size - 1)
                return out.kind = sql::Value::Kind::Null, void();
            return SetNumber(out, bytes + 1, bytes[0]);
        case SQLT_DAT:
            if (size < 7) throw OraError(1858);
            out.date = sql::DecodeDate(bytes);
            out.kind = sql::Value::Kind::Date;
            return;
        case SQLT_BIN:
        case SQLT_LBI:
            out.kind = sql::Value::Kind::Raw;
            out.bytes.assign(chars, size);
            return;
        default:
            throw OraError(3001);
    }
}

}  // namespace

void ReadExternal(ub2 type, const void* data, std::size_t size, sql::Value& out) {
    // Only the fields a kind uses are set; the rest keep their storage for the next row.
    out.lob = false;
    if (out.ref) out.ref.reset();
    ReadAsGiven(type, data, size, out);
}

sql::Value ReadExternal(ub2 type, const void* data, std::size_t size) {
    sql::Value value;
    ReadExternal(type, data, size, value);
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
    auto copy = [&](std::string_view bytes, std::size_t room) {
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
            if (value.kind == sql::Value::Kind::Text &&
                ClientCharset() == TClientCharset::Al32Utf8) {
                copy(value.bytes, capacity - 1);  // the database's own bytes: no copy between
            } else {
                copy(value.kind == sql::Value::Kind::Raw ? session.ToText(value)  // hex, as CHR
                                                         : ValueBytes(value, session),
                     capacity - 1);
            }
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
                    if (u)
                        Store<ub8>(out, CheckedUnsigned(value));
                    else
                        Store<sb8>(out, CheckedInteger(value, std::numeric_limits<sb8>::min(),
                                                       std::numeric_limits<sb8>::max()));
                    break;
                default:
                    throw OraError(3001);
            }
            r.length = r.fullLength = capacity;
            return r;
        }
        case SQLT_BFLOAT:
        case SQLT_BDOUBLE: {
            const std::size_t width = type == SQLT_BFLOAT ? sizeof(float) : sizeof(double);
            if (capacity < width) throw OraError(1406);
            const double v = value.kind == sql::Value::Kind::Text
                                 ? sql::TextToBinary(value.bytes, type == SQLT_BFLOAT)
                                 : ToDouble(value);
            if (type == SQLT_BFLOAT)
                Store<float>(out, static_cast<float>(v));
            else
                Store<double>(out, v);
            r.length = r.fullLength = width;
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
            if (type == SQLT_VNU && value.kind == sql::Value::Kind::Integer && capacity >= 22) {
                const std::size_t n = IntegerBytes(value.integer, out + 1);
                out[0] = static_cast<unsigned char>(n);
                r.length = r.fullLength = n + 1;
                return r;
            }
            const std::string bytes = EncodeNumber(value);
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
