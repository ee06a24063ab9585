// libFuzzer target for the CSV reader and the import's field rules: any input ends in
// records or an ECsvError naming a line, never a crash, a hang or a read past the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/CsvReader.h"
#include "app/core/CsvRowConverter.h"
#include "oracle/query/OracleNumber.h"

using namespace velnor::app;

namespace {

// The import's bind bytes of a converted number must be the general encoder's.
void CheckVarnum(const std::string& text) {
    std::uint8_t fast[velnor::oracle::OracleVarnumSize] = {};
    std::uint8_t general[velnor::oracle::OracleVarnumSize] = {};
    TCsvRowConverter::NumberVarnum(text, fast);
    velnor::oracle::EncodeOracleVarnum(*velnor::oracle::ParseDecimal(text), general);
    if (fast[0] != general[0] || std::memcmp(fast, general, fast[0] + 1u) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the buffer size, so records cross refills at every offset.
    const std::size_t bufferSize = 1 + data[0] % 64;
    TCsvMemorySource source(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    TCsvReader reader(source, bufferSize);
    reader.SetMaxFields(4);
    const TCsvRowConverter converter({{"N", velnor::oracle::otInteger},
                                      {"F", velnor::oracle::otFloat},
                                      {"S", velnor::oracle::otString},
                                      {"D", velnor::oracle::otDate}},
                                     ",");
    std::vector<TCsvValue> values;
    std::int64_t lastLine = 0;
    try {
        while (reader.ReadRecord()) {
            if (reader.RecordLine() < lastLine) std::abort();  // lines only go forward
            lastLine = reader.RecordLine();
            if (reader.Fields().size() > 4) std::abort();
            try {
                converter.Convert(reader.Fields(), reader.RecordLine(), values);
                if (values.size() != 4) std::abort();
                for (const TCsvValue& value : values)
                    if (value.kind == TCsvValue::Kind::Number) CheckVarnum(value.text);
                if (values[3].kind == TCsvValue::Kind::Text) {
                    std::uint8_t date[7];
                    TCsvRowConverter::DateBytes(values[3].text, date);
                    if (date[2] < 1 || date[2] > 12 || date[3] < 1 || date[4] > 24) std::abort();
                }
            } catch (const ECsvError& e) {
                if (e.Line() != reader.RecordLine()) std::abort();
            }
        }
    } catch (const ECsvError& e) {
        if (e.Line() < lastLine) std::abort();
    }
    return 0;
}
