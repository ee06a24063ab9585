// libFuzzer target for the placeholder scanner and the substitution built on it: positions
// always point at a colon followed by the listed name, and substitution never fails.

/* Build and run by hand from the repository root:
     clang++ -std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined \
       tests/fuzz/SqlScannerFuzz.cpp \
       oracle/query/Variables.cpp oracle/query/SqlText.cpp oracle/query/OracleConvert.cpp \
       platform/Variant.cpp platform/DateTime.cpp platform/RegionalSettings.cpp \
       platform/Component.cpp platform/Text.cpp -o /tmp/sql-scanner-fuzz
     /tmp/sql-scanner-fuzz tests/fuzz/corpus/sql_scanner
*/
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "oracle/query/SqlText.h"
#include "oracle/query/Variables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velnor::oracle;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto all = ScanVariableNames(text, true);
    for (const auto& p : all) {
        if (p.position < 1 || p.position + p.name.size() > text.size()) std::abort();
        if (text[p.position - 1] != ':') std::abort();
        if (UpperCaseAscii(std::string_view(text).substr(p.position, p.name.size())) != p.name) {
            std::abort();
        }
    }
    const auto distinct = ScanVariableNames(text, false);
    if (distinct.size() > all.size()) std::abort();

    TVariables vars;
    vars.AddVariable("a", otSubstitution);
    vars.SetVariableValue("a", velnor::platform::TVariant(":a"));
    (void)vars.SubstituteVariables(text);
    return 0;
}
