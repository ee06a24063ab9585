#include "ocisqlite/sql/Functions.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite::sql {

namespace {

using Fn = void (*)(sqlite3_context*, int, sqlite3_value**);

SessionState& State(sqlite3_context* ctx) {
    return *static_cast<SessionState*>(sqlite3_user_data(ctx));
}

bool IsNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string_view TextOf(sqlite3_value* v) {
    auto p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : "";
}

std::string_view BlobOf(sqlite3_value* v) {
    auto p = static_cast<const char*>(sqlite3_value_blob(v));
    return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : "";
}

// A NUMBER argument; text converts as TO_NUMBER does.
Value NumberOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
            return Value::Integer(sqlite3_value_int64(v));
        case SQLITE_FLOAT:
            return NormalizeNumber(sqlite3_value_double(v));
        case SQLITE_TEXT: {
            std::string_view t = TextOf(v);
            if (t.empty()) return Value::Null();
            return TextToNumber(t);
        }
        case SQLITE_NULL:
            return Value::Null();
        default: {
            // The translator passes no RAW where a number is wanted: a blob is a NUMBER
            // beyond int64, in Oracle's internal form.
            Value r;
            r.kind = Value::Kind::Decimal;
            r.bytes = std::string(BlobOf(v));
            return r;
        }
    }
}

double DoubleOf(const Value& v) {
    if (v.kind == Value::Kind::Integer) return static_cast<double>(v.integer);
    if (v.kind == Value::Kind::Double) return v.real;
    return ToDouble(DecimalOf(v));
}

// A NUMBER argument used as a position, count or number of places: truncated, and held
// within +-9e18, beyond which every value acts alike (a double out of range cannot convert).
long long IntegerOf(const Value& v) {
    if (v.kind == Value::Kind::Integer) return v.integer;
    constexpr double kLimit = 9e18;
    const double d = DoubleOf(v);
    if (std::isnan(d)) return 0;
    if (d >= kLimit) return static_cast<long long>(kLimit);
    if (d <= -kLimit) return -static_cast<long long>(kLimit);
    return static_cast<long long>(d);
}

// A character argument: numbers as Oracle writes them, RAW in hex.
std::string StringOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
            return NumberToText(static_cast<std::int64_t>(sqlite3_value_int64(v)));
        case SQLITE_FLOAT:
            return NumberToText(sqlite3_value_double(v));
        case SQLITE_TEXT:
            return std::string(TextOf(v));
        case SQLITE_BLOB:
            return RawToHex(BlobOf(v));
        default:
            return {};
    }
}

DateTime DateOf(sqlite3_value* v) {
    auto d = ParseStoredDate(TextOf(v));
    if (!d) Fail(1858, "a non-numeric character was found where a numeric was expected");
    return *d;
}

// Numbers reach SQLite as INTEGER within int64, else as a BLOB of Oracle's internal form:
// one form per value, so equality, DISTINCT and unique indexes compare exactly.
void ResultNumber(sqlite3_context* ctx, const Value& v) {
    if (v.kind == Value::Kind::Integer) return sqlite3_result_int64(ctx, v.integer);
    if (!v.IsNumber()) return sqlite3_result_null(ctx);
    const Value n = v.kind == Value::Kind::Decimal ? v : Value::Number(DecimalOf(v));
    if (n.kind == Value::Kind::Integer) return sqlite3_result_int64(ctx, n.integer);
    sqlite3_result_blob(ctx, n.bytes.data(), static_cast<int>(n.bytes.size()), SQLITE_TRANSIENT);
}
void ResultDecimal(sqlite3_context* ctx, const Decimal& d) { ResultNumber(ctx, Value::Number(d)); }

void ResultText(sqlite3_context* ctx, const std::string& s) {
    if (s.empty())
        sqlite3_result_null(ctx);  // '' is NULL
    else
        sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void ResultDate(sqlite3_context* ctx, const DateTime& d) {
    if (!ValidDate(d)) Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
    thread_local std::string stored;  // called per row: no allocation each time
    stored.clear();
    AppendStoredDate(stored, d);
    ResultText(ctx, stored);
}

template <void (*Body)(sqlite3_context*, int, sqlite3_value**)>
void Guarded(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    try {
        Body(ctx, argc, argv);
    } catch (const OraError& e) {
        sqlite3_result_error(ctx, e.what(), -1);
    } catch (const std::exception& e) {
        std::string text =
            std::string("ORA-00600: internal error code, arguments: [") + e.what() + "]";
        sqlite3_result_error(ctx, text.c_str(), -1);
    }
}

void TooLarge(std::string_view owner, std::size_t actual, long long maximum) {
    Fail(12899, "value too large for column " + std::string(owner) + " (actual: " +
                    std::to_string(actual) + ", maximum: " + std::to_string(maximum) + ")");
}

// --- column checks -------------------------------------------------------------------

void Num(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_int(a[1]) >= 19 &&
        sqlite3_value_int(a[2]) == 0)
        return sqlite3_result_value(ctx, a[0]);  // every int64 fits NUMBER(19) and wider
    Value v = NumberOf(a[0]);
    if (v.IsNull()) return sqlite3_result_null(ctx);
    ResultNumber(ctx, RoundNumber(v, sqlite3_value_int(a[1]), sqlite3_value_int(a[2])));
}

std::string CheckedText(sqlite3_value** a) {
    std::string s = StringOf(a[0]);
    long long max = sqlite3_value_int64(a[1]);
    bool chars = sqlite3_value_int(a[2]) != 0;
    std::size_t len = chars ? CharCount(s) : s.size();
    if (static_cast<long long>(len) > max) TooLarge(TextOf(a[3]), len, max);
    return s;
}

void Varchar(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultText(ctx, CheckedText(a));
}

void Char(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    std::string s = CheckedText(a);
    if (s.empty()) return sqlite3_result_null(ctx);
    std::size_t n = static_cast<std::size_t>(sqlite3_value_int64(a[1]));
    std::size_t len = sqlite3_value_int(a[2]) ? CharCount(s) : s.size();
    if (len < n) s.append(n - len, ' ');
    ResultText(ctx, s);
}

