// libFuzzer target for the reader of the variables' "Data" stream: any input either loads or
// raises platform::Exception, never reads past its end, and what loads writes back unchanged
// once read again.

/* Build and run by hand from the repository root:
     clang++ -std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined \
       tests/fuzz/VariablesDataFuzz.cpp \
       oracle/query/Variables.cpp oracle/query/SqlText.cpp oracle/query/OracleConvert.cpp \
       platform/Variant.cpp platform/DateTime.cpp platform/RegionalSettings.cpp \
       platform/Component.cpp platform/Text.cpp -o /tmp/variables-data-fuzz
     /tmp/variables-data-fuzz tests/fuzz/corpus/variables_data
*/
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "oracle/query/Variables.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using velnor::oracle::TVariables;
    const std::span<const std::byte> input(reinterpret_cast<const std::byte*>(data), size);
    TVariables vars;
    try {
        vars.ReadData(input);
    } catch (const velnor::platform::Exception&) {
        if (vars.Count() != 0) std::abort();  // a refused stream must leave the list alone
        return 0;
    }
    const auto written = vars.WriteData();
    TVariables again;
    again.ReadData(written);
    if (again.WriteData() != written) std::abort();
    return 0;
}
