// The handles behind the opaque OCI pointers, and the error reporting of the entry points.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "oci/OciFunctions.h"
#include "ocisqlite/Connection.h"

#define VELNOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace velnor::ocisqlite {

// The standard text of an Oracle error number; "%s" parts are replaced by args in order.
[[nodiscard]] std::string MessageText(int code, const std::vector<std::string>& args = {});
// The error of the catalogue text of `code`; entry points and the engine throw one class.
[[nodiscard]] sql::OraError OraError(int code, const std::vector<std::string>& args = {});
// "ORA-01017: invalid username/password; logon denied\n"
[[nodiscard]] std::string FullMessage(int code, const std::string& text);
// Copies text NUL-terminated into buf of size bytes, cut on a UTF-8 character boundary.
void CopyText(const std::string& text, OraText* buf, std::size_t size);

struct TErrorRecord {
    sb4 code = 0;
    std::string text;   // without prefix and line feed
    ub4 rowOffset = 0;  // array DML: the failing element
};

class THandle {
public:
    static constexpr ub4 kMagic = 0x5157C1E7;
    THandle(ub4 type, THandle* parent);
    virtual ~THandle();
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;

    [[nodiscard]] ub4 Type() const noexcept { return type_; }
    [[nodiscard]] bool Valid() const noexcept { return magic_ == kMagic; }
    [[nodiscard]] THandle* Parent() const noexcept { return parent_; }
    [[nodiscard]] class TEnvironment* Environment() noexcept;

    // Attribute access; the base knows none (ORA-24315).
    virtual void GetAttr(ub4 attr, void* value, ub4* size);
    virtual void SetAttr(ub4 attr, void* value, ub4 size);

    // Error records kept on error and environment handles.
    std::vector<TErrorRecord> errors;

private:
    ub4 magic_ = kMagic;
    ub4 type_;
    THandle* parent_;
};

// The environment owns every handle and descriptor allocated from it.
class TEnvironment : public THandle {
public:
    explicit TEnvironment(ub4 mode) : THandle(OCI_HTYPE_ENV, nullptr), mode_(mode) {}
    ~TEnvironment() override;
    THandle* Adopt(std::unique_ptr<THandle> child);
    // Frees a child and everything it owns; false when it is not ours.
    bool Release(THandle* child);
    void GetAttr(ub4 attr, void* value, ub4* size) override;
    [[nodiscard]] std::size_t ChildCount();
    // Caller memory asked for with a handle (extra_mem); lives as long as the environment.
    void* ExtraMemory(std::size_t bytes);

private:
    std::mutex mutex_;
    std::set<THandle*> children_;
    std::vector<std::unique_ptr<std::max_align_t[]>> extraMemory_;
    ub4 mode_;
};

class TErrorHandle : public THandle {
public:
    explicit TErrorHandle(THandle* parent) : THandle(OCI_HTYPE_ERROR, parent) {}
    void GetAttr(ub4 attr, void* value, ub4* size) override;
};

// An attached server: one service of one Oracle home.
class TServer : public THandle {
public:
    explicit TServer(THandle* parent) : THandle(OCI_HTYPE_SERVER, parent) {}
    ~TServer() override;
    void GetAttr(ub4 attr, void* value, ub4* size) override;
    void SetAttr(ub4 attr, void* value, ub4 size) override;

    void Attach(std::string_view dblink);
    void Detach() noexcept;
    [[nodiscard]] bool Attached() const noexcept { return attached_; }
    [[nodiscard]] const std::string& Home() const noexcept { return home_; }
    [[nodiscard]] const std::string& Service() const noexcept { return service_; }
    [[nodiscard]] const std::string& Banner() const noexcept { return banner_; }

    // Sessions begun on this server; a detach ends them with a rollback.
    std::set<class TSession*> sessions;

private:
    bool attached_ = false;
    std::string home_, service_, banner_;
};

// A user session: the credentials before the logon, the connection after it.
class TSession : public THandle {
public:
    explicit TSession(THandle* parent) : THandle(OCI_HTYPE_SESSION, parent) {}
    ~TSession() override;
    void GetAttr(ub4 attr, void* value, ub4* size) override;
    void SetAttr(ub4 attr, void* value, ub4 size) override;

    // Checks the password and opens the schema; returns the days of grace (ORA-28002) or 0.
    int Begin(TServer& server, ub4 credentials, ub4 mode);
    // commit: a clean end commits, anything else rolls back.
    void End(bool commit);
    [[nodiscard]] bool Active() const noexcept { return connection_ != nullptr; }
    [[nodiscard]] TConnection* Connection() const noexcept { return connection_.get(); }
    [[nodiscard]] TServer* Server() const noexcept { return server_; }

    std::string userName, password;

private:
    std::unique_ptr<TConnection> connection_;
    TServer* server_ = nullptr;
};

class TServiceContext : public THandle {
public:
    explicit TServiceContext(THandle* parent) : THandle(OCI_HTYPE_SVCCTX, parent) {}
    void GetAttr(ub4 attr, void* value, ub4* size) override;
    void SetAttr(ub4 attr, void* value, ub4 size) override;