void RawCheck(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    std::string raw = sqlite3_value_type(a[0]) == SQLITE_BLOB ? std::string(BlobOf(a[0]))
                                                              : HexToRaw(StringOf(a[0]));
    long long max = sqlite3_value_int64(a[1]);
    if (max > 0 && static_cast<long long>(raw.size()) > max)
        TooLarge(TextOf(a[2]), raw.size(), max);
    if (raw.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_blob(ctx, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT);
}

// --- conversions -------------------------------------------------------------------

void ToNumber(sqlite3_context* ctx, int, sqlite3_value** a) { ResultNumber(ctx, NumberOf(a[0])); }

// Only ever given numbers: a blob is one in Oracle's internal form.
void ToText(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) != SQLITE_BLOB) return ResultText(ctx, StringOf(a[0]));
    ResultText(ctx, NumberToText(NumberOf(a[0])));
}

void ToDate(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || (argc > 1 && IsNull(a[1]))) return sqlite3_result_null(ctx);
    std::string converted;
    std::string_view text;
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        text = TextOf(a[0]);
    } else {
        converted = StringOf(a[0]);
        text = converted;
    }
    if (text.empty()) return sqlite3_result_null(ctx);
    std::string_view format = argc > 1 ? TextOf(a[1]) : std::string_view(State(ctx).dateFormat);
    ResultDate(ctx, ParseDate(text, format));
}

void DateText(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || (argc > 1 && IsNull(a[1]))) return sqlite3_result_null(ctx);
    std::string_view format = argc > 1 ? TextOf(a[1]) : std::string_view(State(ctx).dateFormat);
    ResultText(ctx, FormatDate(DateOf(a[0]), format));
}

// TO_CHAR(number, format) for the elements 9 0 . , D G S $ FM.
std::string FormatNumber(const Value& v, std::string_view fmt) {
    bool fill = false;
    if (fmt.size() >= 2 && (fmt.substr(0, 2) == "FM" || fmt.substr(0, 2) == "fm")) {
        fill = true;
        fmt.remove_prefix(2);
    }
    bool leadingSign = !fmt.empty() && (fmt[0] == 'S' || fmt[0] == 's');
    if (leadingSign) fmt.remove_prefix(1);
    bool dollar = false;
    std::string pattern;
    for (char c : fmt) {
        char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == '$') {
            dollar = true;
        } else if (u == '9' || u == '0' || u == ',' || u == 'G') {
            pattern.push_back(u == 'G' ? ',' : u);
        } else if (u == '.' || u == 'D') {
            pattern.push_back('.');
        } else {
            Fail(1481, "invalid number format model");
        }
    }
    std::size_t dot = pattern.find('.');
    std::string intPattern = pattern.substr(0, dot);
    std::string fracPattern = dot == std::string::npos ? "" : pattern.substr(dot + 1);
    int decimals = static_cast<int>(fracPattern.size());
    const Decimal r = RoundTo(DecimalOf(v), decimals);
    bool negative = r.negative;
    std::string digits = PositionalText(r, decimals);
    std::string intDigits = digits.substr(0, digits.find('.'));
    std::string fracDigits = decimals ? digits.substr(digits.find('.') + 1) : std::string();
    if (intDigits == "0") intDigits.clear();
    std::size_t slots = 0;
    for (char c : intPattern) slots += c != ',';
    if (intDigits.size() > slots) return std::string(fmt.size() + 2, '#');
    // Fill the integer slots from the right.
    std::string out;
    std::size_t di = intDigits.size();
    bool zeroSeen = false;
    std::size_t firstZero = intPattern.find('0');
    for (std::size_t i = intPattern.size(); i-- > 0;) {
        char p = intPattern[i];
        if (p == ',') {
            out.insert(out.begin(), ',');
            continue;
        }
        if (di > 0) {
            out.insert(out.begin(), intDigits[--di]);
        } else if (firstZero != std::string::npos && i >= firstZero) {
            out.insert(out.begin(), '0');
            zeroSeen = true;
        } else {
            out.insert(out.begin(), ' ');
        }
    }
    (void)zeroSeen;
    // Separators left of the first digit disappear.
    std::size_t firstDigit = out.find_first_of("0123456789");
    for (std::size_t i = 0; i < out.size() && (firstDigit == std::string::npos || i < firstDigit);
         ++i)
        if (out[i] == ',') out[i] = ' ';
    if (out.find_first_of("0123456789") == std::string::npos && fracPattern.empty())
        out.back() = '0';
    if (!fracPattern.empty()) out += "." + fracDigits;
    std::string sign = negative ? "-" : (leadingSign ? "+" : " ");
    if (dollar) sign += "$";
    std::size_t lead = out.find_first_not_of(' ');
    out.insert(lead == std::string::npos ? 0 : lead, sign);
    if (fill) {
        std::size_t b = out.find_first_not_of(' ');
        out = b == std::string::npos ? "" : out.substr(b);
        while (!fracPattern.empty() && !out.empty() && out.back() == '0' &&
               fracPattern.back() == '9') {
            out.pop_back();
            fracPattern.pop_back();
        }
    }
    return out;
}

void NumberText(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || (argc > 1 && IsNull(a[1]))) return sqlite3_result_null(ctx);
    Value v = NumberOf(a[0]);
    if (v.IsNull()) return sqlite3_result_null(ctx);
    if (argc == 1) {
        ResultText(ctx, NumberToText(v));
        return;
    }
    ResultText(ctx, FormatNumber(v, TextOf(a[1])));
}

