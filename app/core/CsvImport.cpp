// TUserTable::ImportCsv: the records of a CSV file into a table, in batches of array DML.
#include <utility>
#include <vector>

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

class TImporter {
public:
    TImporter(TCustomOracleQuery& query, std::vector<TCsvColumn> columns, const std::string& table)
        : query_(query),
          table_(table),
          converter_(std::move(columns), platform::RegionalSettings().decimalSymbol) {
        std::string insert = "INSERT INTO " + table + " VALUES(";
        const auto& cols = converter_.Columns();
        for (std::size_t c = 0; c < cols.size(); ++c) {
            if (c > 0) insert += ",";
            const TCsvForm form = cols[c].Form();
            std::string name = ":C" + std::to_string(c + 1);
            std::string value = name;
            int variableType = oracle::otString;
            switch (form) {
                case TCsvForm::Integer:
                case TCsvForm::Float:
                case TCsvForm::Number:
                    // Numbers go as Oracle's NUMBER bytes, so every digit arrives and the
                    // column's own rounding is the only one.
                    variableType = oracle::otNumber;
                    break;
                case TCsvForm::Text:
                    break;
                case TCsvForm::Date:
                    value = "TO_DATE(" + name + ",'" + kCsvDateFormat + "')";
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
            bound_.push_back({c, std::move(name), {}, {}, 0, {}});
            bound_.back().values.reserve(TUserTable::ImportBatchRows);
            if (form == TCsvForm::Lob) bound_.back().lobType = cols[c].type;
        }
        query_.SetText(insert + ")");
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
            for (std::size_t r = 0; r < lines_.size(); ++r) Execute(r, r);
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
                Execute(r, r);
                SetEmptyLobs(r);
            }
            for (auto& b : bound_) {
                b.values.clear();
                b.lengths.clear();
                b.emptyLobs.clear();
            }
        } else {
            for (auto& b : bound_) Store(b);
            Execute(0, lines_.size() - 1);
        }
        inserted_ += static_cast<std::int64_t>(lines_.size());
        lines_.clear();
    }

private:
    static constexpr std::size_t kLobBatchRows = 16;

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
            if (b.lengths[r] > limit) {
                const TCsvColumn& column = converter_.Columns()[b.column];
                throw ECsvError(std::to_string(lines_[r]) + " 行目 " +
                                    std::to_string(b.column + 1) + " 列目 (" + column.name +
                                    "): 値が長すぎます (" + std::to_string(limit) + " バイトまで)",
                                lines_[r], static_cast<int>(b.column + 1));
            }
        }
    }

    void Execute(std::size_t first, std::size_t last) {
        failedRow_ = -1;
        try {
            query_.Execute();
        } catch (const oracle::EOracleError& e) {
            // The client named no row: the error belongs to the whole batch.
            throw oracle::EOracleError(LinesText(lines_[first], lines_[last]) + ": " + e.Message(),
                                       e.ErrorCode());
        }
        if (failedRow_ >= 0) {
            const std::size_t row = first + static_cast<std::size_t>(failedRow_);
            const std::int64_t line = row <= last ? lines_[row] : lines_[last];
            throw oracle::EOracleError(LinesText(line, line) + ": " + failedMessage_, failedCode_);
        }
    }

    TCustomOracleQuery& query_;
    std::string table_;  // quoted
    TCsvRowConverter converter_;
    std::vector<TBoundColumn> bound_;
    bool wholeValues_ = false;  // a LONG, LONG RAW or LOB column is bound
    bool lobs_ = false;         // a LOB column is bound
    std::vector<TCsvValue> values_;
    std::vector<std::int64_t> lines_;  // file line of each pending record
    std::int64_t inserted_ = 0;
    int failedRow_ = -1;
    int failedCode_ = 0;
    std::string failedMessage_;
};

}  // namespace

void TUserTable::ImportCsv(const std::string& fileName, const std::string& tableName,
                           const TProgressCallback& progress) {
    try {
        Import(fileName, tableName, progress);
    } catch (const EInOutError& e) {
        // Shown away from the file's context: the message names it.
        throw EInOutError(e.ErrorCode(), e.FileName(), true);
    }
}

void TUserTable::Import(const std::string& fileName, const std::string& tableName,
                        const TProgressCallback& progress) {
    TCsvFileSource source(fileName);
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
    const auto report = [&] {
        if (progress && !progress({importer.RowsInserted(), reader.BytesRead(), source.Size()})) {
            throw ECancelled();
        }
    };
    while (reader.ReadRecord()) {
        importer.Add(reader);
        if (importer.Pending() == static_cast<std::size_t>(ImportBatchRows)) {
            importer.Flush();
            report();
        }
    }
    importer.Flush();
    report();
}

}  // namespace velnor::app
