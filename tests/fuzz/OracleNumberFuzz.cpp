// libFuzzer target for exact numbers: any bytes either decode as a NUMBER or raise, and a
// decoded value encodes to bytes that decode to it again; any field the import takes as a
// number has a canonical text that reads back to itself and survives the NUMBER bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/core/CsvNumber.h"
#include "oracle/query/OracleNumber.h"
#include "platform/Exception.h"

using namespace velnor;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckBytes(const std::uint8_t* data, std::size_t size) {
    oracle::TDecimal value;
    try {
        value = oracle::DecodeOracleNumber(data, size);
    } catch (const platform::Exception&) {
        return;
    }
    Require(value.digits.size() <= oracle::OracleNumberMaxDigits);
    std::array<std::uint8_t, oracle::OracleVarnumSize> bytes{};
    const std::size_t length = oracle::EncodeOracleNumber(value, bytes.data());
    Require(oracle::DecodeOracleNumber(bytes.data(), length) == value);
}

void CheckText(std::string_view text) {
    std::string canonical;
    if (app::CsvNumberLiteral(text, ",", canonical) != app::TCsvNumberKind::Number) return;
    const auto value = oracle::ParseDecimal(canonical);
    Require(value && oracle::DecimalToText(*value) == canonical);
    // The short path for canonical fields must agree with the exact parse.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    Require(oracle::ParseDecimal(text, ",") == *value);
    platform::TRegionalSettings settings;
    settings.decimalSymbol = ",";
    Require(oracle::ParseDecimal(app::CsvNumberText(*value, settings), ",") == *value);
    std::array<std::uint8_t, oracle::OracleVarnumSize> bytes{};
    oracle::EncodeOracleVarnum(*value, bytes.data());  // the import took it: it must fit
    Require(oracle::DecodeOracleVarnum(bytes.data()) == *value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    CheckBytes(data, size);
    CheckText(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