void HexToRawFn(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    std::string raw = HexToRaw(StringOf(a[0]));
    if (raw.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_blob(ctx, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT);
}

// --- operators -----------------------------------------------------------------------

// A VARCHAR2 value in SQL holds at most this many bytes.
constexpr std::size_t kMaxVarchar = 4000;

[[noreturn]] void ConcatenationTooLong() {
    Fail(1489, "result of string concatenation is too long");
}

void Concat(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    std::string out;
    for (int i = 0; i < argc; ++i) {
        out += StringOf(a[i]);
        if (out.size() > kMaxVarchar) ConcatenationTooLong();
    }
    ResultText(ctx, out);
}

void Divide(sqlite3_context* ctx, int, sqlite3_value** a) {
    Value x = NumberOf(a[0]), y = NumberOf(a[1]);
    if (x.IsNull() || y.IsNull()) return sqlite3_result_null(ctx);
    if (x.kind == Value::Kind::Integer && y.kind == Value::Kind::Integer && y.integer != 0 &&
        y.integer != -1 && x.integer % y.integer == 0)
        return sqlite3_result_int64(ctx, x.integer / y.integer);
    ResultDecimal(ctx, sql::Divide(DecimalOf(x), DecimalOf(y)));
}

DateTime AddSeconds(const DateTime& d, long long seconds) {
    long long day = DayNumber(d.year, d.month, d.day);
    long long total = day * 86400 + d.hour * 3600 + d.minute * 60 + d.second + seconds;
    long long days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
    long long rest = total - days * 86400;
    DateTime r;
    FromDayNumber(days, r.year, r.month, r.day);
    r.hour = static_cast<int>(rest / 3600);
    r.minute = static_cast<int>(rest / 60 % 60);
    r.second = static_cast<int>(rest % 60);
    return r;
}

void DateAdd(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    Value n = NumberOf(a[1]);
    if (n.IsNull()) return sqlite3_result_null(ctx);
    double days = DoubleOf(n);
    if (std::fabs(days) > 4e6)
        Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
    ResultDate(ctx, AddSeconds(DateOf(a[0]), std::llround(days * 86400)));
}

long long Seconds(const DateTime& d) {
    return DayNumber(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
}

void DateDiff(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    long long diff = Seconds(DateOf(a[0])) - Seconds(DateOf(a[1]));
    if (diff % 86400 == 0) return sqlite3_result_int64(ctx, diff / 86400);
    ResultDecimal(ctx, sql::Divide(Decimal::FromInt(diff), Decimal::FromInt(86400)));
}

void SysDate(sqlite3_context* ctx, int, sqlite3_value**) {
    SessionState& s = State(ctx);
    if (!s.timeKnown) {
        s.statementTime = Now();
        s.timeKnown = true;
    }
    ResultText(ctx, StoredDate(s.statementTime));
}

// --- TIMESTAMP, INTERVAL and binary floating point ------------------------------------

int IntArg(sqlite3_value* v) { return sqlite3_value_int(v); }

// ora_ts_in(text, code, scale[, format]): text in the session's format (or `format`) to
// the stored form of a TIMESTAMP type.
void TimestampIn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || (argc > 3 && IsNull(a[3]))) return sqlite3_result_null(ctx);
    const SessionState& s = State(ctx);
    const int code = IntArg(a[1]);
    std::string_view format = argc > 3                ? TextOf(a[3])
                              : code == tcTimestampTz ? std::string_view(s.timestampTzFormat)
                                                      : std::string_view(s.timestampFormat);
    const DateTime d = sqlite3_value_type(a[0]) == SQLITE_TEXT
                           ? ParseDate(TextOf(a[0]), format, true)
                           : ParseDate(StringOf(a[0]), format, true);
    ResultText(ctx, StoredTimestamp(d, code, IntArg(a[2]), s.timeZone));
}

// ora_ts_cast(stored, from, to, scale): a DATE or TIMESTAMP value as another TIMESTAMP type.
void TimestampCast(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    const SessionState& s = State(ctx);
    const int from = IntArg(a[1]);
    auto d = from == tcDate ? ParseStoredDate(TextOf(a[0]))
                            : ParseStoredTimestamp(TextOf(a[0]), from, s.timeZone);
    if (!d) Fail(1858, "a non-numeric character was found where a numeric was expected");
    ResultText(ctx, StoredTimestamp(*d, IntArg(a[2]), IntArg(a[3]), s.timeZone));
}

// ora_tmp_text(stored, code, precision, scale[, format]): TO_CHAR of a TIMESTAMP or INTERVAL.
void TemporalTextFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || (argc > 4 && IsNull(a[4]))) return sqlite3_result_null(ctx);
    const SessionState& s = State(ctx);
    const int code = IntArg(a[1]);
    if (code == tcIntervalYm || code == tcIntervalDs)
        return ResultText(
            ctx, IntervalText(sqlite3_value_int64(a[0]), code, IntArg(a[2]), IntArg(a[3])));
    const std::string_view format = argc > 4                ? TextOf(a[4])
                                    : code == tcTimestampTz ? s.timestampTzFormat
                                                            : s.timestampFormat;
    if (code == tcTimestamp) {
        thread_local std::string text;
        if (FormatStoredIsoTimestamp(TextOf(a[0]), format, IntArg(a[3]), text))
            return ResultText(ctx, text);
    }
    auto d = ParseStoredTimestamp(TextOf(a[0]), code, s.timeZone);
    if (!d) Fail(1858, "a non-numeric character was found where a numeric was expected");
    ResultText(ctx, FormatDate(*d, format, IntArg(a[3]), code == tcTimestampTz));
}

// ora_iv_in(value, code, precision, scale): text or another interval value, checked against
// the leading precision and rounded to the fractional one.
void IntervalIn(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    const int code = IntArg(a[1]);
    std::string text = sqlite3_value_type(a[0]) == SQLITE_INTEGER
                           ? IntervalText(sqlite3_value_int64(a[0]), code, 9, 9)
                           : StringOf(a[0]);
    sqlite3_result_int64(ctx, ParseInterval(text, code, IntArg(a[2]), IntArg(a[3])));
}

void ResultBinary(sqlite3_context* ctx, double v) {
    if (std::isnan(v)) return sqlite3_result_text(ctx, "NaN", 3, SQLITE_STATIC);
    sqlite3_result_double(ctx, v);
}

