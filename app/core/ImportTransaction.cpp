#include "app/core/ImportTransaction.h"

#include "oracle/session/OracleSession.h"

namespace velnor::app {

TImportTransaction::TImportTransaction(TUserTable& tables, std::string tableName, TImportMode mode)
    : tables_(tables), tableName_(std::move(tableName)), mode_(mode) {}

TImportTransaction::~TImportTransaction() {
    try {
        Rollback();
    } catch (...) {
        // The error being reported is the one that left the transaction open.
    }
}

void TImportTransaction::Import(const std::string& fileName, const TProgressCallback& progress,
                                TTextEncoding encoding) {
    if (state_ != TState::Open) throw platform::Exception("The import transaction has ended");
    if (mode_ == TImportMode::imReplace) tables_.DeleteAll(tableName_);
    if (BeforeImport) BeforeImport(*this);
    tables_.ImportCsv(fileName, tableName_, progress, encoding);
}

void TImportTransaction::Commit() {
    if (state_ != TState::Open) throw platform::Exception("The import transaction has ended");
    tables_.Session().Commit();
    state_ = TState::Committed;
}

void TImportTransaction::Rollback() {
    if (state_ != TState::Open) return;
    // Finished even when the rollback fails: a second attempt would not do better.
    state_ = TState::RolledBack;
    tables_.Session().Rollback();
}

}  // namespace velnor::app
