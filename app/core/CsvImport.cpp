// TUserTable::ImportCsv: the records of a CSV file into a table, in batches of array DML.
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/core/CsvDecodingSource.h"
#include "app/core/CsvLob.h"
#include "app/core/CsvReader.h"
#include "app/core/CsvRowConverter.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "oracle/client/OracleError.h"
#include "oracle/query/Variables.h"
#include "platform/RegionalSettings.h"
#include "platform/Variant.h"

namespace velnor::app {
namespace {

using platform::TVariant;

// One placeholder of the INSERT and the column whose values it carries.
struct TBoundColumn {
    std::size_t column;
    std::string name;
    std::vector<TVariant> values;      // the batch being collected
    std::vector<std::size_t> lengths;  // text columns: bytes of each value, for errors
    int lobType = 0;                   // CLOB or BLOB: the field goes as it is
    std::vector<char> emptyLobs;       // LOB columns: the record's field was ""
};

std::string LinesText(std::int64_t first, std::int64_t last) {
    if (first == last) return std::to_string(first) + " 行目";
    return std::to_string(first) + "〜" + std::to_string(last) + " 行目";
}

[[noreturn]] void RaiseValueTooLong(std::int64_t line, std::size_t column, const std::string& name,
                                    std::size_t limit) {
    throw ECsvError(std::to_string(line) + " 行目 " + std::to_string(column + 1) + " 列目 (" +
                        name + "): 値が長すぎます (" + std::to_string(limit) + " バイトまで)",
                    line, static_cast<int>(column + 1));
}

// How a column of an array batch is written into its bind slots.
enum class TSlotForm { Number, Text, Date, Double };

struct TArrayColumn {
    std::size_t column;
    int variable;  // index among the query's variables
    TSlotForm form;
    std::size_t maxText = 0;  // a fixed text form's longest value, 0 for the bind limit
};

// Records in the bind buffers of the array columns, filled apart from the statement.
struct TBatch {
    std::vector<oracle::TArrayBuffer> columns;  // one per TArrayColumn
    std::vector<std::int64_t> lines;            // file line of each record
    std::uint64_t bytes = 0;                    // file bytes read when the batch was complete
};

// Reads and converts records into batches on its own thread while the previous batch
// executes. It makes no client library call; batches come out in file order, and what stopped
// the reading is raised only after every batch read before it.
class TBatchReader {
public:
    TBatchReader(TCsvReader& reader, const TCsvRowConverter& converter,
                 std::vector<TArrayColumn> columns, bool convertCRLF,
                 std::function<std::uint64_t()> bytesRead, std::vector<TBatch>& batches)
        : reader_(reader),
          converter_(converter),
          columns_(std::move(columns)),
          convertCRLF_(convertCRLF),
          bytesRead_(std::move(bytesRead)) {
        for (auto& b : batches) free_.push_back(&b);
        thread_ = std::thread([this] { Run(); });
    }

    ~TBatchReader() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    TBatchReader(const TBatchReader&) = delete;
    TBatchReader& operator=(const TBatchReader&) = delete;

    // The next batch, null after the last.
    TBatch* Next() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !full_.empty() || done_; });
        if (!full_.empty()) {
            TBatch* batch = full_.front();
            full_.pop_front();
            return batch;
        }
        if (error_) std::rethrow_exception(error_);
        return nullptr;
    }

    // Gives an executed batch back for the next records.
    void Release(TBatch* batch) {
        {
            std::lock_guard lock(mutex_);
            free_.push_back(batch);
        }
        changed_.notify_all();
    }

    // File bytes read in all; valid once Next returned null.
    [[nodiscard]] std::uint64_t EndBytes() {
        std::lock_guard lock(mutex_);
        return endBytes_;
    }