double BinaryOf(sqlite3_value* v, bool single) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_FLOAT:
            return single ? static_cast<double>(static_cast<float>(sqlite3_value_double(v)))
                          : sqlite3_value_double(v);
        case SQLITE_TEXT:
            return TextToBinary(TextOf(v), single);
        default: {
            double d = DoubleOf(NumberOf(v));
            return single ? static_cast<double>(static_cast<float>(d)) : d;
        }
    }
}

// ora_bin(value, single): TO_BINARY_DOUBLE / TO_BINARY_FLOAT; NaN is stored as text.
void ToBinary(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    ResultBinary(ctx, BinaryOf(a[0], IntArg(a[1]) != 0));
}

void BinaryTextFn(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    const bool single = IntArg(a[1]) != 0;
    ResultText(ctx, BinaryText(BinaryOf(a[0], single), single));
}

// SYSTIMESTAMP: the statement's time with microseconds, in the client's zone.
void SysTimestamp(sqlite3_context* ctx, int, sqlite3_value**) {
    SessionState& s = State(ctx);
    if (!s.timeKnown) {
        s.statementTime = Now();
        s.timeKnown = true;
    }
    DateTime d = s.statementTime;
    d.zone = LocalZone();
    d.hasZone = true;
    ResultText(ctx, StoredTimestamp(d, tcTimestampTz, 6, s.timeZone));
}

// --- character functions ------------------------------------------------------------

void Length(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    std::string s = StringOf(a[0]);
    if (s.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, static_cast<long long>(CharCount(s)));
}

void LengthB(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    if (sqlite3_value_type(a[0]) == SQLITE_BLOB)
        return sqlite3_result_int64(ctx, sqlite3_value_bytes(a[0]));
    std::string s = StringOf(a[0]);
    if (s.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, static_cast<long long>(s.size()));
}

// CHR(n): the bytes of n in the database character set, most significant first.
void Chr(sqlite3_context* ctx, int, sqlite3_value** a) {
    Value n = NumberOf(a[0]);
    if (n.IsNull()) return sqlite3_result_null(ctx);
    double d = std::trunc(DoubleOf(n));
    if (d < 0 || d > 4294967295.0) Fail(1722, "invalid number");
    auto code = static_cast<std::uint32_t>(d);
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>(code & 0xFF));
        code >>= 8;
    } while (code);
    sqlite3_result_text(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

void Substr(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1]) || (argc > 2 && IsNull(a[2]))) return sqlite3_result_null(ctx);
    std::string s = StringOf(a[0]);
    auto chars = static_cast<long long>(CharCount(s));
    long long pos = IntegerOf(NumberOf(a[1]));
    if (pos == 0) pos = 1;
    if (pos < 0) pos = chars + pos + 1;
    if (pos < 1 || pos > chars) return sqlite3_result_null(ctx);
    long long len = chars - pos + 1;
    if (argc > 2) {
        long long want = IntegerOf(NumberOf(a[2]));
        if (want < 1) return sqlite3_result_null(ctx);
        len = std::min(len, want);
    }
    std::size_t b = CharOffset(s, static_cast<std::size_t>(pos - 1));
    std::size_t e = CharOffset(s, static_cast<std::size_t>(pos - 1 + len));
    ResultText(ctx, s.substr(b, e - b));
}

// DBMS_LOB.SUBSTR(lob, amount, offset): NULL for an amount outside 1..32767, an offset
// below 1 or nothing to return. In SQL the result is a VARCHAR2(4000) or a RAW(2000).
void LobSubstr(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto fits = [](std::size_t bytes, std::size_t most) {
        if (bytes > most)
            Fail(6502, "PL/SQL: numeric or value error: character string buffer too small");
    };
    if (IsNull(a[0]) || IsNull(a[1]) || IsNull(a[2])) return sqlite3_result_null(ctx);
    const long long amount = IntegerOf(NumberOf(a[1]));
    const long long offset = IntegerOf(NumberOf(a[2]));
    if (amount < 1 || amount > 32767 || offset < 1) return sqlite3_result_null(ctx);
    const auto from = static_cast<std::size_t>(offset - 1);
    const auto n = static_cast<std::size_t>(amount);
    if (sqlite3_value_type(a[0]) == SQLITE_BLOB) {
        const auto* p = static_cast<const char*>(sqlite3_value_blob(a[0]));
        const auto size = static_cast<std::size_t>(sqlite3_value_bytes(a[0]));
        if (from >= size) return sqlite3_result_null(ctx);
        fits(std::min(n, size - from), 2000);
        return sqlite3_result_blob(ctx, p + from, static_cast<int>(std::min(n, size - from)),
                                   SQLITE_TRANSIENT);
    }
    const std::string s = StringOf(a[0]);
    const std::size_t b = CharOffset(s, from);
    fits(CharOffset(s, from + n) - b, 4000);
    ResultText(ctx, s.substr(b, CharOffset(s, from + n) - b));
}

void Instr(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    for (int i = 0; i < argc; ++i)
        if (IsNull(a[i])) return sqlite3_result_null(ctx);
    std::string s = StringOf(a[0]), sub = StringOf(a[1]);
    long long pos = argc > 2 ? IntegerOf(NumberOf(a[2])) : 1;
    long long occurrence = argc > 3 ? IntegerOf(NumberOf(a[3])) : 1;
    if (occurrence < 1 || pos == 0) Fail(1428, "argument is out of range");
    if (pos < 0) Fail(3001, "unimplemented feature");
    std::size_t from = CharOffset(s, static_cast<std::size_t>(pos - 1));
    std::size_t found = std::string::npos;
    for (long long k = 0; k < occurrence; ++k) {
        found = s.find(sub, from);
        if (found == std::string::npos) return sqlite3_result_int64(ctx, 0);
        from = found + 1;
    }
    sqlite3_result_int64(ctx, static_cast<long long>(CharCount(s.substr(0, found)) + 1));
}

