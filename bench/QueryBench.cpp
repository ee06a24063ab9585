// Fetching the 100 000-row demo table through TOracleQuery (1024 rows per fetch, every
// column read as text) against a bare OCI8 array fetch of the same rows as text, on the
// stand-in client library. Prints the ratio of the two row rates; the target is 0.8 or more.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchHome.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"

namespace {

using namespace velnor;

constexpr const char* kSql = "select * from big_table";
constexpr ub4 kBatch = 1024;

using bench::Admin;

// A demo home for the whole run, removed at exit.
struct DemoHome {
    DemoHome() {
        path = bench::MakeTempDirectory("velnor-querybench");
        try {
            Admin(path + " init");
            bool demo = true;
            try {
                Admin(path + " demo");
            } catch (const std::exception&) {
                // Without the full demo schema the big table is built here.
                demo = false;
                Admin(path + " service DEMO");
                Admin(path + " user DEMO SCOTT TIGER");
            }
            setenv("ORACLE_HOME", path.c_str(), 1);
            oracle::SetOCIDLL(path + "/lib/libclntsh.so");
            session.SetLogonUsername("SCOTT");
            session.SetLogonPassword("TIGER");
            session.SetLogonDatabase("DEMO");
            session.LogOn();
            if (!demo) FillBigTable();
        } catch (...) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
            throw;
        }
    }
    void FillBigTable() {
        oracle::TOracleQuery q(nullptr);
        q.SetSession(&session);
        q.SQL().Add(
            "create table big_table (id number(10) primary key, name varchar2(30), "
            "amount number(12,2), created date)");
        q.Execute();
        q.SQL().Clear();
        q.SQL().Add("insert into big_table values (:id, :name, :amount, :created)");
        q.Variables().AddVariable("id", oracle::otInteger);
        q.Variables().AddVariable("name", oracle::otString);
        q.Variables().AddVariable("amount", oracle::otFloat);
        q.Variables().AddVariable("created", oracle::otDate);
        constexpr int kRows = 100000;
        constexpr int kChunk = 5000;
        for (int start = 1; start <= kRows; start += kChunk) {
            std::vector<platform::TVariant> ids, names, amounts, dates;
            for (int id = start; id < start + kChunk; ++id) {
                ids.emplace_back(id);
                names.emplace_back("Name " + std::to_string(id));
                amounts.emplace_back(id * 1.25);
                dates.push_back(platform::TVariant::FromDateTime(36526.0 + id % 3650));
            }
            q.Variables().SetVariableValue("id", platform::TVariant::Array(std::move(ids)));
            q.Variables().SetVariableValue("name", platform::TVariant::Array(std::move(names)));
            q.Variables().SetVariableValue("amount", platform::TVariant::Array(std::move(amounts)));
            q.Variables().SetVariableValue("created", platform::TVariant::Array(std::move(dates)));
            q.Execute();
        }
        session.Commit();
    }
    ~DemoHome() {
        try {
            session.LogOff();
        } catch (...) {
        }
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
    oracle::TOracleSession session;
};

DemoHome& Home() {
    static DemoHome home;
    return home;
}

std::size_t QueryFetch() {
    oracle::TOracleQuery q(nullptr);
    q.SetSession(&Home().session);
    q.SetReadBuffer(1024);
    q.SQL().Add(kSql);
    q.Execute();
    std::size_t rows = 0;
    std::size_t bytes = 0;
    const int fields = q.FieldCount();
    for (; !q.Eof(); q.Next(), ++rows) {
        for (int i = 0; i < fields; ++i) bytes += q.FieldAsString(i).size();
    }
    benchmark::DoNotOptimize(bytes);
    return rows;
}

void Check(sword status, const char* what) {
    if (status != OCI_SUCCESS && status != OCI_NO_DATA && status != OCI_SUCCESS_WITH_INFO) {
        throw std::runtime_error(std::string(what) + " failed");
    }
}

// The same rows through the client library alone: every column defined as text.
std::size_t RawFetch() {
    const auto& oci = oracle::Oci();
    oracle::TOracleSession& session = Home().session;
    OCIError* err = nullptr;
    OCIStmt* stmt = nullptr;
    Check(oci.OCIHandleAlloc(session.EnvironmentHandle(), reinterpret_cast<void**>(&err),
                             OCI_HTYPE_ERROR, 0, nullptr),
          "OCIHandleAlloc");
    Check(oci.OCIHandleAlloc(session.EnvironmentHandle(), reinterpret_cast<void**>(&stmt),
                             OCI_HTYPE_STMT, 0, nullptr),
          "OCIHandleAlloc");
    const std::string sql = kSql;
    Check(oci.OCIStmtPrepare(stmt, err, reinterpret_cast<const OraText*>(sql.data()),
                             static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT),
          "OCIStmtPrepare");
    Check(oci.OCIStmtExecute(session.ServiceContext(), stmt, err, 0, 0, nullptr, nullptr,
                             OCI_DEFAULT),
          "OCIStmtExecute");
    constexpr std::size_t kColumns = 4;
    constexpr sb4 kWidth = 48;
    static std::array<char, kColumns * kBatch * kWidth> buffers;
    static std::array<sb2, kColumns * kBatch> indicators;
    static std::array<ub2, kColumns * kBatch> lengths;
    for (ub4 c = 0; c < kColumns; ++c) {
        OCIDefine* define = nullptr;
        Check(oci.OCIDefineByPos(stmt, &define, err, c + 1, &buffers[c * kBatch * kWidth], kWidth,
                                 SQLT_STR, &indicators[c * kBatch], &lengths[c * kBatch], nullptr,
                                 OCI_DEFAULT),
              "OCIDefineByPos");
    }
    std::size_t rows = 0;
    std::size_t bytes = 0;
    for (;;) {
        ub4 before = 0;
        oci.OCIAttrGet(stmt, OCI_HTYPE_STMT, &before, nullptr, OCI_ATTR_ROW_COUNT, err);
        const sword status = oci.OCIStmtFetch(stmt, err, kBatch, OCI_FETCH_NEXT, OCI_DEFAULT);
        Check(status, "OCIStmtFetch");
        ub4 after = 0;
        oci.OCIAttrGet(stmt, OCI_HTYPE_STMT, &after, nullptr, OCI_ATTR_ROW_COUNT, err);
        const ub4 got = after - before;
        for (ub4 r = 0; r < got; ++r) {
            for (std::size_t c = 0; c < kColumns; ++c) {
                bytes += std::string(&buffers[(c * kBatch + r) * kWidth]).size();
            }
        }
        rows += got;
        if (status == OCI_NO_DATA || got < kBatch) break;
    }
    oci.OCIHandleFree(stmt, OCI_HTYPE_STMT);
    oci.OCIHandleFree(err, OCI_HTYPE_ERROR);
    benchmark::DoNotOptimize(bytes);
    return rows;
}

double rawRowsPerSecond = 0;
double queryRowsPerSecond = 0;

template <std::size_t (*Fetch)()>
void Measure(benchmark::State& state, double& rate) {
    std::size_t rows = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) rows += Fetch();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetItemsProcessed(static_cast<std::int64_t>(rows));
    if (seconds > 0) rate = static_cast<double>(rows) / seconds;
}

void RawOciFetch(benchmark::State& state) {
    try {
        Measure<RawFetch>(state, rawRowsPerSecond);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(RawOciFetch)->Unit(benchmark::kMillisecond)->UseRealTime();

void OracleQueryFetch(benchmark::State& state) {
    try {
        Measure<QueryFetch>(state, queryRowsPerSecond);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(OracleQueryFetch)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    try {
        (void)Home();  // the home is made before anything is timed
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (rawRowsPerSecond > 0 && queryRowsPerSecond > 0) {
        std::printf(
            "raw OCI fetch: %.0f rows/s, TOracleQuery: %.0f rows/s, ratio %.2f (target 0.80)\n",
            rawRowsPerSecond, queryRowsPerSecond, queryRowsPerSecond / rawRowsPerSecond);
    }
    return 0;
}
