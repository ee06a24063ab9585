// The tables the logged-on user owns, with their row counts, and the file operations on
// one of them: export to CSV, import from CSV, delete every row.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/core/TextEncoding.h"
#include "platform/Exception.h"

namespace velnor::oracle {
class TOracleSession;
}

namespace velnor::app {

struct TTable {
    std::string TableName;  // as the catalogue gives it
    std::int64_t DataCount = 0;
};

// How far an export or import has come. Bytes are those of the file written or read.
struct TTransferProgress {
    std::int64_t rows = 0;
    std::uint64_t bytes = 0;
    std::uint64_t totalBytes = 0;  // import: the file's size; export: 0 (not known ahead)
};
// Called now and then during a transfer; returning false cancels it.
using TProgressCallback = std::function<bool(const TTransferProgress& progress)>;

// A transfer stopped because its progress callback asked for it.
class ECancelled : public platform::Exception {
public:
    ECancelled() : platform::Exception("処理が中止されました") {}
};

class TUserTable {
public:
    static constexpr int ImportBatchRows = 1000;

    // The session is borrowed; every statement runs on it.
    explicit TUserTable(oracle::TOracleSession& session);

    [[nodiscard]] oracle::TOracleSession& Session() const noexcept { return session_; }
    [[nodiscard]] int Count() const noexcept { return static_cast<int>(tables_.size()); }
    // Raises for an index outside 0 .. Count() - 1.
    [[nodiscard]] const TTable& GetItem(int index) const;
    int AddTable();
    void Clear() noexcept { tables_.clear(); }

    // The statement listing the user's tables in name order, in column TABLE_NAME.
    static constexpr const char* CatalogueStatement =
        "SELECT TABLE_NAME FROM USER_TABLES ORDER BY TABLE_NAME";

    // Reloads the tables in name order with exact row counts. On any error the catalogue
    // is left empty, so it never shows a part of the tables as if it were all of them.
    void Refresh();

    // Every row of the table into the file: the header of column names, then one line per
    // row. The file is written under a temporary name in the same folder and takes the
    // target's place only when complete; on an error or a cancel the target is untouched.
    // A folder that refuses new files has an existing target written in place instead.
    // File errors name the chosen file in their message. A character the encoding cannot
    // hold stops the export naming row, column and character.
    void ExportCsv(const std::string& fileName, const std::string& tableName,
                   const TProgressCallback& progress = {},
                   TTextEncoding encoding = TTextEncoding::teUtf8);

    // Inserts one row per record after the header, in batches, in the session's open
    // transaction, which is left for the caller to commit or roll back. A bad field or a
    // row the database refuses raises naming the file's line; a cancel raises ECancelled.
    // File errors name the file in their message. A UTF-8 byte-order mark makes the file
    // UTF-8 whatever the encoding; bytes that are not text in it raise ECsvError.
    void ImportCsv(const std::string& fileName, const std::string& tableName,
                   const TProgressCallback& progress = {},
                   TTextEncoding encoding = TTextEncoding::teUtf8);

    // Whether the client hands text over in UTF-8, which the file encodings convert from and
    // to; with another client character set files are read and written byte for byte.
    [[nodiscard]] static bool TextIsUtf8();

    // Deletes every row of the table; no commit.
    void DeleteAll(const std::string& tableName);

private:
    void Import(const std::string& fileName, const std::string& tableName,
                const TProgressCallback& progress, TTextEncoding encoding);

    oracle::TOracleSession& session_;
    std::vector<TTable> tables_;
};

}  // namespace velnor::app
