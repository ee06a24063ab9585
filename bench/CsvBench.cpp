// Throughput of the CSV reader, the field checks of the import and the line writer of the
// export, on data shaped like an ordinary table (number, float, text, date).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/core/CsvReader.h"
#include "app/core/CsvRowConverter.h"
#include "app/core/CsvWriter.h"

namespace {

using namespace velnor::app;

std::string MakeFile(int rows) {
    TCsvWriter writer(velnor::platform::TRegionalSettings{});
    std::string file = "\"ID\",\"SAL\",\"NAME\",\"HIRED\"\r\n";
    for (int i = 0; i < rows; ++i) {
        writer.Clear();
        writer.AddInteger(i);
        writer.AddFloat(i * 1.25);
        writer.AddString(i % 10 == 0 ? "Smith, \"J\"\r\nsecond line" : "山田太郎 employee");
        writer.AddDate(45000.5 + i % 1000);
        file += writer.Line();
        file += "\r\n";
    }
    return file;
}

void BM_ReadRecords(benchmark::State& state) {
    const std::string file = MakeFile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TCsvMemorySource source(file);
        TCsvReader reader(source);
        std::size_t fields = 0;
        while (reader.ReadRecord()) fields += reader.Fields().size();
        benchmark::DoNotOptimize(fields);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadRecords)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_ReadAndConvert(benchmark::State& state) {
    const std::string file = MakeFile(static_cast<int>(state.range(0)));
    const TCsvRowConverter converter({{"ID", velnor::oracle::otInteger},
                                      {"SAL", velnor::oracle::otFloat},
                                      {"NAME", velnor::oracle::otString},
                                      {"HIRED", velnor::oracle::otDate}},
                                     ".");
    std::vector<TCsvValue> values;
    for (auto _ : state) {
        TCsvMemorySource source(file);
        TCsvReader reader(source);
        reader.ReadRecord();
        while (reader.ReadRecord()) converter.Convert(reader.Fields(), reader.RecordLine(), values);
        benchmark::DoNotOptimize(values.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadAndConvert)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_WriteLines(benchmark::State& state) {
    TCsvWriter writer(velnor::platform::TRegionalSettings{});
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            writer.Clear();
            writer.AddInteger(i);
            writer.AddFloat(i * 1.25);
            writer.AddString("Smith, \"J\"");
            writer.AddDate(45000.5 + i);
            bytes += writer.Line().size();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_WriteLines);

}  // namespace

BENCHMARK_MAIN();
