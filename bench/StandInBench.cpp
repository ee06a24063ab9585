// The stand-in client library against plain SQLite on the same data: a 100 000-row fetch of
// the demo table as text, and a 100 000-row array insert. Prints the speed ratios
// (stand-in / SQLite, targets 0.7 for the fetch and 0.8 for the inserts) and the row rates.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchHome.h"
#include "oracle/client/OciLibrary.h"

namespace {

using namespace velnor;

constexpr const char* kFetchSql = "SELECT ID, NAME, AMOUNT, CREATED FROM BIG_TABLE";
constexpr const char* kInsertSql = "INSERT INTO BENCH_INS (N, S) VALUES (:1, :2)";
constexpr ub4 kBatch = 1024;
constexpr std::size_t kColumns = 4;
constexpr sb4 kWidth = 48;
constexpr std::size_t kInsertRows = 100000;
constexpr sb4 kTextWidth = 41;

using bench::Admin;

void SqliteCheck(sqlite3* db, int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
    }
}

void SqliteExec(sqlite3* db, const char* sql) {
    SqliteCheck(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql);
}

// A demo home, one logon through the stand-in and two plain SQLite connections, for the run.
struct Fixture {
    Fixture() {
        home = bench::MakeTempDirectory("velnor-standinbench");
        try {
            Admin(home + " init");
            Admin(home + " demo");
            // The library reads its home at the first call.
            setenv("ORACLE_HOME", home.c_str(), 1);
            oracle::SetOCIDLL(home + "/lib/libclntsh.so");
            oracle::InitializeOCI();
            LogOn();
            OpenSqlite();
        } catch (...) {
            Close();
            throw;
        }
    }
    ~Fixture() { Close(); }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    void LogOn() {
        const auto& oci = oracle::Oci();
        if (oci.OCIEnvCreate(&env, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr) !=
            OCI_SUCCESS) {
            throw std::runtime_error("OCIEnvCreate failed");
        }
        Check(oci.OCIHandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr),
              "OCIHandleAlloc");
        const std::string user = "SCOTT", password = "TIGER", service = "DEMO";
        Check(oci.OCILogon(env, err, &svc, reinterpret_cast<const OraText*>(user.data()),
                           static_cast<ub4>(user.size()),
                           reinterpret_cast<const OraText*>(password.data()),
                           static_cast<ub4>(password.size()),
                           reinterpret_cast<const OraText*>(service.data()),
                           static_cast<ub4>(service.size())),
              "OCILogon");
    }

    void OpenSqlite() {
        const std::string schema = home + "/oradata/DEMO/SCOTT.db";
        int rc = sqlite3_open_v2(schema.c_str(), &demoDb, SQLITE_OPEN_READONLY, nullptr);
        SqliteCheck(demoDb, rc, "open schema file");
        const std::string scratch = home + "/scratch.db";
        rc = sqlite3_open(scratch.c_str(), &scratchDb);
        SqliteCheck(scratchDb, rc, "open scratch file");
        // The same journal settings the stand-in gives its schema files.
        SqliteExec(scratchDb, "PRAGMA journal_mode=WAL");
        SqliteExec(scratchDb, "PRAGMA synchronous=NORMAL");
    }

    void Close() noexcept {
        if (svc) {
            oracle::Oci().OCILogoff(svc, err);
            svc = nullptr;
        }
        if (err) {
            oracle::Oci().OCIHandleFree(err, OCI_HTYPE_ERROR);
            err = nullptr;
        }
        if (env) {
            oracle::Oci().OCIHandleFree(env, OCI_HTYPE_ENV);
            env = nullptr;
        }
        sqlite3_close(demoDb);
        sqlite3_close(scratchDb);
        demoDb = scratchDb = nullptr;
        if (!home.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(home, ignored);
            home.clear();
        }
    }

    // Raises with the library's own message, so a failing run says why.
    void Check(sword status, const char* what) const {
        if (status == OCI_SUCCESS || status == OCI_NO_DATA || status == OCI_SUCCESS_WITH_INFO) {
            return;
        }
        std::string message = std::string(what) + " failed";
        if (err) {
            std::array<OraText, 512> text{};
            sb4 code = 0;
            if (oracle::Oci().OCIErrorGet(err, 1, nullptr, &code, text.data(),
                                          static_cast<ub4>(text.size()),
                                          OCI_HTYPE_ERROR) == OCI_SUCCESS) {
                message += ": " + std::string(reinterpret_cast<const char*>(text.data()));
            }
        }
        throw std::runtime_error(message);
    }

    OCIStmt* Prepare(const char* sql) const {
        const auto& oci = oracle::Oci();
        OCIStmt* stmt = nullptr;
        Check(oci.OCIHandleAlloc(env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr),
              "OCIHandleAlloc");
        Check(oci.OCIStmtPrepare(stmt, err, reinterpret_cast<const OraText*>(sql),
                                 static_cast<ub4>(std::strlen(sql)), OCI_NTV_SYNTAX, OCI_DEFAULT),
              "OCIStmtPrepare");
        return stmt;
    }

    // Runs DDL; a failure is returned, not raised, since dropping a missing table is expected.
    sword Execute(const char* sql) const {
        OCIStmt* stmt = Prepare(sql);
        const sword status =
            oracle::Oci().OCIStmtExecute(svc, stmt, err, 1, 0, nullptr, nullptr, OCI_DEFAULT);
        oracle::Oci().OCIHandleFree(stmt, OCI_HTYPE_STMT);
        return status;
    }

    std::string home;
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCISvcCtx* svc = nullptr;
    sqlite3* demoDb = nullptr;
    sqlite3* scratchDb = nullptr;
};

