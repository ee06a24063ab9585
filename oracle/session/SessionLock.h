// The session lock around one group of client calls.
#pragma once

namespace velnor::oracle {
class TOracleSession;
}

namespace velnor::oracle::detail {

// Holds the session's statement lock for its lifetime. An EOracleError built for the session
// releases the lock in its constructor, which callers rely on; the innermost scope of this
// thread then leaves the lock alone, so no other holder loses an entry.
class TSessionLock {
public:
    explicit TSessionLock(TOracleSession* session);
    ~TSessionLock();
    TSessionLock(const TSessionLock&) = delete;
    TSessionLock& operator=(const TSessionLock&) = delete;

private:
    friend void ReleaseSessionForError(TOracleSession* session) noexcept;

    TOracleSession* session_;
    TSessionLock* outer_;
    bool released_ = false;
};

// Releases the lock for an error being raised on `session` and tells the innermost scope.
void ReleaseSessionForError(TOracleSession* session) noexcept;

}  // namespace velnor::oracle::detail