void Replace(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    std::string s = StringOf(a[0]);
    std::string from = IsNull(a[1]) ? "" : StringOf(a[1]);
    std::string to = argc > 2 && !IsNull(a[2]) ? StringOf(a[2]) : "";
    if (from.empty()) return ResultText(ctx, s);
    std::string out;
    std::size_t i = 0;
    while (true) {
        std::size_t f = s.find(from, i);
        if (f == std::string::npos) break;
        out += s.substr(i, f - i) + to;
        // Nested replacements would otherwise grow without bound.
        if (out.size() > kMaxVarchar) ConcatenationTooLong();
        i = f + from.size();
    }
    out += s.substr(i);
    if (out.size() > kMaxVarchar) ConcatenationTooLong();
    ResultText(ctx, out);
}

void Pad(sqlite3_context* ctx, int argc, sqlite3_value** a, bool left) {
    if (IsNull(a[0]) || IsNull(a[1]) || (argc > 2 && IsNull(a[2]))) return sqlite3_result_null(ctx);
    std::string s = StringOf(a[0]);
    // The result is cut to the longest VARCHAR2, as in Oracle, so no length needs more.
    long long n = std::min(IntegerOf(NumberOf(a[1])), static_cast<long long>(kMaxVarchar));
    std::string pad = argc > 2 ? StringOf(a[2]) : " ";
    if (n < 1 || pad.empty()) return sqlite3_result_null(ctx);
    auto chars = static_cast<long long>(CharCount(s));
    std::string out;
    if (chars >= n) {
        out = s.substr(0, CharOffset(s, static_cast<std::size_t>(n)));
    } else {
        std::string fill;
        auto padChars = static_cast<long long>(CharCount(pad));
        long long need = n - chars;
        while (need >= padChars) {
            fill += pad;
            need -= padChars;
        }
        fill += pad.substr(0, CharOffset(pad, static_cast<std::size_t>(need)));
        out = left ? fill + s : s + fill;
    }
    if (out.size() > kMaxVarchar) {
        std::size_t cut = kMaxVarchar;  // on a character boundary
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    ResultText(ctx, out);
}
void LPad(sqlite3_context* ctx, int argc, sqlite3_value** a) { Pad(ctx, argc, a, true); }
void RPad(sqlite3_context* ctx, int argc, sqlite3_value** a) { Pad(ctx, argc, a, false); }

void Trim(sqlite3_context* ctx, int argc, sqlite3_value** a, int sides) {
    if (IsNull(a[0]) || (argc > 1 && IsNull(a[1]))) return sqlite3_result_null(ctx);
    std::string s = StringOf(a[0]);
    std::string set = argc > 1 ? StringOf(a[1]) : " ";
    std::size_t b = 0, e = s.size();
    if (sides & 1)
        while (b < e && set.find(s[b]) != std::string::npos) ++b;
    if (sides & 2)
        while (e > b && set.find(s[e - 1]) != std::string::npos) --e;
    ResultText(ctx, s.substr(b, e - b));
}
void LTrim(sqlite3_context* ctx, int argc, sqlite3_value** a) { Trim(ctx, argc, a, 1); }
void RTrim(sqlite3_context* ctx, int argc, sqlite3_value** a) { Trim(ctx, argc, a, 2); }
void BTrim(sqlite3_context* ctx, int argc, sqlite3_value** a) { Trim(ctx, argc, a, 3); }

void Case(sqlite3_context* ctx, sqlite3_value* v, bool upper) {
    if (IsNull(v)) return sqlite3_result_null(ctx);
    std::string s = StringOf(v);
    for (char& c : s) {
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    ResultText(ctx, s);
}
void Upper(sqlite3_context* ctx, int, sqlite3_value** a) { Case(ctx, a[0], true); }
void Lower(sqlite3_context* ctx, int, sqlite3_value** a) { Case(ctx, a[0], false); }

// --- numbers and dates ---------------------------------------------------------------

void RoundOrTrunc(sqlite3_context* ctx, int argc, sqlite3_value** a, bool truncate) {
    Value v = NumberOf(a[0]);
    if (v.IsNull() || (argc > 1 && IsNull(a[1]))) return sqlite3_result_null(ctx);
    // NUMBER has no digit beyond 10^+-130, so places past that all act alike.
    const long long wanted = argc > 1 ? IntegerOf(NumberOf(a[1])) : 0;
    const int places = static_cast<int>(std::clamp(wanted, -400LL, 400LL));
    if (v.kind == Value::Kind::Integer && places >= 0) return ResultNumber(ctx, v);
    ResultDecimal(ctx, RoundTo(DecimalOf(v), places, truncate));
}
void Round(sqlite3_context* ctx, int argc, sqlite3_value** a) { RoundOrTrunc(ctx, argc, a, false); }
void Trunc(sqlite3_context* ctx, int argc, sqlite3_value** a) { RoundOrTrunc(ctx, argc, a, true); }

void TruncDate(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (IsNull(a[0]) || (argc > 1 && IsNull(a[1]))) return sqlite3_result_null(ctx);
    DateTime d = DateOf(a[0]);
    std::string unit = argc > 1 ? std::string(TextOf(a[1])) : "DD";
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    d.hour = d.minute = d.second = 0;
    if (unit == "MM" || unit == "MON" || unit == "MONTH") {
        d.day = 1;
    } else if (unit == "YYYY" || unit == "YY" || unit == "YEAR" || unit == "Y") {
        d.day = 1;
        d.month = 1;
    } else if (unit == "HH" || unit == "HH24") {
        d.hour = DateOf(a[0]).hour;
    } else if (unit == "MI") {
        d.hour = DateOf(a[0]).hour;
        d.minute = DateOf(a[0]).minute;
    } else if (unit != "DD" && unit != "DDD" && unit != "J") {
        Fail(1898, "too many precision specifiers");
    }
    ResultDate(ctx, d);
}

void AddMonths(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    DateTime d = DateOf(a[0]);
    long long n = IntegerOf(NumberOf(a[1]));
    bool lastDay = d.day == DaysInMonth(d.year, d.month);
    long long m = (d.year > 0 ? d.year : d.year + 1) * 12LL + (d.month - 1) + n;
    long long y = m >= 0 ? m / 12 : -((-m + 11) / 12);
    d.month = static_cast<int>(m - y * 12 + 1);
    d.year = static_cast<int>(y <= 0 ? y - 1 : y);
    if (d.year < -4712 || d.year > 9999)
        Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
    int last = DaysInMonth(d.year, d.month);
    if (lastDay || d.day > last) d.day = last;
    ResultDate(ctx, d);
}

void LastDay(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    DateTime d = DateOf(a[0]);
    d.day = DaysInMonth(d.year, d.month);
    ResultDate(ctx, d);
}

void Math(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    std::string_view op = TextOf(a[0]);
    for (int i = 1; i < argc; ++i)
        if (IsNull(a[i])) return sqlite3_result_null(ctx);
    Value x = NumberOf(a[1]);
    if (x.IsNull()) return sqlite3_result_null(ctx);
    Decimal exact = DecimalOf(x);
    double d = DoubleOf(x);
    if (op == "ABS") {
        exact.negative = false;
        return ResultDecimal(ctx, exact);
    }
    if (op == "SIGN") return sqlite3_result_int(ctx, exact.IsZero() ? 0 : exact.negative ? -1 : 1);
    if (op == "FLOOR" || op == "CEIL") {
        Decimal whole = RoundTo(exact, 0, true);
        if (Compare(whole, exact) != 0 && exact.negative == (op == "FLOOR"))
            whole = Add(whole, Decimal::FromInt(exact.negative ? -1 : 1));
        return ResultDecimal(ctx, whole);
    }
    if (op == "SQRT") {
        if (d < 0) Fail(1428, "argument '" + NumberToText(d) + "' is out of range");
        return ResultNumber(ctx, NormalizeNumber(std::sqrt(d)));
    }
    Value y = NumberOf(a[2]);
    if (y.IsNull()) return sqlite3_result_null(ctx);
    double e = DoubleOf(y);
    if (op == "MOD") {
        const Decimal divisor = DecimalOf(y);
        if (divisor.IsZero()) return ResultNumber(ctx, x);
        if (x.kind == Value::Kind::Integer && y.kind == Value::Kind::Integer)
            return sqlite3_result_int64(ctx, y.integer == -1 ? 0 : x.integer % y.integer);
        const Decimal times = RoundTo(sql::Divide(exact, divisor), 0, true);
        return ResultDecimal(ctx, Subtract(exact, Multiply(divisor, times)));
    }
    if (op == "POWER") {
        // Integral exponents multiply exactly (to NUMBER's digits); others go through a double.
        const auto n = ToInt64(DecimalOf(y));
        if (!n || *n < -1000 || *n > 1000)
            return ResultNumber(ctx, NormalizeNumber(std::pow(d, e)));
        if (exact.IsZero() && *n < 0)
            Fail(1428, "argument '" + NumberToText(x) + "' is out of range");
        Decimal result = Decimal::FromInt(1), base = exact;
        for (std::int64_t k = *n < 0 ? -*n : *n; k > 0; k >>= 1) {
            if (k & 1) result = Fit(Multiply(result, base));
            if (k > 1) base = Fit(Multiply(base, base));
        }
        return ResultDecimal(ctx, *n < 0 ? sql::Divide(Decimal::FromInt(1), result) : result);
    }
    Fail(904, "invalid identifier");
}

// --- exact NUMBER arithmetic and order ------------------------------------------------

template <bool (*Fast)(long long, long long, long long*),
          Decimal (*Exact)(const Decimal&, const Decimal&)>
void Arithmetic(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_type(a[1]) == SQLITE_INTEGER) {
        long long r = 0;
        if (!Fast(sqlite3_value_int64(a[0]), sqlite3_value_int64(a[1]), &r))
            return sqlite3_result_int64(ctx, r);
    }
    Value x = NumberOf(a[0]), y = NumberOf(a[1]);
    if (x.IsNull() || y.IsNull()) return sqlite3_result_null(ctx);
    ResultDecimal(ctx, Exact(DecimalOf(x), DecimalOf(y)));
}
bool AddOverflows(long long x, long long y, long long* r) {
    return __builtin_add_overflow(x, y, r);
}
bool SubOverflows(long long x, long long y, long long* r) {
    return __builtin_sub_overflow(x, y, r);
}
bool MulOverflows(long long x, long long y, long long* r) {
    return __builtin_mul_overflow(x, y, r);
}
Decimal SubtractExact(const Decimal& x, const Decimal& y) { return Subtract(x, y); }

void Negate(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_int64(a[0]) != INT64_MIN)
        return sqlite3_result_int64(ctx, -sqlite3_value_int64(a[0]));
    Value x = NumberOf(a[0]);
    if (x.IsNull()) return sqlite3_result_null(ctx);
    Decimal d = DecimalOf(x);
    if (!d.IsZero()) d.negative = !d.negative;
    ResultDecimal(ctx, d);
}

