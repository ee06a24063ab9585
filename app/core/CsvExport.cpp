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

}  // namespace

void TUserTable::ExportCsv(const std::string& fileName, const std::string& tableName,
                           const TProgressCallback& progress) {
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
            TCustomOracleQuery query(session_);
            query.SetText("SELECT * FROM " + QuoteIdentifier(tableName));
            query.SetExactNumbers(true);  // columns beyond a double's 15 digits keep every digit
            query.Execute();

            const int fieldCount = query.FieldCount();
            std::vector<std::string> names;
            std::vector<int> types;
            for (int i = 0; i < fieldCount; ++i) {
                names.push_back(query.FieldName(i));
                types.push_back(query.FieldType(i));
            }
            TCsvWriter writer(platform::RegionalSettings());
            writer.AddHeader(names);
            file.WriteLine(writer.Line());

            std::int64_t rows = 0;
            while (!query.Eof()) {
                writer.Clear();
                for (int i = 0; i < fieldCount; ++i) {
                    const int type = types[static_cast<std::size_t>(i)];
                    if (type == oracle::otString) {
                        writer.AddString(query.FieldAsString(i));  // NULL is the empty string
                    } else if (IsCsvLob(type)) {
                        AddLobField(writer, file, query.GetFieldLOB(i),
                                    session_.Preferences().ConvertCRLF());
                    } else if (type != oracle::otInteger && type != oracle::otFloat &&
                               type != oracle::otNumber && type != oracle::otDate) {
                        writer.AddEmpty();
                    } else if (query.FieldIsNull(i)) {
                        writer.AddEmpty();
                    } else if (type == oracle::otInteger) {
                        writer.AddInteger(query.FieldAsInteger(i));
                    } else if (type == oracle::otFloat) {
                        writer.AddFloat(query.FieldAsFloat(i));
                    } else if (type == oracle::otNumber) {
                        writer.AddNumber(query.FieldAsDecimal(i));
                    } else {
                        try {
                            writer.AddDate(query.FieldAsDate(i));
                        } catch (const platform::EConvertError& e) {
                            throw platform::EConvertError(
                                std::to_string(rows + 1) + " 件目の行、列 " +
                                names[static_cast<std::size_t>(i)] + ": " + e.Message());
                        }
                    }
                }
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
