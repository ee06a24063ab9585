// TUserTable::ExportCsv: one table into a CSV file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/core/CsvRowConverter.h"
#include "app/core/CsvWriter.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"
#include "platform/System.h"

namespace velnor::app {
namespace {

constexpr std::int64_t kProgressRows = 1024;

// Writing through a link replaces the file it points to, not the link.
std::string ResolveTarget(const std::string& fileName) {
    std::error_code error;
    if (std::filesystem::is_symlink(fileName, error)) {
        const auto resolved = std::filesystem::canonical(fileName, error);
        if (!error) return resolved.string();
    }
    return fileName;
}

std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::string name = "." + platform::FileNameOf(target) + ".velnor-" +
                             std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
    const std::string directory = platform::DirectoryOf(target);
    return directory.empty() ? name : platform::JoinPath(directory, name);
}

// The data reaches the disk before the rename makes it the target.
void SyncToDisk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EInOutError(InOutErrorCode(errno, true), path);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0) throw EInOutError(InOutErrorCode(error, true), path);
}

// Closes a failed export's file and removes its temporary (none when written directly).
void Discard(TTextFile& file, const std::string& temporary) noexcept {
    try {
        file.Close();
    } catch (...) {
        // The error being reported is the first one; a late write error adds nothing.
    }
    if (!temporary.empty()) ::unlink(temporary.c_str());
}

}  // namespace

void TUserTable::ExportCsv(const std::string& fileName, const std::string& tableName,
                           const TProgressCallback& progress) {
    const std::string target = ResolveTarget(fileName);
    // A device or a pipe is written into as it is: a rename would put a plain file in its
    // place (/dev/null among them, when run as root).
    struct stat before {};
    const bool direct = ::stat(target.c_str(), &before) == 0 && !S_ISREG(before.st_mode);
    const std::string temporary = direct ? std::string() : TemporaryName(target);
    TTextFile file;
    try {
        file.OpenForWriting(direct ? target : temporary);
        {
            TCustomOracleQuery query(session_);
            query.SetText("SELECT * FROM " + QuoteIdentifier(tableName));
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
                    if (type == kCsvString) {
                        writer.AddString(query.FieldAsString(i));  // NULL is the empty string
                    } else if (type != kCsvInteger && type != kCsvFloat && type != kCsvDate) {
                        writer.AddEmpty();
                    } else if (query.FieldIsNull(i)) {
                        writer.AddEmpty();
                    } else if (type == kCsvInteger) {
                        writer.AddInteger(query.FieldAsInteger(i));
                    } else if (type == kCsvFloat) {
                        writer.AddFloat(query.FieldAsFloat(i));
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
        if (direct) {
            file.Close();
            return;
        }
        struct stat existing {};
        const bool targetExists = ::stat(target.c_str(), &existing) == 0;
        file.Close();
        if (targetExists) ::chmod(temporary.c_str(), existing.st_mode & 07777);
        SyncToDisk(temporary);
        if (std::rename(temporary.c_str(), target.c_str()) != 0)
            throw EInOutError(InOutErrorCode(errno, true), target);
    } catch (const EInOutError& e) {
        Discard(file, temporary);
        // The temporary's name means nothing to the user: the error names the chosen file.
        if (!direct && e.FileName() == temporary) throw EInOutError(e.ErrorCode(), fileName);
        throw;
    } catch (...) {
        Discard(file, temporary);
        throw;
    }
}

}  // namespace velnor::app
