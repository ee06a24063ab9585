#include "oracle/session/OracleSession.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/StatementBackend.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/UiHooks.h"

namespace velnor::oracle {
namespace {

constexpr int kPasswordWillExpire = 28002;
// Preset for ODBC-style logons, which need the oldest interface.
constexpr const char* kOci7ClientLibrary = "libclntsh.so.7.3";

struct TRegistry {
    std::mutex mutex;
    std::vector<TOracleSession*> sessions;
};

TRegistry& SessionRegistry() {
    static TRegistry registry;
    return registry;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Holds the process lock for a thread-safe session.
class TGlobalLockScope {
public:
    explicit TGlobalLockScope(bool active) : active_(active) {
        if (active_) GlobalOCILock().Enter();
    }
    ~TGlobalLockScope() {
        if (active_) GlobalOCILock().Leave();
    }
    TGlobalLockScope(const TGlobalLockScope&) = delete;
    TGlobalLockScope& operator=(const TGlobalLockScope&) = delete;

private:
    bool active_;
};

}  // namespace

// ---- construction ----

TOracleSession::TOracleSession(platform::TComponent* owner) : platform::TComponent(owner) {
    (void)WarningCodes();  // the warning list is read before the first session works
    SetBeforeExitUnload(&TOracleSession::LogOffAllSessions);
    TRegistry& registry = SessionRegistry();
    std::lock_guard lock(registry.mutex);
    registry.sessions.push_back(this);
}

TOracleSession::~TOracleSession() {
    destroying_ = true;
    try {
        LogOff();
    } catch (...) {
        // Nobody is left to tell; the handles are freed below all the same.
    }
    {
        std::lock_guard lock(dependentsMutex_);
        for (auto it = dependents_.rbegin(); it != dependents_.rend(); ++it) {
            (*it)->SessionDestroyed();
        }
        dependents_.clear();
    }
    FreeHandles();
    TRegistry& registry = SessionRegistry();
    std::lock_guard lock(registry.mutex);
    auto& list = registry.sessions;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::vector<TOracleSession*> TOracleSession::Sessions() {
    TRegistry& registry = SessionRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.sessions;
}

void TOracleSession::LogOffAllSessions() noexcept {
    std::vector<TOracleSession*> sessions;
    try {
        sessions = Sessions();
    } catch (...) {
        return;
    }
    for (TOracleSession* session : sessions) {
        try {
            session->LogOff();
        } catch (...) {
            // Process end: one failing logoff must not keep the others connected.
        }
    }
}

// ---- properties ----

bool TOracleSession::IgnoreStreamedConnection() const noexcept {
    return designConnection_ && loading_;
}

void TOracleSession::UpdateODBCMode() {
    odbcMode_ = Contains(platform::UpperCase(logonDatabase_), "ODBC:") ||
                Contains(platform::UpperCase(logonUsername_), "ODBC:");
    oca60Present_ =
        odbcMode_ && !platform::ReadRegistryString(platform::TRegistryRoot::LocalMachine,
                                                   "SOFTWARE\\ORACLE", "OCA60")
                          .empty();
}

void TOracleSession::SetLogonUsername(const std::string& value) {
    if (value == logonUsername_ || IgnoreStreamedConnection()) return;
    logonUsername_ = value;
    UpdateODBCMode();
}

void TOracleSession::SetLogonPassword(const std::string& value) {
    if (value == logonPassword_ || IgnoreStreamedConnection()) return;
    logonPassword_ = value;
    UpdateODBCMode();
}

void TOracleSession::SetLogonDatabase(const std::string& value) {
    if (value == logonDatabase_ || IgnoreStreamedConnection()) return;
    logonDatabase_ = value;
    UpdateODBCMode();
}

void TOracleSession::SetConnected(bool value) {
    if (value == connected_ || IgnoreStreamedConnection()) return;
    if (value) {
        LogOn();
    } else {
        LogOff();
    }
}

void TOracleSession::SetThreadSafe(bool value) {
    if (value == threadSafe_) return;
    if (connected_) throw platform::Exception("Cannot change ThreadSafe property when connected");
    threadSafe_ = value;
}

void TOracleSession::SetPooling(TSessionPoolingOption value) {
    if (value == pooling_) return;
    if (connected_) throw platform::Exception("Cannot change Pooling property when connected");
    pooling_ = value;
}

void TOracleSession::SetMTSOptions(TMTSOptions value) {
    if (value == mtsOptions_) return;
    if (connected_) throw platform::Exception("Cannot change MTSOptions property when connected");
    mtsOptions_ = value;
}

void TOracleSession::SetBytesPerCharacter(TBytesPerCharacterOption value) noexcept {
    if (value == bytesPerCharacter_) return;
    bytesPerCharacter_ = value;
    facts_.bytesPerCharacter = 0;
}

Lda_Def* TOracleSession::ExternalLDA() const {
    if (!connected_ || usingOCI8_) {
        throw platform::Exception("ExternalLDA only valid when connected through OCI7");
    }
    return externalLDA_ ? externalLDA_ : const_cast<Lda_Def*>(&lda_);
}

void TOracleSession::SetExternalLDA(Lda_Def* value) {
    LogOff();
    if (!value) return;
    externalLDA_ = value;
    LogOn();
}

OCISvcCtx* TOracleSession::ExternalSVC() const {
    if (!connected_ || !usingOCI8_) {
        throw platform::Exception("ExternalSVC only valid when connected through OCI8");
    }
    return serviceContext_;
}

void TOracleSession::SetExternalSVC(OCISvcCtx* value) {
    InitializeOCI();
    if (!OCI8Available() || preferences_.UseOCI7()) {
        throw platform::Exception("ExternalSVC only valid with OCI8");
    }
    LogOff();
    if (!value) return;
    externalSVC_ = value;
    LogOn();
}

// ---- status and locking ----

detail::TConnectionBackend& TOracleSession::Backend() {
    if (!connected_ || !backend_) throw platform::Exception("Not logged on");
    return *backend_;
}

void TOracleSession::LockSession(int mode) {
    if (threadSafe_ && !(mode == 1 && usingOCI8_)) lock_.Enter();
}

void TOracleSession::UnlockSession(int mode) noexcept {
    if (threadSafe_ && !(mode == 1 && usingOCI8_)) lock_.Leave();
}

// ---- events ----

void TOracleSession::NotifyBeforeLogOn() {
    if (BeforeLogOn) BeforeLogOn(*this);
}

void TOracleSession::NotifyAfterLogOn() {
    if (AfterLogOn) AfterLogOn(*this);
}

void TOracleSession::Loaded() {
    loading_ = false;
    if (connected_) {
        NotifyAfterLogOn();
        if (OnChange) OnChange(*this);
    }
}

// ---- logon ----

TLogonParts TOracleSession::PrepareLogon() {
    bool combined = false;
    TLogonParts parts =
        ParseLogonStrings(logonUsername_, logonPassword_, logonDatabase_, connectAs_, &combined);
    const std::string& rawDatabase = parts.rawDatabase;
    if (combined) {
        // The properties hold the parts from now on; a clause on the service stays there.
        logonUsername_ = parts.user;
        logonPassword_ = parts.password;
        logonDatabase_ = rawDatabase;
    }
    return parts;
}

void TOracleSession::AttachServer(const std::string& database) {
    const TOciFunctions& t = Oci();
    if (!environment_) {
        sword status = OCI_SUCCESS;
        if (!OCI81Available()) {
            status = t.OCIEnvInit(&environment_, threadSafe_ ? OCI_DEFAULT : OCI_ENV_NO_MUTEX, 0,
                                  nullptr);
        } else {
            status = t.OCIEnvCreate(&environment_,
                                    threadSafe_ ? (OCI_OBJECT | OCI_THREADED) : OCI_OBJECT, nullptr,
                                    nullptr, nullptr, nullptr, 0, nullptr);
        }
        if (status != OCI_SUCCESS || !environment_) {
            environment_ = nullptr;
            throw platform::Exception("Could not create the client environment (status " +
                                      std::to_string(status) + ")");
        }
        const auto alloc = [&](void** handle, ub4 type) {
            const sword s = t.OCIHandleAlloc(environment_, handle, type, 0, nullptr);
            if (s != OCI_SUCCESS || !*handle) {
                *handle = nullptr;
                FreeHandles();
                throw platform::Exception("Could not allocate client handle type " +
                                          std::to_string(type) + " (status " + std::to_string(s) +
                                          ")");
            }
        };
        alloc(reinterpret_cast<void**>(&serviceContext_), OCI_HTYPE_SVCCTX);
        alloc(reinterpret_cast<void**>(&error_), OCI_HTYPE_ERROR);
        alloc(reinterpret_cast<void**>(&error2_), OCI_HTYPE_ERROR);
        alloc(reinterpret_cast<void**>(&server_), OCI_HTYPE_SERVER);
        alloc(reinterpret_cast<void**>(&userSession_), OCI_HTYPE_SESSION);
    }
    if (serverAttached_) {
        t.OCIServerDetach(server_, error2_, OCI_DEFAULT);
        serverAttached_ = false;
    }
    detail::CheckOci8(
        this, error_,
        t.OCIServerAttach(server_, error_, reinterpret_cast<const OraText*>(database.data()),
                          static_cast<sb4>(database.size()), OCI_DEFAULT));
    serverAttached_ = true;
    detail::CheckOci8(
        this, error2_,
        t.OCIAttrSet(serviceContext_, OCI_HTYPE_SVCCTX, server_, 0, OCI_ATTR_SERVER, error2_));
    detail::CheckOci8(this, error2_,
                      t.OCIAttrSet(serviceContext_, OCI_HTYPE_SVCCTX, userSession_, 0,
                                   OCI_ATTR_SESSION, error2_));
}

void TOracleSession::LogOnOCI8(const TLogonParts& parts) {
    const TOciFunctions& t = Oci();
    ub4 mode = OCI_DEFAULT;
    if (parts.mode == TConnectAsOption::caSYSDBA) mode = OCI_SYSDBA;
    if (parts.mode == TConnectAsOption::caSYSOPER) mode = OCI_SYSOPER;
    AttachServer(parts.database);
    sword status = OCI_SUCCESS;
    if (parts.user.empty() && parts.password.empty()) {
        status = t.OCISessionBegin(serviceContext_, error_, userSession_, OCI_CRED_EXT, mode);
    } else {
        std::string user = parts.user;
        std::string password = parts.password;
        detail::CheckOci8(this, error_,
                          t.OCIAttrSet(userSession_, OCI_HTYPE_SESSION, user.data(),
                                       static_cast<ub4>(user.size()), OCI_ATTR_USERNAME, error_));
        detail::CheckOci8(
            this, error_,
            t.OCIAttrSet(userSession_, OCI_HTYPE_SESSION, password.data(),
                         static_cast<ub4>(password.size()), OCI_ATTR_PASSWORD, error_));
        status = t.OCISessionBegin(serviceContext_, error_, userSession_, OCI_CRED_RDBMS, mode);
    }
    // A logon with information is still refused unless the information is the expiry warning.
    const int code = detail::ErrorNumber(error_, status, true);
    if (code == kPasswordWillExpire) {
        logonWarning_ = EOracleError(this, TErrorSource::FromHandle(error_)).Message();
    } else if (code != 0) {
        detail::RaiseOci8(this, error_, status);
    }

    // A server older than release 8 is driven through OCI7 calls on a derived LDA.
    std::array<OraText, 512> banner{};
    detail::CheckOci8(this, error_,
                      t.OCIServerVersion(server_, error_, banner.data(), 501, OCI_HTYPE_SERVER));
    banner.back() = 0;
    const std::string text = platform::UpperCase(reinterpret_cast<const char*>(banner.data()));
    const bool release8OrLater =
        Contains(text, "ORACLE8") || Contains(text, "ORACLE9") || Contains(text, "ORACLE DATABASE");
    if (!release8OrLater && OCI7Available()) {
        detail::CheckOci8(this, error_, t.OCISvcCtxToLda(serviceContext_, error_, CurrentLDA()));
        usingOCI8_ = false;
        ldaFromSvcCtx_ = true;
    }
}

void TOracleSession::LogOnOCI7(const TLogonParts& parts) {
    const TOciFunctions& t = Oci();
    if (!OCI7Available()) {
        throw platform::Exception("The client library does not offer the OCI7 interface");
    }
    std::string text = parts.Text();
    auto* user = reinterpret_cast<OraText*>(text.data());
    if (t.olog) {
        t.olog(CurrentLDA(), hda_, user, -1, nullptr, -1, nullptr, -1, OCI_LM_DEF);
    } else {
        t.orlon(CurrentLDA(), hda_, user, -1, nullptr, -1, 0);
    }
    const int code = CurrentLDA()->rc;
    if (code == kPasswordWillExpire) {
        logonWarning_ = EOracleError(this, TErrorSource::FromReturnCode(code)).Message();
    } else {
        detail::CheckOci7(this, code);
    }
}

void TOracleSession::ShareExternalSVC() {
    const TOciFunctions& t = Oci();
    usingOCI8_ = true;
    serviceContext_ = externalSVC_;
    OCIEnv* tempEnv = nullptr;
    OCIError* tempErr = nullptr;
    if (t.OCIEnvInit(&tempEnv, OCI_DEFAULT, 0, nullptr) != OCI_SUCCESS || !tempEnv) {
        throw platform::Exception("Could not create the client environment");
    }
    sword status =
        t.OCIHandleAlloc(tempEnv, reinterpret_cast<void**>(&tempErr), OCI_HTYPE_ERROR, 0, nullptr);
    if (status == OCI_SUCCESS) {
        status = t.OCIAttrGet(externalSVC_, OCI_HTYPE_SVCCTX, &environment_, nullptr, OCI_ATTR_ENV,
                              tempErr);
    }
    if (tempErr) t.OCIHandleFree(tempErr, OCI_HTYPE_ERROR);
    t.OCIHandleFree(tempEnv, OCI_HTYPE_ENV);
    if (status != OCI_SUCCESS || !environment_) {
        environment_ = nullptr;
        throw platform::Exception("The external service context has no environment");
    }
    for (OCIError** handle : {&error_, &error2_}) {
        if (t.OCIHandleAlloc(environment_, reinterpret_cast<void**>(handle), OCI_HTYPE_ERROR, 0,
                             nullptr) != OCI_SUCCESS) {
            throw platform::Exception("Could not allocate an error handle");
        }
    }
    detail::CheckOci8(
        this, error_,
        t.OCIAttrGet(externalSVC_, OCI_HTYPE_SVCCTX, &server_, nullptr, OCI_ATTR_SERVER, error_));
    detail::CheckOci8(this, error_,
                      t.OCIAttrGet(externalSVC_, OCI_HTYPE_SVCCTX, &userSession_, nullptr,
                                   OCI_ATTR_SESSION, error_));
}

void TOracleSession::LogOn() {
    if ((connected_ || !Shared()) && pooling_ != TSessionPoolingOption::spNone) {
        LogOff();
        if (pooling_ == TSessionPoolingOption::spMTS) {
            LogOnMTS();
            return;
        }
        throw platform::Exception("Internal session pooling is not available");
    }
    NotifyBeforeLogOn();
    const auto finish = [this] {
        RestoreCurrentDirectory();
        if (!loading_) {
            NotifyAfterLogOn();
            if (OnChange) OnChange(*this);
        }
    };
    try {
        TGlobalLockScope global(threadSafe_);
        if (odbcMode_ && !oca60Present_ && OCIDLL().empty()) SetOCIDLL(kOci7ClientLibrary);
        {
            platform::TCursorGuard cursor(cursor_);
            InitializeOCI();
        }
        LogOff();
        usingOCI8_ = !preferences_.UseOCI7() && OCI8Available() && !odbcMode_ && !externalLDA_;
        ldaFromSvcCtx_ = false;
        if (!Shared()) {
            const TLogonParts parts = PrepareLogon();
            logonWarning_.clear();
            lda_ = Lda_Def{};
            std::memset(hda_, 0, sizeof hda_);
            platform::TCursorGuard cursor(cursor_);
            if (usingOCI8_) {
                LogOnOCI8(parts);
            } else {
                LogOnOCI7(parts);
            }
        }
        if (externalSVC_) ShareExternalSVC();
        // The one place the two interfaces are told apart after logon.
        backend_ = usingOCI8_ ? detail::NewOci8Backend(*this) : detail::NewOci7Backend(*this);
        connected_ = true;
        if (!Shared()) {
            try {
                ApplySettingsAfterLogOn();
            } catch (...) {
                // A logon that raises must not leave a half-configured connection behind.
                try {
                    LogOff();
                } catch (...) {
                    // The settings error is the one to report.
                }
                throw;
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TOracleSession::LogOnMTS() {
    try {
        InitializeMTS();
    } catch (const platform::Exception& e) {
        throw EOracleMTSError(e.Message(), 0);
    }
    std::string user = logonUsername_;
    std::string password = logonPassword_;
    std::string database = logonDatabase_;
    ub4 flags = 0;
    if (!mtsOptions_.Contains(TMTSOption::moImplicit)) flags |= ORAMTS_CFLG_NOIMPLICIT;
    if (mtsOptions_.Contains(TMTSOption::moUniqueServer)) flags |= ORAMTS_CFLG_UNIQUESRVR;
    OCISvcCtx* svc = nullptr;
    OCIEnv* env = nullptr;
    const ub4 result = Oci().OraMTSSvcGet(
        reinterpret_cast<OraText*>(user.data()), reinterpret_cast<OraText*>(password.data()),
        reinterpret_cast<OraText*>(database.data()), &svc, &env, flags);
    if (result != 0) throw EOracleMTSError("OraMTSSvcGet", static_cast<int>(result));
    mtsControlled_ = mtsOptions_.Contains(TMTSOption::moImplicit);
    externalSVC_ = svc;
    try {
        LogOn();
    } catch (...) {
        externalSVC_ = nullptr;
        mtsControlled_ = false;
        Oci().OraMTSSvcRel(svc);
        throw;
    }
}

// ---- logoff ----

void TOracleSession::AttachDependent(TSessionDependent* dependent) {
    if (!dependent) return;
    std::lock_guard lock(dependentsMutex_);
    if (std::find(dependents_.begin(), dependents_.end(), dependent) == dependents_.end()) {
        dependents_.push_back(dependent);
    }
}

void TOracleSession::DetachDependent(TSessionDependent* dependent) noexcept {
    std::lock_guard lock(dependentsMutex_);
    dependents_.erase(std::remove(dependents_.begin(), dependents_.end(), dependent),
                      dependents_.end());
}

void TOracleSession::CloseDependents() noexcept {
    std::vector<TSessionDependent*> list;
    {
        std::lock_guard lock(dependentsMutex_);
        list = dependents_;
    }
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        try {
            (*it)->CloseStatement();
        } catch (...) {
            // A statement that cannot close must not keep the session connected.
        }
    }
}

void TOracleSession::FreeHandles() noexcept {
    const TOciFunctions& t = Oci();
    if (!environment_ || !t.OCIHandleFree) {
        environment_ = nullptr;
        server_ = nullptr;
        serviceContext_ = nullptr;
        error_ = error2_ = nullptr;
        userSession_ = nullptr;
        return;
    }
    const auto free = [&](auto*& handle, ub4 type) {
        if (handle) t.OCIHandleFree.Get()(handle, type);
        handle = nullptr;
    };
    free(server_, OCI_HTYPE_SERVER);
    free(serviceContext_, OCI_HTYPE_SVCCTX);
    free(error_, OCI_HTYPE_ERROR);
    free(error2_, OCI_HTYPE_ERROR);
    free(userSession_, OCI_HTYPE_SESSION);
    free(environment_, OCI_HTYPE_ENV);
}

void TOracleSession::ReleaseMTS(OCISvcCtx* svc) {
    mtsControlled_ = false;
    const ub4 result = Oci().OraMTSSvcRel(svc);
    if (result != 0) throw EOracleMTSError("OraMTSSvcRel", static_cast<int>(result));
}

void TOracleSession::LogOff() {
    const TOciFunctions& t = Oci();
    std::exception_ptr first;
    const auto keep = [&first] {
        if (!first) first = std::current_exception();
    };
    if (connected_) {
        if (rollbackOnDisconnect_ && !Shared()) {
            try {
                Rollback();
            } catch (...) {
                // The session ends anyway; the server rolls back what is left open.
            }
        }
        CloseDependents();
        connected_ = false;
        backend_.reset();
        facts_ = {};
        try {
            platform::TCursorGuard cursor(cursor_);
            TGlobalLockScope global(threadSafe_);
            if (Shared()) {
                OCISvcCtx* svc = externalSVC_;
                externalLDA_ = nullptr;
                externalSVC_ = nullptr;
                if (usingOCI8_ && t.OCIHandleFree) {
                    if (error_) t.OCIHandleFree(error_, OCI_HTYPE_ERROR);
                    if (error2_) t.OCIHandleFree(error2_, OCI_HTYPE_ERROR);
                }
                error_ = error2_ = nullptr;
                environment_ = nullptr;
                serviceContext_ = nullptr;
                server_ = nullptr;
                userSession_ = nullptr;
                if (pooling_ == TSessionPoolingOption::spMTS && svc) ReleaseMTS(svc);
            } else {
                if (!usingOCI8_ && ldaFromSvcCtx_) {
                    const sword status = t.OCILdaToSvcCtx(&serviceContext_, error_, CurrentLDA());
                    usingOCI8_ = true;
                    ldaFromSvcCtx_ = false;
                    detail::CheckOci8(this, error_, status);
                }
                if (usingOCI8_) {
                    detail::CheckOci8(
                        this, error_,
                        t.OCISessionEnd(serviceContext_, error_, userSession_, OCI_DEFAULT));
                } else {
                    t.ologof(CurrentLDA());
                    detail::CheckOci7(this, CurrentLDA()->rc);
                }
            }
        } catch (...) {
            keep();
        }
        if (!first && !destroying_ && OnChange) OnChange(*this);
    }
    // The server and the handles are released even when ending the session failed.
    if (serverAttached_) {
        serverAttached_ = false;
        try {
            detail::CheckOci8(this, error_, t.OCIServerDetach(server_, error_, OCI_DEFAULT));
        } catch (...) {
            keep();
        }
    }
    if (environment_ && !Shared()) FreeHandles();
    if (first) std::rethrow_exception(first);
}

}  // namespace velnor::oracle