private:
    void Run() noexcept {
        try {
            for (;;) {
                TBatch* batch = nullptr;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || !free_.empty(); });
                    if (stop_) return;
                    batch = free_.front();
                    free_.pop_front();
                }
                const bool more = Fill(*batch);
                {
                    std::lock_guard lock(mutex_);
                    if (!batch->lines.empty()) full_.push_back(batch);
                    if (!more) {
                        done_ = true;
                        endBytes_ = batch->bytes;
                    }
                }
                changed_.notify_all();
                if (!more) return;
            }
        } catch (...) {
            {
                std::lock_guard lock(mutex_);
                error_ = std::current_exception();
                done_ = true;
            }
            changed_.notify_all();
        }
    }

    // Up to a batch of records; false at the end of the file.
    bool Fill(TBatch& batch) {
        batch.lines.clear();
        const std::size_t rows = batch.columns.empty() ? 0 : batch.columns[0].indicators.size();
        bool more = true;
        while (batch.lines.size() < rows) {
            if (!reader_.ReadRecord()) {
                more = false;
                break;
            }
            const std::int64_t line = reader_.RecordLine();
            converter_.Convert(reader_.Fields(), line, values_);
            Store(batch, batch.lines.size(), line);
            batch.lines.push_back(line);
        }
        batch.bytes = bytesRead_();
        return more;
    }

    void Store(TBatch& batch, std::size_t row, std::int64_t line) {
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const TArrayColumn& column = columns_[k];
            oracle::TArrayBuffer& buffer = batch.columns[k];
            const TCsvValue& value = values_[column.column];
            if (value.kind == TCsvValue::Kind::Null) {
                buffer.indicators[row] = -1;
                continue;
            }
            auto* slot = reinterpret_cast<std::uint8_t*>(buffer.Slot(row));
            switch (column.form) {
                case TSlotForm::Number:
                    TCsvRowConverter::NumberVarnum(value.text, slot);
                    break;
                case TSlotForm::Date:
                    TCsvRowConverter::DateBytes(value.text, slot);
                    break;
                case TSlotForm::Double:
                    std::memcpy(slot, &value.binary, sizeof value.binary);
                    break;
                case TSlotForm::Text:
                    StoreText(value.text, slot, buffer.elementSize - 1, line, column.column);
                    break;
            }
            buffer.indicators[row] = 0;
        }
    }

    void StoreText(const std::string& text, std::uint8_t* slot, std::size_t limit,
                   std::int64_t line, std::size_t column) const {
        std::size_t length = 0;
        if (convertCRLF_ && text.find('\r') != std::string::npos) {
            for (char c : text) {
                if (c == '\r') continue;
                if (length == limit)
                    RaiseValueTooLong(line, column, converter_.Columns()[column].name, limit);
                slot[length++] = static_cast<std::uint8_t>(c);
            }
        } else {
            length = text.size();
            if (length > limit)
                RaiseValueTooLong(line, column, converter_.Columns()[column].name, limit);
            std::memcpy(slot, text.data(), length);
        }
        slot[length] = 0;
    }

    TCsvReader& reader_;
    const TCsvRowConverter& converter_;
    const std::vector<TArrayColumn> columns_;
    const bool convertCRLF_;
    const std::function<std::uint64_t()> bytesRead_;
    std::vector<TCsvValue> values_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TBatch*> free_;
    std::deque<TBatch*> full_;
    std::exception_ptr error_;
    std::uint64_t endBytes_ = 0;
    bool done_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

