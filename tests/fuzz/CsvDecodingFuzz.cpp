// libFuzzer target for file decoding under the CSV reader: any bytes in any of the encodings
// end in records or an ECsvError, the records are UTF-8 whatever the pieces the bytes came
// in, and text decoded from CP932 encodes back to the same bytes' text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/CsvDecodingSource.h"
#include "app/core/CsvReader.h"
#include "app/core/TextEncoding.h"

using namespace velnor::app;

namespace {

// The records, or the error's text after them.
std::vector<std::string> ReadAll(const std::string& bytes, TTextEncoding encoding,
                                 std::size_t bufferSize) {
    TCsvMemorySource memory(bytes);
    TCsvDecodingSource source(memory, encoding);
    TCsvReader reader(source, bufferSize);
    std::vector<std::string> out;
    try {
        while (reader.ReadRecord()) {
            for (const auto& field : reader.Fields()) out.push_back(field);
            out.push_back("\n");
        }
    } catch (const ECsvError& e) {
        out.push_back("error: " + e.Message());
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const TTextEncoding encoding = static_cast<TTextEncoding>(data[0] % 3);
    // The rest of the first byte picks a small buffer, so characters are cut at every offset.
    const std::size_t bufferSize = 1 + data[0] / 3 % 16;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<std::string> small = ReadAll(bytes, encoding, bufferSize);
    if (ReadAll(bytes, encoding, TCsvReader::DefaultBufferSize) != small) std::abort();
    for (const std::string& field : small) {
        if (field.rfind("error: ", 0) == 0) break;
        bool incomplete = false;
        if (ValidUtf8Prefix(field, incomplete) != field.size()) std::abort();
        if (encoding != TTextEncoding::teCp932 || bytes.rfind(kUtf8Bom, 0) == 0) continue;
        TCp932Encoder encoder;
        std::string encoded;
        encoder.Encode(field, encoded);  // raises, and so fails the run, for a lost character
        encoder.Finish();
        TCp932Decoder decoder;
        std::string back(encoded.size() * 3 + 1, '\0');
        std::string_view in(encoded);
        back.resize(decoder.Decode(in, back.data(), back.size(), true));
        if (!in.empty() || back != field) std::abort();
    }
    return 0;
}