Fixture& Fix() {
    static Fixture fixture;
    return fixture;
}

// Rows to insert, made once so neither side pays for formatting them.
struct InsertData {
    InsertData() : numbers(kInsertRows), texts(kInsertRows * kTextWidth) {
        for (std::size_t i = 0; i < kInsertRows; ++i) {
            numbers[i] = static_cast<sb4>(i + 1);
            std::snprintf(&texts[i * kTextWidth], kTextWidth, "Inserted row %zu", i + 1);
        }
    }
    const char* Text(std::size_t row) const { return &texts[row * kTextWidth]; }
    std::vector<sb4> numbers;
    std::vector<char> texts;
};

const InsertData& Data() {
    static const InsertData data;
    return data;
}

// A CSV import's row shape: NUMBER key, text, NUMBER(12,2) and DATE, as Velnor binds them
// (NUMBER bytes, text, 7-byte dates) and as plain SQLite gets them (int, text, double, text).
constexpr const char* kTypedSql =
    "INSERT INTO BENCH_TYP (ID, NAME, AMOUNT, CREATED) VALUES (:1, :2, :3, :4)";
constexpr sb4 kNumberWidth = 22;
constexpr sb4 kNameWidth = 31;

// VARNUM bytes (length, exponent, base-100 digits) of cents / 100, cents > 0.
void PutVarnum(unsigned char* out, long long cents) {
    unsigned char pairs[12];
    int n = 0;
    for (long long c = cents; c; c /= 100) pairs[n++] = static_cast<unsigned char>(c % 100);
    int low = 0;
    while (pairs[low] == 0) ++low;
    int k = 1;
    out[k++] = static_cast<unsigned char>(193 + n - 2);
    for (int i = n - 1; i >= low; --i) out[k++] = static_cast<unsigned char>(pairs[i] + 1);
    out[0] = static_cast<unsigned char>(k - 1);
}

struct TypedData {
    TypedData()
        : ids(kInsertRows * kNumberWidth),
          amounts(kInsertRows * kNumberWidth),
          names(kInsertRows * kNameWidth),
          dates(kInsertRows * 7),
          cents(kInsertRows),
          dateTexts(kInsertRows * 20) {
        for (std::size_t i = 0; i < kInsertRows; ++i) {
            const auto n = static_cast<long long>(i);
            PutVarnum(&ids[i * kNumberWidth], (n + 1) * 100);
            cents[i] = n * 7919 % 10000000 + 1;
            PutVarnum(&amounts[i * kNumberWidth], cents[i]);
            std::snprintf(&names[i * kNameWidth], kNameWidth, "Customer %zu", i + 1);
            const int year = 2000 + static_cast<int>(i % 20), month = 1 + static_cast<int>(i % 12),
                      day = 1 + static_cast<int>(i % 28), hour = static_cast<int>(i % 24),
                      minute = static_cast<int>(i % 60), second = static_cast<int>(i * 7 % 60);
            unsigned char* d = &dates[i * 7];
            d[0] = static_cast<unsigned char>(100 + year / 100);
            d[1] = static_cast<unsigned char>(100 + year % 100);
            d[2] = static_cast<unsigned char>(month);
            d[3] = static_cast<unsigned char>(day);
            d[4] = static_cast<unsigned char>(hour + 1);
            d[5] = static_cast<unsigned char>(minute + 1);
            d[6] = static_cast<unsigned char>(second + 1);
            std::snprintf(&dateTexts[i * 20], 20, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
                          hour, minute, second);
        }
    }
    std::vector<unsigned char> ids, amounts;
    std::vector<char> names;
    std::vector<unsigned char> dates;
    std::vector<long long> cents;
    std::vector<char> dateTexts;
};

