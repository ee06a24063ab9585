// libFuzzer target for exact numbers: any bytes either decode as a NUMBER or raise, and a
// decoded value encodes to bytes that decode to it again; any text either is no literal or
// reads back from its canonical text and survives the NUMBER bytes whenever they can hold it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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
    const auto value = oracle::ParseDecimal(text, ",");
    if (!value) return;
    Require(oracle::ParseDecimal(oracle::DecimalToText(*value)) == *value);
    platform::TRegionalSettings settings;
    settings.decimalSymbol = ",";
    Require(oracle::ParseDecimal(app::CsvNumberText(*value, settings), ",") == *value);
    std::array<std::uint8_t, oracle::OracleVarnumSize> bytes{};
    try {
        oracle::EncodeOracleVarnum(*value, bytes.data());
    } catch (const platform::Exception&) {
        return;
    }
    Require(oracle::DecodeOracleVarnum(bytes.data()) == *value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    CheckBytes(data, size);
    CheckText(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
