// TUserTable::ExportCsv: one table into a CSV file.
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "app/core/CsvLob.h"
#include "app/core/CsvRowConverter.h"
#include "app/core/CsvWriter.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "oracle/query/OracleConvert.h"
#include "platform/AtomicFile.h"
#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"
#include "platform/System.h"
#include "platform/UiHooks.h"

namespace velnor::app {
namespace {

constexpr std::int64_t kProgressRows = 1024;

// The folder refuses a new file: the target itself may still take the data in place.
bool FolderRefused(const EInOutError& e) noexcept { return e.ErrorCode() == 5; }

// The temporary's name means nothing to the user: an error names the chosen file.
EInOutError NamingFile(const EInOutError& e, const platform::TAtomicFile& replacement,
                       const std::string& fileName) {
    const bool ours =
        e.FileName() == replacement.Temporary() || e.FileName() == replacement.Target();
    return EInOutError(e.ErrorCode(), ours ? fileName : e.FileName(), true);
}

// Closes a failed export's file; a late write error adds nothing to the one being reported.
void Discard(TTextFile& file) noexcept {
    try {
        file.Close();
    } catch (...) {
    }
}

// The field (from 0) of a line the writer built that holds the byte at `offset`.
int FieldAt(std::string_view line, std::size_t offset) noexcept {
    int field = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size() && i < offset; ++i) {
        if (line[i] == '"') quoted = !quoted;  // a doubled quote toggles twice
        if (line[i] == ',' && !quoted) ++field;
    }
    return field;
}

// Text the encoding cannot hold: which row (0 for the header) and column, and what. `line` is
// the text written, whose first field is column `first` (from 0).
platform::EConvertError Unwritable(const ETextEncodeError& e, std::string_view line,
                                   std::int64_t row, const std::vector<std::string>& names,
                                   int first = 0) {
    const int field = e.Offset() == kInStreamedField ? first : first + FieldAt(line, e.Offset());
    const std::string column =
        std::to_string(field + 1) + " 列目 (" +
        (static_cast<std::size_t>(field) < names.size() ? names[static_cast<std::size_t>(field)]
                                                        : std::string()) +
        ")";
    const std::string where = row == 0 ? "見出し行 " : std::to_string(row) + " 件目の行 ";
    return platform::EConvertError(where + column + ": " + e.Message());
}

// The SELECT list that gives each column its file form, or "" when "*" already does.
// Timestamps are formatted by the database with a fixed model, whatever the session's
// NLS settings; FF without digits gives every fractional digit of the column's precision
// (nine for a local time zone column, whose UTC value is a TIMESTAMP(9)).
std::string SelectList(const std::vector<TCsvColumn>& columns) {
    bool needed = false;
    std::string list;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TCsvForm form = columns[i].Form();
        const std::string name = QuoteIdentifier(columns[i].name);
        if (i > 0) list += ",";
        if (form != TCsvForm::Timestamp && form != TCsvForm::TimestampTz &&
            form != TCsvForm::TimestampLtz) {
            list += name;
            continue;
        }
        needed = true;
        const std::string value =
            form == TCsvForm::TimestampLtz ? "SYS_EXTRACT_UTC(" + name + ")" : name;
        const char* model =
            form == TCsvForm::TimestampTz ? kCsvTimestampTzFormat : kCsvTimestampFormat;
        list += "TO_CHAR(" + value + ",'" + model + "') " + name;
    }
    return needed ? list : std::string();
}

// SYYYY leaves a blank where a year after Christ has no sign, and FF gives no digits for a
// precision of 0, leaving the radix point alone.
std::string TimestampText(std::string text) {
    if (!text.empty() && text.front() == ' ') text.erase(0, 1);
    const std::size_t point = text.find('.');
    if (point != std::string::npos && (point + 1 == text.size() || text[point + 1] == ' '))
        text.erase(point, 1);
    return text;
}

// A string field's row as it is in the buffer, or nullopt when it must go through FieldText
// (NULL, another type, or line breaks that change).
std::optional<std::string_view> TextInPlace(const oracle::TFieldData& f, std::size_t row,
                                            bool convertCRLF) {
    if (f.typeCode != oracle::otString || f.IsNull(row) || row >= f.rowCapacity) return {};
    const char* begin = reinterpret_cast<const char*>(f.Row(row));
    const void* nul = std::memchr(begin, 0, f.bufferSize);
    const std::string_view text(
        begin,
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin) : f.bufferSize);
    if (convertCRLF &&
        std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }))
        return {};
    return text;
}

