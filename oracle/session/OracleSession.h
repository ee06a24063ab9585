// One connection to a database: logon and logoff through OCI8 handles or an OCI7 logon
// data area, transactions, session settings and the facts queries need.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oci/Oci7.h"
#include "oci/OciTypes.h"
#include "oracle/client/OracleError.h"
#include "oracle/session/LogonStrings.h"
#include "oracle/session/SessionPreferences.h"
#include "platform/Component.h"
#include "platform/CriticalSection.h"

namespace velnor::oracle {

namespace detail {
class TConnectionBackend;
}

enum class TBytesPerCharacterOption { bcAutoDetect, bc1Byte, bc2Bytes, bc3Bytes, bc4Bytes };
enum class TSessionPoolingOption { spNone, spInternal, spMTS };
enum class TMTSOption { moImplicit, moUniqueServer };
enum class TNullValueOption { nvUnAssigned, nvNull };
enum class TSQLTraceOption { stUnchanged, stTrue, stFalse };
enum class TOptimizerGoalOption { ogUnchanged, ogChoose, ogFirstRows, ogAllRows, ogRule };
enum class TIsolationLevelOption { ilUnchanged, ilReadCommitted, ilSerializable };

// A set of TMTSOption.
class TMTSOptions {
public:
    constexpr TMTSOptions() noexcept = default;
    constexpr TMTSOptions(std::initializer_list<TMTSOption> options) noexcept {
        for (TMTSOption o : options) bits_ |= Bit(o);
    }
    [[nodiscard]] constexpr bool Contains(TMTSOption o) const noexcept { return bits_ & Bit(o); }
    constexpr bool operator==(const TMTSOptions&) const noexcept = default;

private:
    static constexpr unsigned Bit(TMTSOption o) noexcept { return 1u << static_cast<unsigned>(o); }
    unsigned bits_ = 0;
};

// Something bound to a session that holds client handles of its own (a query).
class TSessionDependent {
public:
    // Logoff: release the statement; the dependent stays bound to the session.
    virtual void CloseStatement() = 0;
    // The session is being destroyed: forget it.
    virtual void SessionDestroyed() noexcept = 0;

protected:
    ~TSessionDependent() = default;
};

class TOracleSession : public platform::TComponent {
public:
    using TOracleSessionEvent = std::function<void(TOracleSession& sender)>;

    explicit TOracleSession(platform::TComponent* owner = nullptr);
    ~TOracleSession() override;

    void LogOn();
    void LogOff();
    void Commit();
    void Rollback();

    TOracleSessionEvent OnChange;     // after logon and logoff
    TOracleSessionEvent BeforeLogOn;  // first thing in LogOn
    TOracleSessionEvent AfterLogOn;   // end of LogOn, also when it failed
    // Each statement the session runs by itself (settings, probes), before it runs.
    std::function<void(TOracleSession& sender, const std::string& sql)> OnInternalSQL;

    // Mouse cursor shown while working; 0 leaves the cursor alone.
    [[nodiscard]] int Cursor() const noexcept { return cursor_; }
    void SetCursor(int value) noexcept { cursor_ = value; }
    [[nodiscard]] bool DesignConnection() const noexcept { return designConnection_; }
    void SetDesignConnection(bool value) noexcept { designConnection_ = value; }

    [[nodiscard]] const std::string& LogonUsername() const noexcept { return logonUsername_; }
    void SetLogonUsername(const std::string& value);
    [[nodiscard]] const std::string& LogonPassword() const noexcept { return logonPassword_; }
    void SetLogonPassword(const std::string& value);
    // The net service name (host string).
    [[nodiscard]] const std::string& LogonDatabase() const noexcept { return logonDatabase_; }
    void SetLogonDatabase(const std::string& value);
    [[nodiscard]] TConnectAsOption ConnectAs() const noexcept { return connectAs_; }
    void SetConnectAs(TConnectAsOption value) noexcept { connectAs_ = value; }