const TypedData& Typed() {
    static const TypedData data;
    return data;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::size_t OciFetch(std::size_t& bytes) {
    Fixture& f = Fix();
    const auto& oci = oracle::Oci();
    OCIStmt* stmt = f.Prepare(kFetchSql);
    f.Check(oci.OCIStmtExecute(f.svc, stmt, f.err, 0, 0, nullptr, nullptr, OCI_DEFAULT),
            "OCIStmtExecute");
    static std::array<char, kColumns * kBatch * kWidth> buffers;
    static std::array<sb2, kColumns * kBatch> indicators;
    static std::array<ub2, kColumns * kBatch> lengths;
    for (ub4 c = 0; c < kColumns; ++c) {
        OCIDefine* define = nullptr;
        f.Check(oci.OCIDefineByPos(stmt, &define, f.err, c + 1, &buffers[c * kBatch * kWidth],
                                   kWidth, SQLT_STR, &indicators[c * kBatch], &lengths[c * kBatch],
                                   nullptr, OCI_DEFAULT),
                "OCIDefineByPos");
    }
    std::size_t rows = 0;
    for (;;) {
        const sword status = oci.OCIStmtFetch(stmt, f.err, kBatch, OCI_FETCH_NEXT, OCI_DEFAULT);
        f.Check(status, "OCIStmtFetch");
        ub4 got = 0;
        f.Check(oci.OCIAttrGet(stmt, OCI_HTYPE_STMT, &got, nullptr, OCI_ATTR_ROWS_FETCHED, f.err),
                "OCIAttrGet");
        for (ub4 r = 0; r < got; ++r) {
            for (std::size_t c = 0; c < kColumns; ++c) bytes += lengths[c * kBatch + r];
        }
        rows += got;
        if (status == OCI_NO_DATA || got < kBatch) break;
    }
    oci.OCIHandleFree(stmt, OCI_HTYPE_STMT);
    return rows;
}

std::size_t SqliteFetch(std::size_t& bytes) {
    sqlite3* db = Fix().demoDb;
    sqlite3_stmt* stmt = nullptr;
    SqliteCheck(db, sqlite3_prepare_v2(db, kFetchSql, -1, &stmt, nullptr), "prepare");
    std::size_t rows = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int c = 0; c < static_cast<int>(kColumns); ++c) {
            benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(stmt, c));
        }
        ++rows;
    }
    sqlite3_finalize(stmt);
    SqliteCheck(db, rc, "step");
    return rows;
}

// Executes the prepared insert over all rows in batches; `fill(start, count)` puts each
// batch into the bound arrays. Commits and frees the statement.
template <class Fill>
void ExecuteInBatches(Fixture& f, OCIStmt* stmt, Fill fill) {
    const auto& oci = oracle::Oci();
    for (std::size_t start = 0; start < kInsertRows; start += kBatch) {
        const ub4 count = static_cast<ub4>(std::min<std::size_t>(kBatch, kInsertRows - start));
        fill(start, std::size_t{count});
        f.Check(oci.OCIStmtExecute(f.svc, stmt, f.err, count, 0, nullptr, nullptr, OCI_DEFAULT),
                "OCIStmtExecute");
    }
    f.Check(oci.OCITransCommit(f.svc, f.err, OCI_DEFAULT), "OCITransCommit");
    oci.OCIHandleFree(stmt, OCI_HTYPE_STMT);
}