void AddStringField(TCsvWriter& writer, const oracle::TFieldData& f, std::size_t row,
                    bool convertCRLF) {
    if (const auto text = TextInPlace(f, row, convertCRLF))
        writer.AddString(*text);
    else
        writer.AddString(oracle::FieldText(f, row, convertCRLF));  // NULL is the empty string
}

// TimestampText of the row, in place when it only loses a leading blank.
void AddTimestampField(TCsvWriter& writer, const oracle::TFieldData& f, std::size_t row, bool utc,
                       bool convertCRLF) {
    auto text = TextInPlace(f, row, convertCRLF);
    if (text && !text->empty() && text->front() == ' ') text->remove_prefix(1);
    const std::size_t point = text ? text->find('.') : std::string_view::npos;
    if (!text || utc ||
        (point != std::string_view::npos &&
         (point + 1 == text->size() || (*text)[point + 1] == ' '))) {
        std::string value = TimestampText(oracle::FieldText(f, row, convertCRLF));
        writer.AddText(utc ? value + " +00:00" : value);
        return;
    }
    writer.AddText(*text);
}

// One value of a row in its column's form; LONG, LONG RAW and LOB columns are the caller's.
void AddValue(TCsvWriter& writer, const oracle::TFieldData& f, std::size_t row, TCsvForm form,
              bool convertCRLF) {
    using namespace oracle;
    if (form == TCsvForm::Text || form == TCsvForm::Raw) {
        AddStringField(writer, f, row, convertCRLF);
        return;
    }
    if (f.IsNull(row)) {
        writer.AddEmpty();
        return;
    }
    switch (form) {
        case TCsvForm::Integer:
            writer.AddInteger(FieldInteger(f, row));
            break;
        case TCsvForm::Float:
            writer.AddFloat(FieldFloat(f, row));
            break;
        case TCsvForm::Number:
            writer.AddNumber(FieldDecimal(f, row));
            break;
        case TCsvForm::Date:
            if (f.typeCode == otDate)
                writer.AddOracleDate(reinterpret_cast<const std::uint8_t*>(f.Row(row)));
            else
                writer.AddDate(FieldDate(f, row));
            break;
        case TCsvForm::Timestamp:
        case TCsvForm::TimestampTz:
        case TCsvForm::TimestampLtz:
            AddTimestampField(writer, f, row, form == TCsvForm::TimestampLtz, convertCRLF);
            break;
        case TCsvForm::IntervalYm:
        case TCsvForm::IntervalDs:
            writer.AddText(FieldText(f, row, convertCRLF));
            break;
        case TCsvForm::BinaryFloat:
        case TCsvForm::BinaryDouble:
            writer.AddBinary(FieldFloat(f, row), form == TCsvForm::BinaryFloat);
            break;
        default:
            writer.AddEmpty();
            break;
    }
}