    [[nodiscard]] bool ThreadSafe() const noexcept { return threadSafe_; }
    void SetThreadSafe(bool value);
    [[nodiscard]] TSessionPreferences& Preferences() noexcept { return preferences_; }
    [[nodiscard]] const TSessionPreferences& Preferences() const noexcept { return preferences_; }
    void SetPreferences(const TSessionPreferences& value) { preferences_ = value; }
    [[nodiscard]] TSessionPoolingOption Pooling() const noexcept { return pooling_; }
    void SetPooling(TSessionPoolingOption value);
    [[nodiscard]] TMTSOptions MTSOptions() const noexcept { return mtsOptions_; }
    void SetMTSOptions(TMTSOptions value);

    [[nodiscard]] bool Connected() const noexcept { return connected_; }
    void SetConnected(bool value);  // true logs on, false logs off
    [[nodiscard]] bool RollbackOnDisconnect() const noexcept { return rollbackOnDisconnect_; }
    void SetRollbackOnDisconnect(bool value) noexcept { rollbackOnDisconnect_ = value; }
    [[nodiscard]] bool AutoCommit() const noexcept { return autoCommit_; }
    void SetAutoCommit(bool value);
    [[nodiscard]] TNullValueOption NullValue() const noexcept { return nullValue_; }
    void SetNullValue(TNullValueOption value) noexcept { nullValue_ = value; }
    [[nodiscard]] TSQLTraceOption SQLTrace() const noexcept { return sqlTrace_; }
    void SetSQLTrace(TSQLTraceOption value);
    [[nodiscard]] TOptimizerGoalOption OptimizerGoal() const noexcept { return optimizerGoal_; }
    void SetOptimizerGoal(TOptimizerGoalOption value);
    [[nodiscard]] TIsolationLevelOption IsolationLevel() const noexcept { return isolationLevel_; }
    void SetIsolationLevel(TIsolationLevelOption value);
    [[nodiscard]] TBytesPerCharacterOption BytesPerCharacter() const noexcept {
        return bytesPerCharacter_;
    }
    void SetBytesPerCharacter(TBytesPerCharacterOption value) noexcept;
    [[nodiscard]] const std::string& MessageTable() const noexcept { return messageTable_; }
    void SetMessageTable(std::string value) { messageTable_ = std::move(value); }
    // True while the connection is borrowed through ExternalLDA or ExternalSVC.
    [[nodiscard]] bool Shared() const noexcept { return externalLDA_ || externalSVC_; }

    // A connection opened elsewhere; setting one logs off and logs on sharing it.
    [[nodiscard]] Lda_Def* ExternalLDA() const;
    void SetExternalLDA(Lda_Def* value);
    [[nodiscard]] OCISvcCtx* ExternalSVC() const;
    void SetExternalSVC(OCISvcCtx* value);

    // Message of a logon that succeeded with ORA-28002 (password about to expire).
    [[nodiscard]] const std::string& LogonWarning() const noexcept { return logonWarning_; }

    // For queries: the client interface chosen at logon, and the handles it works on.
    [[nodiscard]] bool UsingOCI8() const noexcept { return usingOCI8_; }
    // The calls of the interface chosen at logon; raises "Not logged on" without one.
    [[nodiscard]] detail::TConnectionBackend& Backend();
    [[nodiscard]] bool ODBCMode() const noexcept { return odbcMode_; }
    [[nodiscard]] bool MTSControlled() const noexcept { return mtsControlled_; }
    [[nodiscard]] Lda_Def* CurrentLDA() noexcept { return externalLDA_ ? externalLDA_ : &lda_; }
    [[nodiscard]] OCIEnv* EnvironmentHandle() const noexcept { return environment_; }
    [[nodiscard]] OCIError* ErrorHandle() const noexcept { return error_; }
    [[nodiscard]] OCISvcCtx* ServiceContext() const noexcept { return serviceContext_; }
    [[nodiscard]] OCIServer* ServerHandle() const noexcept { return server_; }
    [[nodiscard]] OCISession* SessionHandle() const noexcept { return userSession_; }
    // Mode 1 takes the lock only for OCI7 sessions; nothing is locked unless ThreadSafe.
    void LockSession(int mode);
    void UnlockSession(int mode) noexcept;

    // Facts of the connection that the probes (oracle/query/Probes.h) measure with a query
    // and the session keeps until logoff. 0 and -1 mean "not measured yet".
    struct TMeasuredFacts {
        int bytesPerCharacter = 0;
        int dateFormatLength = -1;
    };
    [[nodiscard]] TMeasuredFacts& MeasuredFacts() noexcept { return facts_; }
    [[nodiscard]] const TMeasuredFacts& MeasuredFacts() const noexcept { return facts_; }
    // The most bytes a string bind can hold through the interface in use.
    [[nodiscard]] int MaxVarcharBytes() const noexcept { return usingOCI8_ ? 4000 : 2000; }

