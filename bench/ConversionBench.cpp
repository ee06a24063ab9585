// Speed of the value text forms against the standard library on the same values.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/core/Formatting.h"
#include "app/core/TextFile.h"
#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"
#include "platform/Variant.h"

namespace {

using namespace velnor;

std::vector<double> Floats() {
    std::vector<double> values;
    double v = 0.000123;
    for (int i = 0; i < 4096; ++i) {
        values.push_back((i % 2 ? -v : v) * (1 + i % 7) / 3.0);
        v *= 1.0071;
    }
    return values;
}

std::vector<double> DateTimes() {
    std::vector<double> values;
    for (int i = 0; i < 4096; ++i) values.push_back(36000.0 + i * 3.1234567);
    return values;
}

const std::vector<double> floats = Floats();
const std::vector<double> dates = DateTimes();

void FloatToText(benchmark::State& state) {
    const platform::TRegionalSettings& settings = platform::RegionalSettings();
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::FloatToText(floats[i++ & 4095], settings));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FloatToText);

void FloatToCharsPrecision15(benchmark::State& state) {
    std::size_t i = 0;
    char buf[32];
    for (auto _ : state) {
        auto r = std::to_chars(buf, buf + sizeof buf, floats[i++ & 4095],
                               std::chars_format::general, 15);
        benchmark::DoNotOptimize(std::string(buf, r.ptr));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FloatToCharsPrecision15);

void FloatSnprintf15g(benchmark::State& state) {
    std::size_t i = 0;
    char buf[32];
    for (auto _ : state) {
        const int n = std::snprintf(buf, sizeof buf, "%.15g", floats[i++ & 4095]);
        benchmark::DoNotOptimize(std::string(buf, static_cast<std::size_t>(n)));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FloatSnprintf15g);

void CsvDateTimeText(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(app::CsvDateTimeText(dates[i++ & 4095]));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CsvDateTimeText);

void FormatDateTimeCsv(benchmark::State& state) {
    const platform::TRegionalSettings& settings = platform::RegionalSettings();
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            platform::FormatDateTime("yyyymmddhhnnss", dates[i++ & 4095], settings));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FormatDateTimeCsv);

// The same text by the C library: split into seconds since 1970 and strftime.
void DateTimeStrftime(benchmark::State& state) {
    std::size_t i = 0;
    char buf[32];
    for (auto _ : state) {
        const double v = dates[i++ & 4095];
        const auto t = static_cast<std::time_t>(std::llround((v - 25569.0) * 86400.0));
        std::tm parts{};
        gmtime_r(&t, &parts);
        const std::size_t n = std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &parts);
        benchmark::DoNotOptimize(std::string(buf, n));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DateTimeStrftime);

// A CSV-like file of 200 000 lines, written once for the reading benchmarks.
constexpr int FileLines = 200000;

const std::string& SampleFile() {
    static const std::string path = [] {
        std::string name = "/tmp/velnor-conversion-bench-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd >= 0) close(fd);
        app::TTextFile file;
        file.OpenForWriting(name);
        for (int i = 0; i < FileLines; ++i)
            file.WriteLine("\"" + std::to_string(i) + "\",\"name " + std::to_string(i * 7) +
                           "\",12345.678,20040315134530");
        file.Close();
        return name;
    }();
    return path;
}

void ReadLinesTextFile(benchmark::State& state) {
    std::string line;
    for (auto _ : state) {
        app::TTextFile file;
        file.OpenForReading(SampleFile());
        while (!file.AtEnd()) {
            file.ReadLine(line);
            file.SkipLineEnd();
            benchmark::DoNotOptimize(line.data());
        }
        file.Close();
    }
    state.SetItemsProcessed(state.iterations() * FileLines);
}
BENCHMARK(ReadLinesTextFile)->Unit(benchmark::kMillisecond);

void ReadLinesIfstream(benchmark::State& state) {
    std::string line;
    for (auto _ : state) {
        std::ifstream in(SampleFile(), std::ios::binary);
        while (std::getline(in, line, '\r')) {
            if (in.peek() == '\n') in.get();
            benchmark::DoNotOptimize(line.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * FileLines);
}
BENCHMARK(ReadLinesIfstream)->Unit(benchmark::kMillisecond);

void WriteLinesTextFile(benchmark::State& state) {
    const std::string line = "\"1\",\"name 7\",12345.678,20040315134530";
    const std::string path = SampleFile() + ".out";
    for (auto _ : state) {
        app::TTextFile file;
        file.OpenForWriting(path);
        for (int i = 0; i < FileLines; ++i) file.WriteLine(line);
        file.Close();
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * FileLines);
}
BENCHMARK(WriteLinesTextFile)->Unit(benchmark::kMillisecond);

void WriteLinesStdio(benchmark::State& state) {
    const std::string line = "\"1\",\"name 7\",12345.678,20040315134530";
    const std::string path = SampleFile() + ".out";
    for (auto _ : state) {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        for (int i = 0; i < FileLines; ++i) {
            std::fwrite(line.data(), 1, line.size(), out);
            std::fwrite("\r\n", 1, 2, out);
        }
        std::fclose(out);
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * FileLines);
}
BENCHMARK(WriteLinesStdio)->Unit(benchmark::kMillisecond);

// Collects the processor time per iteration of each benchmark for the ratios printed at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.iterations > 0) nanoseconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    std::map<std::string, double> nanoseconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* theirs) {
        const auto a = reporter.nanoseconds.find(ours);
        const auto b = reporter.nanoseconds.find(theirs);
        if (a == reporter.nanoseconds.end() || b == reporter.nanoseconds.end() || b->second <= 0)
            return;
        std::printf("%-20s / %-24s = %.2f (below 1 is faster)\n", ours, theirs,
                    a->second / b->second);
    };
    ratio("FloatToText", "FloatToCharsPrecision15");
    ratio("FloatToText", "FloatSnprintf15g");
    ratio("CsvDateTimeText", "DateTimeStrftime");
    ratio("FormatDateTimeCsv", "DateTimeStrftime");
    ratio("ReadLinesTextFile", "ReadLinesIfstream");
    ratio("WriteLinesTextFile", "WriteLinesStdio");
    std::remove(SampleFile().c_str());
    benchmark::Shutdown();
    return 0;
}
