// One import into one table as a transaction of the session: the rows deleted first when
// asked, the file's records inserted, then committed. Rolled back unless committed, on
// every path out: an error, a cancel, a caller that returns early.
#pragma once
#include <functional>
#include <string>

#include "app/core/UserTable.h"

namespace velnor::app {

enum class TImportMode { imAppend, imReplace };  // imReplace deletes every row first

class TImportTransaction {
public:
    // The table list and its session are borrowed; nothing runs yet.
    TImportTransaction(TUserTable& tables, std::string tableName, TImportMode mode);
    ~TImportTransaction();  // rolls back when neither committed nor rolled back; never raises
    TImportTransaction(const TImportTransaction&) = delete;
    TImportTransaction& operator=(const TImportTransaction&) = delete;

    // Deletes the rows (imReplace), calls BeforeImport, then inserts the file's records.
    // Raises what the steps raise (ECancelled for a cancel); nothing is committed.
    void Import(const std::string& fileName, const TProgressCallback& progress = {},
                TTextEncoding encoding = TTextEncoding::teUtf8);
    // Once, and only while the transaction is open; a failed commit leaves it open, so it
    // is still rolled back.
    void Commit();
    // Undoes what Import did; raises the session's error. Does nothing once finished.
    void Rollback();

    [[nodiscard]] bool Committed() const noexcept { return state_ == TState::Committed; }

    // Between the delete and the first record: a window shows its progress from here.
    std::function<void(TImportTransaction& sender)> BeforeImport;

private:
    enum class TState { Open, Committed, RolledBack };
    TUserTable& tables_;
    std::string tableName_;
    TImportMode mode_;
    TState state_ = TState::Open;
};

}  // namespace velnor::app
