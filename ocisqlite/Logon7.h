// OCI7 logons: what a logon data area (LDA) stands for. The LDA's reserved pointer names
// the logon; only registered logons are ever followed, so a stale or foreign LDA is refused.
#pragma once
#include <memory>
#include <set>
#include <string>

#include "oci/Oci7.h"
#include "ocisqlite/Cursor.h"
#include "ocisqlite/Handles.h"

namespace velnor::ocisqlite {

class TLogon7;

// A cursor data area (CDA) opened on a logon.
struct TCursor7 {
    explicit TCursor7(TLogon7* owner) : logon(owner) {}
    TLogon7* logon;  // null once the logon is gone
    TCursorCore core;
};

class TLogon7 {
public:
    // A logon of its own (olog, orlon): its own environment and handles.
    explicit TLogon7(std::unique_ptr<TEnvironment> environment, TServiceContext* context);
    // A view of an OCI8 logon (OCISvcCtxToLda): the handles stay the caller's.
    explicit TLogon7(TServiceContext* context);
    ~TLogon7();
    TLogon7(const TLogon7&) = delete;
    TLogon7& operator=(const TLogon7&) = delete;

    [[nodiscard]] TServiceContext* Context() const noexcept { return context_; }
    [[nodiscard]] bool OwnsHandles() const noexcept { return environment_ != nullptr; }
    // Commits and releases an own logon; a view only forgets the LDA.
    void LogOff();

    std::set<TCursor7*> cursors;  // open on this logon; orphaned when it ends
    int lastErrorCode = 0;        // for oerhms: the text of the last error, arguments included
    std::string lastErrorText;

private:
    std::unique_ptr<TEnvironment> environment_;
    TServiceContext* context_;
};

// Registered OCI7 objects (logons and cursors), so pointers read from caller memory are
// checked before use.
void RegisterArea(const void* object);
void UnregisterArea(const void* object);
[[nodiscard]] bool IsRegisteredArea(const void* object);

// The logon an LDA stands for, or null.
[[nodiscard]] TLogon7* LogonOf(const Lda_Def* lda);
// Sets rc (and the V2 code) of a data area; 0 clears it.
void SetAreaResult(Cda_Def* area, int code);
// Records an error on a data area and its logon; returns the function result.
sword AreaError(Cda_Def* area, TLogon7* logon, int code, const std::string& text);

// Runs an OCI7 call body: a failure becomes rc on the data area and in the logon.
template <class F>
sword Guard7(Cda_Def* area, TLogon7* logon, F&& body) noexcept {
    return RunGuarded(
        true,  // the OCI7 calls count in the same sequence as the others
        [&]() -> sword {
            body();
            SetAreaResult(area, 0);
            return 0;
        },
        [area, logon](int code, const std::string& text) {
            return AreaError(area, logon, code, text);
        });
}

}  // namespace velnor::ocisqlite
