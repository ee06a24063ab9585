// libFuzzer target for the CSV reader and the import's field rules: any input ends in
// records or an ECsvError naming a line, never a crash, a hang or a read past the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/CsvReader.h"
#include "app/core/CsvRowConverter.h"

using namespace velnor::app;

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
            } catch (const ECsvError& e) {
                if (e.Line() != reader.RecordLine()) std::abort();
            }
        }
    } catch (const ECsvError& e) {
        if (e.Line() < lastLine) std::abort();
    }
    return 0;
}