class TImporter {
public:
    TImporter(TCustomOracleQuery& query, std::vector<TCsvColumn> columns, const std::string& table)
        : query_(query),
          table_(table),
          converter_(std::move(columns), platform::RegionalSettings().decimalSymbol) {
        std::string insert = "INSERT INTO " + table + " VALUES(";
        const auto& cols = converter_.Columns();
        // LONG, LONG RAW and LOB values take a variable's whole buffer: those tables go a
        // record at a time; all others in arrays filled in place.
        bool arrays = true;
        for (const auto& column : cols) {
            const TCsvForm form = column.Form();
            if (form == TCsvForm::Long || form == TCsvForm::LongRaw || form == TCsvForm::Lob)
                arrays = false;
        }
        std::vector<TArrayColumn> arrayColumns;
        for (std::size_t c = 0; c < cols.size(); ++c) {
            if (c > 0) insert += ",";
            const TCsvForm form = cols[c].Form();
            std::string name = ":C" + std::to_string(c + 1);
            std::string value = name;
            int variableType = oracle::otString;
            TSlotForm slot = TSlotForm::Text;
            switch (form) {
                case TCsvForm::Integer:
                case TCsvForm::Float:
                case TCsvForm::Number:
                    // Numbers go as Oracle's NUMBER bytes, so every digit arrives and the
                    // column's own rounding is the only one.
                    variableType = oracle::otNumber;
                    slot = TSlotForm::Number;
                    break;
                case TCsvForm::Text:
                    break;
                case TCsvForm::Date:
                    if (arrays) {
                        // Checked and turned into Oracle's DATE bytes here, not by TO_DATE.
                        variableType = oracle::otDate;
                        slot = TSlotForm::Date;
                    } else {
                        value = "TO_DATE(" + name + ",'" + kCsvDateFormat + "')";
                    }
                    break;
                case TCsvForm::Raw:
                    value = "HEXTORAW(" + name + ")";
                    break;
                case TCsvForm::Long:
                    variableType = oracle::otLong;
                    wholeValues_ = true;
                    break;
                case TCsvForm::LongRaw:
                    variableType = oracle::otLongRaw;
                    wholeValues_ = true;
                    break;
                case TCsvForm::Timestamp:
                    value = "TO_TIMESTAMP(" + name + ",'" + kCsvTimestampFormat + "')";
                    break;
                case TCsvForm::TimestampTz:
                case TCsvForm::TimestampLtz:
                    value = "TO_TIMESTAMP_TZ(" + name + ",'" + kCsvTimestampTzFormat + "')";
                    break;
                case TCsvForm::IntervalYm:
                    value = "TO_YMINTERVAL(" + name + ")";
                    break;
                case TCsvForm::IntervalDs:
                    value = "TO_DSINTERVAL(" + name + ")";
                    break;
                case TCsvForm::BinaryFloat:
                case TCsvForm::BinaryDouble:
                    // A native double holds either type's value exactly, NaN included.
                    variableType = oracle::otFloat;
                    slot = TSlotForm::Double;
                    break;
                case TCsvForm::Lob:
                    // Text of any length; a BLOB's hexadecimal text converts in the database.
                    variableType = oracle::otLong;
                    wholeValues_ = true;
                    break;
                case TCsvForm::Unrepresentable:
                    insert += "NULL";  // the files carry no values for these columns
                    continue;
            }
            insert += value;
            query_.Variables().AddVariable(name, variableType);
            // Checked timestamp and interval texts are at most 37 bytes long.
            const bool fixedText = form == TCsvForm::Timestamp || form == TCsvForm::TimestampTz ||
                                   form == TCsvForm::TimestampLtz || form == TCsvForm::IntervalYm ||
                                   form == TCsvForm::IntervalDs;
            arrayColumns.push_back(
                {c, query_.Variables().Count() - 1, slot, fixedText ? std::size_t{64} : 0});
            bound_.push_back({c, std::move(name), {}, {}, 0, {}});
            bound_.back().values.reserve(TUserTable::ImportBatchRows);
            if (form == TCsvForm::Lob) bound_.back().lobType = cols[c].type;
        }
        query_.SetText(insert + ")");
        if (arrays && !bound_.empty()) arrays_ = std::move(arrayColumns);
        query_.OnArrayError = [this](oracle::TOracleQuery&, int index, int errorCode,
                                     const std::string& message, bool& continueRun) {
            failedRow_ = index;
            failedCode_ = errorCode;
            failedMessage_ = message;
            continueRun = false;
        };
    }

    [[nodiscard]] std::size_t ColumnCount() const noexcept { return converter_.Columns().size(); }
    [[nodiscard]] std::int64_t RowsInserted() const noexcept { return inserted_; }
    [[nodiscard]] std::size_t Pending() const noexcept { return lines_.size(); }
    // Whether every value goes in arrays (ImportArrays), not a record at a time (Add, Flush).
    [[nodiscard]] bool Arrays() const noexcept { return !arrays_.empty(); }

    // The records after the header in batches; `report` gets the file bytes read after each
    // full batch and at the end.
    void ImportArrays(TCsvReader& reader, std::function<std::uint64_t()> bytesRead,
                      const std::function<void(std::uint64_t)>& report) {
        constexpr auto kRows = static_cast<std::size_t>(TUserTable::ImportBatchRows);
        auto& variables = query_.Variables();
        // One executes while the others fill: a few, so the reader can run ahead while either
        // thread waits for a busy processor.
        std::vector<TBatch> batches(kBatches);
        for (auto& batch : batches) {
            for (const auto& column : arrays_)
                batch.columns.push_back(
                    variables.NewArrayBuffer(column.variable, kRows, column.maxText));
            batch.lines.reserve(kRows);
        }
        TBatchReader batchReader(reader, converter_, arrays_, variables.ConvertsLineBreaks(),
                                 std::move(bytesRead), batches);
        while (TBatch* batch = batchReader.Next()) {
            const std::size_t rows = batch->lines.size();
            for (std::size_t k = 0; k < arrays_.size(); ++k) {
                batch->columns[k].indicators.resize(rows);
                variables.SwapArray(arrays_[k].variable, batch->columns[k]);
            }
            Execute(batch->lines, 0, rows - 1);
            for (std::size_t k = 0; k < arrays_.size(); ++k) {
                variables.SwapArray(arrays_[k].variable, batch->columns[k]);
                batch->columns[k].indicators.resize(kRows, -1);
            }
            inserted_ += static_cast<std::int64_t>(rows);
            const std::uint64_t bytes = batch->bytes;
            batchReader.Release(batch);
            if (rows == kRows) report(bytes);
        }
        report(batchReader.EndBytes());
    }