    TServer* server = nullptr;
    TSession* session = nullptr;
    bool implicitLogon = false;  // made by OCILogon, which also owns server and session
    // The connection of the logged-on session; ORA-03114 / ORA-01012 otherwise.
    [[nodiscard]] TConnection& Connection() const;
};

// What a LOB locator refers to. A fetched locator keeps the value as of its fetch (read
// consistency), shared by the locators assigned from it.
struct TLobState {
    bool initialized = false;  // fetched or assigned; a NULL column leaves it uninitialized
    int type = 0;              // 112 CLOB/NCLOB, 113 BLOB, 114 BFILE
    bool national = false;     // NCLOB
    std::shared_ptr<const std::string> value;  // database form: UTF-8 text or bytes
    std::shared_ptr<const sql::LobRef> ref;    // or where the value is read from
    // A streamed read in progress: the byte position in `value` and the bytes still wanted.
    bool polling = false;
    std::size_t pollAt = 0;
    std::size_t pollCharsLeft = 0;
    // A piecewise write in progress: the client's bytes so far, written at the last piece.
    bool writing = false;
    std::size_t writeOffset = 0;  // from 1, in characters or bytes
    std::size_t writeAmount = 0;  // 0: until the last piece
    std::string writePieces;
};

// Descriptors: a LOB locator carries its LOB, a ROWID descriptor its row.
class TDescriptor : public THandle {
public:
    TDescriptor(ub4 type, THandle* parent) : THandle(type, parent) {}
    TLobState lob;
    // A ROWID descriptor: the row a statement's OCI_ATTR_ROWID last copied in, if any.
    std::optional<sql::RowAddress> row;
};

// Sets the locator at `slot` (a define buffer element) to a fetched LOB column value.
void FillLocator(void* slot, const sql::Value& value, const sql::ColumnInfo& column);

// A handle argument checked for null, magic and type; null when it is not usable.
// Only live handles of this library are ever followed: foreign memory is never read.
[[nodiscard]] THandle* AnyHandle(const void* handle);
template <class T>
T* AsHandle(const void* handle, ub4 type) {
    THandle* h = AnyHandle(handle);
    if (!h || h->Type() != type) return nullptr;
    return static_cast<T*>(h);
}

// Records an error on an error or environment handle (replacing older records).
void SetError(THandle* target, int code, const std::string& text, ub4 rowOffset = 0);

// Fault injection for tests: with OCISQLITE_FAIL_CALL=N in the environment the Nth guarded
// call fails with ORA-03113 before its body runs, so it changes nothing; the calls after it
// succeed, so the caller's cleanup runs. The variable is read on every call and the count
// starts again whenever its value changes, so one process can step N through 1, 2, 3 ...
void FailInjectedCall();
// The guarded calls counted since OCISQLITE_FAIL_CALL got its present value.
[[nodiscard]] long FaultCallsCounted();

// The database and national character sets every stand-in database reports.
inline constexpr ub2 kCharsetId = 873;           // AL32UTF8
inline constexpr ub2 kNationalCharsetId = 2000;  // AL16UTF16

// Not Oracle attributes: observers for tests, read on the environment handle and never
// counted by the fault injection. The handles and descriptors the environment holds, so a
// test sees whether a caller freed what it allocated; FaultCallsCounted(), so a test sees
// whether a run got as far as the failing call.
inline constexpr ub4 kAttrLiveChildren = 30001;
inline constexpr ub4 kAttrFaultCalls = 30002;

// The Oracle number and text of the exception in flight; call only inside a handler.
struct TCaughtError {
    int code;
    std::string text;
};
[[nodiscard]] TCaughtError CaughtError() noexcept;

// Runs an entry point body under the fault injection (unless not `counted`); a failure
// goes to `report(code, text)`, whose result the call returns.
template <class F, class R>
sword RunGuarded(bool counted, F&& body, R&& report) noexcept {
    try {
        if (counted) FailInjectedCall();
        return body();
    } catch (...) {
        const TCaughtError caught = CaughtError();
        return report(caught.code, caught.text);
    }
}

// An OCI8 entry point: a failure becomes an error record and OCI_ERROR.
template <class F>
sword Guard(OCIError* err, F&& body, bool counted = true) noexcept {
    return RunGuarded(counted, std::forward<F>(body), [err](int code, const std::string& text) {
        SetError(AnyHandle(err), code, text);
        return static_cast<sword>(OCI_ERROR);
    });
}

// Writes a value of attribute type T to the caller's variable.
template <class T>
void PutAttr(void* value, ub4* size, T v) {
    if (!value) throw OraError(24315);
    *static_cast<T*>(value) = v;
    if (size) *size = sizeof(T);
}
// A text attribute handed out as a pointer into our memory plus its length.
void PutTextAttr(void* value, ub4* size, const std::string& text);
[[nodiscard]] std::string TextArg(const void* text, sb8 length);

}  // namespace velnor::ocisqlite