// Integers compare natively; a blob (beyond int64) only through its exact value.
int CompareNumbers(sqlite3_value* x, sqlite3_value* y) {
    if (sqlite3_value_type(x) == SQLITE_INTEGER && sqlite3_value_type(y) == SQLITE_INTEGER) {
        const auto i = sqlite3_value_int64(x), j = sqlite3_value_int64(y);
        return i < j ? -1 : i > j ? 1 : 0;
    }
    return Compare(DecimalOf(NumberOf(x)), DecimalOf(NumberOf(y)));
}

void NumberCompare(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0]) || IsNull(a[1])) return sqlite3_result_null(ctx);
    if (NumberOf(a[0]).IsNull() || NumberOf(a[1]).IsNull()) return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, CompareNumbers(a[0], a[1]));
}

// ORDER BY key of a number: Oracle's internal form, whose byte order is numeric order.
void NumberKey(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[0])) return sqlite3_result_null(ctx);
    if (sqlite3_value_type(a[0]) == SQLITE_BLOB) return sqlite3_result_value(ctx, a[0]);
    Value x = NumberOf(a[0]);
    if (x.IsNull()) return sqlite3_result_null(ctx);
    const std::string key = OracleBytes(Fit(DecimalOf(x)));
    sqlite3_result_blob(ctx, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
}

