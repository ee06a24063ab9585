#include "oracle/session/SessionLock.h"

#include "oracle/session/OracleSession.h"

namespace velnor::oracle::detail {
namespace {
// Scopes nest per thread: an error is raised on the thread whose scope holds the lock.
thread_local TSessionLock* innermost = nullptr;
}  // namespace

TSessionLock::TSessionLock(TOracleSession* session) : session_(session), outer_(innermost) {
    if (session_) session_->LockSession(1);
    innermost = this;
}

TSessionLock::~TSessionLock() {
    innermost = outer_;
    if (session_ && !released_) session_->UnlockSession(1);
}

void ReleaseSessionForError(TOracleSession* session) noexcept {
    if (!session) return;
    session->UnlockSession(1);
    for (TSessionLock* scope = innermost; scope; scope = scope->outer_) {
        if (scope->session_ == session && !scope->released_) {
            scope->released_ = true;
            return;
        }
    }
}

}  // namespace velnor::oracle::detail