void OciInsert() {
    Fixture& f = Fix();
    const InsertData& data = Data();
    const auto& oci = oracle::Oci();
    static std::array<sb4, kBatch> numbers;
    static std::array<char, kBatch * kTextWidth> texts;
    OCIStmt* stmt = f.Prepare(kInsertSql);
    OCIBind* bindN = nullptr;
    OCIBind* bindS = nullptr;
    f.Check(oci.OCIBindByPos(stmt, &bindN, f.err, 1, numbers.data(), sizeof(sb4), SQLT_INT, nullptr,
                             nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            "OCIBindByPos");
    f.Check(oci.OCIBindByPos(stmt, &bindS, f.err, 2, texts.data(), kTextWidth, SQLT_STR, nullptr,
                             nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            "OCIBindByPos");
    ExecuteInBatches(f, stmt, [&](std::size_t start, std::size_t count) {
        std::memcpy(numbers.data(), &data.numbers[start], count * sizeof(sb4));
        std::memcpy(texts.data(), data.Text(start), count * static_cast<std::size_t>(kTextWidth));
    });
}

// One row of a prepared insert, ready for the next.
void StepInsert(sqlite3* db, sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) {
        sqlite3_finalize(stmt);
        SqliteCheck(db, rc, "step");
    }
    sqlite3_reset(stmt);
}

void SqliteInsert() {
    sqlite3* db = Fix().scratchDb;
    const InsertData& data = Data();
    sqlite3_stmt* stmt = nullptr;
    SqliteCheck(
        db,
        sqlite3_prepare_v2(db, "INSERT INTO BENCH_INS (N, S) VALUES (?1, ?2)", -1, &stmt, nullptr),
        "prepare");
    SqliteExec(db, "BEGIN");
    for (std::size_t i = 0; i < kInsertRows; ++i) {
        sqlite3_bind_int(stmt, 1, data.numbers[i]);
        sqlite3_bind_text(stmt, 2, data.Text(i), -1, SQLITE_STATIC);
        StepInsert(db, stmt);
    }
    SqliteExec(db, "COMMIT");
    sqlite3_finalize(stmt);
}

void OciTypedInsert() {
    Fixture& f = Fix();
    const TypedData& data = Typed();
    const auto& oci = oracle::Oci();
    static std::array<unsigned char, kBatch * kNumberWidth> ids, amounts;
    static std::array<char, kBatch * kNameWidth> names;
    static std::array<unsigned char, kBatch * 7> dates;
    OCIStmt* stmt = f.Prepare(kTypedSql);
    OCIBind* bind = nullptr;
    const auto byPos = [&](ub4 pos, void* buffer, sb4 width, ub2 type) {
        f.Check(oci.OCIBindByPos(stmt, &bind, f.err, pos, buffer, width, type, nullptr, nullptr,
                                 nullptr, 0, nullptr, OCI_DEFAULT),
                "OCIBindByPos");
    };
    byPos(1, ids.data(), kNumberWidth, SQLT_VNU);
    byPos(2, names.data(), kNameWidth, SQLT_STR);
    byPos(3, amounts.data(), kNumberWidth, SQLT_VNU);
    byPos(4, dates.data(), 7, SQLT_DAT);
    ExecuteInBatches(f, stmt, [&](std::size_t start, std::size_t count) {
        std::memcpy(ids.data(), &data.ids[start * kNumberWidth], count * kNumberWidth);
        std::memcpy(names.data(), &data.names[start * kNameWidth], count * kNameWidth);
        std::memcpy(amounts.data(), &data.amounts[start * kNumberWidth], count * kNumberWidth);
        std::memcpy(dates.data(), &data.dates[start * 7], count * 7);
    });
}

void SqliteTypedInsert() {
    sqlite3* db = Fix().scratchDb;
    const TypedData& data = Typed();
    sqlite3_stmt* stmt = nullptr;
    SqliteCheck(db,
                sqlite3_prepare_v2(db,
                                   "INSERT INTO BENCH_TYP (ID, NAME, AMOUNT, CREATED) "
                                   "VALUES (?1, ?2, ?3, ?4)",
                                   -1, &stmt, nullptr),
                "prepare");
    SqliteExec(db, "BEGIN");
    for (std::size_t i = 0; i < kInsertRows; ++i) {
        sqlite3_bind_int64(stmt, 1, static_cast<sqlite3_int64>(i + 1));
        sqlite3_bind_text(stmt, 2, &data.names[i * kNameWidth], -1, SQLITE_STATIC);
        sqlite3_bind_double(stmt, 3, static_cast<double>(data.cents[i]) / 100);
        sqlite3_bind_text(stmt, 4, &data.dateTexts[i * 20], 19, SQLITE_STATIC);
        StepInsert(db, stmt);
    }
    SqliteExec(db, "COMMIT");
    sqlite3_finalize(stmt);
}

struct Rates {
    double ociFetch = 0, sqliteFetch = 0, ociInsert = 0, sqliteInsert = 0;
    double ociTyped = 0, sqliteTyped = 0;
} rates;

// Runs one side, timing only the work itself, and keeps its row rate for the summary.
template <class Setup, class Work, class After = void (*)()>
void Measure(
    benchmark::State& state, double& rate, Setup setup, Work work, After check = [] {}) {
    try {
        double total = 0;
        std::size_t rows = 0;
        for (auto _ : state) {
            setup();
            const auto start = Clock::now();
            rows += work();
            const double seconds = Seconds(start);
            state.SetIterationTime(seconds);
            total += seconds;
            check();
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(rows));
        if (total > 0) rate = static_cast<double>(rows) / total;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void Nothing() {}

// Counts through a plain connection, so a commit the stand-in failed to write shows up.
void CheckInserted(sqlite3* db, const char* table = "BENCH_INS") {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("SELECT COUNT(*) FROM ") + table;
    SqliteCheck(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), "prepare");
    const int rc = sqlite3_step(stmt);
    const sqlite3_int64 count = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    if (count != static_cast<sqlite3_int64>(kInsertRows)) {
        throw std::runtime_error(std::string(table) + " holds " + std::to_string(count) + " rows");
    }
}

std::size_t CheckedFetch(std::size_t (*fetch)(std::size_t&)) {
    std::size_t bytes = 0;
    const std::size_t rows = fetch(bytes);
    if (rows != 100000) throw std::runtime_error("fetched " + std::to_string(rows) + " rows");
    benchmark::DoNotOptimize(bytes);
    return rows;
}

void BM_SqliteFetch(benchmark::State& state) {
    Measure(state, rates.sqliteFetch, Nothing, [] { return CheckedFetch(SqliteFetch); });
}
void BM_StandInFetch(benchmark::State& state) {
    Measure(state, rates.ociFetch, Nothing, [] { return CheckedFetch(OciFetch); });
}

void BM_SqliteInsert(benchmark::State& state) {
    Measure(
        state, rates.sqliteInsert,
        [] {
            SqliteExec(Fix().scratchDb, "DROP TABLE IF EXISTS BENCH_INS");
            SqliteExec(Fix().scratchDb, "CREATE TABLE BENCH_INS (N NUMERIC, S TEXT)");
        },
        [] {
            SqliteInsert();
            return kInsertRows;
        },
        [] { CheckInserted(Fix().scratchDb); });
}
void BM_StandInInsert(benchmark::State& state) {
    Measure(
        state, rates.ociInsert,
        [] {
            const Fixture& f = Fix();
            (void)f.Execute("DROP TABLE BENCH_INS");
            f.Check(f.Execute("CREATE TABLE BENCH_INS (N NUMBER(10), S VARCHAR2(40))"),
                    "CREATE TABLE");
        },
        [] {
            OciInsert();
            return kInsertRows;
        },
        [] { CheckInserted(Fix().demoDb); });
}

void BM_SqliteTypedInsert(benchmark::State& state) {
    Measure(
        state, rates.sqliteTyped,
        [] {
            SqliteExec(Fix().scratchDb, "DROP TABLE IF EXISTS BENCH_TYP");
            SqliteExec(Fix().scratchDb,
                       "CREATE TABLE BENCH_TYP (ID NUMERIC NOT NULL, NAME TEXT, AMOUNT NUMERIC, "
                       "CREATED TEXT, PRIMARY KEY (ID))");
        },
        [] {
            SqliteTypedInsert();
            return kInsertRows;
        },
        [] { CheckInserted(Fix().scratchDb, "BENCH_TYP"); });
}
void BM_StandInTypedInsert(benchmark::State& state) {
    Measure(
        state, rates.ociTyped,
        [] {
            const Fixture& f = Fix();
            (void)f.Execute("DROP TABLE BENCH_TYP");
            f.Check(f.Execute("CREATE TABLE BENCH_TYP (ID NUMBER(10) NOT NULL, NAME VARCHAR2(30), "
                              "AMOUNT NUMBER(12,2), CREATED DATE, PRIMARY KEY (ID))"),
                    "CREATE TABLE");
        },
        [] {
            OciTypedInsert();
            return kInsertRows;
        },
        [] { CheckInserted(Fix().demoDb, "BENCH_TYP"); });
}

BENCHMARK(BM_SqliteFetch)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_StandInFetch)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_SqliteInsert)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_StandInInsert)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_SqliteTypedInsert)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_StandInTypedInsert)->Unit(benchmark::kMillisecond)->UseManualTime();

void PrintRatio(const char* what, double standIn, double sqlite, double target) {
    if (standIn <= 0 || sqlite <= 0) {
        std::printf("%s: not measured\n", what);
        return;
    }
    const double ratio = standIn / sqlite;
    std::printf("%s: stand-in %.0f rows/s, SQLite %.0f rows/s, ratio %.2f (target %.2f%s)\n", what,
                standIn, sqlite, ratio, target, ratio >= target ? "" : ", missed");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    try {
        // The home and the rows are made before anything is timed.
        (void)Fix();
        (void)Data();
        (void)Typed();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatio("fetch", rates.ociFetch, rates.sqliteFetch, 0.7);
    PrintRatio("array insert", rates.ociInsert, rates.sqliteInsert, 0.8);
    PrintRatio("typed array insert", rates.ociTyped, rates.sqliteTyped, 0.8);
    return 0;
}