// GREATEST and LEAST of numbers: NULL when any argument is.
template <int Sign>
void Extreme(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    for (int i = 0; i < argc; ++i)
        if (IsNull(a[i]) || NumberOf(a[i]).IsNull()) return sqlite3_result_null(ctx);
    int best = 0;
    for (int i = 1; i < argc; ++i)
        if (CompareNumbers(a[i], a[best]) * Sign > 0) best = i;
    ResultNumber(ctx, NumberOf(a[best]));
}

// SUM, AVG, MIN and MAX of numbers: an int64 running sum until it overflows, then exact.
struct NumberAggregate {
    bool any;
    bool exactSum;
    long long sum;
    long long count;
    Decimal* exact;  // owned; the exact sum, or the MIN/MAX so far
};

NumberAggregate* AggregateOf(sqlite3_context* ctx, bool create) {
    return static_cast<NumberAggregate*>(
        sqlite3_aggregate_context(ctx, create ? static_cast<int>(sizeof(NumberAggregate)) : 0));
}

template <class Body>
void GuardedStep(sqlite3_context* ctx, Body&& body) {
    try {
        body();
    } catch (const OraError& e) {
        sqlite3_result_error(ctx, e.what(), -1);
    } catch (const std::exception& e) {
        std::string text =
            std::string("ORA-00600: internal error code, arguments: [") + e.what() + "]";
        sqlite3_result_error(ctx, text.c_str(), -1);
    }
}

// The state a number steps into; none for a NULL, which aggregates skip.
NumberAggregate* StepState(sqlite3_context* ctx, sqlite3_value* value, Value& x) {
    if (IsNull(value)) return nullptr;
    x = NumberOf(value);
    if (x.IsNull()) return nullptr;
    NumberAggregate* s = AggregateOf(ctx, true);
    if (!s) throw std::bad_alloc();
    return s;
}

// The state of a group with rows; a group without any gets NULL and nothing to finish.
NumberAggregate* FinalState(sqlite3_context* ctx) {
    NumberAggregate* s = AggregateOf(ctx, false);
    if (s && s->any) return s;
    if (s) delete s->exact;
    sqlite3_result_null(ctx);
    return nullptr;
}

void SumStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    GuardedStep(ctx, [&] {
        Value x;
        NumberAggregate* s = StepState(ctx, a[0], x);
        if (!s) return;
        s->any = true;
        ++s->count;
        if (!s->exactSum && x.kind == Value::Kind::Integer &&
            !__builtin_add_overflow(s->sum, x.integer, &s->sum))
            return;
        if (!s->exact) s->exact = new Decimal(s->exactSum ? Decimal() : Decimal::FromInt(s->sum));
        s->exactSum = true;
        *s->exact = Add(*s->exact, DecimalOf(x));
    });
}

Decimal TakeSum(NumberAggregate* s) {
    Decimal total = s->exactSum ? *s->exact : Decimal::FromInt(s->sum);
    delete s->exact;
    s->exact = nullptr;
    return total;
}

void SumFinal(sqlite3_context* ctx) {
    NumberAggregate* s = FinalState(ctx);
    if (!s) return;
    const Decimal total = TakeSum(s);
    GuardedStep(ctx, [&] { ResultDecimal(ctx, total); });
}

void AvgFinal(sqlite3_context* ctx) {
    NumberAggregate* s = FinalState(ctx);
    if (!s) return;
    const long long count = s->count;
    const Decimal total = TakeSum(s);
    GuardedStep(ctx, [&] { ResultDecimal(ctx, sql::Divide(total, Decimal::FromInt(count))); });
}

template <int Sign>
void ExtremeStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    GuardedStep(ctx, [&] {
        Value x;
        NumberAggregate* s = StepState(ctx, a[0], x);
        if (!s) return;
        if (x.kind == Value::Kind::Integer && !s->exact) {
            if (!s->any || (Sign > 0 ? x.integer > s->sum : x.integer < s->sum)) s->sum = x.integer;
            s->any = true;
            return;
        }
        Decimal d = DecimalOf(x);
        if (!s->exact) {
            s->exact = new Decimal(s->any ? Decimal::FromInt(s->sum) : d);
            s->any = true;
        }
        if (Compare(d, *s->exact) * Sign > 0) *s->exact = d;
    });
}

void ExtremeFinal(sqlite3_context* ctx) {
    NumberAggregate* s = FinalState(ctx);
    if (!s) return;
    if (!s->exact) return sqlite3_result_int64(ctx, s->sum);
    const Decimal best = *s->exact;
    delete s->exact;
    s->exact = nullptr;
    GuardedStep(ctx, [&] { ResultDecimal(ctx, best); });
}

// LIMIT for the ROWNUM conditions of a query block: pairs of operator and value.
void RownumLimit(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    long long limit = -1;  // no limit
    auto apply = [&](long long n) { limit = limit < 0 ? n : std::min(limit, n); };
    for (int i = 0; i + 1 < argc; i += 2) {
        std::string_view op = TextOf(a[i]);
        Value v = NumberOf(a[i + 1]);
        if (v.IsNull()) {
            apply(0);
            continue;
        }
        double n = DoubleOf(v);
        if (op == "<")
            apply(std::max(0LL, IntegerOf(Value::Double(std::ceil(n))) - 1));
        else if (op == "<=")
            apply(std::max(0LL, IntegerOf(Value::Double(std::floor(n)))));
        else if (op == "=")
            apply(n == 1 ? 1 : 0);
        else if (op == ">")
            apply(n < 1 ? -1 : 0);
        else if (op == ">=")
            apply(n <= 1 ? -1 : 0);
        else if (op == "!=")
            apply(n >= 1 && n == std::trunc(n) ? IntegerOf(v) - 1 : -1);
        if (limit == -1 && (op == ">" || op == ">=")) continue;
    }
    sqlite3_result_int64(ctx, limit);
}

