// OCI7 logon and logoff, messages, transactions on an LDA, and the hand-over between an
// OCI8 service context and an LDA.
#include "ocisqlite/Logon7.h"

#include <cstring>
#include <mutex>
#include <type_traits>
#include <unordered_set>

#include "ocisqlite/Connection.h"

using namespace velnor::ocisqlite;

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(opinit)
VELNOR_CHECK_SIGNATURE(olog)
VELNOR_CHECK_SIGNATURE(orlon)
VELNOR_CHECK_SIGNATURE(ologof)
VELNOR_CHECK_SIGNATURE(oerhms)
VELNOR_CHECK_SIGNATURE(ocom)
VELNOR_CHECK_SIGNATURE(orol)
VELNOR_CHECK_SIGNATURE(ocon)
VELNOR_CHECK_SIGNATURE(ocof)
VELNOR_CHECK_SIGNATURE(obreak)
VELNOR_CHECK_SIGNATURE(OCISvcCtxToLda)
VELNOR_CHECK_SIGNATURE(OCILdaToSvcCtx)

namespace velnor::ocisqlite {
namespace {

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_set<const void*>& Registry() {
    static std::unordered_set<const void*> registry;
    return registry;
}

}  // namespace

TLogon7::TLogon7(std::unique_ptr<TEnvironment> environment, TServiceContext* context)
    : environment_(std::move(environment)), context_(context) {}

TLogon7::TLogon7(TServiceContext* context) : context_(context) {}

// An own environment frees its handles, rolling back what was not committed.
TLogon7::~TLogon7() {
    for (TCursor7* cursor : cursors) {
        cursor->core.Release();
        cursor->logon = nullptr;
    }
}

void TLogon7::LogOff() {
    if (!environment_) return;
    TSession* session = context_->session;
    if (session && session->Active()) session->End(true);
}

void RegisterArea(const void* object) {
    std::lock_guard lock(RegistryMutex());
    Registry().insert(object);
}

void UnregisterArea(const void* object) {
    std::lock_guard lock(RegistryMutex());
    Registry().erase(object);
}

bool IsRegisteredArea(const void* object) {
    std::lock_guard lock(RegistryMutex());
    return Registry().count(object) != 0;
}

TLogon7* LogonOf(const Lda_Def* lda) {
    if (!lda || !IsRegisteredArea(lda->rcsp)) return nullptr;
    return static_cast<TLogon7*>(lda->rcsp);
}

void SetAreaResult(Cda_Def* area, int code) {
    if (!area) return;
    area->rc = static_cast<ub2>(code);
    area->v2_rc = static_cast<sb2>(code == 0 ? 0 : -code);
}

sword AreaError(Cda_Def* area, TLogon7* logon, int code, const std::string& text) {
    SetAreaResult(area, code);
    if (logon) {
        try {
            logon->lastErrorCode = code;
            logon->lastErrorText = text;
        } catch (...) {
            logon->lastErrorCode = 0;  // the catalogue text will do
        }
    }
    return code == 0 ? 0 : -1;
}

}  // namespace velnor::ocisqlite

namespace {

struct TLogonText {
    std::string user, password, service;
};

// "user/password@service" in the user argument when the others are absent; a password
// or service given on its own is never split.
TLogonText SplitLogon(std::string user, const OraText* pw, sword pw_len, const OraText* conn,
                      sword conn_len) {
    TLogonText out;
    out.password = TextArg(pw, pw_len);
    out.service = TextArg(conn, conn_len);
    if (!pw) {
        if (const auto slash = user.find('/'); slash != std::string::npos) {
            out.password = user.substr(slash + 1);
            user.resize(slash);
            if (!conn) {
                if (const auto at = out.password.rfind('@'); at != std::string::npos) {
                    out.service = out.password.substr(at + 1);
                    out.password.resize(at);
                }
            }
        }
    }
    if (!conn && out.service.empty()) {
        if (const auto at = user.rfind('@'); at != std::string::npos) {
            out.service = user.substr(at + 1);
            user.resize(at);
        }
    }
    out.user = std::move(user);
    return out;
}

sword LogOn7(Lda_Def* lda, ub1* hda, const OraText* user, sword user_len, const OraText* pw,
             sword pw_len, const OraText* conn, sword conn_len) {
    if (!lda) return -1;
    std::memset(lda, 0, sizeof *lda);
    TLogon7* logon = nullptr;
    int graceDays = 0;
    const sword result = Guard7(lda, nullptr, [&] {
        if (!hda) throw OraError(1010);
        const TLogonText text = SplitLogon(TextArg(user, user_len), pw, pw_len, conn, conn_len);
        auto environment = std::make_unique<TEnvironment>(OCI_DEFAULT);
        auto* context = static_cast<TServiceContext*>(
            environment->Adopt(std::make_unique<TServiceContext>(environment.get())));
        auto* server =
            static_cast<TServer*>(environment->Adopt(std::make_unique<TServer>(environment.get())));
        auto* session = static_cast<TSession*>(
            environment->Adopt(std::make_unique<TSession>(environment.get())));
        context->server = server;
        server->Attach(text.service);
        session->userName = text.user;
        session->password = text.password;
        graceDays = session->Begin(*server, OCI_CRED_RDBMS, OCI_DEFAULT);
        context->session = session;
        auto owned = std::make_unique<TLogon7>(std::move(environment), context);
        RegisterArea(owned.get());
        logon = owned.release();
        lda->rcsp = logon;
    });
    if (!logon) return result;
    // The host data area must stay put while logged on; it carries a copy of the logon.
    std::memcpy(hda, &logon, sizeof logon);
    // An expiring password still logs on: rc tells, the LDA is usable, the result is 0.
    if (graceDays > 0)
        AreaError(lda, logon, 28002, MessageText(28002, {std::to_string(graceDays)}));
    return result;
}

}  // namespace