    void Add(const TCsvReader& reader) {
        const std::span<const std::string> fields = reader.Fields();
        const std::int64_t line = reader.RecordLine();
        converter_.Convert(fields, line, values_);
        for (auto& b : bound_) {
            if (b.lobType) {
                AddLob(b, fields, line);
                // "" is an empty LOB, an empty field NULL; a lone "" is a NULL row.
                b.emptyLobs.push_back(b.values.back().IsNull() && reader.FieldQuoted(b.column) &&
                                      ColumnCount() > 1);
                continue;
            }
            TCsvValue& value = values_[b.column];
            switch (value.kind) {
                case TCsvValue::Kind::Null:
                    b.values.push_back(TVariant::Null());
                    b.lengths.push_back(0);
                    break;
                case TCsvValue::Kind::Number:
                    b.values.emplace_back(std::move(value.text));
                    b.lengths.push_back(0);
                    break;
                case TCsvValue::Kind::Text:
                    b.lengths.push_back(value.text.size());
                    b.values.emplace_back(std::move(value.text));
                    break;
                case TCsvValue::Kind::Bytes:
                    b.values.push_back(TVariant::FromBytes(value.text.data(), value.text.size()));
                    b.lengths.push_back(0);
                    break;
                case TCsvValue::Kind::Binary:
                    b.values.emplace_back(value.binary);
                    b.lengths.push_back(0);
                    break;
            }
        }
        lines_.push_back(line);
        // LOB values may be large: few records wait at a time.
        if (lobs_ && lines_.size() >= kLobBatchRows) Flush();
    }

    void Flush() {
        if (lines_.empty()) return;
        if (bound_.empty()) {
            // No column takes a value: one execution per record.
            for (std::size_t r = 0; r < lines_.size(); ++r) Execute(lines_, r, r);
        } else if (wholeValues_) {
            // A LONG or LONG RAW value takes its variable's whole buffer: one record at a time.
            for (std::size_t r = 0; r < lines_.size(); ++r) {
                for (auto& b : bound_) {
                    try {
                        query_.Variables().SetVariableValue(b.name, b.values[r]);
                    } catch (const platform::Exception&) {
                        RaiseTooLong(b);
                        throw;
                    }
                }
                Execute(lines_, r, r);
                SetEmptyLobs(r);
            }
            for (auto& b : bound_) {
                b.values.clear();
                b.lengths.clear();
                b.emptyLobs.clear();
            }
        } else {
            for (auto& b : bound_) Store(b);
            Execute(lines_, 0, lines_.size() - 1);
        }
        inserted_ += static_cast<std::int64_t>(lines_.size());
        lines_.clear();
    }

private:
    static constexpr std::size_t kLobBatchRows = 16;
    static constexpr std::size_t kBatches = 4;

    // The field itself: an empty one is NULL, a BLOB's must be hexadecimal.
    void AddLob(TBoundColumn& b, std::span<const std::string> fields, std::int64_t line) {
        lobs_ = true;
        const std::string empty;
        const std::string& field = b.column < fields.size() ? fields[b.column] : empty;
        CheckLobField(b.lobType, field, line, static_cast<int>(b.column + 1),
                      converter_.Columns()[b.column].name);
        b.values.push_back(field.empty() ? TVariant::Null() : TVariant(field));
        b.lengths.push_back(field.size());
    }

    // An empty bind inserts NULL, so the record's empty LOBs are set on the row just inserted.
    void SetEmptyLobs(std::size_t r) {
        std::string set;
        for (const auto& b : bound_) {
            if (!b.lobType || !b.emptyLobs[r]) continue;
            if (!set.empty()) set += ",";
            set += QuoteIdentifier(converter_.Columns()[b.column].name) +
                   (b.lobType == oracle::otBLOB ? "=EMPTY_BLOB()" : "=EMPTY_CLOB()");
        }
        if (set.empty()) return;
        const std::string rowId = query_.RowIdText();
        if (rowId.empty()) {
            throw oracle::EOracleError(
                LinesText(lines_[r], lines_[r]) +
                    ": 空の LOB を書き込めません (クライアントが行の ROWID を返しません)",
                0);
        }
        TCustomOracleQuery update(*query_.Session());
        update.SetText("UPDATE " + table_ + " SET " + set + " WHERE ROWID=:R");
        update.Variables().AddVariable(":R", oracle::otString);
        update.Variables().SetVariableValue(":R", TVariant(rowId));
        update.Execute();
    }

