// TUserTable::ExportCsv: one table into a CSV file.
#include <sys/stat.h>

#include <vector>

#include "app/core/CsvLob.h"
#include "app/core/CsvRowConverter.h"
#include "app/core/CsvWriter.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "platform/AtomicFile.h"
#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"
#include "platform/System.h"

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

// One value of the current row in its column's form.
void AddValue(TCsvWriter& writer, const TCustomOracleQuery& query, int i, TCsvForm form) {
    switch (form) {
        case TCsvForm::Text:
        case TCsvForm::Raw:
            writer.AddString(query.FieldAsString(i));  // NULL is the empty string
            return;
        case TCsvForm::Long: {
            const platform::TVariant value = query.Field(i);
            writer.AddString(value.IsEmpty() ? std::string() : value.AsString());
            return;
        }
        case TCsvForm::LongRaw: {
            const platform::TVariant value = query.Field(i);
            if (value.Kind() != platform::TVariantKind::vkBytes) {
                writer.AddHex({});
                return;
            }
            const auto& bytes = value.BytesRef();
            writer.AddHex({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
            return;
        }
        case TCsvForm::Lob:
            // LOB columns: the place of their text or hexadecimal form; written empty.
            writer.AddEmpty();
            return;
        default:
            break;
    }
    if (query.FieldIsNull(i)) {
        writer.AddEmpty();
        return;
    }
    switch (form) {
        case TCsvForm::Integer:
            writer.AddInteger(query.FieldAsInteger(i));
            break;
        case TCsvForm::Float:
            writer.AddFloat(query.FieldAsFloat(i));
            break;
        case TCsvForm::Number:
            writer.AddNumber(query.FieldAsDecimal(i));
            break;
        case TCsvForm::Date:
            writer.AddDate(query.FieldAsDate(i));
            break;
        case TCsvForm::Timestamp:
        case TCsvForm::TimestampTz:
            writer.AddText(TimestampText(query.FieldAsString(i)));
            break;
        case TCsvForm::TimestampLtz:
            writer.AddText(TimestampText(query.FieldAsString(i)) + " +00:00");
            break;
        case TCsvForm::IntervalYm:
        case TCsvForm::IntervalDs:
            writer.AddText(query.FieldAsString(i));
            break;
        case TCsvForm::BinaryFloat:
        case TCsvForm::BinaryDouble:
            writer.AddBinary(query.FieldAsFloat(i), form == TCsvForm::BinaryFloat);
            break;
        default:
            writer.AddEmpty();
            break;
    }
}

}  // namespace

void TUserTable::ExportCsv(const std::string& fileName, const std::string& tableName,
                           const TProgressCallback& progress) {
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
            file.OpenForWriting(target);
        } else {
            try {
                file.OpenForWriting(replacement.Temporary());
            } catch (const EInOutError& e) {
                if (!exists || !FolderRefused(e)) throw;
                // The old content is then lost on a failure, as it always was without a
                // temporary file.
                direct = true;
                file.OpenForWriting(target);
            }
        }
        {
            std::vector<std::string> names;
            for (const auto& column : columns) names.push_back(column.name);
            TCsvWriter writer(platform::RegionalSettings());
            writer.AddHeader(names);
            file.WriteLine(writer.Line());

            std::int64_t rows = 0;
            while (!query.Eof()) {
                writer.Clear();
                for (int i = 0; i < fieldCount; ++i) {
                    try {
                        if (columns[static_cast<std::size_t>(i)].Form() == TCsvForm::Lob) {
                            AddLobField(writer, file, query.GetFieldLOB(i),
                                        session_.Preferences().ConvertCRLF(), fieldCount == 1);
                            continue;
                        }
                        AddValue(writer, query, i, columns[static_cast<std::size_t>(i)].Form());
                    } catch (const platform::EConvertError& e) {
                        throw platform::EConvertError(std::to_string(rows + 1) + " 件目の行、列 " +
                                                      names[static_cast<std::size_t>(i)] + ": " +
                                                      e.Message());
                    }
                }
                writer.EndRecord();
                file.WriteLine(writer.Line());
                ++rows;
                if (progress && rows % kProgressRows == 0 &&
                    !progress({rows, file.Position(), 0})) {
                    throw ECancelled();
                }
                query.Next();
            }
            if (progress && !progress({rows, file.Position(), 0})) throw ECancelled();
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