VELNOR_EXPORT sword opinit(ub4) { return 0; }

VELNOR_EXPORT sword olog(Lda_Def* lda, ub1* hda, OraText* user, sword user_len, OraText* pw,
                         sword pw_len, OraText* conn, sword conn_len, ub4) {
    return LogOn7(lda, hda, user, user_len, pw, pw_len, conn, conn_len);
}

VELNOR_EXPORT sword orlon(Lda_Def* lda, ub1* hda, OraText* user, sword user_len, OraText* pw,
                          sword pw_len, sword) {
    return LogOn7(lda, hda, user, user_len, pw, pw_len, nullptr, -1);
}

VELNOR_EXPORT sword ologof(Lda_Def* lda) {
    if (!lda) return -1;
    TLogon7* logon = LogonOf(lda);
    if (!logon) return AreaError(lda, nullptr, 1012, MessageText(1012));
    const sword result = Guard7(lda, logon, [&] { logon->LogOff(); });
    UnregisterArea(logon);
    lda->rcsp = nullptr;
    delete logon;
    return result;
}

VELNOR_EXPORT sword oerhms(Lda_Def* lda, sb2 rcode, OraText* buf, sword buf_size) {
    if (!buf || buf_size <= 0) return 0;
    try {
        std::string text;
        const TLogon7* logon = LogonOf(lda);
        if (logon && logon->lastErrorCode == rcode && !logon->lastErrorText.empty())
            text = logon->lastErrorText;
        else
            text = MessageText(rcode);
        const std::string message = FullMessage(rcode, text);
        CopyText(message, buf, static_cast<std::size_t>(buf_size));
        return static_cast<sword>(std::strlen(reinterpret_cast<char*>(buf)));
    } catch (...) {
        buf[0] = 0;
        return 0;
    }
}

namespace {

sword OnConnection(Lda_Def* lda, void (*action)(TConnection&)) {
    if (!lda) return -1;
    TLogon7* logon = LogonOf(lda);
    if (!logon) return AreaError(lda, nullptr, 1012, MessageText(1012));
    return Guard7(lda, logon, [&] { action(logon->Context()->Connection()); });
}

}  // namespace

VELNOR_EXPORT sword ocom(Lda_Def* lda) {
    return OnConnection(lda, [](TConnection& c) { c.Commit(); });
}

VELNOR_EXPORT sword orol(Lda_Def* lda) {
    return OnConnection(lda, [](TConnection& c) { c.Rollback(); });
}

VELNOR_EXPORT sword ocon(Lda_Def* lda) {
    return OnConnection(lda, [](TConnection& c) { c.SetAutoCommit(true); });
}

VELNOR_EXPORT sword ocof(Lda_Def* lda) {
    return OnConnection(lda, [](TConnection& c) { c.SetAutoCommit(false); });
}

// Calls complete before they return: nothing to interrupt.
VELNOR_EXPORT sword obreak(Lda_Def* lda) {
    return OnConnection(lda, [](TConnection&) {});
}

VELNOR_EXPORT sword OCISvcCtxToLda(OCISvcCtx* svc, OCIError* err, Lda_Def* lda) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    if (!context || !lda || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR))
        return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)context->Connection();  // must be logged on
        std::memset(lda, 0, sizeof *lda);
        auto logon = std::make_unique<TLogon7>(context);
        RegisterArea(logon.get());
        lda->rcsp = logon.release();
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILdaToSvcCtx(OCISvcCtx** svc_out, OCIError* err, Lda_Def* lda) {
    if (!svc_out || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        TLogon7* logon = LogonOf(lda);
        if (!logon || logon->OwnsHandles()) throw OraError(1012);
        *svc_out = reinterpret_cast<OCISvcCtx*>(static_cast<THandle*>(logon->Context()));
        UnregisterArea(logon);
        lda->rcsp = nullptr;
        delete logon;
        return OCI_SUCCESS;
    });
}
