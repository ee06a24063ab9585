// The OCI7 interface: one cursor data area per statement whose return code reports every
// call, describe column by column, and LONG values read on demand from the current row.
#include <algorithm>
#include <cstring>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "oracle/session/SessionLock.h"
#include "platform/Exception.h"

namespace velnor::oracle::detail {

void TOci7Binder::Bind(const TBindRequest& r, TBoundState&) {
    if (!obndra_) throw platform::Exception("The client library has no obndra");
    const sword status =
        obndra_(cda_, reinterpret_cast<OraText*>(r.name.data()), -1, static_cast<ub1*>(r.value),
                r.valueSize, r.externalType, -1, r.indicators, r.lengths, nullptr, r.maxElements,
                r.currentCount, nullptr, -1, -1);
    if (check_) check_(status);
}

namespace {

constexpr int kVarNotInSelectList = 1007;
constexpr std::size_t kLongChunk = 64000;

class TOci7Statement final : public TStatementBackend {
public:
    using TStatementBackend::TStatementBackend;

    int LastErrorCode() const override { return cda_.rc; }

    [[noreturn]] void RaiseLastError() const override {
        RaiseOracleError(&session_, TErrorSource::FromReturnCode(cda_.rc));
    }

    void Open(bool cursorVariable) override {
        if (cursorVariable) return;  // the cursor comes from the bind of the cursor variable
        cda_ = {};
        Oci().oopen(&cda_, session_.CurrentLDA(), nullptr, -1, -1, nullptr, -1);
        if (cda_.rc != 0) FailLastCall();
    }

    void Close(bool cursorVariable) noexcept override {
        if (cursorVariable) return;
        try {
            Oci().oclose(&cda_);
        } catch (...) {
            // An unbound entry point: the cursor dies with the connection.
        }
    }

    void* CursorVariableAddress() override { return &cda_; }

    bool NeedsFreshParse(const TVariables&, int) const override { return false; }

    int Parse(std::string& text, bool deferred) override {
        Oci().oparse(&cda_, reinterpret_cast<OraText*>(text.data()), -1, deferred ? 1 : 0, 2);
        return cda_.ft;
    }

    int Bind(TVariables& variables) override {
        TOci7Binder binder(&cda_, Oci().obndra.Get(), [this](sword status) { Check(status); });
        return variables.BindVariables(binder);
    }

    void FillMappingContext(TMappingContext& context) const override {
        context.longPrefix = kOci7LongPrefix;
    }

    // The select executes with its first fetch.
    TSelectRun ExecuteSelect(bool, bool, bool, int, ub4) override { return TSelectRun::kNotRun; }

    std::vector<TColumnDescription> DescribeColumns() override {
        std::vector<TColumnDescription> columns;
        for (sword p = 1;; ++p) {
            TSessionLock lock(&session_);
            sb4 dataSize = 0;
            sb2 dataType = 0;
            sb1 name[kMaxColumnNameLength + 1] = {};
            sb4 nameLength = static_cast<sb4>(kMaxColumnNameLength);
            sb4 displaySize = 0;
            sb2 precision = 0;
            sb2 scale = 0;
            sb2 nullable = 1;
            Oci().odescr(&cda_, p, &dataSize, &dataType, name, &nameLength, &displaySize,
                         &precision, &scale, &nullable);
            if (cda_.rc == kVarNotInSelectList) break;
            if (cda_.rc != 0) FailLastCall();
            columns.push_back(
                {.dataSize = dataSize,
                 .internalType = dataType,
                 .name = std::string(reinterpret_cast<const char*>(name),
                                     static_cast<std::size_t>(std::clamp<sb4>(
                                         nameLength, 0, static_cast<sb4>(kMaxColumnNameLength)))),
                 .precision = precision,
                 .scale = scale,
                 .nullable = nullable != 0});
        }
        return columns;
    }

    void Define(ub4 position, TFieldData& f, int defineType) override {
        Oci().odefin(&cda_, static_cast<sword>(position),
                     reinterpret_cast<ub1*>(f.buffer.empty() ? nullptr : f.buffer.data()),
                     static_cast<sword>(f.bufferSize), defineType, -1, f.indicators.data(), nullptr,
                     -1, -1, f.lengths.data(), f.returnCodes.data());
        CheckLast();
    }

    bool FirstFetch(bool cursorVariable, bool, int rows) override {
        if (cursorVariable) {
            Oci().ofen(&cda_, rows);
        } else {
            Oci().oexfet(&cda_, static_cast<ub4>(rows), 0, 0);
        }
        return true;
    }

    void Fetch(int rows) override { Oci().ofen(&cda_, rows); }