    // Runs one statement without binds on the session, with the wait cursor if asked.
    void ExecuteInternal(const std::string& sql, bool withCursor);
    [[nodiscard]] TNumberFieldChoice ChooseNumberFieldType(int precision, int scale,
                                                           bool stringsOnly) const noexcept {
        return preferences_.ChooseNumberFieldType(precision, scale, stringsOnly);
    }

    // Queries register themselves while bound; they must unregister before they die.
    void AttachDependent(TSessionDependent* dependent);
    void DetachDependent(TSessionDependent* dependent) noexcept;

    // Property reading from a stream: connection values read while loading are ignored
    // when DesignConnection is set; Loaded() fires the logon events for a streamed logon.
    void BeginLoading() noexcept { loading_ = true; }
    void Loaded();

    // Fired by LogOn; override to react before the events.
    virtual void NotifyBeforeLogOn();
    virtual void NotifyAfterLogOn();

    // Every session that exists; logged off at process end before the library is unloaded.
    [[nodiscard]] static std::vector<TOracleSession*> Sessions();
    static void LogOffAllSessions() noexcept;

private:
    bool IgnoreStreamedConnection() const noexcept;
    void UpdateODBCMode();
    TLogonParts PrepareLogon();
    void AttachServer(const std::string& database);
    void LogOnOCI8(const TLogonParts& parts);
    void LogOnOCI7(const TLogonParts& parts);
    void ShareExternalSVC();
    void ApplySettingsAfterLogOn();
    void CloseDependents() noexcept;
    void FreeHandles() noexcept;
    void LogOnMTS();
    void ReleaseMTS(OCISvcCtx* svc);
    void ApplySetting(const char* prefix, const char* word);

    int cursor_ = -11;
    bool designConnection_ = false;
    std::string logonUsername_;
    std::string logonPassword_;
    std::string logonDatabase_;
    TConnectAsOption connectAs_ = TConnectAsOption::caNormal;
    bool threadSafe_ = false;
    TSessionPreferences preferences_{this};
    TSessionPoolingOption pooling_ = TSessionPoolingOption::spNone;
    TMTSOptions mtsOptions_{TMTSOption::moImplicit, TMTSOption::moUniqueServer};
    bool connected_ = false;
    bool rollbackOnDisconnect_ = false;
    bool autoCommit_ = false;
    TNullValueOption nullValue_ = TNullValueOption::nvUnAssigned;
    TSQLTraceOption sqlTrace_ = TSQLTraceOption::stUnchanged;
    TOptimizerGoalOption optimizerGoal_ = TOptimizerGoalOption::ogUnchanged;
    TIsolationLevelOption isolationLevel_ = TIsolationLevelOption::ilUnchanged;
    TBytesPerCharacterOption bytesPerCharacter_ = TBytesPerCharacterOption::bc1Byte;
    std::string messageTable_;

    Lda_Def* externalLDA_ = nullptr;
    OCISvcCtx* externalSVC_ = nullptr;
    std::string logonWarning_;
    bool serverAttached_ = false;
    Lda_Def lda_{};
    alignas(8) ub1 hda_[HDA_SIZE] = {};
    TMeasuredFacts facts_;
    platform::TOracleCriticalSection lock_;
    bool ldaFromSvcCtx_ = false;
    OCIEnv* environment_ = nullptr;
    OCIError* error_ = nullptr;
    OCIError* error2_ = nullptr;
    OCISvcCtx* serviceContext_ = nullptr;
    OCISession* userSession_ = nullptr;
    OCIServer* server_ = nullptr;
    bool odbcMode_ = false;
    bool oca60Present_ = false;
    bool usingOCI8_ = false;
    bool mtsControlled_ = false;
    bool loading_ = false;
    bool destroying_ = false;
    std::mutex dependentsMutex_;
    std::vector<TSessionDependent*> dependents_;           // not owned
    std::unique_ptr<detail::TConnectionBackend> backend_;  // while connected
};

}  // namespace velnor::oracle