    void Store(TBoundColumn& b) {
        try {
            query_.Variables().SetVariableValue(b.name, TVariant::Array(std::move(b.values)));
        } catch (const platform::Exception&) {
            RaiseTooLong(b);
            throw;
        }
        b.values.clear();
        b.values.reserve(TUserTable::ImportBatchRows);
        b.lengths.clear();
    }

    // A text longer than the bind buffer names its line instead of the variable.
    void RaiseTooLong(const TBoundColumn& b) const {
        const auto* variable = query_.Variables().Find(b.name);
        if (!variable || variable->ElementSize() == 0) return;
        const std::size_t limit = variable->ElementSize() - 1;
        for (std::size_t r = 0; r < b.lengths.size(); ++r) {
            if (b.lengths[r] > limit)
                RaiseValueTooLong(lines_[r], b.column, converter_.Columns()[b.column].name, limit);
        }
    }

    void Execute(const std::vector<std::int64_t>& lines, std::size_t first, std::size_t last) {
        failedRow_ = -1;
        try {
            query_.Execute();
        } catch (const oracle::EOracleError& e) {
            // The client named no row: the error belongs to the whole batch.
            throw oracle::EOracleError(LinesText(lines[first], lines[last]) + ": " + e.Message(),
                                       e.ErrorCode());
        }
        if (failedRow_ >= 0) {
            const std::size_t row = first + static_cast<std::size_t>(failedRow_);
            const std::int64_t line = row <= last ? lines[row] : lines[last];
            throw oracle::EOracleError(LinesText(line, line) + ": " + failedMessage_, failedCode_);
        }
    }

    TCustomOracleQuery& query_;
    std::string table_;  // quoted
    TCsvRowConverter converter_;
    std::vector<TBoundColumn> bound_;
    std::vector<TArrayColumn> arrays_;  // empty when the records go one at a time
    bool wholeValues_ = false;          // a LONG, LONG RAW or LOB column is bound
    bool lobs_ = false;                 // a LOB column is bound
    std::vector<TCsvValue> values_;
    std::vector<std::int64_t> lines_;  // file line of each pending record
    std::int64_t inserted_ = 0;
    int failedRow_ = -1;
    int failedCode_ = 0;
    std::string failedMessage_;
};

}  // namespace

void TUserTable::ImportCsv(const std::string& fileName, const std::string& tableName,
                           const TProgressCallback& progress, TTextEncoding encoding) {
    try {
        Import(fileName, tableName, progress, encoding);
    } catch (const EInOutError& e) {
        // Shown away from the file's context: the message names it.
        throw EInOutError(e.ErrorCode(), e.FileName(), true);
    }
}

void TUserTable::Import(const std::string& fileName, const std::string& tableName,
                        const TProgressCallback& progress, TTextEncoding encoding) {
    TCsvFileSource file(fileName);
    // A client in another character set hands the program text in it: the file's bytes go
    // as they are, as they always did.
    const bool convert = TUserTable::TextIsUtf8();
    TCsvDecodingSource decoding(file, encoding);
    TCsvSource& source = convert ? static_cast<TCsvSource&>(decoding) : file;
    TCustomOracleQuery query(session_);
    const std::string table = QuoteIdentifier(tableName);
    query.SetText("SELECT * FROM " + table + " WHERE ROWNUM=0");
    query.SetExactNumbers(true);
    query.Execute();
    std::vector<TCsvColumn> columns;
    for (int i = 0; i < query.FieldCount(); ++i)
        columns.push_back({query.FieldName(i), query.FieldType(i), query.FieldInternalType(i)});
    query.CloseStatement();

    TImporter importer(query, std::move(columns), table);
    TCsvReader reader(source);
    if (!reader.ReadRecord()) return;  // no header: nothing to import
    reader.SetMaxFields(importer.ColumnCount());
    // Bytes of the file, not of its decoded text: a little ahead of the reader.
    const auto bytesRead = [&]() -> std::uint64_t {
        return convert ? decoding.SourceBytes() : reader.BytesRead();
    };
    const auto report = [&](std::uint64_t bytes) {
        if (progress && !progress({importer.RowsInserted(), bytes, file.Size()})) {
            throw ECancelled();
        }
    };
    if (importer.Arrays()) {
        importer.ImportArrays(reader, bytesRead, report);
        return;
    }
    while (reader.ReadRecord()) {
        importer.Add(reader);
        if (importer.Pending() == static_cast<std::size_t>(ImportBatchRows)) {
            importer.Flush();
            report(bytesRead());
        }
    }
    importer.Flush();
    report(bytesRead());
}

}  // namespace velnor::app