// A LONG or LONG RAW value of the current row.
void AddLongValue(TCsvWriter& writer, const TCustomOracleQuery& query, int i, TCsvForm form) {
    const platform::TVariant value = query.Field(i);
    if (form == TCsvForm::Long) {
        writer.AddString(value.IsEmpty() ? std::string() : value.AsString());
        return;
    }
    if (value.Kind() != platform::TVariantKind::vkBytes) {
        writer.AddHex({});
        return;
    }
    const auto& bytes = value.BytesRef();
    writer.AddHex({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// Bytes of one batch of copied rows above which the rows are written as they are fetched:
// copies of wide rows would take as much memory again.
constexpr std::size_t kMaxBatchBytes = 4u << 20;

bool Pipelined(const TCustomOracleQuery& query, const std::vector<TCsvColumn>& columns) {
    std::size_t rowBytes = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TCsvForm form = columns[i].Form();
        if (form == TCsvForm::Lob || form == TCsvForm::Long || form == TCsvForm::LongRaw)
            return false;  // read through the query row by row
        rowBytes += query.FieldData(static_cast<int>(i)).bufferSize + 8;
    }
    return static_cast<std::size_t>(query.ReadBuffer()) * rowBytes <= kMaxBatchBytes;
}

// Fetches the rows of a query on a second thread, one buffer of rows at a time, while the
// caller writes the rows before them. While it runs only its thread calls the client library;
// Pause() keeps it away for the caller's own use (a progress callback may run other work).
class TBatchFetcher {
public:
    struct TBatch {
        std::vector<std::unique_ptr<oracle::TFieldData>> fields;
        std::size_t rows = 0;
    };

    explicit TBatchFetcher(TCustomOracleQuery& query) : query_(query) {
        for (auto& batch : batches_) {
            for (int i = 0; i < query.FieldCount(); ++i)
                batch.fields.push_back(std::make_unique<oracle::TFieldData>());
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~TBatchFetcher() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TBatchFetcher(const TBatchFetcher&) = delete;
    TBatchFetcher& operator=(const TBatchFetcher&) = delete;

    // The next batch in order, or null after the last; raises what the fetch raised, after
    // every batch before the failure was handed out.
    const TBatch* Next() {
        std::unique_lock lock(mutex_);
        if (taken_) {
            taken_ = false;
            ++head_;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return ready_ > head_ || finished_; });
        if (ready_ > head_) {
            taken_ = true;
            return &batches_[head_ % kSlots];
        }
        if (error_) std::rethrow_exception(error_);
        return nullptr;
    }

    [[nodiscard]] std::unique_lock<std::mutex> Pause() { return std::unique_lock(client_); }

private:
    static constexpr std::size_t kSlots = 2;

    void Run() noexcept {
        try {
            for (;;) {
                std::size_t slot = 0;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || ready_ < head_ + kSlots; });
                    if (stop_) break;
                    slot = ready_ % kSlots;
                }
                TBatch& batch = batches_[slot];
                {
                    std::lock_guard client(client_);
                    const auto first = static_cast<std::size_t>(query_.BufferRow());
                    batch.rows = static_cast<std::size_t>(query_.BufferedRows());
                    if (batch.rows == 0) break;
                    for (std::size_t i = 0; i < batch.fields.size(); ++i)
                        batch.fields[i]->CopyRows(query_.FieldData(static_cast<int>(i)), first,
                                                  batch.rows);
                    {
                        std::lock_guard lock(mutex_);
                        ++ready_;
                    }
                    changed_.notify_all();
                    query_.SkipBufferedRows();
                    if (query_.Eof()) break;
                }
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    }

    TCustomOracleQuery& query_;
    TBatch batches_[kSlots];
    std::mutex client_;  // held while the client library is called
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t head_ = 0;   // batches handed out and given back
    std::size_t ready_ = 0;  // batches filled
    bool taken_ = false;     // batch head_ is with the caller
    bool stop_ = false;
    bool finished_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: started once the state above exists
};

}  // namespace

void TUserTable::ExportCsv(const std::string& fileName, const std::string& tableName,
                           const TProgressCallback& progress, TTextEncoding encoding) {
    // The columns are checked before the file is touched: a column the files cannot carry
    // fails the export with the target as it was.
    TCustomOracleQuery query(session_);
    query.SetText("SELECT * FROM " + QuoteIdentifier(tableName));
    query.SetExactNumbers(true);  // columns beyond a double's 15 digits keep every digit
    query.Execute();
    const int fieldCount = query.FieldCount();
    std::vector<TCsvColumn> columns;
    for (int i = 0; i < fieldCount; ++i) {
        columns.push_back({query.FieldName(i), query.FieldType(i), query.FieldInternalType(i)});
        if (columns.back().Form() == TCsvForm::Unrepresentable) {
            throw platform::EConvertError(
                "列 " + columns.back().name + " (" +
                CsvTypeName(columns.back().type, columns.back().internalType) +
                ") は CSV に書き出せません");
        }
    }
    if (const std::string list = SelectList(columns); !list.empty()) {
        query.SetText("SELECT " + list + " FROM " + QuoteIdentifier(tableName));
        query.Execute();
    }

    // A client in another character set hands the program text in it: written as it is.
    if (!TextIsUtf8()) encoding = TTextEncoding::teUtf8;
    platform::TAtomicFile replacement(fileName);
    const std::string& target = replacement.Target();
    // A device or a pipe is written into as it is: a rename would put a plain file in its
    // place (/dev/null among them, when run as root).
    struct stat before {};
    const bool exists = ::stat(target.c_str(), &before) == 0;
    bool direct = exists && !S_ISREG(before.st_mode);
    TTextFile file;
    try {
        if (direct) {
            file.OpenForWriting(target, encoding);
        } else {
            try {
                file.OpenForWriting(replacement.Temporary(), encoding);
            } catch (const EInOutError& e) {
                if (!exists || !FolderRefused(e)) throw;
                // The old content is then lost on a failure, as it always was without a
                // temporary file.
                direct = true;
                file.OpenForWriting(target, encoding);
            }
        }
        {
            std::vector<std::string> names;
            for (const auto& column : columns) names.push_back(column.name);
            TCsvWriter writer(platform::RegionalSettings());
            writer.AddHeader(names);
            // After a streamed LOB value the writer's line starts with the separator behind it:
            // its first (empty) field is the LOB's column.
            int lineStart = 0;
            const auto writeLine = [&](std::int64_t row) {
                try {
                    file.WriteLine(writer.Line());
                } catch (const ETextEncodeError& e) {
                    throw Unwritable(e, writer.Line(), row, names, lineStart);
                }
            };
            writeLine(0);

            const bool convertCRLF = session_.Preferences().ConvertCRLF();
            std::vector<TCsvForm> forms;
            for (const auto& column : columns) forms.push_back(column.Form());
            std::int64_t rows = 0;
            std::unique_ptr<TBatchFetcher> fetcher;
            const auto report = [&] {
                if (!progress) return;
                std::unique_lock<std::mutex> paused;
                if (fetcher) paused = fetcher->Pause();
                if (!progress({rows, file.Position(), 0})) throw ECancelled();
            };
            // One row: `add` adds the value of column i and may stream a LOB, setting `ahead`
            // and `streamed`.
            const auto writeRow = [&](const auto& add) {
                writer.Clear();
                lineStart = 0;
                int streamed = -1;  // the LOB column being written into the file
                std::string ahead;  // the line written ahead of it
                try {
                    for (int i = 0; i < fieldCount; ++i) {
                        try {
                            add(i, ahead, streamed);
                        } catch (const platform::EConvertError& e) {
                            throw platform::EConvertError(
                                std::to_string(rows + 1) + " 件目の行、列 " +
                                names[static_cast<std::size_t>(i)] + ": " + e.Message());
                        }
                    }
                } catch (const ETextEncodeError& e) {
                    // Only a streamed LOB value writes into the file before the line ends.
                    throw Unwritable(e, ahead, rows + 1, names,
                                     e.Offset() == kInStreamedField ? streamed : lineStart);
                }
                writer.EndRecord();
                writeLine(rows + 1);
                ++rows;
                if (rows % kProgressRows == 0) report();
            };

            if (Pipelined(query, columns)) {
                // The wait cursor is shown from here: the fetching thread must not touch it.
                const platform::TCursorGuard wait(query.Cursor());
                query.SetCursor(platform::crDefault);
                fetcher = std::make_unique<TBatchFetcher>(query);
                while (const TBatchFetcher::TBatch* batch = fetcher->Next()) {
                    for (std::size_t r = 0; r < batch->rows; ++r) {
                        writeRow([&](int i, std::string&, int&) {
                            const auto c = static_cast<std::size_t>(i);
                            AddValue(writer, *batch->fields[c], r, forms[c], convertCRLF);
                        });
                    }
                }
                fetcher.reset();
            } else {
                while (!query.Eof()) {
                    const auto row = static_cast<std::size_t>(query.BufferRow());
                    writeRow([&](int i, std::string& ahead, int& streamed) {
                        const TCsvForm form = forms[static_cast<std::size_t>(i)];
                        if (form == TCsvForm::Lob) {
                            ahead = writer.Line();
                            streamed = i;
                            AddLobField(writer, file, query.GetFieldLOB(i),
                                        session_.Preferences().ConvertCRLF(), fieldCount == 1);
                            if (writer.Line().empty()) lineStart = i;  // streamed, not NULL
                        } else if (form == TCsvForm::Long || form == TCsvForm::LongRaw) {
                            AddLongValue(writer, query, i, form);
                        } else {
                            AddValue(writer, query.FieldData(i), row, form, convertCRLF);
                        }
                    });
                    query.Next();
                }
            }
            report();
        }
        file.Close();
        if (!direct) replacement.Commit(true);
    } catch (const platform::EFileReplaceError& e) {
        Discard(file);
        throw NamingFile(EInOutError(InOutErrorCode(e.SystemError(), true), e.Path()), replacement,
                         fileName);
    } catch (const EInOutError& e) {
        Discard(file);
        throw NamingFile(e, replacement, fileName);
    } catch (...) {
        Discard(file);
        throw;
    }
}

}  // namespace velnor::app