    int ExecuteOther(int iters, int rowoff, ub4, int) override {
        Oci().oexn(&cda_, iters, rowoff);
        return cda_.ft;
    }

    bool ReadRowCount(ub4& count) const override {
        count = cda_.rpc;
        return true;
    }

    [[noreturn]] void RaiseRowCountError() const override {
        throw EOracleError("The client library could not tell the row count", -1);
    }

    // A LOB query never gets this far on this interface: its describe refuses it.
    std::uint64_t LobLength(void*) override {
        throw platform::Exception("LOB access requires OCI8 mode");
    }
    void ReadLob(void*, std::size_t, const std::function<void(std::string_view)>&) override {
        throw platform::Exception("LOB access requires OCI8 mode");
    }

    std::size_t ReadLong(const TFieldData& f, int index, int row, std::byte* out,
                         std::size_t offset, std::size_t length) override {
        if (length > kLongChunk) {
            std::size_t copied = 0;
            while (copied < length) {
                const std::size_t want = std::min(kLongChunk, length - copied);
                const std::size_t got =
                    ReadLong(f, index, row, out + copied, offset + copied, want);
                copied += got;
                if (got < kLongChunk) break;
            }
            return copied;
        }
        const auto r = static_cast<std::size_t>(row);
        const std::size_t got = std::min<std::size_t>(f.lengths[r], f.bufferSize);
        std::size_t copied = 0;
        if (offset < got) {
            copied = std::min(got - offset, length);
            std::memcpy(out, f.Row(r) + offset, copied);
        }
        if (copied >= length || got != kOci7LongPrefix) return copied;
        if (offset + copied > static_cast<std::size_t>(SB4MAXVAL)) return copied;

        // The fetched part was full: the rest comes from the cursor's current row.
        TSessionLock lock(&session_);
        const ub4 savedCount = cda_.rpc;
        ub4 returned = 0;
        Oci().oflng(&cda_, static_cast<sword>(index + 1), reinterpret_cast<ub1*>(out + copied),
                    static_cast<sb4>(length - copied), f.typeCode, &returned,
                    static_cast<sb4>(offset + copied));
        cda_.rpc = savedCount;
        if (cda_.rc != 0) RaiseLastError();
        return copied + std::min<std::size_t>(returned, length - copied);
    }

    std::optional<std::size_t> KnownLongLength(const TFieldData&) const override {
        return std::nullopt;
    }

    std::string RowIdText() const override {
        return FormatRowId(cda_.rid.rd.rcs4, cda_.rid.rd.rcs5, cda_.rid.rcs7, cda_.rid.rcs8);
    }
    const void* Handle() const noexcept override { return &cda_; }

protected:
    sword LastStatus() const noexcept override { return static_cast<sword>(cda_.rc); }
    void StoreStatus(sword) noexcept override {}  // the cursor keeps the return code

private:
    Cda_Def cda_{};
};

class TOci7Connection final : public TConnectionBackend {
public:
    using TConnectionBackend::TConnectionBackend;

    void Commit() override { Call(Oci().ocom); }
    void Rollback() override { Call(Oci().orol); }
    void SetAutoCommit(bool value) override { Call(value ? Oci().ocon : Oci().ocof); }

    void RunStatement(const std::string& sql) override {
        const TOciFunctions& t = Oci();
        Cda_Def cda{};
        t.oopen(&cda, session_.CurrentLDA(), nullptr, -1, -1, nullptr, -1);
        CheckOci7(&session_, cda.rc);
        struct TClose {
            Cda_Def* cda;
            ~TClose() {
                if (Oci().oclose) Oci().oclose(cda);
            }
        } close{&cda};
        std::string text = sql;  // the OCI7 calls take non-const text
        t.oparse(&cda, reinterpret_cast<OraText*>(text.data()), -1, 0, 2);
        CheckOci7(&session_, cda.rc);
        t.oexec(&cda);
        CheckOci7(&session_, cda.rc);
    }

    std::unique_ptr<TStatementBackend> NewStatement(TVariables&,
                                                    std::function<void()> beforeError) override {
        return std::make_unique<TOci7Statement>(session_, std::move(beforeError));
    }

private:
    // A call on the logon data area, which keeps its return code.
    template <class Fn>
    void Call(const Fn& entryPoint) {
        TSessionLock lock(&session_);
        Lda_Def* lda = session_.CurrentLDA();
        entryPoint(lda);
        CheckOci7(&session_, lda->rc);
    }
};

}  // namespace

std::unique_ptr<TConnectionBackend> NewOci7Backend(TOracleSession& session) {
    return std::make_unique<TOci7Connection>(session);
}

}  // namespace velnor::oracle::detail