// ROWID text of (object number, SQLite rowid).
void RowidText(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[1])) return sqlite3_result_null(ctx);
    const std::string text = ExtendedRowIdText(AddressOfRow(
        static_cast<std::uint32_t>(sqlite3_value_int64(a[0])), sqlite3_value_int64(a[1])));
    sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// ora_rowid_key(object, text): the SQLite rowid a ROWID text names, so `ROWID = :r` is a
// key lookup rather than a scan that formats every row's address.
void RowidKey(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (IsNull(a[1])) return sqlite3_result_null(ctx);
    const auto row =
        RowOfRowIdText(static_cast<std::uint32_t>(sqlite3_value_int64(a[0])), StringOf(a[1]));
    if (!row) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, *row);
}

struct Registration {
    const char* name;
    int args;
    Fn fn;
    bool deterministic;
};

const Registration kFunctions[] = {
    {"ora_num", 3, Guarded<Num>, true},
    {"ora_vc", 4, Guarded<Varchar>, true},
    {"ora_char", 4, Guarded<Char>, true},
    {"ora_raw", 3, Guarded<RawCheck>, true},
    {"ora_to_number", 1, Guarded<ToNumber>, true},
    {"ora_text", 1, Guarded<ToText>, true},
    {"ora_to_date", 1, Guarded<ToDate>, false},
    {"ora_to_date", 2, Guarded<ToDate>, false},
    {"ora_date_text", 1, Guarded<DateText>, false},
    {"ora_date_text", 2, Guarded<DateText>, true},
    {"ora_num_text", 1, Guarded<NumberText>, true},
    {"ora_num_text", 2, Guarded<NumberText>, true},
    {"ora_hextoraw", 1, Guarded<HexToRawFn>, true},
    {"ora_concat", -1, Guarded<Concat>, true},
    {"ora_div", 2, Guarded<Divide>, true},
    {"ora_date_add", 2, Guarded<DateAdd>, true},
    {"ora_date_diff", 2, Guarded<DateDiff>, true},
    {"ora_sysdate", 0, Guarded<SysDate>, false},
    {"ora_length", 1, Guarded<Length>, true},
    {"ora_lengthb", 1, Guarded<LengthB>, true},
    {"ora_chr", 1, Guarded<Chr>, true},
    {"ora_substr", 2, Guarded<Substr>, true},
    {"ora_substr", 3, Guarded<Substr>, true},
    {"ora_lob_substr", 3, Guarded<LobSubstr>, true},
    {"ora_instr", -1, Guarded<Instr>, true},
    {"ora_replace", -1, Guarded<Replace>, true},
    {"ora_lpad", -1, Guarded<LPad>, true},
    {"ora_rpad", -1, Guarded<RPad>, true},
    {"ora_ltrim", -1, Guarded<LTrim>, true},
    {"ora_rtrim", -1, Guarded<RTrim>, true},
    {"ora_trim", -1, Guarded<BTrim>, true},
    {"ora_upper", 1, Guarded<Upper>, true},
    {"ora_lower", 1, Guarded<Lower>, true},
    {"ora_round", -1, Guarded<Round>, true},
    {"ora_trunc", -1, Guarded<Trunc>, true},
    {"ora_trunc_date", -1, Guarded<TruncDate>, true},
    {"ora_add_months", 2, Guarded<AddMonths>, true},
    {"ora_last_day", 1, Guarded<LastDay>, true},
    {"ora_math", -1, Guarded<Math>, true},
    {"ora_add", 2, Guarded<Arithmetic<AddOverflows, Add>>, true},
    {"ora_sub", 2, Guarded<Arithmetic<SubOverflows, SubtractExact>>, true},
    {"ora_mul", 2, Guarded<Arithmetic<MulOverflows, Multiply>>, true},
    {"ora_neg", 1, Guarded<Negate>, true},
    {"ora_ncmp", 2, Guarded<NumberCompare>, true},
    {"ora_nkey", 1, Guarded<NumberKey>, true},
    {"ora_greatest", -1, Guarded<Extreme<1>>, true},
    {"ora_least", -1, Guarded<Extreme<-1>>, true},
    {"ora_rownum_limit", -1, Guarded<RownumLimit>, true},
    {"ora_rowid", 2, Guarded<RowidText>, true},
    {"ora_rowid_key", 2, Guarded<RowidKey>, true},
    {"ora_ts_in", 3, Guarded<TimestampIn>, false},
    {"ora_ts_in", 4, Guarded<TimestampIn>, false},
    {"ora_ts_cast", 4, Guarded<TimestampCast>, false},
    {"ora_tmp_text", 4, Guarded<TemporalTextFn>, false},
    {"ora_tmp_text", 5, Guarded<TemporalTextFn>, false},
    {"ora_iv_in", 4, Guarded<IntervalIn>, true},
    {"ora_bin", 2, Guarded<ToBinary>, true},
    {"ora_bin_text", 2, Guarded<BinaryTextFn>, true},
    {"ora_systimestamp", 0, Guarded<SysTimestamp>, false},
};

}  // namespace

std::string FormatNumberText(const Value& number, std::string_view format) {
    return FormatNumber(number, format);
}

void RegisterFunctions(sqlite3* db, SessionState* state) {
    for (const Registration& r : kFunctions) {
        int flags = SQLITE_UTF8 | (r.deterministic ? SQLITE_DETERMINISTIC : 0);
        sqlite3_create_function_v2(db, r.name, r.args, flags, state, r.fn, nullptr, nullptr,
                                   nullptr);
    }
    struct Aggregate {
        const char* name;
        Fn step;
        void (*final)(sqlite3_context*);
    };
    static const Aggregate kAggregates[] = {
        {"ora_sum", SumStep, SumFinal},
        {"ora_avg", SumStep, AvgFinal},
        {"ora_max", ExtremeStep<1>, ExtremeFinal},
        {"ora_min", ExtremeStep<-1>, ExtremeFinal},
    };
    for (const Aggregate& g : kAggregates)
        sqlite3_create_function_v2(db, g.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, state,
                                   nullptr, g.step, g.final, nullptr);
}

}  // namespace velnor::ocisqlite::sql
